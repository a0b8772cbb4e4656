#include "Image.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace qxhost {

Picture UprightFromBgra(const uint8_t* bgra, int width, int height, bool keepAlpha) {
    Picture picture;
    picture.width = width;
    picture.height = std::abs(height);
    picture.channels = keepAlpha ? 4 : 3;
    const size_t w = static_cast<size_t>(width);
    const size_t h = static_cast<size_t>(picture.height);
    const size_t c = static_cast<size_t>(picture.channels);
    picture.pixels.resize(w * h * c);
    for (size_t row = 0; row < h; ++row) {
        const size_t sourceRow = height > 0 ? h - 1 - row : row;
        const uint8_t* in = bgra + sourceRow * w * 4;
        uint8_t* out = picture.pixels.data() + row * w * c;
        for (size_t x = 0; x < w; ++x, in += 4, out += c) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            if (keepAlpha) out[3] = in[3];
        }
    }
    return picture;
}

Picture Downscale(const Picture& source, int width, int height) {
    Picture target;
    target.width = std::max(1, std::min(width, source.width));
    target.height = std::max(1, std::min(height, source.height));
    target.channels = source.channels;
    const size_t c = static_cast<size_t>(source.channels);
    target.pixels.resize(static_cast<size_t>(target.width) * target.height * c);
    for (int ty = 0; ty < target.height; ++ty) {
        // Source rows [y0, y1) map onto target row ty; every source row belongs to one.
        const int y0 = static_cast<int>(int64_t{ty} * source.height / target.height);
        const int y1 = static_cast<int>(int64_t{ty + 1} * source.height / target.height);
        for (int tx = 0; tx < target.width; ++tx) {
            const int x0 = static_cast<int>(int64_t{tx} * source.width / target.width);
            const int x1 = static_cast<int>(int64_t{tx + 1} * source.width / target.width);
            uint64_t sum[4] = {0, 0, 0, 0};
            for (int y = y0; y < y1; ++y) {
                const uint8_t* p =
                    source.pixels.data() + (static_cast<size_t>(y) * source.width + x0) * c;
                for (int x = x0; x < x1; ++x, p += c) {
                    for (size_t k = 0; k < c; ++k) sum[k] += p[k];
                }
            }
            const uint64_t count = static_cast<uint64_t>(y1 - y0) * static_cast<uint64_t>(x1 - x0);
            uint8_t* out = target.pixels.data() + (static_cast<size_t>(ty) * target.width + tx) * c;
            for (size_t k = 0; k < c; ++k) {
                out[k] = static_cast<uint8_t>((sum[k] + count / 2) / count);
            }
        }
    }
    return target;
}

void ThumbnailSize(int width, int height, int maxWidth, int& thumbWidth, int& thumbHeight) {
    thumbWidth = std::max(1, std::min(width, maxWidth));
    thumbHeight = std::max(
        1, static_cast<int>((int64_t{height} * thumbWidth + width / 2) / std::max(1, width)));
    thumbHeight = std::min(thumbHeight, std::max(1, height));
}

ContactSheet::ContactSheet(int cellWidth, int cellHeight, int columns, int cells)
    : cellWidth_(cellWidth), cellHeight_(cellHeight), columns_(std::max(1, columns)) {
    const int used = std::max(1, std::min(columns_, cells));
    const int rows = std::max(1, (cells + columns_ - 1) / columns_);
    sheet_.width = kGap + used * (cellWidth + kGap);
    sheet_.height = kGap + rows * (cellHeight + kGap);
    sheet_.channels = 3;
    sheet_.pixels.assign(static_cast<size_t>(sheet_.width) * sheet_.height * 3, 32);
}

void ContactSheet::Place(int index, const Picture& thumbnail) {
    const int left = kGap + (index % columns_) * (cellWidth_ + kGap);
    const int top = kGap + (index / columns_) * (cellHeight_ + kGap);
    const int w = std::min(thumbnail.width, cellWidth_);
    const int h = std::min(thumbnail.height, cellHeight_);
    if (top + h > sheet_.height || left + w > sheet_.width) return;
    const size_t c = static_cast<size_t>(thumbnail.channels);
    for (int y = 0; y < h; ++y) {
        const uint8_t* in = thumbnail.pixels.data() + static_cast<size_t>(y) * thumbnail.width * c;
        uint8_t* out =
            sheet_.pixels.data() + (static_cast<size_t>(top + y) * sheet_.width + left) * 3;
        for (int x = 0; x < w; ++x, in += c, out += 3) {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
    }
}

namespace {

// A 5 x 7 bitmap font for the labels: one byte per row, the leftmost pixel in
// bit 4.
struct Glyph {
    char c;
    uint8_t rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'s', {0x00, 0x00, 0x0E, 0x10, 0x0E, 0x01, 0x1E}},
};

const uint8_t* GlyphRows(char c) {
    for (const Glyph& glyph : kGlyphs) {
        if (glyph.c == c) return glyph.rows;
    }
    return nullptr;  // a space, or a character without a glyph: left blank
}

}  // namespace

std::string TileLabel(uint64_t frame, double seconds) {
    const auto millis = static_cast<uint64_t>(seconds * 1000.0 + 0.5);
    char text[48];
    std::snprintf(text, sizeof text, "#%llu %llu:%02llu.%03llu",
                  static_cast<unsigned long long>(frame),
                  static_cast<unsigned long long>(millis / 60000),
                  static_cast<unsigned long long>(millis / 1000 % 60),
                  static_cast<unsigned long long>(millis % 1000));
    return text;
}

void ContactSheet::Label(int index, const std::string& text) {
    const int left = kGap + (index % columns_) * (cellWidth_ + kGap);
    const int top = kGap + (index / columns_) * (cellHeight_ + kGap);
    // White glyphs on a black band along the tile's bottom edge, as many
    // characters as fit the tile.
    const int fit = std::max(0, (cellWidth_ - 2) / kGlyphAdvance);
    const int count = std::min(static_cast<int>(text.size()), fit);
    const int bandHeight = kGlyphHeight + 2;
    if (count == 0 || cellHeight_ < bandHeight) return;
    const int bandTop = top + cellHeight_ - bandHeight;
    const int bandWidth = count * kGlyphAdvance + 2;
    for (int y = bandTop; y < bandTop + bandHeight; ++y) {
        uint8_t* row = sheet_.pixels.data() + (static_cast<size_t>(y) * sheet_.width + left) * 3;
        std::fill(row, row + static_cast<size_t>(bandWidth) * 3, uint8_t{0});
    }
    for (int i = 0; i < count; ++i) {
        const uint8_t* glyph = GlyphRows(text[static_cast<size_t>(i)]);
        if (glyph == nullptr) continue;
        for (int y = 0; y < kGlyphHeight; ++y) {
            for (int x = 0; x < 5; ++x) {
                if ((glyph[y] & (0x10 >> x)) == 0) continue;
                const size_t at = (static_cast<size_t>(bandTop + 1 + y) * sheet_.width + left + 1 +
                                   i * kGlyphAdvance + x) *
                                  3;
                sheet_.pixels[at] = sheet_.pixels[at + 1] = sheet_.pixels[at + 2] = 255;
            }
        }
    }
}

}  // namespace qxhost
