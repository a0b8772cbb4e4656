// What a picture kernel is: a pure conversion of stored pixels into the
// host's 32-bit BGRA, with the few facts of the stream's format it needs
// beyond the bytes. No I/O and no file knowledge: a kernel sees a stored
// picture and an output picture, nothing else.
#pragma once

#include <cstddef>
#include <cstdint>

namespace convert {

// The facts of a stream's format that a kernel may need besides its pixels,
// fixed at open.
struct FormatContext {
    // The colour matrix of YUV layouts: BT.709 from 720 lines up, BT.601 below.
    bool bt709 = false;
    // BI_BITFIELDS masks (red, green, blue, alpha; 0 where the format has none).
    uint32_t masks[4] = {};
    // The palette of an indexed layout, as stored (RGBQUAD: blue, green, red,
    // reserved, read little-endian), entries past paletteEntries zero.
    uint32_t paletteEntries = 0;
    uint32_t palette[256] = {};
    // Planar layouts whose planes the writer padded (GStreamer: rows to 4
    // bytes, the luma plane to an even number of rows): the bytes between a
    // chroma plane's rows and the rows the luma plane holds. 0: planes stored
    // without padding, their geometry following from the luma stride and the
    // height (PictureLayouts.h).
    uint32_t chromaStride = 0;
    uint32_t lumaPlaneRows = 0;
};

// Converts `height` stored rows of `width` pixels into BGRA: stored row r
// starts at stored + r x storedStride, output row r at bgraOut + r x
// outStride (negative to turn the rows over). Reads only the stored rows'
// bytes of `width` pixels and writes only width x 4 bytes per output row.
// A kernel that a format's row marks as converting in place also accepts
// stored == bgraOut with 0 < storedStride <= outStride (rows and pixels are
// converted last first, so nothing is overwritten before it is read).
using PictureConverter = void (*)(const uint8_t* stored, size_t storedStride, uint8_t* bgraOut,
                                  ptrdiff_t outStride, uint32_t width, uint32_t height,
                                  const FormatContext& context);

}  // namespace convert
