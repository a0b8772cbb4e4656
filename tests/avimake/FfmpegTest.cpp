// ffmpeg as an independent reader of avimake's files.
#include <gtest/gtest.h>

#include <sstream>

#include "AvimakeFiles.h"
#include "support/TempDir.h"

namespace avimaketest {
namespace {

struct Variant {
    const char* name;
    std::vector<std::string> args;
    int frames;
    bool audio;
};

std::ostream& operator<<(std::ostream& out, const Variant& v) { return out << v.name; }

const std::vector<std::string> kSmall = {"--width", "64", "--height", "48", "--frames", "40"};

std::vector<std::string> Plus(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class FfmpegReads : public ::testing::TestWithParam<Variant> {
protected:
    void SetUp() override {
        if (!HaveFfmpeg()) GTEST_SKIP() << kNoFfmpeg;
        path_ = dir_.File("v.avi");
        record_ = dir_.File("v.rec");
        MakeAvi(path_, Plus(GetParam().args, {"--record", record_}));
    }
    std::string Run(const std::string& command) {
        int status = 0;
        std::string output = Capture(command, &status);
        EXPECT_EQ(status, 0) << command;
        return output;
    }
    testsupport::TempDir dir_;
    std::string path_;
    std::string record_;
};

TEST_P(FfmpegReads, FfprobeCountsTheStreamsAndFrames) {
    const std::string csv =
        Run("ffprobe -v error -count_packets -show_entries "
            "stream=codec_type,nb_read_packets -of csv " +
            ShellQuote(path_));
    std::istringstream lines(csv);
    std::string videoLine, audioLine;
    std::getline(lines, videoLine);
    EXPECT_EQ(videoLine, "stream,video," + std::to_string(GetParam().frames));
    const bool hasAudioLine = static_cast<bool>(std::getline(lines, audioLine));
    EXPECT_EQ(hasAudioLine, GetParam().audio) << csv;
    if (GetParam().audio) {
        EXPECT_EQ(audioLine.rfind("stream,audio,", 0), 0u) << csv;
    }
}

TEST_P(FfmpegReads, FramesHaveTheRecordedSizesAndMd5s) {
    const std::string listing =
        Run("ffmpeg -v error -i " + ShellQuote(path_) + " -map 0:v -c copy -f framemd5 -");
    const std::vector<std::string> lines = BodyLines(listing);
    EXPECT_EQ(lines.size(), static_cast<size_t>(GetParam().frames));
    EXPECT_EQ(lines, ReadRecord(record_).frameLines);
}

// The same checks, for the variants with audio.
class FfmpegReadsAudio : public FfmpegReads {};

TEST_P(FfmpegReadsAudio, AudioBytesHaveTheRecordedMd5) {
    const std::string md5 =
        Run("ffmpeg -v error -i " + ShellQuote(path_) + " -map 0:a -c copy -f data - | md5sum")
            .substr(0, 32);
    EXPECT_EQ(md5, ReadRecord(record_).values.at("audio_md5"));
}

const Variant kAudioVariants[] = {
    {"OneSegment", kSmall, 40, true},
    {"Segments", Plus(kSmall, {"--segment-limit", "100000"}), 40, true},
    {"Segments8BitMono",
     Plus(kSmall,
          {"--segment-limit", "100000", "--bits", "8", "--channels", "1", "--audio-rate", "22050"}),
     40, true},
    {"Ntsc44k",
     Plus(kSmall,
          {"--segment-limit", "100000", "--frame-duration", "333667", "--audio-rate", "44100"}),
     40, true}};

const Variant kSilentVariants[] = {
    {"OneSegmentNoAudio", Plus(kSmall, {"--no-audio"}), 40, false},
    {"SegmentsNoAudio", Plus(kSmall, {"--segment-limit", "100000", "--no-audio"}), 40, false}};

std::string VariantName(const ::testing::TestParamInfo<Variant>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(WithAudio, FfmpegReads, ::testing::ValuesIn(kAudioVariants), VariantName);
INSTANTIATE_TEST_SUITE_P(WithoutAudio, FfmpegReads, ::testing::ValuesIn(kSilentVariants),
                         VariantName);
INSTANTIATE_TEST_SUITE_P(WithAudio, FfmpegReadsAudio, ::testing::ValuesIn(kAudioVariants),
                         VariantName);

TEST(FfprobeFrameRate, FollowsTheFrameDuration) {
    if (!HaveFfmpeg()) GTEST_SKIP() << kNoFfmpeg;
    testsupport::TempDir dir;
    const std::pair<const char*, const char*> cases[] = {
        {"400000", "25/1"}, {"333667", "10000000/333667"}, {"200000", "50/1"}};
    for (const auto& [duration, rate] : cases) {
        const std::string path = dir.File(std::string(duration) + ".avi");
        MakeAvi(path, Plus(kSmall, {"--frame-duration", duration, "--no-audio"}));
        const std::string csv = Capture(
            "ffprobe -v error -show_entries stream=r_frame_rate -of csv=p=0 " + ShellQuote(path));
        EXPECT_EQ(csv, std::string(rate) + "\n") << "duration " << duration;
    }
}

TEST(FfmpegReadsGap, FramesAboveFourGiBHaveTheRecordedMd5s) {
    if (!HaveFfmpeg()) GTEST_SKIP() << kNoFfmpeg;
    testsupport::TempDir dir;
    const std::string path = dir.File("gap.avi");
    const std::string record = dir.File("gap.rec");
    MakeAvi(path, {"--width", "32", "--height", "16", "--frames", "6", "--gap", "4718592000",
                   "--segment-limit", "20000", "--record", record});
    int status = 0;
    const std::string listing = Capture(
        "ffmpeg -v error -i " + ShellQuote(path) + " -map 0:v -c copy -f framemd5 -", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(BodyLines(listing), ReadRecord(record).frameLines);
}

}  // namespace
}  // namespace avimaketest
