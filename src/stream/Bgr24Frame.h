// 24-bit BGR video served as the host's 32-bit BGRA: the row conversion and
// the read of one stored frame. Rows stay in their stored order; each pixel
// keeps its blue, green and red bytes and gets an alpha of 255, as ffmpeg's
// bgr24 to bgra conversion gives.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace stream {

// Bytes of one stored row of `width` 24-bit pixels: 3 a pixel, padded to a
// multiple of 4.
inline uint64_t Bgr24StoredRowBytes(uint32_t width) {
    return (static_cast<uint64_t>(width) * 24 + 31) / 32 * 4;
}

// Converts `width` packed BGR pixels at `source` (3 bytes each) into BGRA at
// `destination` (4 bytes each, alpha 255). Reads only the 3 x width source
// bytes and writes only the 4 x width destination bytes. Source and
// destination may overlap when `destination` is not below `source` (the
// pixels are converted from the last one back), which lets a row be
// converted in place where it was read.
void Bgr24RowToBgra(const uint8_t* source, uint8_t* destination, uint32_t width);
// The same without processor-specific instructions: what Bgr24RowToBgra runs
// where the processor has no byte shuffle (SSSE3). Public so that both forms
// are tested on every machine.
void Bgr24RowToBgraPortable(const uint8_t* source, uint8_t* destination, uint32_t width);

// Reads the stored 24-bit frame at `offset` (`rows` rows of
// Bgr24StoredRowBytes(width) bytes, in stored order) and writes it converted
// into `destination`, which holds width x rows x 4 bytes: no other buffer is
// used. Pixels that the file does not hold in full (a frame cut short by the
// end of the file, or a read that fails) come out as four zero bytes.
// False, with nothing written, only when positioning the file fails or when
// width x rows x 4 does not fit in 32 bits; the caller logs it.
// The frame is read in bands of about `bandBytes` of output (at least a row),
// so that each band is still in the cache when it is converted.
constexpr uint32_t kBgr24BandBytes = 256 * 1024;
bool ReadBgr24Frame(platform::FileHandle file, int64_t offset, uint32_t width, uint32_t rows,
                    uint8_t* destination, uint32_t bandBytes = kBgr24BandBytes);

}  // namespace stream
