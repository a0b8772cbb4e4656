// The option list given to an open.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "qxdriver.h"
#include "reader/Mirolan.h"
#include "support/AviBuilder.h"
#include "support/FakeHost.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace {

struct Parsed {
    bool video;
    bool audio;
    int32_t dint;
};

Parsed Parse(const uint32_t* options) {
    const StreamOptions parsed = ParseOptions(options);
    return {parsed.bVideo, parsed.bAudio, parsed.dintValue};
}

}  // namespace

TEST(Options, NullListOrLeadingEndTagSetsNothing) {
    const uint32_t empty[] = {0, QX_TAG_EYES};  // the value after the end tag is never read
    for (const uint32_t* options : {static_cast<const uint32_t*>(nullptr), empty}) {
        const Parsed parsed = Parse(options);
        EXPECT_FALSE(parsed.video);
        EXPECT_FALSE(parsed.audio);
        EXPECT_EQ(parsed.dint, 0);
    }
}

TEST(Options, UnknownTagsAreSkippedWithoutDisturbingTheRest) {
    const uint32_t options[] = {QX_TAG_EYES, 5, 0x7A7A7A7A, 99, QX_TAG_DINT, 7, 0, 0};
    const Parsed parsed = Parse(options);
    EXPECT_TRUE(parsed.video);
    EXPECT_FALSE(parsed.audio);
    EXPECT_EQ(parsed.dint, 7);
}

TEST(Options, LastOccurrenceWins) {
    const uint32_t options[] = {QX_TAG_EYES, 1,           QX_TAG_EARS, 2, QX_TAG_EYES,
                                0,           QX_TAG_DINT, 0xFFFFFFFF,  0, 0};
    const Parsed parsed = Parse(options);
    EXPECT_FALSE(parsed.video);
    EXPECT_TRUE(parsed.audio);
    EXPECT_EQ(parsed.dint, -1);
}

// The options an open was given, seen from the host: only the asked medium
// is described, the worker makes no call before drv_start, then asks for
// that medium's requests and serves them from the file and tables it holds.
TEST(ReaderState, OpensSuspendedThenServesTheMediumItsOptionsAsked) {
    testsupport::TempDir dir;
    const std::string path = dir.File("state.avi");
    const testsupport::BuiltAvi built = testsupport::BuildAvi(testsupport::AviLayout{});
    testsupport::WriteAvi(path, built);
    const DriverTable* driver = qxVideoDriver_Mirolan(&testsupport::FakeHostServices());
    testsupport::FakeStream stream;
    const AudioDesc audioBefore = stream.audio;
    const uint32_t options[] = {QX_TAG_EYES, 1, QX_TAG_DINT, 7, 0, 0};
    ASSERT_EQ(driver->drv_open(&stream.handle, testsupport::ToUtf16(path).c_str(), options), 1);
    EXPECT_EQ(stream.video.duration, 3 * stream.video.avgFrameDuration);
    EXPECT_EQ(std::memcmp(&stream.audio, &audioBefore, sizeof audioBefore), 0);
    // Suspended: the worker exists but asks for nothing until started.
    EXPECT_FALSE(stream.WaitUntilAcquireWaits(std::chrono::milliseconds(100)));
    EXPECT_EQ(stream.AcquireCount(), 0);

    std::vector<uint8_t> frame(4 * 2 * 4, 0);
    const int64_t d = stream.video.avgFrameDuration;
    SampleRequest request = testsupport::MakeRequest(2 * d, 3 * d, 0, frame.data());
    stream.Push(&request);
    driver->drv_start(&stream.handle);
    ASSERT_TRUE(stream.WaitForDeliveries(1));
    EXPECT_EQ(stream.LastKind(), QX_TAG_EYES);
    const std::vector<uint8_t> stored(
        built.bytes.begin() + static_cast<long>(built.frameOffsets[2]),
        built.bytes.begin() + static_cast<long>(built.frameOffsets[2] + frame.size()));
    EXPECT_EQ(frame, stored);
    driver->drv_close(&stream.handle);
}
