#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "StreamTestSupport.h"
#include "stream/VideoRead.h"
#include "support/DebugFolder.h"
#include "support/Files.h"
#include "support/TempDir.h"

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr uint8_t kUntouched = 0xEE;

class VideoRead : public ::testing::Test {
protected:
    void Open(const std::string& path) {
        opened.reset(platform::OpenFileForSharedRead(testsupport::ToUtf16(path).c_str()));
        ASSERT_NE(opened, nullptr) << path;
    }
    bool ReadVideoFrame(uint32_t byteCount, int64_t frameOffset, uint8_t* destination) {
        format::PictureFormat picture;
        picture.row = format::FindPictureRow(format::kBiRgb, 32, nullptr);
        picture.frameSize = byteCount;
        return stream::ReadVideoFrame(opened.get(), picture, frameOffset, byteCount, destination,
                                      staging);
    }

    testsupport::TempDir dir;
    FileOwner opened;
    stream::StagingBuffer staging;
};

// The picture of a table row at width x height, as the open describes it.
format::PictureFormat PictureOf(const format::PictureRow* row, int32_t width, int32_t height,
                                uint32_t sizeImage) {
    format::PictureFormat picture;
    EXPECT_NE(row, nullptr);
    EXPECT_TRUE(format::DescribePicture(*row, width, height, sizeImage, {}, picture));
    return picture;
}

std::vector<uint8_t> CountingFile(size_t size) {
    return streamtest::PatternFile(size, [](size_t i) { return static_cast<uint8_t>(i * 13 + 1); });
}

// A 64-byte frame read at `offset` of a 1,000-byte file: the first
// `fromFile` bytes come from the file and the rest of the frame is zero-filled
// (a frame cut short by the end of a truncated file never keeps the previous
// frame's pixels); nothing past the frame is written.
struct FrameRead {
    int64_t offset;
    size_t fromFile;
};

class VideoReadAt : public VideoRead, public ::testing::WithParamInterface<FrameRead> {};

TEST_P(VideoReadAt, CopiesTheFrameBytesAndZeroFillsWhatTheFileLacks) {
    const FrameRead& row = GetParam();
    const std::vector<uint8_t> file = CountingFile(1000);
    testsupport::WriteFile(dir.File("v.avi"), file);
    Open(dir.File("v.avi"));
    std::vector<uint8_t> buffer(64 + 8, kUntouched);
    EXPECT_TRUE(ReadVideoFrame(64, row.offset, buffer.data()));
    // Never past the end of `file`, even where the read is.
    const auto start = file.begin() + static_cast<std::ptrdiff_t>(
                                          std::min(static_cast<size_t>(row.offset), file.size()));
    const auto fromFile = static_cast<std::ptrdiff_t>(row.fromFile);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + fromFile),
              std::vector<uint8_t>(start, start + fromFile));
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + fromFile, buffer.begin() + 64),
              std::vector<uint8_t>(64 - row.fromFile, 0));
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 64, buffer.end()),
              std::vector<uint8_t>(8, kUntouched))
        << "nothing past the frame";
}

INSTANTIATE_TEST_SUITE_P(
    ThousandByteFile, VideoReadAt,
    ::testing::Values(FrameRead{300, 64},  // wholly inside the file
                      FrameRead{980, 20},  // cut short by the end of the file
                      // Past the end: positioned fine, nothing read, still a success.
                      FrameRead{1000 + 4000, 0}));

TEST_F(VideoRead, FailedPositioningIsLoggedWithTheRequestedOffsetAndReadsNothing) {
    testsupport::DebugFolder debug;
    testsupport::WriteFile(dir.File("v.avi"), CountingFile(1000));
    Open(dir.File("v.avi"));
    std::vector<uint8_t> buffer(64, kUntouched);
    EXPECT_FALSE(ReadVideoFrame(64, -5, buffer.data()));
    EXPECT_FALSE(ReadVideoFrame(64, -1, buffer.data()));
    EXPECT_EQ(buffer, std::vector<uint8_t>(64, kUntouched));
    const std::string log = streamtest::LogLines(debug);
    EXPECT_NE(log.find("Mirolan(1239)"), std::string::npos) << log;
    EXPECT_NE(log.find("INVALID_SET_FILE_POINTER File Offset [-5] \n"), std::string::npos) << log;
    EXPECT_NE(log.find("INVALID_SET_FILE_POINTER File Offset [-1] \n"), std::string::npos) << log;
}

// A 24-bit format takes the converting read: each stored row (padded to 4
// bytes) becomes BGRA with alpha 255 in the host's buffer, whatever
// biSizeImage says, rows in stored order for either sign of the height; a
// failed positioning is logged as for 32-bit.
TEST_F(VideoRead, Bgr24FormatIsConvertedToBgraInStoredRowOrder) {
    testsupport::DebugFolder debug;
    const std::vector<uint8_t> file = CountingFile(200);
    testsupport::WriteFile(dir.File("v.avi"), file);
    Open(dir.File("v.avi"));
    constexpr uint32_t kWidth = 3;  // 9 bytes a row, stored as 12
    constexpr size_t kOffset = 40;
    for (const int32_t height : {2, -2}) {
        // biSizeImage 7 is not used by the converting read.
        const format::PictureFormat picture =
            PictureOf(format::FindPictureRow(format::kBiRgb, 24, nullptr), kWidth, height, 7);
        std::vector<uint8_t> buffer(kWidth * 2 * 4 + 4, kUntouched);
        ASSERT_TRUE(stream::ReadVideoFrame(opened.get(), picture, static_cast<int64_t>(kOffset),
                                           UINT32_MAX, buffer.data(), staging));
        for (uint32_t row = 0; row < 2; ++row) {
            for (uint32_t x = 0; x < kWidth; ++x) {
                const size_t from = kOffset + row * 12 + x * 3;
                const size_t to = (row * kWidth + x) * 4;
                EXPECT_EQ(buffer[to], file[from]) << height << " " << row << " " << x;
                EXPECT_EQ(buffer[to + 1], file[from + 1]);
                EXPECT_EQ(buffer[to + 2], file[from + 2]);
                EXPECT_EQ(buffer[to + 3], 255);
            }
        }
        EXPECT_EQ(std::vector<uint8_t>(buffer.end() - 4, buffer.end()),
                  std::vector<uint8_t>(4, kUntouched));
        EXPECT_FALSE(
            stream::ReadVideoFrame(opened.get(), picture, -3, UINT32_MAX, buffer.data(), staging));
    }
    const std::string log = streamtest::LogLines(debug);
    EXPECT_NE(log.find("Mirolan(1239)"), std::string::npos) << log;
    EXPECT_NE(log.find("INVALID_SET_FILE_POINTER File Offset [-3] \n"), std::string::npos) << log;
}

// A layout converted through the staging buffer and stored top-down (as a
// YUV row would be): one grey byte a pixel, rows padded to 4 bytes. Its
// kernel turns each stored byte g into (g, g, g, 255).
void GreyToBgra(const uint8_t* stored, size_t storedStride, uint8_t* out, ptrdiff_t outStride,
                uint32_t width, uint32_t height, const convert::FormatContext&) {
    for (uint32_t r = 0; r < height; ++r) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t g = stored[r * storedStride + x];
            uint8_t* pixel = out + static_cast<ptrdiff_t>(r) * outStride + 4 * x;
            pixel[0] = pixel[1] = pixel[2] = g;
            pixel[3] = 255;
        }
    }
}
uint64_t GreyRow(uint32_t width) { return format::PaddedRowBytes(width, 8); }
uint64_t GreyFrame(uint32_t width, uint32_t rows) { return GreyRow(width) * rows; }
const format::PictureRow kStagedTopDown = {"grey",
                                           0,
                                           8,
                                           {0, 0, 0},
                                           format::Support::Served,
                                           format::Delivery::Staged,
                                           format::RowOrder::TopDown,
                                           format::FrameSize::Computed,
                                           8,
                                           1,
                                           false,
                                           format::RowPadding::None,
                                           GreyRow,
                                           GreyFrame,
                                           GreyToBgra};

// A staged row is read whole into the staging buffer and converted into the
// host's buffer: turned over for a positive height, in stored order for a
// negative one; what the file lacks is converted from zeros.
TEST_F(VideoRead, StagedLayoutIsConvertedFromTheStagingBufferInTheRowsOrder) {
    const std::vector<uint8_t> file = CountingFile(100);
    testsupport::WriteFile(dir.File("v.avi"), file);
    Open(dir.File("v.avi"));
    constexpr uint32_t kWidth = 3, kRows = 2;  // stored rows of 4 bytes
    for (const int32_t height : {2, -2}) {
        const format::PictureFormat picture = PictureOf(&kStagedTopDown, kWidth, height, 0);
        for (const int64_t offset : {int64_t{10}, int64_t{95}}) {  // whole, and cut at byte 5
            std::vector<uint8_t> buffer(kWidth * kRows * 4 + 4, kUntouched);
            ASSERT_TRUE(stream::ReadVideoFrame(opened.get(), picture, offset, UINT32_MAX,
                                               buffer.data(), staging));
            for (uint32_t r = 0; r < kRows; ++r) {
                const uint32_t outRow = height > 0 ? kRows - 1 - r : r;
                for (uint32_t x = 0; x < kWidth; ++x) {
                    const size_t from = static_cast<size_t>(offset) + r * 4 + x;
                    const uint8_t g = from < file.size() ? file[from] : 0;
                    const uint8_t* pixel = buffer.data() + (outRow * kWidth + x) * 4;
                    EXPECT_EQ(std::vector<uint8_t>(pixel, pixel + 4),
                              (std::vector<uint8_t>{g, g, g, 255}))
                        << "height " << height << " offset " << offset << " row " << r;
                }
            }
            EXPECT_EQ(std::vector<uint8_t>(buffer.end() - 4, buffer.end()),
                      std::vector<uint8_t>(4, kUntouched));
        }
        std::vector<uint8_t> buffer(kWidth * kRows * 4, kUntouched);
        EXPECT_FALSE(
            stream::ReadVideoFrame(opened.get(), picture, -1, UINT32_MAX, buffer.data(), staging));
        EXPECT_EQ(buffer, std::vector<uint8_t>(buffer.size(), kUntouched));
    }
}

// A frame of whole rows larger than a band goes through the staging buffer
// band by band, each band's rows landing turned over (positive height) or in
// order; the bytes past the chunk's end are converted from zeros, and the
// staging buffer holds a band, not the frame.
TEST_F(VideoRead, StagedFrameOfManyBandsKeepsItsRowsInOrderAndStopsAtTheChunksEnd) {
    constexpr uint32_t kWidth = 1000, kRows = 700;  // 700,000 stored bytes: three bands
    const std::vector<uint8_t> file = CountingFile(kWidth * kRows + 16);
    testsupport::WriteFile(dir.File("bands.avi"), file);
    Open(dir.File("bands.avi"));
    constexpr uint32_t kHeld = 300 * kWidth + 17;  // cut inside the second band
    for (const int32_t height : {int32_t{kRows}, -int32_t{kRows}}) {
        const format::PictureFormat picture = PictureOf(&kStagedTopDown, kWidth, height, 0);
        std::vector<uint8_t> buffer(kWidth * kRows * 4, kUntouched);
        ASSERT_TRUE(
            stream::ReadVideoFrame(opened.get(), picture, 16, kHeld, buffer.data(), staging));
        EXPECT_LT(staging.Capacity(), size_t{kWidth} * kRows / 2);
        int wrong = 0;
        for (uint32_t r = 0; r < kRows; ++r) {
            const uint32_t outRow = height > 0 ? kRows - 1 - r : r;
            for (uint32_t x = 0; x < kWidth; ++x) {
                const size_t at = size_t{r} * kWidth + x;
                const uint8_t g = at < kHeld ? file[16 + at] : 0;
                const uint8_t* pixel = buffer.data() + (size_t{outRow} * kWidth + x) * 4;
                if (std::vector<uint8_t>(pixel, pixel + 4) != std::vector<uint8_t>{g, g, g, 255} &&
                    wrong++ < 3)
                    ADD_FAILURE() << "height " << height << " row " << r << " pixel " << x;
            }
        }
    }
}

TEST_F(VideoRead, NullDestinationReadsNothing) {
    testsupport::WriteFile(dir.File("v.avi"), CountingFile(100));
    Open(dir.File("v.avi"));
    EXPECT_TRUE(ReadVideoFrame(64, 0, nullptr));
}

// Writes `bytes` at `offset` of a new file, leaving a hole before them.
bool WriteSparse(const std::string& path, int64_t offset, const std::vector<uint8_t>& bytes) {
#ifdef _WIN32
    std::wstring wide(path.begin(), path.end());
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD ignored = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = offset;
    DWORD written = 0;
    const bool ok =
        SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    CloseHandle(file);
    return ok;
#else
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return false;
    const bool ok = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
                    static_cast<ssize_t>(bytes.size());
    ::close(fd);
    return ok;
#endif
}

TEST_F(VideoRead, OffsetWhoseLowHalfIsAllOnesIsAValidPosition) {
    const int64_t offset = 0x1FFFFFFFF;  // beyond 4 GiB, low 32 bits 0xFFFFFFFF
    const std::vector<uint8_t> frame = CountingFile(32);
    ASSERT_TRUE(WriteSparse(dir.File("big.avi"), offset, frame));
    Open(dir.File("big.avi"));
    std::vector<uint8_t> buffer(32, kUntouched);
    EXPECT_TRUE(ReadVideoFrame(32, offset, buffer.data()));
    EXPECT_EQ(buffer, frame);
}

}  // namespace
