// The table of stored picture layouts: which layout a video stream's
// BITMAPINFOHEADER (with its masks and palette) describes, how large a stored
// row and frame of it are, in which order its rows lie, how a frame reaches
// the host's BGRA buffer, the kernel that converts it and the name a refusal
// gives it. The walk, the stream rules, the index sources and the frame read
// ask this table; nothing else tests bit counts or compression codes.
//
// Adding a layout is one row here and one kernel in convert/: the reads
// follow the row's delivery, row order and sizes without change.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/PictureKernel.h"
#include "format/Support.h"

namespace format {

// The colour matrix of YUV pictures: BT.709 from this many lines (HD), BT.601
// below, as editors read HD and SD; AVI records no matrix of its own.
constexpr uint32_t kBt709FromRows = 720;

// biCompression values that are not codes, and a code as biCompression holds
// it (the four characters in file order, read little-endian).
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t CompressionCode(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

// How a frame's stored bytes reach the host's buffer (width x rows x 4 bytes).
enum class Delivery : uint8_t {
    Copy,     // stored as the host's BGRA: read straight into its buffer, frameSize bytes
    InPlace,  // read into the host's buffer and converted there by the row's kernel:
              // only for layouts whose stored row is never longer than the output row
    Staged,   // read whole into the staging buffer, converted from there into the host's
};

// In which order a layout's rows are stored.
enum class RowOrder : uint8_t {
    // As the height's sign says (RGB): served in stored order, and the host,
    // told the same height, takes a positive one as bottom-up.
    AsHeightSays,
    // Top-down whatever the sign (YUV): served turned over when the height is
    // positive, so that the host's bottom-up rows show the picture upright.
    TopDown,
};

// Where the stored frame size comes from.
enum class FrameSize : uint8_t {
    Computed,  // always the stored frame size the row computes
    // A biSizeImage of 0 or width x height only hints at the computed size;
    // any other (at most the host's frame) is the frame size the file was
    // written with.
    SizeImageUnlessHint,
};

// Padding some writers (GStreamer) add to layouts that others store without
// it, and say so nowhere but in the chunks' size.
enum class RowPadding : uint8_t {
    None,
    RowsTo4,    // each row padded to 4 bytes (grey)
    PlanesTo4,  // 4:2:0 planes: the rows of each plane padded to 4 bytes, the
                // luma plane to an even number of rows (I420)
};

struct PictureRow {
    const char* name;      // as a user knows it, for refusals: "RGB", "YUV 4:2:2"
    uint32_t compression;  // biCompression: kBiRgb, kBiBitfields or a code
    uint16_t bitCount;     // biBitCount; 0 matches any
    uint32_t masks[3];     // kBiBitfields: red, green, blue masks; all 0 match any
    Support support;
    Delivery delivery;
    RowOrder order;
    FrameSize frameSize;
    uint8_t bitsPerPixel;    // stored bits of one pixel (a row's partial read is cut by it)
    uint8_t pixelsPerGroup;  // pixels stored together: a partly read group is not converted
    bool usesPalette;        // the kernel reads FormatContext::palette
    // How a writer may pad a layout whose own rows are not padded: taken
    // when every frame's chunk holds the padded frame (see PadRowsToChunks).
    RowPadding padding;
    // Bytes of one stored row of `width` pixels (padding included) and of a
    // whole stored frame of `rows` such rows, in 64 bits: never wraps for
    // 32-bit width and rows.
    uint64_t (*storedRowBytes)(uint32_t width);
    uint64_t (*storedFrameBytes)(uint32_t width, uint32_t rows);
    convert::PictureConverter convert;  // null for Copy
};

// Rows padded to 4 bytes, as RGB layouts store them: width x bits, rounded up.
uint64_t PaddedRowBytes(uint32_t width, uint32_t bitsPerPixel);

// The row that describes a format: the first whose compression, bit count
// and masks match (`masks`: the three masks that follow the header, null when
// the format chunk holds none). Null for a layout no row knows.
const PictureRow* FindPictureRow(uint32_t compression, uint16_t bitCount, const uint32_t* masks);

// A stream's picture as the reads serve it: its row and the sizes and facts
// fixed at open.
struct PictureFormat {
    const PictureRow* row = nullptr;
    uint32_t width = 0;
    uint32_t rows = 0;          // |biHeight|
    bool turnOver = false;      // rows are served in the reverse of their stored order
    uint64_t storedStride = 0;  // bytes of one stored row
    uint32_t frameSize = 0;     // bytes of one stored frame: what the index's entries hold
    convert::FormatContext context;
};

// Describes the picture of `row` at `width` x |`height`| (width above 0)
// with the format's biSizeImage and its masks and palette in `context`
// (bt709 is set here, from the height). False when a stored frame would not
// fit 32 bits (the caller refuses the stream).
bool DescribePicture(const PictureRow& row, int32_t width, int32_t height, uint32_t sizeImage,
                     const convert::FormatContext& context, PictureFormat& picture);

// Some writers (GStreamer) pad the rows of layouts stored unpadded by
// others (grey, I420) to 4 bytes, and the luma plane of I420 to an even
// number of rows, and say so nowhere but in the chunk's size; ffmpeg reads a
// grey frame's rows padded when its chunk holds the padded frame.
//
// PaddedFrameSize: the bytes of a frame of `picture` as such a writer pads
// it, or 0 when the row's layout is never padded, its padding adds nothing
// at this size, or the padded frame would not fit 32 bits.
uint32_t PaddedFrameSize(const PictureFormat& picture);
// For a stream whose every video chunk (the smallest of them holds
// `smallestChunk` bytes) holds the padded frame, makes the stored rows and
// planes padded and the frame size the padded frame's, and returns true;
// leaves the picture as it is otherwise.
bool PadRowsToChunks(PictureFormat& picture, uint32_t smallestChunk);

}  // namespace format
