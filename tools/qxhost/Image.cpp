#include "Image.h"

#include <algorithm>
#include <cstdlib>

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

}  // namespace qxhost
