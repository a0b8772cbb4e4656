#include "format/PictureFormats.h"

#include "convert/Bgr24ToBgra.h"

namespace format {

namespace {

constexpr uint32_t kBt709FromRows = 720;  // HD pictures use BT.709, smaller ones BT.601

uint64_t Rgb32Row(uint32_t width) { return PaddedRowBytes(width, 32); }
uint64_t Rgb32Frame(uint32_t width, uint32_t rows) { return Rgb32Row(width) * rows; }
uint64_t Rgb24Row(uint32_t width) { return PaddedRowBytes(width, 24); }
uint64_t Rgb24Frame(uint32_t width, uint32_t rows) { return Rgb24Row(width) * rows; }

// clang-format off
const PictureRow kPictureRows[] = {
    // name    compression   bits  masks                              support           delivery            order                   frame size                      bpp group palette row         frame       kernel
    {"RGB",    kBiRgb,        32, {0, 0, 0},                          Support::Served,  Delivery::Copy,     RowOrder::AsHeightSays, FrameSize::SizeImageUnlessHint, 32, 1, false, Rgb32Row, Rgb32Frame, nullptr},
    {"RGB",    kBiBitfields,  32, {0x00FF0000u, 0x0000FF00u, 0x000000FFu}, Support::Served, Delivery::Copy, RowOrder::AsHeightSays, FrameSize::SizeImageUnlessHint, 32, 1, false, Rgb32Row, Rgb32Frame, nullptr},
    {"RGB",    kBiRgb,        24, {0, 0, 0},                          Support::Served,  Delivery::InPlace,  RowOrder::AsHeightSays, FrameSize::Computed,            24, 1, false, Rgb24Row, Rgb24Frame, convert::Bgr24ToBgra},
    // RGB of any other bit count: named, not read.
    {"RGB",    kBiRgb,         0, {0, 0, 0},                          Support::NotReadYet, Delivery::Staged, RowOrder::AsHeightSays, FrameSize::Computed,            0, 1, false, nullptr,  nullptr,    nullptr},
    {"RGB",    kBiBitfields,   0, {0x00FF0000u, 0x0000FF00u, 0x000000FFu}, Support::NotReadYet, Delivery::Staged, RowOrder::AsHeightSays, FrameSize::Computed, 0, 1, false, nullptr, nullptr, nullptr},
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

const PictureRow* FindPictureRow(uint32_t compression, uint16_t bitCount, const uint32_t* masks) {
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

}  // namespace format
