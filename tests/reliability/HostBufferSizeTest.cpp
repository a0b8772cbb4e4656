// A 32-bit host sizes its frame buffer as width x |height| x 4 in 32-bit
// arithmetic (its size_t is 32 bits). A stream whose frame buffer would not
// fit in 32 bits, or whose height has no magnitude in 32 bits, is refused:
// otherwise the host's wrapped size would be smaller than the frames the
// worker writes into it.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "support/AviBuilder.h"
#include "support/FakeHost.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace {

const uint32_t kVideo[] = {QX_TAG_EYES, 1, 0, 0};

// Opens, as video, a valid file whose format claims width x height with
// frames of `sizeImage` bytes (the index and the chunks agree with it).
int32_t OpenWithShape(int32_t width, int32_t height, uint32_t sizeImage) {
    testsupport::AviLayout layout;
    layout.width = 4;
    layout.height = 2;
    layout.frames = 2;
    layout.withAudio = false;
    layout.sizeImage = sizeImage;
    std::vector<uint8_t> bytes = testsupport::BuildAvi(layout).bytes;
    // Only the format's width and height are bent: the frames stay readable.
    for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
        if (std::memcmp(&bytes[i], "strf", 4) == 0) {
            std::memcpy(&bytes[i + 12], &width, 4);  // little-endian targets only
            std::memcpy(&bytes[i + 16], &height, 4);
            break;
        }
    }
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.File("shape.avi"), bytes);
    const std::u16string path = testsupport::ToUtf16(dir.File("shape.avi"));
    const DriverTable* driver = qxVideoDriver_Mirolan(&testsupport::FakeHostServices());
    testsupport::FakeStream stream;
    const int32_t opened = driver->drv_open(&stream.handle, path.c_str(), kVideo);
    if (opened != 0) driver->drv_close(&stream.handle);
    return opened;
}

}  // namespace

TEST(HostBufferSize, FrameBufferBeyond32BitsIsRefused) {
    // 65536 x 16385 x 4 = 2^32 + 262144: a 32-bit host allocates 262144
    // bytes, and frames of 300000 bytes would run 37856 bytes past them.
    EXPECT_EQ(OpenWithShape(65536, 16385, 300000), 0);
    EXPECT_EQ(OpenWithShape(65536, -16385, 300000), 0);
    EXPECT_EQ(OpenWithShape(0x40000001, 4, 16), 0);
    EXPECT_EQ(OpenWithShape(INT32_MAX, INT32_MAX, 4), 0);
}

TEST(HostBufferSize, HeightWithoutA32BitMagnitudeIsRefused) {
    EXPECT_EQ(OpenWithShape(1, INT32_MIN, 4), 0);
}

TEST(HostBufferSize, LargestBufferThatFitsIn32BitsStillOpens) {
    // 32768 x 32767 x 4 = 2^32 - 131072 bytes: fits, and the frames are small.
    EXPECT_EQ(OpenWithShape(32768, 32767, 128), 1);
    EXPECT_EQ(OpenWithShape(32768, -32767, 128), 1);
    EXPECT_EQ(OpenWithShape(4, 2, 32), 1);
}
