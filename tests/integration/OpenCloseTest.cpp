// Opening, serving and closing streams through the loaded plug-in.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "support/AviBuilder.h"
#include "support/FakeHost.h"
#include "support/FileHolds.h"
#include "support/Files.h"
#include "support/LoadedPlugin.h"
#include "support/TempDir.h"

using testsupport::AviLayout;
using testsupport::BuildAvi;
using testsupport::FakeStream;

namespace {

const uint32_t kVideo[] = {QX_TAG_EYES, 1, 0, 0};
const uint32_t kAudio[] = {QX_TAG_EARS, 1, 0, 0};

class OpenClose : public testing::Test {
protected:
    void SetUp() override {
        testsupport::LoadedPlugin& plugin = testsupport::BuiltPlugin();
        ASSERT_TRUE(plugin.loaded()) << plugin.error();
        driver = plugin.entry()(&testsupport::FakeHostServices());
    }
    std::u16string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        testsupport::WriteFile(dir.File(name), bytes);
        return testsupport::ToUtf16(dir.File(name));
    }
    std::u16string Write(const AviLayout& layout) {
        return Write("clip.avi", BuildAvi(layout).bytes);
    }
    int32_t Open(FakeStream& stream, const std::u16string& path, const uint32_t* options) {
        return driver->drv_open(&stream.handle, path.c_str(), options);
    }
    // Opens, and expects a refusal that leaves both descriptors as they were.
    void ExpectRefused(const AviLayout& layout, const uint32_t* options) {
        const std::u16string path = Write(layout);
        FakeStream stream;
        VideoDesc video;
        std::memset(&video, 0x77, sizeof video);
        AudioDesc audio;
        std::memset(&audio, 0x66, sizeof audio);
        stream.video = video;
        stream.audio = audio;
        EXPECT_EQ(Open(stream, path, options), 0);
        EXPECT_EQ(stream.handle.pReader, nullptr);
        EXPECT_EQ(std::memcmp(&stream.video, &video, sizeof video), 0);
        EXPECT_EQ(std::memcmp(&stream.audio, &audio, sizeof audio), 0);
    }

    const DriverTable* driver = nullptr;
    testsupport::TempDir dir;
};

}  // namespace

TEST_F(OpenClose, VideoOpenDescribesTheStreamAndClearsAudio) {
    AviLayout layout;
    layout.width = 6;
    layout.height = -3;
    layout.frames = 5;
    const std::u16string path = Write(layout);
    FakeStream stream;
    std::memset(&stream.audio, 0x55, sizeof stream.audio);
    stream.audio.hostField = 0x1234;
    ASSERT_EQ(Open(stream, path, kVideo), 1);
    EXPECT_NE(stream.handle.pReader, nullptr);
    EXPECT_EQ(stream.video.timescale, 10000000);
    EXPECT_EQ(stream.video.avgFrameDuration, 400000);
    EXPECT_EQ(stream.video.duration, 5 * 400000);
    EXPECT_EQ(stream.video.width, 6);
    EXPECT_EQ(stream.video.height, -3);
    EXPECT_EQ(stream.video.streamFlag, 1);
    EXPECT_EQ(stream.video.reservedWord, 0);
    EXPECT_EQ(stream.video.reservedReal, 0.0f);
    EXPECT_EQ(stream.video.hostField[0], 0xAB);  // the host's bytes are not touched
    EXPECT_EQ(stream.audio.headWord, 0);
    EXPECT_EQ(stream.audio.hostField, 0x1234);
    EXPECT_EQ(stream.audio.timescale, 0);
    EXPECT_EQ(stream.audio.duration, 0);
    EXPECT_EQ(stream.audio.sampleRate, 0);
    EXPECT_EQ(stream.audio.channels, 0);
    EXPECT_EQ(stream.audio.reservedWord, 0);
    driver->drv_close(&stream.handle);
}

TEST_F(OpenClose, DurationAbove32BitsIsKept) {
    AviLayout layout;
    layout.width = 1;
    layout.height = 1;
    layout.frames = 20000;
    layout.withAudio = false;
    const std::u16string path = Write(layout);
    FakeStream stream;
    ASSERT_EQ(Open(stream, path, kVideo), 1);
    EXPECT_EQ(stream.video.duration, 8000000000LL);
    driver->drv_close(&stream.handle);
}

TEST_F(OpenClose, AudioRateIsRateOverScaleAndVideoIsCleared) {
    const struct {
        int64_t rate, scale;
        int32_t expected;
    } cases[] = {{176400, 4, 44100}, {44100, 1, 44100}, {10, 4, 2}, {0xFFFFFFFF, 2, INT32_MAX}};
    for (const auto& c : cases) {
        AviLayout layout;
        layout.audioRate = c.rate;
        layout.audioScale = c.scale;
        const std::u16string path = Write(layout);
        FakeStream stream;
        std::memset(&stream.video.timescale, 0x44, sizeof stream.video - 8);
        ASSERT_EQ(Open(stream, path, kAudio), 1);
        EXPECT_EQ(stream.audio.sampleRate, c.expected);
        EXPECT_EQ(stream.audio.timescale, c.expected);
        EXPECT_EQ(stream.audio.channels, 2);
        EXPECT_EQ(stream.audio.duration, 300);
        EXPECT_EQ(stream.video.timescale, 0);
        EXPECT_EQ(stream.video.duration, 0);
        EXPECT_EQ(stream.video.avgFrameDuration, 0);
        EXPECT_EQ(stream.video.width, 0);
        EXPECT_EQ(stream.video.height, 0);
        EXPECT_EQ(stream.video.streamFlag, 0);
        EXPECT_EQ(stream.video.reservedWord, 0);
        driver->drv_close(&stream.handle);
    }
}

TEST_F(OpenClose, RefusesWhatCannotBeServedWithoutTouchingDescriptors) {
    AviLayout depth24;
    depth24.bitCount = 24;
    ExpectRefused(depth24, kVideo);

    AviLayout noScale;
    noScale.frameDuration = 0;
    ExpectRefused(noScale, kVideo);

    AviLayout narrow;
    narrow.width = 0;
    narrow.sizeImage = 16;
    ExpectRefused(narrow, kVideo);

    AviLayout oversized;
    oversized.sizeImage = 4 * 2 * 4 + 4;  // one pixel more than the host's buffer holds
    ExpectRefused(oversized, kVideo);

    AviLayout emptyFrames;
    emptyFrames.sizeImage = 0;
    ExpectRefused(emptyFrames, kVideo);

    AviLayout audioNoScale;
    audioNoScale.audioScale = 0;
    ExpectRefused(audioNoScale, kAudio);

    AviLayout slowAudio;
    slowAudio.audioRate = 3;
    slowAudio.audioScale = 4;  // a rate quotient of 0
    ExpectRefused(slowAudio, kAudio);

    AviLayout noBits;
    noBits.bitsPerSample = 0;
    noBits.audioScale = 1;
    noBits.audioRate = 48000;
    ExpectRefused(noBits, kAudio);

    // A rate the host's signed 32-bit field would read as negative.
    for (const int64_t rate : {int64_t{0xFFFFFFFF}, int64_t{0x80000000}}) {
        AviLayout hugeRate;
        hugeRate.audioRate = rate;
        hugeRate.audioScale = 1;
        ExpectRefused(hugeRate, kAudio);
    }
}

TEST_F(OpenClose, BrokenAudioHeaderDoesNotRefuseTheVideo) {
    AviLayout layout;
    layout.audioRate = 3;
    layout.audioScale = 0;
    const std::u16string path = Write(layout);
    FakeStream stream;
    EXPECT_EQ(Open(stream, path, kVideo), 1);
    driver->drv_close(&stream.handle);
}

TEST_F(OpenClose, OneFileServesVideoAndAudioReadersAtOnce) {
    AviLayout layout;
    layout.frames = 4;
    const testsupport::BuiltAvi built = BuildAvi(layout);
    const std::u16string path = Write("clip.avi", built.bytes);
    FakeStream video;
    FakeStream audio;
    ASSERT_EQ(Open(video, path, kVideo), 1);
    ASSERT_EQ(Open(audio, path, kAudio), 1);

    std::vector<uint8_t> frame(4 * 2 * 4);
    SampleRequest frameRequest = testsupport::MakeRequest(400000, 800000, 0, frame.data());
    std::vector<float> left(400), right(400);
    float* channels[] = {left.data(), right.data()};
    SampleRequest audioRequest = testsupport::MakeRequest(0, 400, 2, nullptr, channels);
    video.Push(&frameRequest);
    audio.Push(&audioRequest);
    driver->drv_start(&video.handle);
    driver->drv_start(&audio.handle);
    ASSERT_TRUE(video.WaitForDeliveries(1));
    ASSERT_TRUE(audio.WaitForDeliveries(1));
    EXPECT_EQ(frame, testsupport::FramePixels(1, frame.size()));
    for (size_t j = 0; j < 400; ++j) {
        const int16_t l = static_cast<int16_t>(built.pcm[4 * j] | (built.pcm[4 * j + 1] << 8));
        const int16_t r = static_cast<int16_t>(built.pcm[4 * j + 2] | (built.pcm[4 * j + 3] << 8));
        ASSERT_EQ(left[j], static_cast<float>(l / 32767.0)) << j;
        ASSERT_EQ(right[j], static_cast<float>(r / 32767.0)) << j;
    }
    EXPECT_EQ(video.handle.runState, 2);
    driver->drv_close(&video.handle);
    driver->drv_close(&audio.handle);
    EXPECT_EQ(video.runStateAtWake, 0);
}

TEST_F(OpenClose, StartTwiceResumesOnce) {
    const std::u16string path = Write(AviLayout{});
    FakeStream stream;
    ASSERT_EQ(Open(stream, path, kVideo), 1);
    driver->drv_start(&stream.handle);
    ASSERT_TRUE(stream.WaitUntilAcquireWaits());
    stream.handle.runState = 7;
    driver->drv_start(&stream.handle);
    EXPECT_EQ(stream.handle.runState, 7);  // the second start changes nothing
    driver->drv_close(&stream.handle);
    EXPECT_EQ(stream.WakeCount(), 1);
}

#ifdef _WIN32
TEST_F(OpenClose, FileHeldOpenForWritingCannotBeOpened) {
    const std::u16string path = Write(AviLayout{});
    testsupport::WriterHold writer(dir.File("clip.avi"));
    ASSERT_TRUE(writer.held());
    FakeStream stream;
    EXPECT_EQ(Open(stream, path, kVideo), 0);
}
#endif

TEST_F(OpenClose, FramesAbove4GiBAreServed) {
    AviLayout layout;
    layout.frames = 3;
    layout.junkBeforeFrames = 0xFFFFFFF0u;  // pushes every frame past 4 GiB
    const testsupport::BuiltAvi built = BuildAvi(layout);
    ASSERT_GT(built.frameOffsets[0], 0x100000000ull);
    testsupport::WriteAvi(dir.File("big.avi"), built);
    const std::u16string path = testsupport::ToUtf16(dir.File("big.avi"));

    FakeStream video;
    ASSERT_EQ(Open(video, path, kVideo), 1);
    EXPECT_EQ(video.video.duration, 3 * 400000);
    std::vector<uint8_t> frame(4 * 2 * 4);
    SampleRequest request = testsupport::MakeRequest(800000, 1200000, 0, frame.data());
    video.Push(&request);
    driver->drv_start(&video.handle);
    ASSERT_TRUE(video.WaitForDeliveries(1));
    EXPECT_EQ(frame, testsupport::FramePixels(2, frame.size()));
    driver->drv_close(&video.handle);

    FakeStream audio;
    ASSERT_EQ(Open(audio, path, kAudio), 1);
    std::vector<float> left(50), right(50);
    float* channels[] = {left.data(), right.data()};
    SampleRequest span = testsupport::MakeRequest(250, 300, 2, nullptr, channels);
    audio.Push(&span);
    driver->drv_start(&audio.handle);
    ASSERT_TRUE(audio.WaitForDeliveries(1));
    const size_t at = 250 * 4;
    EXPECT_EQ(left[0],
              static_cast<float>(static_cast<int16_t>(built.pcm[at] | (built.pcm[at + 1] << 8)) /
                                 32767.0));
    driver->drv_close(&audio.handle);
}
