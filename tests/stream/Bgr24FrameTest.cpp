#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "StreamTestSupport.h"
#include "convert/Bgr24ToBgra.h"
#include "format/PictureFormats.h"
#include "stream/VideoRead.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace {

constexpr uint8_t kUntouched = 0xEE;

using RowConverter = void (*)(const uint8_t*, uint8_t*, uint32_t);
struct Converter {
    const char* name;
    RowConverter convert;
};
// The stored row of the 24-bit table row, and its picture at width x rows.
uint64_t Bgr24RowBytes(uint32_t width) {
    return format::FindPictureRow(format::kBiRgb, 24, nullptr)->storedRowBytes(width);
}
format::PictureFormat Bgr24Picture(uint32_t width, uint32_t rows) {
    format::PictureFormat picture;
    picture.row = format::FindPictureRow(format::kBiRgb, 24, nullptr);
    picture.width = width;
    picture.rows = rows;
    picture.storedStride = Bgr24RowBytes(width);
    return picture;
}

const Converter kConverters[] = {{"dispatched", convert::Bgr24RowToBgra},
                                 {"portable", convert::Bgr24RowToBgraPortable}};

// BGRA of `width` pixels at `source`, byte by byte: blue, green, red, 255.
std::vector<uint8_t> ExpectedRow(const uint8_t* source, uint32_t width) {
    std::vector<uint8_t> out;
    for (uint32_t p = 0; p < width; ++p) {
        out.push_back(source[3 * p]);
        out.push_back(source[3 * p + 1]);
        out.push_back(source[3 * p + 2]);
        out.push_back(255);
    }
    return out;
}

// Bytes that run through all 256 values in every channel position: 7 and 256
// share no factor, so 7i mod 256 visits every value, and 3 pixels' worth of
// rows of 17 pixels puts every value in each of blue, green and red.
uint8_t PatternByte(size_t i, uint32_t seed) { return static_cast<uint8_t>(i * 7 + seed); }

TEST(Bgr24Row, ConvertsEveryWidthFrom1To17AndEveryByteValue) {
    for (const Converter& c : kConverters) {
        for (uint32_t width = 1; width <= 17; ++width) {
            // Rows taken from a long pattern at every starting byte, so that
            // each channel of each pixel position sees all 256 values.
            const size_t rowBytes = 3 * width;
            std::vector<uint8_t> pattern(rowBytes + 256 * 3);
            for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = PatternByte(i, width);
            for (size_t start = 0; start < 256 * 3; ++start) {
                // The source is copied to a buffer of exactly its size: reading
                // one byte past it is a fault the sanitizers see.
                std::vector<uint8_t> source(pattern.begin() + start,
                                            pattern.begin() + start + rowBytes);
                std::vector<uint8_t> out(4 * width + 8, kUntouched);
                c.convert(source.data(), out.data(), width);
                ASSERT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4 * width),
                          ExpectedRow(source.data(), width))
                    << c.name << " width " << width << " start " << start;
                ASSERT_EQ(std::vector<uint8_t>(out.begin() + 4 * width, out.end()),
                          std::vector<uint8_t>(8, kUntouched))
                    << c.name << " width " << width;
            }
        }
    }
}

TEST(Bgr24Row, RowsOfAPaddedImageIgnoreThePadding) {
    // Strides of 3 x width plus 1, 2 and 3 padding bytes, and the stored
    // stride (rounded up to 4); padding is set to values that would show.
    for (const Converter& c : kConverters) {
        for (uint32_t width : {1u, 2u, 3u, 5u, 6u, 9u, 13u, 17u}) {
            const size_t stored = static_cast<size_t>(Bgr24RowBytes(width));
            for (size_t stride :
                 {size_t{3} * width + 1, size_t{3} * width + 2, size_t{3} * width + 3, stored}) {
                const uint32_t rows = 5;
                std::vector<uint8_t> image(stride * rows, 0xA5);
                for (uint32_t r = 0; r < rows; ++r)
                    for (uint32_t i = 0; i < 3 * width; ++i)
                        image[r * stride + i] = PatternByte(r * 3 * width + i, 11);
                std::vector<uint8_t> out(4 * width * rows, kUntouched);
                std::vector<uint8_t> expected;
                for (uint32_t r = 0; r < rows; ++r) {
                    c.convert(image.data() + r * stride, out.data() + 4 * width * r, width);
                    const std::vector<uint8_t> row = ExpectedRow(image.data() + r * stride, width);
                    expected.insert(expected.end(), row.begin(), row.end());
                }
                EXPECT_EQ(out, expected) << c.name << " width " << width << " stride " << stride;
            }
        }
    }
    EXPECT_EQ(Bgr24RowBytes(1), 4u);
    EXPECT_EQ(Bgr24RowBytes(4), 12u);
    EXPECT_EQ(Bgr24RowBytes(5), 16u);
    EXPECT_EQ(Bgr24RowBytes(37), 112u);
    EXPECT_EQ(Bgr24RowBytes(0xFFFFFFFFu), uint64_t{12884901888});
}

TEST(Bgr24Row, ConvertsOntoItselfWhenTheOutputIsNotBelowTheSource) {
    for (const Converter& c : kConverters) {
        for (uint32_t width = 1; width <= 40; ++width) {
            for (uint32_t shift : {0u, 1u, 2u, 3u, 5u, width}) {
                std::vector<uint8_t> buffer(shift + 4 * width);
                for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = PatternByte(i, width);
                const std::vector<uint8_t> expected = ExpectedRow(buffer.data(), width);
                c.convert(buffer.data(), buffer.data() + shift, width);
                EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + shift, buffer.end()), expected)
                    << c.name << " width " << width << " output " << shift << " bytes above";
            }
        }
    }
}

// A stored frame of `rows` rows padded to 4 bytes, padding bytes non-zero.
std::vector<uint8_t> StoredFrame(uint32_t width, uint32_t rows) {
    const size_t stride = static_cast<size_t>(Bgr24RowBytes(width));
    std::vector<uint8_t> frame(stride * rows, 0x5A);
    for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t i = 0; i < 3 * width; ++i)
            frame[r * stride + i] = PatternByte(r * 1000 + i, 3);
    return frame;
}

// The output of the first `available` stored bytes of a frame: pixels held in
// full are converted, everything after them is zero.
std::vector<uint8_t> ExpectedFrame(const std::vector<uint8_t>& stored, uint32_t width,
                                   uint32_t rows, size_t available) {
    const size_t stride = static_cast<size_t>(Bgr24RowBytes(width));
    std::vector<uint8_t> out(size_t{4} * width * rows, 0);
    for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t p = 0; p < width; ++p) {
            if (r * stride + 3 * p + 3 > available) return out;
            uint8_t* to = out.data() + 4 * (static_cast<size_t>(r) * width + p);
            const uint8_t* from = stored.data() + r * stride + 3 * p;
            to[0] = from[0];
            to[1] = from[1];
            to[2] = from[2];
            to[3] = 255;
        }
    return out;
}

// A file of `lead` bytes of 0x11, the first `count` bytes of `frame`, then
// `trail` bytes of 0x22 (the next chunk). Sized once and filled: GCC 12 at -O3
// reports a false -Warray-bounds on a vector grown by insert from another.
std::vector<uint8_t> FileHolding(size_t lead, const std::vector<uint8_t>& frame, size_t count,
                                 size_t trail) {
    std::vector<uint8_t> bytes(lead + count + trail, 0x22);
    std::fill_n(bytes.begin(), lead, uint8_t{0x11});
    std::copy_n(frame.begin(), count, bytes.begin() + static_cast<std::ptrdiff_t>(lead));
    return bytes;
}

class Bgr24Read : public ::testing::Test {
protected:
    void TearDown() override { platform::CloseFile(file); }
    void Open(const std::vector<uint8_t>& bytes) {
        testsupport::WriteFile(dir.File("f.avi"), bytes);
        const std::u16string wide = testsupport::ToUtf16(dir.File("f.avi"));
        file = platform::OpenFileForSharedRead(wide.c_str());
        ASSERT_NE(file, nullptr);
    }
    testsupport::TempDir dir;
    platform::FileHandle file = nullptr;
};

TEST_F(Bgr24Read, ReadsAndConvertsTheFrameAtItsOffsetInAnyBands) {
    const int64_t offset = 37;
    for (uint32_t width : {1u, 2u, 3u, 5u, 8u, 37u}) {
        const uint32_t rows = 7;
        const std::vector<uint8_t> stored = StoredFrame(width, rows);
        platform::CloseFile(file);
        Open(FileHolding(offset, stored, stored.size(), 50));
        for (uint32_t band : {1u, 4 * width * 3, stream::kInPlaceBandBytes}) {
            std::vector<uint8_t> out(4 * width * rows, kUntouched);
            EXPECT_TRUE(stream::ReadFrameInPlace(file, Bgr24Picture(width, rows), offset,
                                                 out.data(), band));
            EXPECT_EQ(out, ExpectedFrame(stored, width, rows, stored.size()))
                << "width " << width << " band " << band;
        }
    }
}

TEST_F(Bgr24Read, WhatTheFileDoesNotHoldComesOutAsZeros) {
    const uint32_t width = 5, rows = 4;  // stride 16: 15 bytes of pixels, 1 of padding
    const int64_t offset = 8;
    const std::vector<uint8_t> stored = StoredFrame(width, rows);
    // Cut inside the first pixel, inside a row, just before and inside the
    // padding, at a row's end, one byte short of the frame, and before it.
    for (size_t available : {0, 2, 3, 20, 31, 32, 47, 63}) {
        platform::CloseFile(file);
        Open(FileHolding(offset, stored, available, 0));
        for (uint32_t band : {1u, stream::kInPlaceBandBytes}) {
            std::vector<uint8_t> out(4 * width * rows, kUntouched);
            EXPECT_TRUE(stream::ReadFrameInPlace(file, Bgr24Picture(width, rows), offset,
                                                 out.data(), band));
            EXPECT_EQ(out, ExpectedFrame(stored, width, rows, available))
                << available << " bytes of the frame, band " << band;
        }
    }
    // An offset past the end of the file reads nothing: all zeros.
    std::vector<uint8_t> out(4 * width * rows, kUntouched);
    EXPECT_TRUE(stream::ReadFrameInPlace(file, Bgr24Picture(width, rows), 5000, out.data()));
    EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0));
}

TEST_F(Bgr24Read, FailedPositioningOrAnOversizedFrameWritesNothing) {
    Open(StoredFrame(4, 4));
    std::vector<uint8_t> out(64, kUntouched);
    EXPECT_FALSE(stream::ReadFrameInPlace(file, Bgr24Picture(4, 4), -1, out.data()));
    EXPECT_FALSE(stream::ReadFrameInPlace(file, Bgr24Picture(0x10000, 0x4000), 0,
                                          out.data()));  // 2^32 bytes
    EXPECT_EQ(out, std::vector<uint8_t>(64, kUntouched));
}

// ffmpeg's own bgr24 -> bgra conversion of its test pattern, against the
// kernel fed ffmpeg's bgr24 rows padded to 4 bytes as an AVI file stores them.
std::vector<uint8_t> FfmpegFrame(const std::string& pixelFormat, bool* ran) {
    std::vector<uint8_t> bytes;
#ifdef _WIN32
    (void)pixelFormat;
    *ran = false;
#else
    const std::string command =
        "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=37x11 -frames 1 -pix_fmt " +
        pixelFormat + " -f rawvideo - 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        *ran = false;
        return bytes;
    }
    uint8_t chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    *ran = pclose(pipe) == 0;
#endif
    return bytes;
}

TEST(Bgr24Ffmpeg, KernelEqualsFfmpegsBgraConversion) {
    bool ranBgr = false, ranBgra = false;
    const std::vector<uint8_t> bgr = FfmpegFrame("bgr24", &ranBgr);
    const std::vector<uint8_t> bgra = FfmpegFrame("bgra", &ranBgra);
    if (!ranBgr || !ranBgra) {
#ifdef _WIN32
        GTEST_SKIP() << "ffmpeg is run by the native leg's copy of this comparison";
#else
        GTEST_SKIP() << "ffmpeg is not installed: install it (bash scripts/install-deps.sh peers) "
                        "to run the comparison";
#endif
    }
    const uint32_t width = 37, rows = 11;
    ASSERT_EQ(bgr.size(), 3u * width * rows);
    ASSERT_EQ(bgra.size(), 4u * width * rows);
    const size_t stride = static_cast<size_t>(Bgr24RowBytes(width));
    std::vector<uint8_t> padded(stride * rows, 0x77);
    for (uint32_t r = 0; r < rows; ++r)
        std::copy(bgr.begin() + 3 * width * r, bgr.begin() + 3 * width * (r + 1),
                  padded.begin() + static_cast<ptrdiff_t>(stride * r));
    for (const Converter& c : kConverters) {
        std::vector<uint8_t> out(bgra.size(), kUntouched);
        for (uint32_t r = 0; r < rows; ++r)
            c.convert(padded.data() + stride * r, out.data() + 4 * width * r, width);
        EXPECT_EQ(out, bgra) << c.name;
    }
}

}  // namespace
