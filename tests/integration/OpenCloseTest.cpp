// Opening, serving and closing streams through the loaded plug-in.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>

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

// The descriptor of the medium not opened: every field the plug-in writes is zero.
void ExpectZero(std::initializer_list<std::pair<const char*, int64_t>> fields) {
    for (const auto& field : fields) EXPECT_EQ(field.second, 0) << field.first;
}
void ExpectCleared(const AudioDesc& a) {
    ExpectZero({{"headWord", a.headWord},
                {"timescale", a.timescale},
                {"duration", a.duration},
                {"sampleRate", a.sampleRate},
                {"channels", a.channels},
                {"reservedWord", a.reservedWord}});
}
void ExpectCleared(const VideoDesc& v) {
    ExpectZero({{"timescale", v.timescale},
                {"duration", v.duration},
                {"avgFrameDuration", v.avgFrameDuration},
                {"width", v.width},
                {"height", v.height},
                {"streamFlag", v.streamFlag},
                {"reservedWord", v.reservedWord}});
}

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
    EXPECT_EQ(stream.audio.hostField, 0x1234);
    ExpectCleared(stream.audio);
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

// The format's nSamplesPerSec is the rate, whatever the stream header says
// (a re-muxer's scale 4 and rate 48000 for 48 kHz audio, say); the header's
// rate / scale only when the format has none.
TEST_F(OpenClose, AudioRateIsTheFormatsElseRateOverScaleAndVideoIsCleared) {
    const struct {
        int64_t rate, scale;
        uint32_t sampleRate;
        int32_t expected;
    } cases[] = {{176400, 4, 44100, 44100},
                 {44100, 1, 44100, 44100},
                 {48000, 4, 48000, 48000},
                 {10, 4, 0, 2},
                 {0xFFFFFFFF, 2, 0, INT32_MAX}};
    for (const auto& c : cases) {
        AviLayout layout;
        layout.audioRate = c.rate;
        layout.audioScale = c.scale;
        layout.sampleRate = c.sampleRate;
        const std::u16string path = Write(layout);
        FakeStream stream;
        std::memset(&stream.video.timescale, 0x44, sizeof stream.video - 8);
        ASSERT_EQ(Open(stream, path, kAudio), 1);
        EXPECT_EQ(stream.audio.sampleRate, c.expected);
        EXPECT_EQ(stream.audio.timescale, c.expected);
        EXPECT_EQ(stream.audio.channels, 2);
        EXPECT_EQ(stream.audio.duration, 300);
        ExpectCleared(stream.video);
        driver->drv_close(&stream.handle);
    }
}

TEST_F(OpenClose, RefusesWhatCannotBeServedWithoutTouchingDescriptors) {
    const struct {
        const char* what;
        const uint32_t* options;
        void (*bend)(AviLayout&);
    } cases[] = {
        {"48-bit video", kVideo, [](AviLayout& l) { l.bitCount = 48; }},
        {"video scale 0", kVideo, [](AviLayout& l) { l.frameDuration = 0; }},
        {"width 0", kVideo,
         [](AviLayout& l) {
             l.width = 0;
             l.sizeImage = 16;
         }},
        // one pixel more than the host's buffer holds
        {"frames too large", kVideo, [](AviLayout& l) { l.sizeImage = 4 * 2 * 4 + 4; }},
        {"empty frames", kVideo, [](AviLayout& l) { l.sizeImage = 0; }},
        {"audio scale 0 and no format rate", kAudio,
         [](AviLayout& l) {
             l.audioScale = 0;
             l.sampleRate = 0;
         }},
        {"0 bits per sample", kAudio,
         [](AviLayout& l) {
             l.bitsPerSample = 0;
             l.audioScale = 1;
             l.audioRate = 48000;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AviLayout layout;
        c.bend(layout);
        ExpectRefused(layout, c.options);
    }
    // Audio rates whose quotient is 0, and rates the host's signed 32-bit
    // field would read as negative (2^32 - 1, 2^31), in the header and in
    // the format alike.
    const struct { uint32_t rate, scale; } rates[] = {{3, 4}, {0xFFFFFFFF, 1}, {0x80000000, 1}};
    for (const auto& r : rates) {
        SCOPED_TRACE(r.rate);
        AviLayout layout;
        layout.audioRate = r.rate;
        layout.audioScale = r.scale;
        layout.sampleRate = r.rate / r.scale;
        ExpectRefused(layout, kAudio);
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

// Calls a host may plausibly make by mistake: each is refused or ignored, and
// a stream that lacks only the other medium's descriptor is served.
TEST_F(OpenClose, PlausibleHostMistakesAreRefusedOrIgnored) {
    AviLayout layout;
    layout.frames = 3;
    const std::u16string path = Write(layout);

    FakeStream stream;
    EXPECT_EQ(driver->drv_open(nullptr, path.c_str(), kVideo), 0);
    EXPECT_EQ(driver->drv_open(&stream.handle, nullptr, kVideo), 0);
    EXPECT_EQ(driver->drv_open(&stream.handle, path.c_str(), nullptr), 0);
    stream.handle.pVideo = nullptr;  // the wanted medium's descriptor
    EXPECT_EQ(Open(stream, path, kVideo), 0);
    EXPECT_EQ(stream.handle.pReader, nullptr);
    stream.handle.pVideo = &stream.video;
    stream.handle.pAudio = nullptr;
    EXPECT_EQ(Open(stream, path, kAudio), 0);

    // Start and close of no record, of a record never opened (whatever the
    // host left in it) and of one whose open failed.
    driver->drv_start(nullptr);
    driver->drv_close(nullptr);
    FakeStream never;
    int stray = 0;
    never.handle.pReader = &stray;
    driver->drv_start(&never.handle);
    driver->drv_close(&never.handle);
    EXPECT_EQ(stray, 0);
    EXPECT_EQ(never.handle.pReader, nullptr);
    FakeStream failed;
    failed.handle.pReader = &stray;
    const std::u16string missing = testsupport::ToUtf16(dir.File("missing.avi"));
    EXPECT_EQ(Open(failed, missing, kVideo), 0);
    driver->drv_start(&failed.handle);
    driver->drv_close(&failed.handle);
    EXPECT_EQ(failed.AcquireCount(), 0);

    // Video with no audio descriptor, and audio with no video descriptor.
    FakeStream video;
    video.handle.pAudio = nullptr;
    ASSERT_EQ(Open(video, path, kVideo), 1);
    EXPECT_EQ(video.video.width, layout.width);
    std::vector<uint8_t> frame(static_cast<size_t>(layout.width * layout.height * 4));
    SampleRequest frameRequest = testsupport::MakeRequest(0, 400000, 0, frame.data());
    video.Push(&frameRequest);
    FakeStream audio;
    audio.handle.pVideo = nullptr;
    ASSERT_EQ(Open(audio, path, kAudio), 1);
    EXPECT_EQ(audio.audio.channels, 2);
    driver->drv_start(&video.handle);
    ASSERT_TRUE(video.WaitForDeliveries(1));
    EXPECT_EQ(frame, testsupport::FramePixels(0, frame.size()));
    driver->drv_close(&video.handle);
    driver->drv_close(&video.handle);  // a second close finds nothing to do
    driver->drv_close(&audio.handle);
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
