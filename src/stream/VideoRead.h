#pragma once

#include <cstdint>

#include "container/AviRecords.h"
#include "platform/platform.h"

namespace stream {

// Reads the frame at frameOffset of `file` into destination (nothing when it
// is null): a 32-bit frame's format.biSizeImage bytes straight, a 24-bit
// frame of format.biWidth x |format.biHeight| converted to 32-bit BGRA.
// False, logged, only when positioning the file fails; a short read has the
// rest of the frame zero-filled.
bool ReadVideoFrame(platform::FileHandle file, const avi::BITMAPINFOHEADER& format,
                    int64_t frameOffset, uint8_t* destination);

}  // namespace stream
