// 24-bit BGR pixels to the host's 32-bit BGRA: each pixel keeps its blue,
// green and red bytes and gets an alpha of 255, as ffmpeg's bgr24 to bgra
// conversion gives.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/PictureKernel.h"

namespace convert {

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

// The picture kernel (see PictureKernel.h): rows last first, each by
// Bgr24RowToBgra, so a picture may be converted in place.
void Bgr24ToBgra(const uint8_t* stored, size_t storedStride, uint8_t* bgraOut, ptrdiff_t outStride,
                 uint32_t width, uint32_t height, const FormatContext& context);

}  // namespace convert
