// The one read serving makes: a positioned read whose destination never keeps
// stale bytes where the file gives none.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace stream {

// Returned by ReadOrFill when the system refuses the position.
constexpr uint32_t kUnpositioned = UINT32_MAX;

// Reads up to `wanted` bytes at the file's current position into `bytes`
// and sets the rest of the first `size` bytes (size >= wanted) to `fill`:
// what the chunk does not hold (size > wanted), what lies past the end of the
// file, and what a read the system fails leaves out (its code is kept for the
// worker's once-per-stream log) come out as `fill`, never as what the buffer
// held before. Returns the bytes read.
inline uint32_t ReadHereOrFill(platform::FileHandle file, uint8_t* bytes, uint32_t wanted,
                               uint32_t size, uint8_t fill) {
    uint32_t got = platform::ReadAtPosition(file, bytes, wanted);
    if (got > wanted) got = wanted;
    if (got < size) std::memset(bytes + got, fill, size - got);
    return got;
}

// The same at `position`. Returns the bytes read, or kUnpositioned (all
// `size` bytes filled) when the system refuses the position. Nothing is
// asked of the system when nothing is wanted.
inline uint32_t ReadOrFill(platform::FileHandle file, int64_t position, uint8_t* bytes,
                           uint32_t wanted, uint32_t size, uint8_t fill) {
    if (wanted == 0 || !platform::SeekFromBegin(file, position)) {
        std::memset(bytes, fill, size);
        return wanted == 0 ? 0 : kUnpositioned;
    }
    return ReadHereOrFill(file, bytes, wanted, size, fill);
}

}  // namespace stream
