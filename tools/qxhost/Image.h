// Pixel work for picture output: the plug-in's 32-bit BGRA frames turned into
// upright RGB or RGBA, thumbnails and a contact sheet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qxhost {

// An upright picture, rows top first, `channels` bytes per pixel (3 or 4).
struct Picture {
    int width = 0;
    int height = 0;
    int channels = 3;
    std::vector<uint8_t> pixels;
};

// Converts one BGRA frame as the plug-in delivers it to an upright picture. A
// positive `height` means the rows are stored bottom-up (they are turned
// around); a negative one means top-down. With `keepAlpha` the picture is
// RGBA, otherwise RGB.
Picture UprightFromBgra(const uint8_t* bgra, int width, int height, bool keepAlpha);

// Shrinks a picture to `width` x `height` by averaging the source pixels each
// target pixel covers. Never enlarges: a target larger than the source in
// either direction is clamped to the source's size.
Picture Downscale(const Picture& source, int width, int height);

// The size of a thumbnail at most `maxWidth` wide, keeping the proportions.
void ThumbnailSize(int width, int height, int maxWidth, int& thumbWidth, int& thumbHeight);

// The label of a contact sheet's tile: "#FRAME M:SS.mmm".
std::string TileLabel(uint64_t frame, double seconds);

// A grid of equally sized thumbnails, `columns` across, filled row by row, on a
// dark background with a small gap between cells.
class ContactSheet {
public:
    ContactSheet(int cellWidth, int cellHeight, int columns, int cells);
    // Places picture number `index` (0-based). RGBA pictures lose their alpha.
    void Place(int index, const Picture& thumbnail);
    // Writes `text` in white on a black band along the bottom of cell
    // `index`, in a 5 x 7 pixel font (digits, '#', ':', '.', 's' and space),
    // cut to what fits the cell.
    void Label(int index, const std::string& text);
    const Picture& picture() const { return sheet_; }

    static constexpr int kGap = 4;
    static constexpr int kGlyphHeight = 7;
    static constexpr int kGlyphAdvance = 6;  // 5 pixels and a space

private:
    int cellWidth_, cellHeight_, columns_;
    Picture sheet_;
};

}  // namespace qxhost
