#include <gtest/gtest.h>

#include <vector>

#include "TestPattern.h"

namespace {

using avimake::DecodeFrameNumber;
using avimake::TestPattern;

TEST(Pattern, FirstStoredPixelsCarryTheFrameNumberBytes) {
    TestPattern pattern(64, 48, 4);
    std::vector<uint8_t> frame;
    pattern.Render(0x01020304, frame);
    ASSERT_EQ(frame.size(), 64u * 48 * 4);
    const uint8_t expected[4] = {0x04, 0x03, 0x02, 0x01};  // little-endian bytes
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(frame[k * 4 + 0], expected[k]) << "pixel " << k;
        EXPECT_EQ(frame[k * 4 + 1], expected[k]) << "pixel " << k;
        EXPECT_EQ(frame[k * 4 + 2], expected[k]) << "pixel " << k;
        EXPECT_EQ(frame[k * 4 + 3], 255) << "pixel " << k;
    }
}

TEST(Pattern, FrameNumberRoundTripsForAllByteWidths) {
    TestPattern pattern(32, 16, 4);
    std::vector<uint8_t> frame;
    for (uint64_t index : {0ull, 7ull, 255ull, 256ull, 65537ull, 16777216ull, 2147483653ull}) {
        pattern.Render(index, frame);
        EXPECT_EQ(DecodeFrameNumber(frame.data(), 4), static_cast<uint32_t>(index));
    }
}

TEST(Pattern, TwentyFourBitFramesUseThreeBytesPerPixel) {
    TestPattern pattern(30, 20, 3);
    std::vector<uint8_t> frame;
    pattern.Render(70000, frame);
    EXPECT_EQ(frame.size(), 30u * 20 * 3);
    EXPECT_EQ(DecodeFrameNumber(frame.data(), 3), 70000u);
}

TEST(Pattern, BarsMoveBetweenFrames) {
    TestPattern pattern(64, 48, 4);
    std::vector<uint8_t> a, b;
    pattern.Render(1, a);
    pattern.Render(2, b);
    // The top stored row is the top of the picture: bars only, no digits or encoded pixels.
    const size_t top = size_t{47} * 64 * 4;
    EXPECT_FALSE(std::equal(a.begin() + top, a.end(), b.begin() + top));
}

TEST(Pattern, DigitsAreDrawnInWhiteOnABlackBox) {
    TestPattern pattern(320, 240, 4);
    std::vector<uint8_t> frame;
    pattern.Render(8, frame);
    // The middle picture row crosses the box: it has black box pixels and white stroke pixels.
    const uint8_t* row = &frame[size_t{120} * 320 * 4];
    int white = 0, black = 0;
    for (int x = 100; x < 220; ++x) {
        const uint8_t* p = row + x * 4;
        if (p[0] == 255 && p[1] == 255 && p[2] == 255) ++white;
        if (p[0] == 0 && p[1] == 0 && p[2] == 0) ++black;
    }
    EXPECT_GT(white, 0);
    EXPECT_GT(black, 0);
}

}  // namespace
