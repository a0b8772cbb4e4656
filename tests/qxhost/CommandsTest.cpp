#include <gtest/gtest.h>

#include "Commands.h"
#include "FrameMd5.h"

namespace qxhost {
namespace {

TEST(FrameMd5Line, LaysOutColumnsLikeFfmpegsFramemd5Muxer) {
    // Lines as ffmpeg -f framemd5 writes them.
    EXPECT_EQ(FrameMd5LineOf(0, 1, 1, 9216, "570f51da1478fbf8b51320c896073f1c"),
              "0,          1,          1,        1,     9216, 570f51da1478fbf8b51320c896073f1c\n");
    EXPECT_EQ(FrameMd5LineOf(1, 12345, 1024, 4096, "0123"),
              "1,      12345,      12345,     1024,     4096, 0123\n");
}

TEST(FrameMd5Header, GivesEachStreamsLinesUnderItsNumber) {
    EXPECT_EQ(VideoHeader(1, Reduce(1001, 30000), 8, -6, {1, 1}),
              "#tb 1: 1001/30000\n#media_type 1: video\n#codec_id 1: rawvideo\n"
              "#dimensions 1: 8x6\n#sar 1: 1/1\n");
    EXPECT_EQ(AudioHeader(0, {1, 44100}, "pcm_s16le", 44100, 6),
              "#tb 0: 1/44100\n#media_type 0: audio\n#codec_id 0: pcm_s16le\n"
              "#sample_rate 0: 44100\n#channel_layout_name 0: 5.1\n");
    EXPECT_EQ(ChannelLayoutName(1), "mono");
    EXPECT_EQ(ChannelLayoutName(9), "9 channels");
}

// A RIFF header list: two streams (audio first), the video with a 'vprp'
// record of aspect 16:9 over 720 x 576 active pixels.
std::vector<uint8_t> HeaderList(bool withVprp) {
    std::vector<uint8_t> b;
    auto code = [&b](const char* c) { b.insert(b.end(), c, c + 4); };
    auto word = [&b](uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto strl = [&](const char* type, bool vprp) {
        code("LIST");
        word(4 + 8 + 56 + (vprp ? 8 + 44 : 0));
        code("strl");
        code("strh");
        word(56);
        code(type);
        b.resize(b.size() + 52, 0);
        if (vprp) {
            code("vprp");
            word(44);
            b.resize(b.size() + 20, 0);
            word(9 | 16u << 16);  // y low, x high
            word(720);
            word(576);
            b.resize(b.size() + 12, 0);
        }
    };
    code("RIFF");
    word(0);
    code("AVI ");
    code("LIST");
    const size_t sizeAt = b.size();
    word(0);
    code("hdrl");
    code("avih");
    word(56);
    b.resize(b.size() + 56, 0);
    strl("auds", false);
    strl("vids", withVprp);
    const auto size = static_cast<uint32_t>(b.size() - sizeAt - 4);
    for (int i = 0; i < 4; ++i) b[sizeAt + i] = static_cast<uint8_t>(size >> (8 * i));
    return b;
}

TEST(ScanHeaders, NumbersTheStreamsAsFfmpegAndReadsTheAspect) {
    const HeaderFacts facts = ScanHeaders(HeaderList(true), 1);
    EXPECT_EQ(facts.audioIndex, 0);
    EXPECT_EQ(facts.videoIndex, 1);
    EXPECT_EQ(facts.sampleAspect.num, 64);  // 16/9 over 720/576
    EXPECT_EQ(facts.sampleAspect.den, 45);
    EXPECT_EQ(ScanHeaders(HeaderList(true), 0).sampleAspect.num, 0) << "another stream's";
    const HeaderFacts plain = ScanHeaders(HeaderList(false), 1);
    EXPECT_EQ(plain.sampleAspect.num, 0);
    EXPECT_EQ(plain.sampleAspect.den, 1);
    // Cut anywhere, the scan stays inside what it was given.
    const std::vector<uint8_t> whole = HeaderList(true);
    for (size_t n = 0; n < whole.size(); ++n) {
        ScanHeaders(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(n)), 1);
    }
    EXPECT_EQ(ScanHeaders({}, 1).videoIndex, -1);
}

TEST(AudioPackets, CutsChunksAsFfmpegsAviReader) {
    std::vector<std::pair<int64_t, int64_t>> packets;
    AudioPackets(0, 1471, 4, packets);           // stereo 16-bit: at most 1024 samples
    AudioPackets(1471, 1471 + 800, 1, packets);  // mono 8-bit: whole chunks
    AudioPackets(2271, 2273, 32, packets);       // 16 channels of 16 bits: one sample each
    const std::vector<std::pair<int64_t, int64_t>> expected = {
        {0, 1024}, {1024, 1471}, {1471, 2271}, {2271, 2272}, {2272, 2273}};
    EXPECT_EQ(packets, expected);
}

TEST(FloatToPcm, GivesBackTheStoredSample) {
    for (int x = -32768; x <= 32767; ++x) {
        ASSERT_EQ(FloatToPcm16(static_cast<float>(x / 32767.0)), x);
    }
    for (int x = 0; x <= 255; ++x) {
        ASSERT_EQ(FloatToPcm8(static_cast<float>((x - 128) / 127.0)), x);
    }
}

TEST(Interleave, OrdersByTimeAcrossTimeBasesAndTheLowerStreamOnATie) {
    const Rational video{333667, 10000000};
    const Rational audio{1, 44100};
    auto line = [](int stream, int64_t pts, Rational base) {
        return TimedLine{stream, pts, base, std::to_string(stream) + ":" + std::to_string(pts)};
    };
    // 1471 / 44100 s lies just before frame 1 (333667 / 10^7 s); 0 ties.
    const std::vector<TimedLine> merged = Interleave(
        {line(0, 0, video), line(0, 1, video)},
        {line(1, 0, audio), line(1, 1024, audio), line(1, 1471, audio), line(1, 1472, audio)});
    std::vector<std::string> order;
    for (const TimedLine& l : merged) order.push_back(l.text);
    EXPECT_EQ(order, (std::vector<std::string>{"0:0", "1:0", "1:1024", "1:1471", "0:1", "1:1472"}));
    // 64-bit products that overflow: still ordered exactly.
    EXPECT_TRUE(TimeBefore(line(0, INT64_C(1) << 40, {1, 0x7FFFFFFF}),
                           line(1, (INT64_C(1) << 40) + 1, {1, 0x7FFFFFFF})));
}

TEST(Reduce, BringsFractionsToLowestTerms) {
    const Rational ntsc = Reduce(333667, 10000000);
    EXPECT_EQ(ntsc.num, 333667);
    EXPECT_EQ(ntsc.den, 10000000);
    const Rational pal = Reduce(400000, 10000000);
    EXPECT_EQ(pal.num, 1);
    EXPECT_EQ(pal.den, 25);
    const Rational negative = Reduce(3, -6);
    EXPECT_EQ(negative.num, -1);
    EXPECT_EQ(negative.den, 2);
}

TEST(DescribeStreams, DerivesFrameCountAndRateFromTheVideoDescriptor) {
    VideoDesc video{};
    video.timescale = 10000000;
    video.duration = 8000000000;  // 20,000 frames of 400,000 units: above 32 bits
    video.avgFrameDuration = 400000;
    video.width = 320;
    video.height = 240;
    video.streamFlag = 1;
    AudioDesc audio{};
    audio.timescale = 44100;
    audio.duration = 882000;
    audio.sampleRate = 44100;
    audio.channels = 2;
    const std::string text = DescribeStreams("f.avi", &video, &audio, false);
    EXPECT_NE(text.find("duration 8000000000"), std::string::npos) << text;
    EXPECT_NE(text.find("frames 20000, fps 25"), std::string::npos) << text;
    EXPECT_NE(text.find("sampleRate 44100, channels 2"), std::string::npos) << text;

    const std::string json = DescribeStreams("a \"quoted\" name.avi", &video, nullptr, true);
    EXPECT_NE(json.find("\"file\": \"a \\\"quoted\\\" name.avi\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"frames\": 20000"), std::string::npos) << json;
    EXPECT_NE(json.find("\"audio\": null"), std::string::npos) << json;
}

TEST(DescribeStreams, SaysWhichStreamsThePlugInRefused) {
    VideoDesc video{};
    const std::string text = DescribeStreams("f.avi", &video, nullptr, false);
    EXPECT_NE(text.find("audio: none"), std::string::npos) << text;
    EXPECT_EQ(text.find("video: none"), std::string::npos) << text;
    EXPECT_NE(text.find("frames 0"), std::string::npos) << text;  // no division by zero
    // With the reason the plug-in's code gives.
    EXPECT_NE(DescribeStreams("f.avi", nullptr, nullptr, false, "video is compressed", "no audio")
                  .find("video: none (refused by the plug-in: video is compressed)"),
              std::string::npos);
    EXPECT_NE(DescribeStreams("f.avi", &video, nullptr, true, "", "no audio stream")
                  .find(", \"refused\": {\"audio\": \"no audio stream\"}}"),
              std::string::npos);
}

TEST(ResolvePluginPath, PrefersTheRequestedPath) {
    EXPECT_EQ(ResolvePluginPath("/some/where/lib.so", "/built/libmirolan.so"),
              "/some/where/lib.so");
}

TEST(ResolvePluginPath, FallsBackToTheBuiltInPathWhenNoneLiesBesideTheExecutable) {
    // The test executable has no plug-in next to it.
    EXPECT_EQ(ResolvePluginPath("", "/built/libmirolan.so"), "/built/libmirolan.so");
}

}  // namespace
}  // namespace qxhost
