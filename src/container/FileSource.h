// The narrow input of the container code: the file as the open sees it (its
// read-only mapping, its size, the allocation granularity that views are
// aligned to) and which medium the stream serves.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace avi {

struct FileSource {
    platform::MappingHandle mapping = nullptr;  // read-only mapping of the whole file
    int64_t fileSize = 0;                       // bytes; every comparison with it is unsigned
    uint32_t granularity = 0;                   // every view starts at a multiple of it

    // The size as an unsigned bound (a negative size holds nothing).
    uint64_t End() const { return fileSize > 0 ? static_cast<uint64_t>(fileSize) : 0; }
};

// The medium a stream serves: its video ('eyes') or its audio ('ears').
enum class Medium { Video, Audio };

}  // namespace avi
