// Built-in deterministic test picture, stored bottom-up as BGRA (or BGR with 24-bit frames).
//
// The picture: colour bars moving 4 pixels right per frame over the upper two thirds, a grey
// ramp below, and the frame number drawn large in the middle so it can be read on a contact
// sheet. The frame number is also stored in the first 4 pixels of the first row in the file
// (the bottom image row): pixel k has B = G = R = byte k of the 32-bit little-endian frame
// number (alpha 255), so a reader can check which frame it got without decoding any digits.
#pragma once

#include <cstdint>
#include <vector>

namespace avimake {

class TestPattern {
public:
    TestPattern(uint32_t width, uint32_t height, uint32_t bytesPerPixel);

    // Fills frame (resized to width * height * bytesPerPixel) with picture number `index`.
    void Render(uint64_t index, std::vector<uint8_t>& frame) const;

private:
    void FillBackground(uint64_t index, uint8_t* frame) const;
    void DrawNumber(uint64_t index, uint8_t* frame) const;
    void FillBlock(uint8_t* frame, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                   uint8_t grey) const;
    void EncodeNumber(uint64_t index, uint8_t* frame) const;

    uint32_t width_;
    uint32_t height_;
    uint32_t pixelBytes_;
    uint32_t barRows_;                // image rows (from the top) showing the bars
    std::vector<uint8_t> barsTwice_;  // two periods of the bar row, so any shift is a copy
    std::vector<uint8_t> rampRow_;
};

// Reads back the frame number stored by TestPattern from the first row of a stored frame.
uint32_t DecodeFrameNumber(const uint8_t* frame, uint32_t bytesPerPixel);

}  // namespace avimake
