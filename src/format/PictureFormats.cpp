#include "format/PictureFormats.h"

#include "convert/Bgr24ToBgra.h"
#include "convert/PictureLayouts.h"

namespace format {

namespace {

uint64_t Rgb32Row(uint32_t width) { return PaddedRowBytes(width, 32); }
uint64_t Rgb32Frame(uint32_t width, uint32_t rows) { return Rgb32Row(width) * rows; }
uint64_t Rgb24Row(uint32_t width) { return PaddedRowBytes(width, 24); }
uint64_t Rgb24Frame(uint32_t width, uint32_t rows) { return Rgb24Row(width) * rows; }

// Sizes of the converted layouts. Rows of BI_RGB and BI_BITFIELDS pictures
// are padded to 4 bytes; the layouts named by a code are stored as their
// writers (ffmpeg, GStreamer, VLC, MEncoder) store them: packed rows without
// padding (v210 pads its own rows to 128 bytes), planar frames as planes
// one after another, each without padding.
template <convert::PictureLayout kLayout, bool kPadded>
uint64_t LayoutRow(uint32_t width) {
    if (convert::IsPlanar(kLayout)) return width;
    const uint64_t bytes = convert::PackedRowBytes(kLayout, width);
    return kPadded ? (bytes + 3) / 4 * 4 : bytes;
}
template <convert::PictureLayout kLayout, bool kPadded>
uint64_t LayoutFrame(uint32_t width, uint32_t rows) {
    if (convert::IsPlanar(kLayout)) return convert::PlanarFrameBytes(kLayout, width, rows);
    return LayoutRow<kLayout, kPadded>(width) * rows;
}

// clang-format off
const PictureRow kPictureRows[] = {
    // name    compression   bits  masks                              support           delivery            order                   frame size                      bpp group palette pad row         frame       kernel
    {"RGB",    kBiRgb,        32, {0, 0, 0},                          Support::Served,  Delivery::Copy,     RowOrder::AsHeightSays, FrameSize::SizeImageUnlessHint, 32, 1, false, RowPadding::None, Rgb32Row, Rgb32Frame, nullptr},
    {"RGB",    kBiBitfields,  32, {0x00FF0000u, 0x0000FF00u, 0x000000FFu}, Support::Served, Delivery::Copy, RowOrder::AsHeightSays, FrameSize::SizeImageUnlessHint, 32, 1, false, RowPadding::None, Rgb32Row, Rgb32Frame, nullptr},
    {"RGB",    kBiRgb,        24, {0, 0, 0},                          Support::Served,  Delivery::InPlace,  RowOrder::AsHeightSays, FrameSize::Computed,            24, 1, false, RowPadding::None, Rgb24Row, Rgb24Frame, convert::Bgr24ToBgra},
    // RGB of any other bit count: named, not read.
    {"RGB",    kBiRgb,         0, {0, 0, 0},                          Support::NotReadYet, Delivery::Staged, RowOrder::AsHeightSays, FrameSize::Computed,            0, 1, false, RowPadding::None, nullptr,  nullptr,    nullptr},
    {"RGB",    kBiBitfields,   0, {0x00FF0000u, 0x0000FF00u, 0x000000FFu}, Support::NotReadYet, Delivery::Staged, RowOrder::AsHeightSays, FrameSize::Computed, 0, 1, false, RowPadding::None, nullptr, nullptr, nullptr},
};
// clang-format on

// GStreamer pads grey rows and I420's planes; it writes no other planar layout.
constexpr RowPadding PaddingOf(convert::PictureLayout layout) {
    return layout == convert::PictureLayout::Grey   ? RowPadding::RowsTo4
           : layout == convert::PictureLayout::I420 ? RowPadding::PlanesTo4
                                                    : RowPadding::None;
}

// A converted layout: served, frame size computed, the layout's kernel.
#define LAYOUT_ROW(name, compression, bits, delivery, order, bpp, group, palette, layout, ...) \
    {                                                                                          \
        name, compression, bits, {__VA_ARGS__}, Support::Served, delivery, order,              \
            FrameSize::Computed, bpp, group, palette, PaddingOf(layout),                       \
            LayoutRow<layout, compression == kBiRgb || compression == kBiBitfields>,           \
            LayoutFrame<layout, compression == kBiRgb || compression == kBiBitfields>,         \
            convert::ConvertLayout<layout>                                                     \
    }

// Every uncompressed layout read besides 32- and 24-bit RGB. YUV and grey are
// stored top-down whatever the height's sign says, as their writers store
// them and ffmpeg reads them; BI_RGB and BI_BITFIELDS rows follow the sign;
// the RGB layouts named by a code are top-down too, except MEncoder's,
// which it stores as BI_RGB and names by the bit count followed by 'RGB'
// (bytes B, G, R in memory) or 'BGR' (bytes R, G, B); its 16-bit codes are not read.
// clang-format off
const PictureRow kConvertedRows[] = {
    LAYOUT_ROW("YUV 4:2:2", CompressionCode('U', 'Y', 'V', 'Y'), 0, Delivery::InPlace, RowOrder::TopDown, 16, 2, false, convert::PictureLayout::Uyvy, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:2", CompressionCode('2', 'v', 'u', 'y'), 0, Delivery::InPlace, RowOrder::TopDown, 16, 2, false, convert::PictureLayout::Uyvy, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:2", CompressionCode('2', 'V', 'u', 'y'), 0, Delivery::InPlace, RowOrder::TopDown, 16, 2, false, convert::PictureLayout::Uyvy, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:2", CompressionCode('H', 'D', 'Y', 'C'), 0, Delivery::InPlace, RowOrder::TopDown, 16, 2, false, convert::PictureLayout::Uyvy, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:2", CompressionCode('U', 'Y', 'N', 'V'), 0, Delivery::InPlace, RowOrder::TopDown, 16, 2, false, convert::PictureLayout::Uyvy, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:2", CompressionCode('U', 'Y', 'N', 'Y'), 0, Delivery::InPlace, RowOrder::TopDown, 16, 2, false, convert::PictureLayout::Uyvy, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:2", CompressionCode('Y', 'U', 'Y', '2'), 0, Delivery::InPlace, RowOrder::TopDown, 16, 2, false, convert::PictureLayout::Yuy2, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:2", CompressionCode('Y', 'U', 'Y', 'V'), 0, Delivery::InPlace, RowOrder::TopDown, 16, 2, false, convert::PictureLayout::Yuy2, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:2", CompressionCode('Y', 'U', 'N', 'V'), 0, Delivery::InPlace, RowOrder::TopDown, 16, 2, false, convert::PictureLayout::Yuy2, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:2", CompressionCode('V', '4', '2', '2'), 0, Delivery::InPlace, RowOrder::TopDown, 16, 2, false, convert::PictureLayout::Yuy2, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:2", CompressionCode('Y', '4', '2', '2'), 0, Delivery::InPlace, RowOrder::TopDown, 16, 2, false, convert::PictureLayout::Yuy2, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:2", CompressionCode('Y', 'V', 'Y', 'U'), 0, Delivery::InPlace, RowOrder::TopDown, 16, 2, false, convert::PictureLayout::Yvyu, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:2 10-bit", CompressionCode('v', '2', '1', '0'), 0, Delivery::Staged, RowOrder::TopDown, 22, 6, false, convert::PictureLayout::V210, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:0", CompressionCode('I', '4', '2', '0'), 0, Delivery::Staged, RowOrder::TopDown, 12, 2, false, convert::PictureLayout::I420, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:0", CompressionCode('I', 'Y', 'U', 'V'), 0, Delivery::Staged, RowOrder::TopDown, 12, 2, false, convert::PictureLayout::I420, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:0", CompressionCode('Y', 'V', '1', '2'), 0, Delivery::Staged, RowOrder::TopDown, 12, 2, false, convert::PictureLayout::Yv12, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:0", CompressionCode('N', 'V', '1', '2'), 0, Delivery::Staged, RowOrder::TopDown, 12, 2, false, convert::PictureLayout::Nv12, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:0", CompressionCode('N', 'V', '2', '1'), 0, Delivery::Staged, RowOrder::TopDown, 12, 2, false, convert::PictureLayout::Nv21, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:2", CompressionCode('Y', '4', '2', 'B'), 0, Delivery::Staged, RowOrder::TopDown, 16, 2, false, convert::PictureLayout::Yuv422P, 0, 0, 0),
    LAYOUT_ROW("YUV 4:2:2", CompressionCode('P', '4', '2', '2'), 0, Delivery::Staged, RowOrder::TopDown, 16, 2, false, convert::PictureLayout::Yuv422P, 0, 0, 0),
    LAYOUT_ROW("YUV 4:1:1", CompressionCode('Y', '4', '1', 'B'), 0, Delivery::Staged, RowOrder::TopDown, 12, 4, false, convert::PictureLayout::Yuv411P, 0, 0, 0),
    LAYOUT_ROW("YUV 4:1:0", CompressionCode('Y', 'U', 'V', '9'), 0, Delivery::Staged, RowOrder::TopDown, 9, 4, false, convert::PictureLayout::Yuv410P, 0, 0, 0),
    LAYOUT_ROW("YUV 4:1:0", CompressionCode('Y', 'V', 'U', '9'), 0, Delivery::Staged, RowOrder::TopDown, 9, 4, false, convert::PictureLayout::Yvu410P, 0, 0, 0),
    LAYOUT_ROW("grey", CompressionCode('Y', '8', '0', '0'), 0, Delivery::InPlace, RowOrder::TopDown, 8, 1, false, convert::PictureLayout::Grey, 0, 0, 0),
    LAYOUT_ROW("grey", CompressionCode('Y', '8', ' ', ' '), 0, Delivery::InPlace, RowOrder::TopDown, 8, 1, false, convert::PictureLayout::Grey, 0, 0, 0),
    LAYOUT_ROW("grey", CompressionCode('G', 'R', 'E', 'Y'), 0, Delivery::InPlace, RowOrder::TopDown, 8, 1, false, convert::PictureLayout::Grey, 0, 0, 0),
    LAYOUT_ROW("RGB 5-5-5", kBiRgb, 16, Delivery::InPlace, RowOrder::AsHeightSays, 16, 1, false, convert::PictureLayout::Rgb555, 0, 0, 0),
    LAYOUT_ROW("RGB 5-6-5", kBiBitfields, 16, Delivery::InPlace, RowOrder::AsHeightSays, 16, 1, false, convert::PictureLayout::Rgb565, 0xF800u, 0x07E0u, 0x001Fu),
    LAYOUT_ROW("RGB 5-5-5", kBiBitfields, 16, Delivery::InPlace, RowOrder::AsHeightSays, 16, 1, false, convert::PictureLayout::Rgb555, 0x7C00u, 0x03E0u, 0x001Fu),
    LAYOUT_ROW("palette", kBiRgb, 8, Delivery::InPlace, RowOrder::AsHeightSays, 8, 1, true, convert::PictureLayout::Pal8, 0, 0, 0),
    LAYOUT_ROW("palette", kBiRgb, 4, Delivery::InPlace, RowOrder::AsHeightSays, 4, 2, true, convert::PictureLayout::Pal4, 0, 0, 0),
    LAYOUT_ROW("palette", kBiRgb, 1, Delivery::InPlace, RowOrder::AsHeightSays, 1, 8, true, convert::PictureLayout::Pal1, 0, 0, 0),
    LAYOUT_ROW("RGBA", CompressionCode('R', 'G', 'B', 'A'), 0, Delivery::InPlace, RowOrder::TopDown, 32, 1, false, convert::PictureLayout::Rgba, 0, 0, 0),
    LAYOUT_ROW("RGB", CompressionCode('R', 'V', '3', '2'), 0, Delivery::InPlace, RowOrder::TopDown, 32, 1, false, convert::PictureLayout::Bgrx, 0, 0, 0),
    LAYOUT_ROW("RGB", CompressionCode('R', 'V', '2', '4'), 0, Delivery::InPlace, RowOrder::TopDown, 24, 1, false, convert::PictureLayout::Bgr24, 0, 0, 0),
    LAYOUT_ROW("RGB 5-6-5", CompressionCode('R', 'V', '1', '6'), 0, Delivery::InPlace, RowOrder::TopDown, 16, 1, false, convert::PictureLayout::Rgb565, 0, 0, 0),
    LAYOUT_ROW("RGB 5-5-5", CompressionCode('R', 'V', '1', '5'), 0, Delivery::InPlace, RowOrder::TopDown, 16, 1, false, convert::PictureLayout::Rgb555, 0, 0, 0),
    LAYOUT_ROW("RGB", CompressionCode('r', 'a', 'w', ' '), 24, Delivery::InPlace, RowOrder::TopDown, 24, 1, false, convert::PictureLayout::Rgb24, 0, 0, 0),
    LAYOUT_ROW("RGB", CompressionCode('r', 'a', 'w', ' '), 32, Delivery::InPlace, RowOrder::TopDown, 32, 1, false, convert::PictureLayout::Argb, 0, 0, 0),
    LAYOUT_ROW("RGB", CompressionCode(32, 'R', 'G', 'B'), 0, Delivery::InPlace, RowOrder::AsHeightSays, 32, 1, false, convert::PictureLayout::Bgrx, 0, 0, 0),
    LAYOUT_ROW("RGB", CompressionCode(24, 'R', 'G', 'B'), 0, Delivery::InPlace, RowOrder::AsHeightSays, 24, 1, false, convert::PictureLayout::Bgr24, 0, 0, 0),
    LAYOUT_ROW("RGB", CompressionCode(32, 'B', 'G', 'R'), 0, Delivery::InPlace, RowOrder::AsHeightSays, 32, 1, false, convert::PictureLayout::Rgbx, 0, 0, 0),
    LAYOUT_ROW("RGB", CompressionCode(24, 'B', 'G', 'R'), 0, Delivery::InPlace, RowOrder::AsHeightSays, 24, 1, false, convert::PictureLayout::Rgb24, 0, 0, 0),
};
// clang-format on
#undef LAYOUT_ROW

// Still refused, named in words: RGB of 16 bits a channel.
// clang-format off
const PictureRow kWideRgbRows[] = {
    {"RGB with 16 bits a channel", kBiRgb, 48, {0, 0, 0}, Support::NotReadYet, Delivery::Staged, RowOrder::AsHeightSays, FrameSize::Computed, 0, 1, false, RowPadding::None, nullptr, nullptr, nullptr},
    {"RGB with 16 bits a channel", kBiRgb, 64, {0, 0, 0}, Support::NotReadYet, Delivery::Staged, RowOrder::AsHeightSays, FrameSize::Computed, 0, 1, false, RowPadding::None, nullptr, nullptr, nullptr},
};
// clang-format on

bool MasksMatch(const PictureRow& row, const uint32_t* masks) {
    if (row.masks[0] == 0 && row.masks[1] == 0 && row.masks[2] == 0) return true;
    return masks != nullptr && masks[0] == row.masks[0] && masks[1] == row.masks[1] &&
           masks[2] == row.masks[2];
}

bool Matches(const PictureRow& row, uint32_t compression, uint16_t bitCount,
             const uint32_t* masks) {
    if (row.compression != compression) return false;
    if (row.bitCount != 0 && row.bitCount != bitCount) return false;
    return compression != kBiBitfields || MasksMatch(row, masks);
}

}  // namespace

uint64_t PaddedRowBytes(uint32_t width, uint32_t bitsPerPixel) {
    return (static_cast<uint64_t>(width) * bitsPerPixel + 31u) / 32u * 4u;
}

const PictureRow* FindPictureRow(uint32_t compression, uint16_t bitCount, const uint32_t* masks) {
    // The converted and wide rows first: the catch-all rows of the first
    // table name every other RGB depth as not read.
    for (const PictureRow& row : kConvertedRows) {
        if (Matches(row, compression, bitCount, masks)) return &row;
    }
    for (const PictureRow& row : kWideRgbRows) {
        if (Matches(row, compression, bitCount, masks)) return &row;
    }
    for (const PictureRow& row : kPictureRows) {
        if (row.compression != compression) continue;
        if (row.bitCount != 0 && row.bitCount != bitCount) continue;
        if (compression == kBiBitfields && !MasksMatch(row, masks)) continue;
        return &row;
    }
    return nullptr;
}

bool DescribePicture(const PictureRow& row, int32_t width, int32_t height, uint32_t sizeImage,
                     const convert::FormatContext& context, PictureFormat& picture) {
    const auto columns = static_cast<uint32_t>(width);
    const uint32_t rows =
        height < 0 ? 0u - static_cast<uint32_t>(height) : static_cast<uint32_t>(height);
    const uint64_t stored = row.storedFrameBytes(columns, rows);
    if (stored > 0xFFFFFFFFu) return false;
    // A hint is 0 or width x height (some writers' pixel count, not bytes).
    const bool hint = sizeImage == 0 || sizeImage == static_cast<uint64_t>(columns) * rows;
    const bool takesSizeImage = row.frameSize == FrameSize::SizeImageUnlessHint && !hint;
    picture.row = &row;
    picture.width = columns;
    picture.rows = rows;
    picture.turnOver = row.order == RowOrder::TopDown && height > 0;
    picture.storedStride = row.storedRowBytes(columns);
    picture.frameSize = takesSizeImage ? sizeImage : static_cast<uint32_t>(stored);
    picture.context = context;
    picture.context.bt709 = rows >= kBt709FromRows;
    return true;
}

namespace {

// A frame as a padding writer stores it.
struct PaddedGeometry {
    uint64_t stride = 0;        // of a luma (or grey) row
    uint64_t chromaStride = 0;  // of a chroma row (planar)
    uint64_t lumaRows = 0;      // rows of the luma plane (planar)
    uint64_t frame = 0;
};

uint64_t RoundUp4(uint64_t n) { return (n + 3) / 4 * 4; }

// False when the row's layout is never padded or padding adds nothing.
bool PaddedGeometryOf(const PictureFormat& picture, PaddedGeometry& padded) {
    if (picture.row == nullptr) return false;
    const uint64_t width = picture.width;
    const uint64_t rows = picture.rows;
    switch (picture.row->padding) {
        case RowPadding::None:
            return false;
        case RowPadding::RowsTo4:
            padded.stride = RoundUp4(picture.row->storedRowBytes(picture.width));
            padded.frame = padded.stride * rows;
            break;
        case RowPadding::PlanesTo4: {
            // GStreamer's I420: luma rows of width bytes and chroma rows of
            // (width + 1) / 2, each padded to 4; the luma plane of an even
            // number of rows; two chroma planes of (rows + 1) / 2 rows.
            const uint64_t chromaRows = (rows + 1) / 2;
            padded.stride = RoundUp4(width);
            padded.chromaStride = RoundUp4((width + 1) / 2);
            padded.lumaRows = chromaRows * 2;
            padded.frame = padded.stride * padded.lumaRows + 2 * padded.chromaStride * chromaRows;
            break;
        }
    }
    return padded.frame != picture.frameSize && padded.frame <= 0xFFFFFFFFu;
}

}  // namespace

uint32_t PaddedFrameSize(const PictureFormat& picture) {
    PaddedGeometry padded;
    return PaddedGeometryOf(picture, padded) ? static_cast<uint32_t>(padded.frame) : 0;
}

bool PadRowsToChunks(PictureFormat& picture, uint32_t smallestChunk) {
    PaddedGeometry padded;
    if (!PaddedGeometryOf(picture, padded) || padded.frame > smallestChunk) return false;
    picture.storedStride = padded.stride;
    picture.frameSize = static_cast<uint32_t>(padded.frame);  // <= a chunk's 32-bit size
    // Both below the frame size.
    picture.context.chromaStride = static_cast<uint32_t>(padded.chromaStride);
    picture.context.lumaPlaneRows = static_cast<uint32_t>(padded.lumaRows);
    return true;
}

}  // namespace format
