#include <gtest/gtest.h>

#include "Options.h"
#include "Programs.h"

namespace {

using avimake::AvihFramesMode;
using avimake::Options;
using avimake::ParseOptions;
using avimake::UsageError;

Options Parse(std::vector<std::string> args) {
    const auto options = ParseOptions(args);
    if (!options) throw std::runtime_error("help requested");
    return *options;
}

TEST(Options, DefaultsDescribeA25FpsStereoFile) {
    const Options o = Parse({"out.avi"});
    EXPECT_EQ(o.outPath, "out.avi");
    EXPECT_EQ(o.width, 320u);
    EXPECT_EQ(o.height, 240u);
    EXPECT_FALSE(o.frames.has_value());
    EXPECT_EQ(o.frameDuration, 400000u);
    EXPECT_EQ(o.audioRate, 48000u);
    EXPECT_EQ(o.channels, 2);
    EXPECT_EQ(o.bits, 16);
    EXPECT_EQ(o.segmentLimit, uint64_t{1} << 30);
    EXPECT_EQ(o.avihFramesMode, AvihFramesMode::kFirstSegment);
}

TEST(Options, ValuesAreAcceptedSeparateOrAfterEquals) {
    const Options o = Parse({"--width", "64", "--height=48", "x.avi", "--avih-frames", "7"});
    EXPECT_EQ(o.width, 64u);
    EXPECT_EQ(o.height, 48u);
    EXPECT_EQ(o.avihFramesMode, AvihFramesMode::kFixed);
    EXPECT_EQ(o.avihFrames, 7u);
    EXPECT_EQ(Parse({"x.avi", "--avih-frames", "all"}).avihFramesMode, AvihFramesMode::kAll);
}

TEST(Options, HelpReturnsNoOptions) { EXPECT_FALSE(ParseOptions({"--help"}).has_value()); }

TEST(Options, BadInputIsRejected) {
    EXPECT_THROW(Parse({"x.avi", "--bogus"}), UsageError);
    EXPECT_THROW(Parse({"x.avi", "--bits", "12"}), UsageError);
    EXPECT_THROW(Parse({"x.avi", "--bpp", "16"}), UsageError);
    EXPECT_THROW(Parse({"x.avi", "--width", "0"}), UsageError);
    EXPECT_THROW(Parse({"x.avi", "--width", "12x"}), UsageError);
    EXPECT_THROW(Parse({"x.avi", "--frames"}), UsageError);
    EXPECT_THROW(Parse({"x.avi", "--no-video", "--no-audio"}), UsageError);
    EXPECT_THROW(Parse({"--width", "64"}), UsageError);
    EXPECT_THROW(Parse({"a.avi", "b.avi"}), UsageError);
}

TEST(Options, UsageErrorsExitWithStatusTwo) {
    std::string output;
    EXPECT_EQ(avimaketest::RunAvimake({"x.avi", "--bogus"}, &output), 2);
    EXPECT_NE(output.find("--bogus"), std::string::npos) << output;
}

}  // namespace
