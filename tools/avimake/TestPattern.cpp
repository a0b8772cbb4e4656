#include "TestPattern.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace avimake {
namespace {

constexpr uint32_t kGlyphWidth = 5;
constexpr uint32_t kGlyphHeight = 7;

// 5x7 digits, one byte per row, bit 4 = leftmost column.
constexpr uint8_t kDigits[10][kGlyphHeight] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}};

// B, G, R of the classic eight bars.
constexpr uint8_t kBars[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                                 {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};

void PutPixel(uint8_t* p, uint32_t pixelBytes, uint8_t b, uint8_t g, uint8_t r) {
    p[0] = b;
    p[1] = g;
    p[2] = r;
    if (pixelBytes == 4) p[3] = 255;
}

}  // namespace

TestPattern::TestPattern(uint32_t width, uint32_t height, uint32_t bytesPerPixel)
    : width_(width), height_(height), pixelBytes_(bytesPerPixel) {
    barRows_ = std::max<uint32_t>(1, height * 2 / 3);
    barsTwice_.resize(size_t{width} * 2 * pixelBytes_);
    for (uint32_t x = 0; x < width * 2; ++x) {
        const uint8_t* bar = kBars[(x % width) * 8 / width];
        PutPixel(&barsTwice_[size_t{x} * pixelBytes_], pixelBytes_, bar[0], bar[1], bar[2]);
    }
    rampRow_.resize(size_t{width} * pixelBytes_);
    for (uint32_t x = 0; x < width; ++x) {
        const uint8_t grey =
            static_cast<uint8_t>(uint64_t{x} * 255 / std::max<uint32_t>(1, width - 1));
        PutPixel(&rampRow_[size_t{x} * pixelBytes_], pixelBytes_, grey, grey, grey);
    }
}

void TestPattern::Render(uint64_t index, std::vector<uint8_t>& frame) const {
    frame.resize(size_t{width_} * height_ * pixelBytes_);
    FillBackground(index, frame.data());
    DrawNumber(index, frame.data());
    EncodeNumber(index, frame.data());
}

void TestPattern::FillBackground(uint64_t index, uint8_t* frame) const {
    const size_t rowBytes = size_t{width_} * pixelBytes_;
    // Bars move right, so the row starts `shift` pixels before the start of the period.
    const uint32_t shift = static_cast<uint32_t>((index * 4) % width_);
    const uint8_t* barRow = &barsTwice_[size_t{width_ - shift} * pixelBytes_];
    for (uint32_t y = 0; y < height_; ++y) {
        uint8_t* row = frame + size_t{height_ - 1 - y} * rowBytes;  // bottom-up storage
        std::memcpy(row, y < barRows_ ? barRow : rampRow_.data(), rowBytes);
    }
}

void TestPattern::FillBlock(uint8_t* frame, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                            uint8_t grey) const {
    const size_t rowBytes = size_t{width_} * pixelBytes_;
    const uint32_t xEnd = std::min(width_, x + w);
    const uint32_t yEnd = std::min(height_, y + h);
    for (uint32_t yy = y; yy < yEnd; ++yy) {
        uint8_t* row = frame + size_t{height_ - 1 - yy} * rowBytes;
        for (uint32_t xx = x; xx < xEnd; ++xx) {
            PutPixel(row + size_t{xx} * pixelBytes_, pixelBytes_, grey, grey, grey);
        }
    }
}

void TestPattern::DrawNumber(uint64_t index, uint8_t* frame) const {
    const std::string text = std::to_string(index);
    const uint32_t cells = static_cast<uint32_t>(text.size()) * (kGlyphWidth + 1) + 1;
    // Digits about a third of the picture height, but never wider than the picture.
    const uint32_t scale =
        std::max<uint32_t>(1, std::min(height_ / (3 * (kGlyphHeight + 2)), width_ / cells));
    const uint32_t boxW = cells * scale;
    const uint32_t boxH = (kGlyphHeight + 2) * scale;
    const uint32_t left = width_ > boxW ? (width_ - boxW) / 2 : 0;
    const uint32_t top = height_ > boxH ? (height_ - boxH) / 2 : 0;
    FillBlock(frame, left, top, boxW, boxH, 0);
    for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t* glyph = kDigits[text[i] - '0'];
        const uint32_t glyphLeft =
            left + (static_cast<uint32_t>(i) * (kGlyphWidth + 1) + 1) * scale;
        for (uint32_t gy = 0; gy < kGlyphHeight; ++gy) {
            for (uint32_t gx = 0; gx < kGlyphWidth; ++gx) {
                if ((glyph[gy] >> (kGlyphWidth - 1 - gx) & 1) == 0) continue;
                FillBlock(frame, glyphLeft + gx * scale, top + (gy + 1) * scale, scale, scale, 255);
            }
        }
    }
}

void TestPattern::EncodeNumber(uint64_t index, uint8_t* frame) const {
    const uint32_t number = static_cast<uint32_t>(index);
    for (uint32_t k = 0; k < 4 && k < width_; ++k) {
        const uint8_t byte = static_cast<uint8_t>(number >> (8 * k));
        PutPixel(frame + size_t{k} * pixelBytes_, pixelBytes_, byte, byte, byte);
    }
}

uint32_t DecodeFrameNumber(const uint8_t* frame, uint32_t bytesPerPixel) {
    uint32_t number = 0;
    for (uint32_t k = 0; k < 4; ++k) number |= uint32_t{frame[k * bytesPerPixel]} << (8 * k);
    return number;
}

}  // namespace avimake
