// The one read serving makes: a positioned read whose destination never keeps
// stale bytes where the file gives none.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace stream {

// Returned by ReadOrFill when the system refuses the position.
constexpr uint32_t kUnpositioned = UINT32_MAX;

// Reads up to `wanted` bytes of `file` at `position` into `bytes` and sets
// the rest of the first `size` bytes (size >= wanted) to `fill`: what the
// chunk does not hold (size > wanted), what lies past the end of the file,
// and what a read the system fails leaves out (its code is kept for the
// worker's once-per-stream log) come out as `fill`, never as what the buffer
// held before. Returns the bytes read, or kUnpositioned (all `size` bytes
// filled) when the system refuses the position.
inline uint32_t ReadOrFill(platform::FileHandle file, int64_t position, uint8_t* bytes,
                           uint32_t wanted, uint32_t size, uint8_t fill) {
    uint32_t got = kUnpositioned;
    uint32_t kept = 0;
    if (platform::SeekFromBegin(file, position)) {
        got = wanted > 0 ? platform::ReadAtPosition(file, bytes, wanted) : 0;
        if (got > wanted) got = wanted;
        kept = got;
    }
    if (kept < size) std::memset(bytes + kept, fill, size - kept);
    return got;
}

}  // namespace stream
