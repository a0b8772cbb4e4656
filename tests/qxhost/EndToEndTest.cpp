// qxhost driving the built plug-in on files written by avimake, checked
// against what ffmpeg reads from the same files.
#if defined(QXHOST_PATH) && defined(AVIMAKE_PATH) && defined(MIROLAN_PLUGIN_PATH)

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/Files.h"
#include "support/FixedDebugFolder.h"
#include "support/RefusalCases.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        dir_ = fs::temp_directory_path() /
               ("qxhost-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code error;
        fs::remove_all(dir_, error);
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // Runs a shell command; captures standard output and standard error.
    Result Run(const std::string& command) const {
        Result result;
        const std::string errFile = Path("stderr.txt");
        FILE* pipe = popen((command + " 2>'" + errFile + "'").c_str(), "r");
        if (pipe == nullptr) return result;
        char buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
        const int status = pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.err = ReadText(errFile);
        return result;
    }

    Result Qxhost(const std::string& args) const {
        return Run(std::string("'") + QXHOST_PATH + "' --plugin '" + MIROLAN_PLUGIN_PATH + "' " +
                   args);
    }
    // check reads files with the code linked into qxhost: no plug-in to name.
    Result Check(const std::string& args) const {
        return Run(std::string("'") + QXHOST_PATH + "' check " + args);
    }
    // framemd5 of qxhost and of ffmpeg on `file`, without the lines that name
    // the program ("#software").
    void ExpectFrameMd5AsFfmpeg(const std::string& file, const std::string& ourOptions = "",
                                const std::string& theirOptions = "") const {
        const Result ours = Qxhost("framemd5 '" + file + "' " + ourOptions);
        ASSERT_EQ(ours.status, 0) << ours.err;
        const Result theirs =
            Run("ffmpeg -v error -i '" + file + "' -map 0 " + theirOptions + " -f framemd5 -");
        ASSERT_EQ(theirs.status, 0) << theirs.err;
        EXPECT_EQ(WithoutSoftware(ours.out), WithoutSoftware(theirs.out)) << file;
        EXPECT_GT(std::count(ours.out.begin(), ours.out.end(), '\n'), 12) << ours.out;
    }
    static std::string WithoutSoftware(const std::string& text) {
        std::istringstream in(text);
        std::string kept;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("#software", 0) != 0) kept += line + "\n";
        }
        return kept;
    }

    // Writes an AVI file with avimake; fails the test when avimake does.
    std::string Make(const std::string& name, const std::string& options) const {
        const std::string file = Path(name);
        const Result made = Run(std::string("'") + AVIMAKE_PATH + "' '" + file + "' " + options);
        EXPECT_EQ(made.status, 0) << "avimake " << options << ": " << made.err;
        return file;
    }

    static std::string ReadText(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }

    static bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }
    static constexpr const char* kNoFfmpeg =
        "ffmpeg is not installed: install it (bash scripts/install-deps.sh peers) to run this "
        "check";

    fs::path dir_;
};

// The (size, md5) pairs of the frame lines of framemd5 output, in order.
std::vector<std::pair<std::string, std::string>> FrameHashes(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> frames;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> columns;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, ',')) {
            columns.push_back(field.substr(field.find_first_not_of(' ')));
        }
        if (columns.size() == 6) frames.emplace_back(columns[4], columns[5]);
    }
    return frames;
}

std::vector<float> WavFloats(const std::string& bytes) {
    std::vector<float> samples;
    if (bytes.size() < 58) return samples;
    samples.resize((bytes.size() - 58) / 4);
    std::memcpy(samples.data(), bytes.data() + 58, samples.size() * 4);
    return samples;
}

TEST_F(EndToEnd, InfoReportsTheStreamsAvimakeWrote) {
    const std::string file =
        Make("info.avi", "--width 96 --height 64 --frames 12 --audio-rate 22050 --channels 1");
    const Result r = Qxhost("info '" + file + "' --json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"timescale\": 10000000, \"duration\": 4800000, "
                         "\"avgFrameDuration\": 400000, \"width\": 96, \"height\": 64, "
                         "\"streamFlag\": 1, \"frames\": 12, \"fps\": 25"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"sampleRate\": 22050, \"channels\": 1"), std::string::npos) << r.out;
}

// framemd5 gives ffmpeg's lines for video and audio: avimake's bottom-up
// rows and 29.97 frames per second across several RIFF segments, and its
// stored bytes with --stored as ffmpeg -c copy hashes them.
TEST_F(EndToEnd, FrameMd5EqualsFfmpegsAcrossSegments) {
    if (!HaveFfmpeg()) GTEST_SKIP() << kNoFfmpeg;
    // Small segments force several RIFF 'AVIX' parts and standard indexes.
    const std::string file = Make("hash.avi",
                                  "--width 66 --height 38 --frames 40 --segment-limit 100000 "
                                  "--frame-duration 333667 --audio-rate 44100");
    ExpectFrameMd5AsFfmpeg(file);
    const Result ours = Qxhost("framemd5 --stored '" + file + "'");
    ASSERT_EQ(ours.status, 0) << ours.err;
    const Result theirs = Run("ffmpeg -v error -i '" + file + "' -map 0 -c copy -f framemd5 -");
    ASSERT_EQ(theirs.status, 0) << theirs.err;
    const auto ourFrames = FrameHashes(ours.out);
    ASSERT_GT(ourFrames.size(), 40u) << ours.out;
    EXPECT_EQ(ourFrames, FrameHashes(theirs.out));
    EXPECT_EQ(ourFrames[0].first, std::to_string(66 * 38 * 4));
}

// The files of other writers: ffmpeg (rows top-down, 1001/30000 time base,
// unsigned 8-bit mono and six-channel audio) and GStreamer.
TEST_F(EndToEnd, FrameMd5EqualsFfmpegsOnOtherWritersFiles) {
    if (!HaveFfmpeg()) GTEST_SKIP() << kNoFfmpeg;
    const std::string lavfi =
        "ffmpeg -v error -f lavfi -i testsrc=size=64x36:rate=30000/1001 -f lavfi -i "
        "sine=sample_rate=";
    const struct {
        const char* name;
        std::string command;
    } rows[] = {
        {"ffmpeg-s16.avi", lavfi + "44100 -t 1 -c:v rawvideo -pix_fmt bgra -c:a pcm_s16le -ac 2 "},
        {"ffmpeg-u8.avi", lavfi + "11025 -t 1 -c:v rawvideo -pix_fmt bgra -c:a pcm_u8 -ac 1 "},
        {"ffmpeg-6ch.avi", lavfi + "48000 -t 1 -c:v rawvideo -pix_fmt bgra -c:a pcm_s16le -ac 6 "},
        {"gst.avi",
         "gst-launch-1.0 -q videotestsrc num-buffers=20 ! "
         "video/x-raw,format=BGRA,width=48,height=32,framerate=25/1 ! mux. audiotestsrc "
         "num-buffers=20 ! audio/x-raw,format=S16LE,rate=48000,channels=2 ! mux. avimux "
         "name=mux ! filesink location="},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string file = Path(row.name);
        ASSERT_EQ(Run(row.command + "'" + file + "'").status, 0) << row.command;
        ExpectFrameMd5AsFfmpeg(file);
    }
}

void ExpectAudioMatches(const std::vector<float>& ours, const std::vector<float>& reference) {
    ASSERT_EQ(ours.size(), reference.size());
    size_t mismatches = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        if (std::fabs(ours[i] - reference[i]) > 1e-6f && mismatches++ < 5) {
            ADD_FAILURE() << "sample " << i << ": " << ours[i] << " vs " << reference[i];
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST_F(EndToEnd, SixteenBitAudioMatchesFfmpegsSamplesOver32767) {
    if (!HaveFfmpeg()) GTEST_SKIP() << kNoFfmpeg;
    const std::string file =
        Make("a16.avi", "--frames 30 --audio-rate 44100 --channels 2 --bits 16");
    const std::string wav = Path("a16.wav");
    const Result ours = Qxhost("audio '" + file + "' --out '" + wav + "'");
    ASSERT_EQ(ours.status, 0) << ours.err;
    const Result raw = Run("ffmpeg -v error -i '" + file + "' -map 0:a -f s16le -");
    ASSERT_EQ(raw.status, 0) << raw.err;
    std::vector<float> reference(raw.out.size() / 2);
    for (size_t i = 0; i < reference.size(); ++i) {
        int16_t x;
        std::memcpy(&x, raw.out.data() + 2 * i, 2);
        reference[i] = static_cast<float>(x / 32767.0);
    }
    ASSERT_GT(reference.size(), 44100u);  // 1.2 s of stereo
    ExpectAudioMatches(WavFloats(ReadText(wav)), reference);
    // The header matches what ffprobe sees.
    const Result probe =
        Run("ffprobe -v error -show_entries stream=codec_name,channels,sample_rate "
            "-of compact=p=0:nk=1 '" +
            wav + "'");
    EXPECT_EQ(probe.out, "pcm_f32le|44100|2\n");
}

TEST_F(EndToEnd, EightBitAudioMatchesFfmpegsSamplesCentredOn128) {
    if (!HaveFfmpeg()) GTEST_SKIP() << kNoFfmpeg;
    // The plug-in steps over movie chunks without skipping pad bytes, so the
    // audio chunks are kept even: 1,920 samples of 3 bytes per frame.
    const std::string file = Make("a8.avi", "--frames 20 --audio-rate 48000 --channels 3 --bits 8");
    const std::string wav = Path("a8.wav");
    const Result ours = Qxhost("audio '" + file + "' --out '" + wav + "'");
    ASSERT_EQ(ours.status, 0) << ours.err;
    const Result raw = Run("ffmpeg -v error -i '" + file + "' -map 0:a -f u8 -");
    ASSERT_EQ(raw.status, 0) << raw.err;
    std::vector<float> reference(raw.out.size());
    for (size_t i = 0; i < reference.size(); ++i) {
        reference[i] = static_cast<float>((static_cast<uint8_t>(raw.out[i]) - 128) / 127.0);
    }
    ExpectAudioMatches(WavFloats(ReadText(wav)), reference);
}

TEST_F(EndToEnd, FramesAreWrittenUprightAsFfmpegDecodesThem) {
    if (!HaveFfmpeg()) GTEST_SKIP() << kNoFfmpeg;
    const std::string file = Make("pics.avi", "--width 80 --height 60 --frames 9");
    const std::string out = Path("pics");
    const Result r = Qxhost("frames '" + file + "' --out '" + out + "' --every 4");
    if (r.status != 0 && r.err.find("not available in this build") != std::string::npos) {
        GTEST_SKIP() << "built without libpng: install libpng-dev and configure again";
    }
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(out + "/frame_000000.png"));
    EXPECT_TRUE(fs::exists(out + "/frame_000008.png"));
    EXPECT_FALSE(fs::exists(out + "/frame_000001.png"));
    EXPECT_TRUE(fs::exists(out + "/contact_sheet.png"));
    const Result ours =
        Run("ffmpeg -v error -i '" + out + "/frame_000004.png' -f rawvideo -pix_fmt rgb24 -");
    const Result theirs = Run("ffmpeg -v error -i '" + file +
                              "' -vf 'select=eq(n\\,4)' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(ours.out.size(), 80u * 60u * 3u);
    EXPECT_TRUE(ours.out == theirs.out) << "frame 4 differs from ffmpeg's decoding";
}

TEST_F(EndToEnd, PlayServesBothStreamsInFull) {
    const std::string file =
        Make("play.avi", "--width 32 --height 16 --frames 25 --audio-rate 8000");
    const Result r = Qxhost("play '" + file + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("video: 25 of 25 frames, 51200 bytes"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("audio: 8000 of 8000 samples"), std::string::npos) << r.out;
    // Progress, when asked for, goes to standard error only, and its first
    // line is not already at 100 %.
    const Result shown = Qxhost("play --progress --realtime '" + file + "'");
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.out.find('\r'), std::string::npos) << shown.out;
    ASSERT_EQ(shown.err.rfind("\rvideo [", 0), 0u) << shown.err;
    EXPECT_EQ(shown.err.substr(0, shown.err.find("  audio")).find("100.0%"), std::string::npos)
        << shown.err;
    EXPECT_NE(shown.err.find("100.0%"), std::string::npos) << shown.err;
    const Result hashes = Qxhost("framemd5 --progress '" + file + "'");
    EXPECT_EQ(hashes.out.find('\r'), std::string::npos);
    EXPECT_NE(hashes.err.find("framemd5: "), std::string::npos) << hashes.err;
}

TEST_F(EndToEnd, AFileWithoutAudioStillServesItsVideo) {
    const std::string file = Make("mute.avi", "--width 16 --height 16 --frames 5 --no-audio");
    const Result info = Qxhost("info '" + file + "'");
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("audio: none"), std::string::npos) << info.out;
    const Result hashes = Qxhost("framemd5 '" + file + "'");
    ASSERT_EQ(hashes.status, 0) << hashes.err;
    EXPECT_EQ(FrameHashes(hashes.out).size(), 5u);
    const Result audio = Qxhost("audio '" + file + "' --out '" + Path("none.wav") + "'");
    EXPECT_EQ(audio.status, 1);
    EXPECT_NE(audio.err.find("refused the audio stream"), std::string::npos) << audio.err;
}

TEST_F(EndToEnd, ANonAsciiFileNameReachesThePlugIn) {
    // "Ünïcødé 🎬.avi" in UTF-8.
    const std::string name =
        "\xC3\x9C"
        "n"
        "\xC3\xAF"
        "c"
        "\xC3\xB8"
        "d"
        "\xC3\xA9"
        " \xF0\x9F\x8E\xAC.avi";
    const std::string file = Make(name, "--width 16 --height 8 --frames 3");
    const Result info = Qxhost("info '" + file + "'");
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("width 16, height 8"), std::string::npos) << info.out;
}

TEST_F(EndToEnd, FailuresEndWithOneLineAndANonZeroStatus) {
    const Result missing = Qxhost("info '" + Path("absent.avi") + "'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no such file"), std::string::npos) << missing.err;
    EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1);

    // Cut inside its headers: neither stream is served.
    const std::string plain = Make("plain.avi", "--frames 3 --no-audio --truncate 100");
    const Result refused = Qxhost("info '" + plain + "'");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("refused the video and the audio stream"), std::string::npos)
        << refused.err;
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
    // ... and says why, for each medium.
    EXPECT_NE(refused.out.find("video: none (refused by the plug-in: "), std::string::npos)
        << refused.out;
    EXPECT_NE(refused.out.find("audio: none (refused by the plug-in: "), std::string::npos)
        << refused.out;

    const Result noPlugin = Run(std::string("'") + QXHOST_PATH + "' info '" + plain +
                                "' --plugin '" + Path("libnothing.so") + "'");
    EXPECT_EQ(noPlugin.status, 1);
    EXPECT_NE(noPlugin.err.find("cannot load plug-in"), std::string::npos) << noPlugin.err;

    const Result usage = Run(std::string("'") + QXHOST_PATH + "' frames '" + plain + "'");
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("frames needs --out"), std::string::npos) << usage.err;
}

// Whether `text` is one JSON value and nothing else (RFC 8259 grammar; string
// escapes checked, numbers by their shape).
class JsonChecker {
public:
    explicit JsonChecker(const std::string& text) : s_(text) {}
    bool Valid() {
        Space();
        if (!Value()) return false;
        Space();
        return i_ == s_.size();
    }

private:
    bool Value() {
        if (i_ >= s_.size()) return false;
        const char c = s_[i_];
        if (c == '{') return Members('}', true);
        if (c == '[') return Members(']', false);
        if (c == '"') return String();
        if (Word("true") || Word("false") || Word("null")) return true;
        return Number();
    }
    bool Members(char close, bool object) {
        ++i_;
        Space();
        if (Eat(close)) return true;
        do {
            Space();
            if (object) {
                if (!String()) return false;
                Space();
                if (!Eat(':')) return false;
                Space();
            }
            if (!Value()) return false;
            Space();
        } while (Eat(','));
        return Eat(close);
    }
    bool String() {
        if (!Eat('"')) return false;
        while (i_ < s_.size() && s_[i_] != '"') {
            const unsigned char c = static_cast<unsigned char>(s_[i_++]);
            if (c < 0x20) return false;
            if (c == '\\') {
                if (i_ >= s_.size()) return false;
                const char e = s_[i_++];
                if (e == 'u') {
                    for (int k = 0; k < 4; ++k, ++i_)
                        if (i_ >= s_.size() || !std::isxdigit(static_cast<unsigned char>(s_[i_])))
                            return false;
                } else if (std::string("\"\\/bfnrt").find(e) == std::string::npos) {
                    return false;
                }
            }
        }
        return Eat('"');
    }
    bool Number() {
        const size_t start = i_;
        Eat('-');
        if (!Digits()) return false;
        if (s_[start + (s_[start] == '-' ? 1 : 0)] == '0' && i_ - start > 1u + (s_[start] == '-'))
            return false;  // no leading zeros
        if (Eat('.') && !Digits()) return false;
        if (Eat('e') || Eat('E')) {
            if (!Eat('+')) Eat('-');
            if (!Digits()) return false;
        }
        return true;
    }
    bool Digits() {
        const size_t start = i_;
        while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
        return i_ > start;
    }
    bool Word(const char* word) {
        const size_t n = std::strlen(word);
        if (s_.compare(i_, n, word) != 0) return false;
        i_ += n;
        return true;
    }
    bool Eat(char c) {
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    void Space() {
        while (i_ < s_.size() && std::strchr(" \t\r\n", s_[i_]) != nullptr) ++i_;
    }
    const std::string& s_;
    size_t i_ = 0;
};

TEST(JsonCheck, AcceptsJsonAndRejectsLogLinesAroundIt) {
    EXPECT_TRUE(JsonChecker("{\"a\": [1, -2.5e3, \"x\\n\", true, null], \"b\": {}}\n").Valid());
    EXPECT_FALSE(JsonChecker("12:00:00\tMirolan(1)\n{\"a\": 1}").Valid());
    EXPECT_FALSE(JsonChecker("{\"a\": 1}\nlog line\n").Valid());
    EXPECT_FALSE(JsonChecker("{\"a\": 01}").Valid());
    EXPECT_FALSE(JsonChecker("{\"a\" 1}").Valid());
}

// The lines of `text` that do not start with '#', each with its line end.
std::vector<std::string> DataLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (line.empty() || line[0] != '#') lines.push_back(line + "\n");
    return lines;
}

// With the debug folder present the plug-in logs to its standard output;
// qxhost sends that to the standard error and keeps its own output exact.
TEST_F(EndToEnd, OutputStaysExactWhileThePlugInLogs) {
    if (!HaveFfmpeg()) GTEST_SKIP() << kNoFfmpeg;
    testsupport::FixedDebugFolder folder;
    if (!folder.usable()) GTEST_SKIP() << "the fixed debug folder exists already; not touching it";
    const std::string file = Make("logged.avi", "--width 34 --height 20 --frames 12");

    const Result hashes = Qxhost("framemd5 '" + file + "'");
    ASSERT_EQ(hashes.status, 0) << hashes.err;
    // The log went somewhere: to the standard error.
    EXPECT_NE(hashes.err.find("\tMirolan("), std::string::npos) << hashes.err;
    const Result theirs = Run("ffmpeg -v error -i '" + file + "' -map 0 -f framemd5 -");
    ASSERT_EQ(theirs.status, 0) << theirs.err;
    EXPECT_EQ(DataLines(hashes.out), DataLines(theirs.out)) << hashes.out;
    EXPECT_GT(DataLines(hashes.out).size(), 12u);
    EXPECT_EQ(hashes.out.find("Mirolan("), std::string::npos) << hashes.out;

    const Result info = Qxhost("info '" + file + "' --json");
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.err.find("\tMirolan("), std::string::npos) << info.err;
    EXPECT_TRUE(JsonChecker(info.out).Valid()) << info.out;
    EXPECT_NE(info.out.find("\"width\": 34, \"height\": 20"), std::string::npos) << info.out;
}

// The rest of `text` after the first line that starts with `prefix`;
// npos-free: empty and false when there is none.
bool LineAfter(const std::string& text, const std::string& prefix, std::string& rest) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0) {
            rest = line.substr(prefix.size());
            return true;
        }
    }
    return false;
}

// check prints, per medium, the reason the plug-in's log gives (the same
// table as the reader's suite), and a conversion command for a file that is
// not servable; its status says whether every file is servable.
TEST_F(EndToEnd, CheckGivesTheReasonOfEveryRefusal) {
    std::vector<std::string> files;
    for (const testsupport::RefusalCase& row : testsupport::RefusalCases()) {
        if (!row.Checkable()) continue;
        SCOPED_TRACE(row.name);
        const std::string file = Path(row.fileName);
        if (!row.missing) testsupport::WriteFile(file, row.bytes);
        files.push_back(file);
        const Result r = Check("'" + file + "'");
        const std::string medium = row.video ? "  video: " : "  audio: ";
        std::string rest;
        ASSERT_TRUE(LineAfter(r.out, medium, rest)) << r.out;
        EXPECT_EQ(r.out.rfind(file + "\n", 0), 0u) << r.out;
        const bool hasConversion = LineAfter(r.out, "  convert: ffmpeg -i ", rest) &&
                                   rest.find("-servable.avi") != std::string::npos;
        LineAfter(r.out, medium, rest);
        if (row.logLine == 0) {
            EXPECT_EQ(rest, "ok");
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_FALSE(hasConversion) << r.out;
        } else if (row.logLine == 9007) {  // no stream of that medium: nothing refused
            EXPECT_EQ(rest, "none");
            EXPECT_EQ(r.status, 0) << r.out;
        } else {
            ASSERT_EQ(rest.rfind("refused: ", 0), 0u) << r.out;
            EXPECT_TRUE(row.ReasonMatches(rest.substr(9))) << rest;
            EXPECT_EQ(r.status, 1) << r.out;
            // A file that cannot be opened at all has nothing to convert; an
            // AVI file named otherwise is renamed, and a file that is no AVI
            // file is said to be one: neither gets a command. One whose
            // streams ffmpeg cannot read either (no movie data, audio
            // without a rate) has no conversion known.
            std::string advice;
            const bool advised = LineAfter(r.out, "  advice: ", advice);
            const bool noneKnown = row.logLine == 9015 || row.name == "audio-no-rate";
            EXPECT_EQ(r.out.find("  convert: none known") != std::string::npos, noneKnown) << r.out;
            if (row.logLine == 9001 || row.logLine == 9005) {
                EXPECT_FALSE(hasConversion) << r.out;
                ASSERT_TRUE(advised) << r.out;
                const bool isAvi = row.bytes.size() >= 12 &&
                                   std::memcmp(row.bytes.data(), "RIFF", 4) == 0 &&
                                   std::memcmp(row.bytes.data() + 8, "AVI ", 4) == 0;
                EXPECT_EQ(advice.find("rename it to ") != std::string::npos, isAvi) << advice;
                EXPECT_EQ(advice.find("not an AVI file") != std::string::npos, !isAvi) << advice;
            } else {
                EXPECT_EQ(hasConversion, row.logLine != 9003 && !noneKnown) << r.out;
                EXPECT_FALSE(advised) << r.out;
            }
        }
    }
    std::string all;
    for (const std::string& file : files) all += " '" + file + "'";
    const Result json = Check("--json" + all);
    EXPECT_EQ(json.status, 1);
    EXPECT_TRUE(JsonChecker(json.out).Valid()) << json.out;
    EXPECT_NE(json.out.find("\"status\": \"refused\", \"kind\": \"CompressedVideo\", "
                            "\"reason\": \"video is compressed (MJPEG, 'MJPG')\"}"),
              std::string::npos)
        << json.out;
}

// The conversion command that check prints makes a file that check passes,
// whether the file has both media or video alone; from 720 lines it reads
// YUV as BT.709, as the plug-in does, and below as ffmpeg does (BT.601).
TEST_F(EndToEnd, CheckPrintsAConversionThatWorks) {
    if (!HaveFfmpeg()) GTEST_SKIP() << kNoFfmpeg;
    const struct {
        const char* name;
        const char* made;
        const char* audio;
        bool hd;
    } rows[] = {
        {"mjpeg-pcm24.avi",
         "-f lavfi -i testsrc=size=48x32:rate=25 -f lavfi -i sine=r=22050 -t 0.4 -c:v mjpeg "
         "-c:a pcm_s24le",
         "ok", false},
        {"mjpeg.avi", "-f lavfi -i testsrc=size=48x32:rate=25 -frames 5 -c:v mjpeg", "none", false},
        {"mjpeg-719.avi", "-f lavfi -i testsrc=size=64x719:rate=25 -frames 1 -c:v mjpeg", "none",
         false},
        {"mjpeg-720-pcm24.avi",
         "-f lavfi -i testsrc=size=1280x720:rate=25 -f lavfi -i sine=r=22050 -t 0.08 -c:v mjpeg "
         "-c:a pcm_s24le",
         "ok", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string file = Path(row.name);
        ASSERT_EQ(Run("ffmpeg -v error " + std::string(row.made) + " '" + file + "'").status, 0);
        const Result before = Check("'" + file + "'");
        EXPECT_EQ(before.status, 1);
        std::string command;
        ASSERT_TRUE(LineAfter(before.out, "  convert: ", command)) << before.out;
        EXPECT_EQ(
            command.find(" -vf scale=in_color_matrix=bt709:in_range=tv ") != std::string::npos,
            row.hd)
            << command;
        const Result converted = Run(command);
        ASSERT_EQ(converted.status, 0) << command << ": " << converted.err;
        const std::string out = file.substr(0, file.size() - 4) + "-servable.avi";
        const Result after = Check("'" + out + "'");
        EXPECT_EQ(after.status, 0) << after.out;
        EXPECT_EQ(after.out, out + "\n  video: ok\n  audio: " + row.audio + "\n");
    }
}

// For every refused kind of the refusal table whose check offers a command,
// the command makes a file that check passes: a medium ffmpeg cannot decode
// (no frames, an unusable size or rate) is left out with -vn or -an.
TEST_F(EndToEnd, CheckConversionOfEveryRefusedKindIsServed) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    int converted = 0;
    for (const testsupport::RefusalCase& row : testsupport::RefusalCases()) {
        // The table's 'MJPG' and 48-bit streams hold 32-bit pixels, not what
        // they are labelled: the conversion of real MJPEG is
        // CheckPrintsAConversionThatWorks's.
        if (!row.Checkable() || row.missing || row.logLine == 0 || row.name == "compressed-video" ||
            row.name == "video-48-bit")
            continue;
        SCOPED_TRACE(row.name);
        const std::string file = Path("conv-" + row.fileName);
        testsupport::WriteFile(file, row.bytes);
        const Result before = Check("'" + file + "'");
        std::string command;
        if (!LineAfter(before.out, "  convert: ffmpeg ", command)) continue;
        const Result made = Run("ffmpeg -v error -y " + command);
        EXPECT_EQ(made.status, 0) << command << ": " << made.err;
        if (made.status != 0) continue;
        const std::string out = file.substr(0, file.size() - 4) + "-servable.avi";
        const Result after = Check("'" + out + "'");
        EXPECT_EQ(after.status, 0) << command << "\n" << after.out;
        ++converted;
    }
    EXPECT_GE(converted, 5);
}

// 24-bit video from ffmpeg (bgr24, top-down) and GStreamer (BGR, bottom-up,
// rows padded) is served converted to BGRA; framemd5 hashes it as ffmpeg
// decodes it (BGR rows top-down), and the frames as served equal ffmpeg's
// conversion to bgra, rows in the stored order.
TEST_F(EndToEnd, Bgr24FramesEqualFfmpegsConversionToBgra) {
    if (!HaveFfmpeg()) GTEST_SKIP() << kNoFfmpeg;
    const std::string ours = Path("bgr24.avi");
    ASSERT_EQ(Run("ffmpeg -v error -f lavfi -i testsrc=size=64x36:rate=25 -frames 10 "
                  "-c:v rawvideo -pix_fmt bgr24 '" +
                  ours + "'")
                  .status,
              0);
    std::vector<std::string> files = {ours};
    const std::string gst = Path("gst-bgr.avi");
    if (Run("gst-launch-1.0 -q videotestsrc num-buffers=10 ! "
            "video/x-raw,format=BGR,width=63,height=35 ! avimux ! filesink location='" +
            gst + "'")
            .status == 0) {
        files.push_back(gst);
    } else {
        ADD_FAILURE() << "gst-launch-1.0 could not write the BGR file";
    }
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const Result info = Qxhost("info '" + file + "'");
        ASSERT_EQ(info.status, 0) << info.err;
        const bool bottomUp = info.out.find("rows bottom-up") != std::string::npos;
        ExpectFrameMd5AsFfmpeg(file);
        const Result hashes = Qxhost("framemd5 --stored '" + file + "'");
        ASSERT_EQ(hashes.status, 0) << hashes.err;
        const Result theirs = Run("ffmpeg -v error -i '" + file + "' " +
                                  (bottomUp ? "-vf vflip " : "") + "-pix_fmt bgra -f framemd5 -");
        ASSERT_EQ(theirs.status, 0) << theirs.err;
        EXPECT_EQ(FrameHashes(hashes.out), FrameHashes(theirs.out));
        EXPECT_EQ(FrameHashes(hashes.out).size(), 10u);
    }
}

}  // namespace

#endif
