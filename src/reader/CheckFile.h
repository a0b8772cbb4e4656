// Whether the plug-in would serve one medium of a file, and why not, for
// tools that link the core: the same reading and checks as an open, without
// a host, a worker or descriptors.
#pragma once

#include "container/AviLayout.h"
#include "container/FileSource.h"

namespace mirolan {

// Reads and checks `path` (UTF-16, zero-terminated) as an open of a stream
// of `medium` does, then releases everything. Returns a refusal of kind None
// when the stream would be served, else the refusal with its reason. With
// the debug folder present it logs what that open logs up to the worker,
// the reason line of a refusal included. Never throws.
avi::Refusal CheckFile(const char16_t* path, avi::Medium medium);

}  // namespace mirolan
