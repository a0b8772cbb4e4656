#include <gtest/gtest.h>

#include "Image.h"

namespace qxhost {
namespace {

// A 2x3 BGRA frame whose pixel (x, storedRow) has B = 10 * storedRow + x,
// G = 100 + B, R = 200 + x, A = 50 + storedRow.
std::vector<uint8_t> NumberedFrame() {
    std::vector<uint8_t> frame;
    for (int row = 0; row < 3; ++row) {
        for (int x = 0; x < 2; ++x) {
            const auto b = static_cast<uint8_t>(10 * row + x);
            frame.push_back(b);
            frame.push_back(static_cast<uint8_t>(100 + b));
            frame.push_back(static_cast<uint8_t>(200 + x));
            frame.push_back(static_cast<uint8_t>(50 + row));
        }
    }
    return frame;
}

TEST(UprightFromBgra, TurnsBottomUpRowsAroundWhenTheHeightIsPositive) {
    const std::vector<uint8_t> frame = NumberedFrame();
    const Picture p = UprightFromBgra(frame.data(), 2, 3, false);
    ASSERT_EQ(p.width, 2);
    ASSERT_EQ(p.height, 3);
    ASSERT_EQ(p.channels, 3);
    // The top picture row is the last stored row (row 2); RGB order.
    EXPECT_EQ(p.pixels[0], 200);  // R of x 0
    EXPECT_EQ(p.pixels[1], 120);  // G = 100 + 20
    EXPECT_EQ(p.pixels[2], 20);   // B of row 2, x 0
    EXPECT_EQ(p.pixels[5], 21);   // B of row 2, x 1
    // The bottom picture row is stored row 0.
    EXPECT_EQ(p.pixels[2 * 6 + 2], 0);
    EXPECT_EQ(p.pixels[2 * 6 + 3], 201);
}

TEST(UprightFromBgra, KeepsTopDownRowsWhenTheHeightIsNegative) {
    const std::vector<uint8_t> frame = NumberedFrame();
    const Picture p = UprightFromBgra(frame.data(), 2, -3, false);
    ASSERT_EQ(p.height, 3);
    EXPECT_EQ(p.pixels[2], 0);           // top row is stored row 0
    EXPECT_EQ(p.pixels[2 * 6 + 2], 20);  // bottom row is stored row 2
}

TEST(UprightFromBgra, KeepsTheAlphaChannelOnRequest) {
    const std::vector<uint8_t> frame = NumberedFrame();
    const Picture p = UprightFromBgra(frame.data(), 2, 3, true);
    ASSERT_EQ(p.channels, 4);
    ASSERT_EQ(p.pixels.size(), 2u * 3u * 4u);
    EXPECT_EQ(p.pixels[0], 200);
    EXPECT_EQ(p.pixels[2], 20);
    EXPECT_EQ(p.pixels[3], 52);          // alpha of stored row 2
    EXPECT_EQ(p.pixels[2 * 8 + 3], 50);  // alpha of stored row 0
}

Picture Gray(int width, int height, const std::vector<uint8_t>& values) {
    Picture p;
    p.width = width;
    p.height = height;
    p.channels = 3;
    for (uint8_t v : values) p.pixels.insert(p.pixels.end(), {v, v, v});
    return p;
}

TEST(Downscale, AveragesTheSourcePixelsEachTargetPixelCovers) {
    const Picture source = Gray(4, 2, {0, 10, 100, 200, 20, 30, 50, 50});
    const Picture half = Downscale(source, 2, 1);
    ASSERT_EQ(half.width, 2);
    ASSERT_EQ(half.height, 1);
    EXPECT_EQ(half.pixels[0], 15);   // (0 + 10 + 20 + 30) / 4
    EXPECT_EQ(half.pixels[3], 100);  // (100 + 200 + 50 + 50) / 4
}

TEST(Downscale, NeverEnlargesAPicture) {
    const Picture source = Gray(3, 2, {1, 2, 3, 4, 5, 6});
    const Picture same = Downscale(source, 300, 200);
    EXPECT_EQ(same.width, 3);
    EXPECT_EQ(same.height, 2);
    EXPECT_EQ(same.pixels, source.pixels);
}

TEST(ThumbnailSize, KeepsTheProportionsWithinTheMaximumWidth) {
    int w = 0, h = 0;
    ThumbnailSize(1280, 720, 320, w, h);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 180);
    ThumbnailSize(64, 48, 320, w, h);  // small frames keep their size
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 48);
}

TEST(ContactSheet, PlacesThumbnailsRowByRowInTheGrid) {
    ContactSheet sheet(2, 1, 2, 3);  // 2 columns, 2 rows for 3 cells
    const int gap = ContactSheet::kGap;
    const Picture& p = sheet.picture();
    ASSERT_EQ(p.width, gap + 2 * (2 + gap));
    ASSERT_EQ(p.height, gap + 2 * (1 + gap));
    sheet.Place(0, Gray(2, 1, {11, 11}));
    sheet.Place(1, Gray(2, 1, {22, 22}));
    sheet.Place(2, Gray(2, 1, {33, 33}));
    auto at = [&](int x, int y) { return p.pixels[(static_cast<size_t>(y) * p.width + x) * 3]; };
    EXPECT_EQ(at(gap, gap), 11);
    EXPECT_EQ(at(gap + 2 + gap, gap), 22);
    EXPECT_EQ(at(gap + 1, gap + 1 + gap), 33);
    EXPECT_EQ(at(gap + 2 + gap, gap + 1 + gap), 32);  // the fourth cell stays background
    EXPECT_EQ(at(0, 0), 32);
}

TEST(ContactSheet, LabelsATileWithItsFrameNumberAndTime) {
    EXPECT_EQ(TileLabel(0, 0.0), "#0 0:00.000");
    EXPECT_EQ(TileLabel(1234, 75.5004), "#1234 1:15.500");
    ContactSheet sheet(40, 20, 2, 2);
    sheet.Place(1, Gray(40, 20, std::vector<uint8_t>(800, 100)));
    sheet.Label(1, "#1");
    const Picture& p = sheet.picture();
    const int gap = ContactSheet::kGap;
    const int left = gap + 40 + gap;
    auto at = [&](int x, int y) { return p.pixels[(static_cast<size_t>(y) * p.width + x) * 3]; };
    // The band's bottom rows: black around white glyph pixels; '#' has its
    // second column lit on its first row; the tile above the band is untouched.
    const int glyphTop = gap + 20 - ContactSheet::kGlyphHeight - 1;
    EXPECT_EQ(at(left, gap + 19), 0);
    EXPECT_EQ(at(left + 1 + 1, glyphTop), 255);
    EXPECT_EQ(at(left + 1, glyphTop), 0);
    EXPECT_EQ(at(left, gap), 100);
    EXPECT_EQ(at(left + 30, glyphTop), 100) << "the band is only as wide as the text";
    // A label longer than the tile is cut to it, never drawn into the next cell.
    sheet.Label(0, std::string(40, '8'));
    EXPECT_EQ(at(gap + 40 + 1, glyphTop), 32);
}

}  // namespace
}  // namespace qxhost
