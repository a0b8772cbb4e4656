#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace stream {

// Reads byteCount bytes at frameOffset of `file` straight into destination
// (nothing when it is null). False, logged, only when positioning the file
// fails; a short read has the rest of the frame zero-filled.
bool ReadVideoFrame(platform::FileHandle file, uint32_t byteCount, int64_t frameOffset,
                    uint8_t* destination);

}  // namespace stream
