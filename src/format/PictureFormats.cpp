#include "format/PictureFormats.h"

#include "convert/Bgr24ToBgra.h"

namespace format {

namespace {

constexpr uint32_t kBt709FromRows = 720;  // HD pictures use BT.709, smaller ones BT.601

uint64_t Rgb32Row(uint32_t width) { return PaddedRowBytes(width, 32); }
uint64_t Rgb32Frame(uint32_t width, uint32_t rows) { return Rgb32Row(width) * rows; }
uint64_t Rgb24Row(uint32_t width) { return PaddedRowBytes(width, 24); }
uint64_t Rgb24Frame(uint32_t width, uint32_t rows) { return Rgb24Row(width) * rows; }

// A layout that is named in refusals but not read yet.
constexpr PictureRow NotRead(const char* name, uint32_t compression, uint16_t bitCount = 0,
                             uint32_t red = 0, uint32_t green = 0, uint32_t blue = 0,
                             bool usesPalette = false, uint32_t compressionMask = ~0u) {
    return PictureRow{name,
                      compression,
                      bitCount,
                      {red, green, blue},
                      Support::NotReadYet,
                      Delivery::Staged,
                      RowOrder::AsHeightSays,
                      FrameSize::Computed,
                      0,
                      1,
                      usesPalette,
                      nullptr,
                      nullptr,
                      nullptr,
                      compressionMask};
}

constexpr uint32_t Code(const char (&c)[5]) { return CompressionCode(c[0], c[1], c[2], c[3]); }

// clang-format off
const PictureRow kPictureRows[] = {
    // name    compression   bits  masks                              support           delivery            order                   frame size                      bpp group palette row         frame       kernel                mask
    {"RGB",    kBiRgb,        32, {0, 0, 0},                          Support::Served,  Delivery::Copy,     RowOrder::AsHeightSays, FrameSize::SizeImageUnlessHint, 32, 1, false, Rgb32Row, Rgb32Frame, nullptr,              ~0u},
    {"RGB",    kBiBitfields,  32, {0x00FF0000u, 0x0000FF00u, 0x000000FFu}, Support::Served, Delivery::Copy, RowOrder::AsHeightSays, FrameSize::SizeImageUnlessHint, 32, 1, false, Rgb32Row, Rgb32Frame, nullptr,        ~0u},
    {"RGB",    kBiRgb,        24, {0, 0, 0},                          Support::Served,  Delivery::InPlace,  RowOrder::AsHeightSays, FrameSize::Computed,            24, 1, false, Rgb24Row, Rgb24Frame, convert::Bgr24ToBgra, ~0u},
    {"RGB",    kBiBitfields,  24, {0x00FF0000u, 0x0000FF00u, 0x000000FFu}, Support::Served, Delivery::InPlace, RowOrder::AsHeightSays, FrameSize::Computed, 24, 1, false, Rgb24Row, Rgb24Frame, convert::Bgr24ToBgra, ~0u},

    // Uncompressed layouts named in refusals, not read yet.
    NotRead("16-bit RGB", kBiRgb, 16),
    NotRead("8-bit palette RGB", kBiRgb, 8, 0, 0, 0, true),
    NotRead("4-bit palette RGB", kBiRgb, 4, 0, 0, 0, true),
    NotRead("1-bit palette RGB", kBiRgb, 1, 0, 0, 0, true),
    NotRead("RGB", kBiRgb),
    NotRead("16-bit RGB (5-6-5)", kBiBitfields, 16, 0xF800u, 0x07E0u, 0x001Fu),
    NotRead("16-bit RGB (5-5-5)", kBiBitfields, 16, 0x7C00u, 0x03E0u, 0x001Fu),
    NotRead("RGB", kBiBitfields, 0, 0x00FF0000u, 0x0000FF00u, 0x000000FFu),
    NotRead("YUV 4:2:2", Code("UYVY")),
    NotRead("YUV 4:2:2", Code("2vuy")),
    NotRead("YUV 4:2:2", Code("HDYC")),
    NotRead("YUV 4:2:2", Code("UYNV")),
    NotRead("YUV 4:2:2", Code("YUY2")),
    NotRead("YUV 4:2:2", Code("YUYV")),
    NotRead("YUV 4:2:2", Code("YUNV")),
    NotRead("YUV 4:2:2", Code("YVYU")),
    NotRead("10-bit YUV 4:2:2", Code("v210")),
    NotRead("YUV 4:2:0", Code("I420")),
    NotRead("YUV 4:2:0", Code("IYUV")),
    NotRead("YUV 4:2:0", Code("YV12")),
    NotRead("YUV 4:2:0", Code("NV12")),
    NotRead("YUV 4:2:0", Code("NV21")),
    NotRead("YUV 4:2:2", Code("Y42B")),
    NotRead("YUV 4:1:1", Code("Y41B")),
    NotRead("YUV 4:1:1", Code("Y41P")),
    NotRead("YUV 4:1:0", Code("YUV9")),
    NotRead("YUV 4:1:0", Code("YVU9")),
    NotRead("YUV 4:4:4 with alpha", Code("AYUV")),
    NotRead("YUV 4:4:4", Code("v308")),
    NotRead("YUV 4:4:4 with alpha", Code("v408")),
    NotRead("10-bit YUV 4:4:4", Code("v410")),
    NotRead("grey", Code("Y800")),
    NotRead("grey", Code("Y8  ")),
    NotRead("grey", Code("GREY")),
    NotRead("RGBA", Code("RGBA")),
    NotRead("RGB", Code("RV32")),
    NotRead("RGB", Code("RV24")),
    NotRead("RGB", Code("raw ")),
    // MEncoder's own codes: 'BGR' or 'RGB' with the bit count in the low byte.
    NotRead("RGB", 0x42475200u, 0, 0, 0, 0, false, 0xFFFFFF00u),
    NotRead("RGB", 0x52474200u, 0, 0, 0, 0, false, 0xFFFFFF00u),
};
// clang-format on

bool MasksMatch(const PictureRow& row, const uint32_t* masks) {
    if (row.masks[0] == 0 && row.masks[1] == 0 && row.masks[2] == 0) return true;
    return masks != nullptr && masks[0] == row.masks[0] && masks[1] == row.masks[1] &&
           masks[2] == row.masks[2];
}

}  // namespace

uint64_t PaddedRowBytes(uint32_t width, uint32_t bitsPerPixel) {
    return (static_cast<uint64_t>(width) * bitsPerPixel + 31u) / 32u * 4u;
}

PictureRows AllPictureRows() {
    return PictureRows{kPictureRows, kPictureRows + sizeof kPictureRows / sizeof kPictureRows[0]};
}

const PictureRow* FindPictureRow(uint32_t compression, uint16_t bitCount, const uint32_t* masks) {
    for (const PictureRow& row : kPictureRows) {
        if (row.compression != (compression & row.compressionMask)) continue;
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

}  // namespace format
