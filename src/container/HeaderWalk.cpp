#include "container/HeaderWalk.h"

#include "reader/Mirolan.h"

namespace avi {

bool WalkHeaders(CMirolan& /*reader*/) { return false; }  // TODO(container): the walk

}  // namespace avi
