#include <gtest/gtest.h>

#include "Commands.h"

namespace qxhost {
namespace {

TEST(FrameMd5Line, LaysOutColumnsLikeFfmpegsFramemd5Muxer) {
    // A line as ffmpeg -f framemd5 writes it.
    EXPECT_EQ(FrameMd5Line(1, 1, 9216, "570f51da1478fbf8b51320c896073f1c"),
              "0,          1,          1,        1,     9216, 570f51da1478fbf8b51320c896073f1c\n");
    EXPECT_EQ(FrameMd5Line(12345, 2, 1228800, "0123"),
              "0,      12345,      12345,        2,  1228800, 0123\n");
}

TEST(FrameMd5Header, GivesTheTimeBaseAndFrameSizeOfTheStream) {
    const std::string header = FrameMd5Header(Reduce(400000, 10000000), 64, 48);
    EXPECT_NE(header.find("#tb 0: 1/25\n"), std::string::npos) << header;
    EXPECT_NE(header.find("#dimensions 0: 64x48\n"), std::string::npos) << header;
    const std::string columns = "#stream#, dts,        pts, duration,     size, hash\n";
    ASSERT_GE(header.size(), columns.size());
    EXPECT_EQ(header.substr(header.size() - columns.size()), columns);  // the last line
    EXPECT_NE(FrameMd5Header(Reduce(1, 1), 8, -6).find("#dimensions 0: 8x6\n"), std::string::npos);
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
