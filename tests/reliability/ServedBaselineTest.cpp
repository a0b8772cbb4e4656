// Every file that is served must stay served byte for byte as the baseline
// recorded it: the same descriptors, the same frames, the same samples, the
// same debug log lines while opening, serving and closing. Each file of the
// fixture set (avimake's files, the builder's seeds) and of the kept fuzz
// inputs is opened in-process as video and as audio; what is served is
// recorded and compared with reliability/served-baseline.txt. A medium the
// baseline has as refused may be served now (what is accepted widens): it is
// counted, never failed.
//
// Environment:
//   MIROLAN_SERVED_BASELINE=write  rewrite the baseline's lines of each set
//       from this build. Only when a change deliberately alters what is
//       served; natively, since avimake's files are needed.
//   MIROLAN_AVIMAKE_FILES=<folder>  where avimake's files are kept: written
//       there natively, read from there by a build that cannot run avimake
//       (the Windows build under Wine skips that set without it).
//   MIROLAN_SERVED_DETAIL=<folder>  write every record in full (each frame's
//       and request's digest, each log line) to one file per file and medium,
//       for a diff between two builds.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "KeptFuzzFiles.h"
#include "common/Md5.h"
#include "container/HeaderWalk.h"
#include "container/IndexSources.h"
#include "container/StreamRules.h"
#include "platform/platform.h"
#include "qxdriver.h"
#include "reader/Mirolan.h"
#include "support/AviBuilder.h"
#include "support/DebugFolder.h"
#include "support/FakeHost.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;
using testsupport::FakeStream;

namespace {

const uint32_t kVideoOptions[] = {QX_TAG_EYES, 1, 0, 0};
const uint32_t kAudioOptions[] = {QX_TAG_EARS, 1, 0, 0};

// Work per file is capped so the whole set runs in seconds: frames spread
// evenly over the stream (first and last included), at most two seconds of
// audio, and a bounded number of floats per request and per file.
constexpr uint64_t kMostFrames = 300;
constexpr uint64_t kLargestFrameBuffer = 64u << 20;
constexpr int64_t kAudioSeconds = 2;
constexpr int64_t kAudioRequest = 1777;  // odd: requests end inside chunks at many places
constexpr int64_t kMostFloatsPerRequest = 1 << 20;
constexpr int64_t kMostFloatsPerFile = 1 << 22;
// Every file is opened under this name in the current folder, so the log
// lines that name it read the same on every target and in every temporary
// folder (an absolute path would also move the cut of an overlong line).
constexpr const char* kOpenedName = "clip.avi";

std::string Hex(const void* data, size_t size) { return tools::Md5::Hex(data, size); }

std::string HexOfLines(const std::vector<std::string>& lines) {
    tools::Md5 md5;
    for (const std::string& line : lines) {
        md5.Update(line.data(), line.size());
        md5.Update("\n", 1);
    }
    return md5.HexDigest();
}

// One debug log line without its time stamp. The stamp's milliseconds are not
// padded, so the cut of an overlong line moves by up to two characters: such
// a line keeps only what every cut keeps.
std::string WithoutTimeStamp(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t tab = line.find('\t');
    std::string rest = tab == std::string::npos ? line : line.substr(tab + 1);
    constexpr size_t kCutKeep = 253;
    constexpr size_t kLongestStamp = 23;  // "YYYY-MM-DD HH:MM:SS.mmm"
    if (line.size() >= kCutKeep + 5 && line.compare(line.size() - 5, 5, "[...]") == 0) {
        rest = rest.substr(0, kCutKeep - kLongestStamp - 1) + "[cut]";
    }
    return rest;
}

// A line's location field is padded to 35 characters before its tab; the
// baseline keeps the location and the text with one blank between them.
std::string Compact(const std::string& line) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) return line;
    std::string location = line.substr(0, tab);
    while (!location.empty() && location.back() == ' ') location.pop_back();
    return location + " " + line.substr(tab + 1);
}

// The log's lines in order. "Wrong Index" notices are left out: they are not
// debug log lines today, and the frame they replace shows in the frame data.
std::vector<std::string> LogLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("Wrong Index") != std::string::npos) continue;
        lines.push_back(Compact(WithoutTimeStamp(line)));
    }
    return lines;
}

std::string DescribeVideo(const VideoDesc& v) {
    uint32_t realBits = 0;
    std::memcpy(&realBits, &v.reservedReal, sizeof realBits);
    std::ostringstream out;
    out << "ts=" << v.timescale << " dur=" << v.duration << " afd=" << v.avgFrameDuration
        << " w=" << v.width << " h=" << v.height << " real=" << realBits << " flag=" << v.streamFlag
        << " word=" << v.reservedWord;
    return out.str();
}

std::string DescribeAudio(const AudioDesc& a) {
    std::ostringstream out;
    out << "head=" << a.headWord << " ts=" << a.timescale << " dur=" << a.duration
        << " rate=" << a.sampleRate << " ch=" << a.channels << " word=" << a.reservedWord;
    return out.str();
}

// What one medium of one file gave. `summary` is the baseline line's text
// after the key: the open's result and, when served, the descriptors and the
// counts in clear, then a digest of the served data (every frame's or
// request's digest and duration). `log` holds the debug log's lines from the
// open to the close when served; `detail` every digest and log line.
struct MediumRecord {
    bool served = false;
    std::string summary;
    std::vector<std::string> log;
    std::vector<std::string> detail;
};

// Problems seen while standard output is captured, reported once it is not
// (a failure reported while it is captured would print nothing).
std::vector<std::string>& Problems() {
    static std::vector<std::string> problems;
    return problems;
}

// Hands the worker one request and waits until it is delivered, or until the
// worker has ended on its own (a failed read ends it without a delivery).
bool Serve(FakeStream& stream, SampleRequest* request) {
    const size_t before = stream.Deliveries();
    stream.Push(request);
    const auto* reader = static_cast<const CMirolan*>(stream.handle.pReader);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (stream.WaitForDeliveries(before + 1, std::chrono::milliseconds(1))) return true;
        if (reader->bExit.load()) return stream.Deliveries() > before;
    }
    Problems().push_back("no delivery and no end of the worker within 20 s");
    return false;
}

int64_t LastDuration(FakeStream& stream) {
    const std::vector<FakeStream::Event> events = stream.Events();
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        if (it->kind == FakeStream::Event::SetDuration) return it->duration;
    }
    return INT64_MIN;
}

// Frame k is asked for with the span [k, k + 1) frame durations, whose end
// chooses it; only frames below the described count are asked for. The
// buffer is zero-filled before each request, so bytes a read leaves alone
// (a frame cut short by the end of the file) are zero, as a mended read
// would leave them. Returns the summary's counts.
std::string ServeVideo(FakeStream& stream, std::vector<std::string>& data) {
    const VideoDesc& v = stream.video;
    if (v.avgFrameDuration <= 0 || v.duration <= 0) return "frames=0";
    const uint64_t frameDuration = static_cast<uint64_t>(v.avgFrameDuration);
    const uint64_t count = static_cast<uint64_t>(v.duration) / frameDuration;
    // What the host gives a frame: width x |height| x 4 bytes.
    const uint64_t width =
        static_cast<uint64_t>(v.width < 0 ? -static_cast<int64_t>(v.width) : v.width);
    const uint64_t height =
        static_cast<uint64_t>(v.height < 0 ? -static_cast<int64_t>(v.height) : v.height);
    const uint64_t bufferSize = width * height * 4;
    std::ostringstream counts;
    counts << "frames=" << count;
    if (count == 0 || bufferSize == 0 || bufferSize > kLargestFrameBuffer) {
        counts << " checked=0 buffer=" << bufferSize;
        return counts.str();
    }
    const uint64_t asked = std::min(count, kMostFrames);
    std::vector<uint8_t> buffer(static_cast<size_t>(bufferSize));
    uint64_t served = 0;
    for (uint64_t i = 0; i < asked; ++i) {
        const uint64_t k = asked == 1 ? 0 : i * (count - 1) / (asked - 1);
        // (k + 1) x frameDuration <= duration < 2^63: no overflow.
        SampleRequest request = testsupport::MakeRequest(
            static_cast<int64_t>(k * frameDuration), static_cast<int64_t>((k + 1) * frameDuration),
            0, buffer.data());
        std::fill(buffer.begin(), buffer.end(), uint8_t{0});
        if (!Serve(stream, &request)) {
            data.push_back("f" + std::to_string(k) + " not delivered: the worker ended");
            break;
        }
        ++served;
        data.push_back("f" + std::to_string(k) + " d=" + std::to_string(LastDuration(stream)) +
                       " " + Hex(buffer.data(), buffer.size()));
    }
    counts << " checked=" << served;
    return counts.str();
}

// The span [0, min(duration, two seconds)) in requests of a fixed size, one
// float buffer per described channel, each zero-filled before the request.
// No request reaches past the described duration; samples past the last chunk
// are left as the zero they were filled with, which is also the silence a
// mended read writes there.
std::string ServeAudio(FakeStream& stream, std::vector<std::string>& data) {
    const AudioDesc& a = stream.audio;
    std::ostringstream counts;
    counts << "samples=" << a.duration;
    if (a.channels <= 0 || a.duration <= 0 || a.sampleRate <= 0) return counts.str() + " checked=0";
    const int64_t channels = a.channels;
    const int64_t span =
        std::min({a.duration, kAudioSeconds * a.sampleRate, kMostFloatsPerFile / channels});
    const int64_t step =
        std::max<int64_t>(1, std::min(kAudioRequest, kMostFloatsPerRequest / channels));
    std::vector<std::vector<float>> buffers(static_cast<size_t>(channels));
    std::vector<float*> pointers(static_cast<size_t>(channels));
    int64_t served = 0;
    for (int64_t start = 0; start < span; start += step) {
        const int64_t end = std::min(start + step, span);
        for (size_t ch = 0; ch < buffers.size(); ++ch) {
            buffers[ch].assign(static_cast<size_t>(end - start), 0.0f);
            pointers[ch] = buffers[ch].data();
        }
        SampleRequest request = testsupport::MakeRequest(start, end, static_cast<int32_t>(channels),
                                                         nullptr, pointers.data());
        if (!Serve(stream, &request)) {
            data.push_back("a" + std::to_string(start) + " not delivered: the worker ended");
            break;
        }
        served = end;
        // One digest per channel for the usual layouts; one for all beyond eight.
        std::string digests;
        if (channels <= 8) {
            for (const std::vector<float>& buffer : buffers) {
                digests += " " + Hex(buffer.data(), buffer.size() * sizeof(float));
            }
        } else {
            tools::Md5 md5;
            for (const std::vector<float>& buffer : buffers) {
                md5.Update(buffer.data(), buffer.size() * sizeof(float));
            }
            digests = " all " + md5.HexDigest();
        }
        data.push_back("a" + std::to_string(start) + "-" + std::to_string(end) +
                       " d=" + std::to_string(LastDuration(stream)) + digests);
    }
    counts << " checked=" << served;
    return counts.str();
}

// Drives the plug-in through the export, in-process, with a private debug
// folder and a private working folder holding the file being recorded.
class Recorder {
public:
    Recorder() : previous_(fs::current_path()) {
        driver_ = qxVideoDriver_Mirolan(&testsupport::FakeHostServices());
        fs::current_path(dir_.path());
    }
    ~Recorder() {
        std::error_code error;
        fs::current_path(previous_, error);
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    MediumRecord Record(const std::vector<uint8_t>& bytes, bool video) {
        testsupport::WriteFile(dir_.File(kOpenedName), bytes);
        folder_.CreateLogFile();  // empty again
        testsupport::RemoveFile(folder_.FallbackFile());

        MediumRecord record;
        FakeStream stream;
        const std::u16string path = testsupport::ToUtf16(kOpenedName);
        const int32_t opened =
            driver_->drv_open(&stream.handle, path.c_str(), video ? kVideoOptions : kAudioOptions);
        std::vector<std::string> data;
        if (opened != 1) {
            record.summary = "refused open=" + std::to_string(opened);
            record.detail.push_back(record.summary);
            for (const std::string& line : LogLines(folder_.LogText()))
                record.detail.push_back("log " + line);
            return record;
        }
        record.served = true;
        const std::string described =
            "video{" + DescribeVideo(stream.video) + "} audio{" + DescribeAudio(stream.audio) + "}";
        driver_->drv_start(&stream.handle);
        const std::string counts = video ? ServeVideo(stream, data) : ServeAudio(stream, data);
        SettleWorker(stream);
        driver_->drv_close(&stream.handle);

        std::vector<std::string> log = LogLines(folder_.LogText());
        const std::string fallback = folder_.FallbackText();
        if (!fallback.empty()) {
            for (const std::string& line : LogLines(fallback)) log.push_back("fallback " + line);
        }
        record.summary = "served " + described + " " + counts + " data=" + HexOfLines(data);
        record.log = log;
        record.detail.push_back(record.summary);
        for (std::string& line : data) record.detail.push_back(std::move(line));
        for (const std::string& line : log) record.detail.push_back("log " + line);
        return record;
    }

private:
    // Before the close, the worker is either waiting for a request (the close
    // then logs first, the worker's exit line after) or has ended and logged
    // its exit line, so the log's order never depends on timing.
    void SettleWorker(FakeStream& stream) {
        const auto* reader = static_cast<const CMirolan*>(stream.handle.pReader);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::unique_lock<std::mutex> hold(stream.lock);
                if (stream.changed.wait_for(hold, std::chrono::milliseconds(1), [&stream] {
                        return stream.waitingInAcquire && stream.queue.empty();
                    })) {
                    return;
                }
            }
            if (reader->bExit.load() &&
                folder_.LogText().find("Run Monitor Thread") != std::string::npos) {
                return;
            }
        }
        Problems().push_back("the worker neither waits for a request nor has ended");
    }

    testsupport::DebugFolder folder_;
    testsupport::TempDir dir_;
    fs::path previous_;
    const DriverTable* driver_ = nullptr;
};

struct Input {
    std::string key;  // "<set>/<name>", the same on every target
    std::vector<uint8_t> bytes;
};

// avimake's files: its valid and malformed variants as the fuzz seeds make
// them, and ordinary files at a few sizes and layouts.
const std::vector<std::pair<std::string, std::string>>& AvimakeVariants() {
    static const std::vector<std::pair<std::string, std::string>> variants = {
        {"valid", "--width 4 --height 2 --frames 3 --audio-rate 8000"},
        {"segments", "--width 4 --height 2 --frames 12 --segment-limit 4096 --audio-rate 8000"},
        {"audio8-mono", "--width 4 --height 2 --frames 3 --audio-rate 8000 --bits 8 --channels 1"},
        {"no-audio", "--width 4 --height 2 --frames 3 --audio-rate 8000 --no-audio"},
        {"no-video", "--width 4 --height 2 --frames 3 --audio-rate 8000 --no-video"},
        {"no-index-flag", "--width 4 --height 2 --frames 3 --audio-rate 8000 --no-index-flag"},
        {"bpp24", "--width 4 --height 2 --frames 3 --audio-rate 8000 --bpp 24"},
        {"handler-dib", "--width 4 --height 2 --frames 3 --audio-rate 8000 --handler DIB"},
        {"idx1-only", "--width 4 --height 2 --frames 3 --audio-rate 8000 --idx1-only"},
        {"odd-junk", "--width 4 --height 2 --frames 3 --audio-rate 8000 --odd-junk"},
        {"audio-strf16", "--width 4 --height 2 --frames 3 --audio-rate 8000 --audio-strf16"},
        {"avih-frames-all",
         "--width 4 --height 2 --frames 12 --segment-limit 4096 --audio-rate 8000 --avih-frames "
         "all"},
        {"avih-frames-99", "--width 4 --height 2 --frames 3 --audio-rate 8000 --avih-frames 99"},
        {"truncated", "--width 4 --height 2 --frames 3 --audio-rate 8000 --truncate 1500"},
        {"qcif-25fps", "--width 176 --height 144 --frames 50"},
        {"vga-ntsc",
         "--width 640 --height 480 --frames 12 --frame-duration 333667 --audio-rate 44100"},
        {"long-small-frames", "--width 8 --height 4 --frames 700 --audio-rate 22050"},
        {"several-segments", "--width 96 --height 54 --frames 40 --segment-limit 60000"},
        {"many-segments-8bit-mono",
         "--width 32 --height 16 --frames 90 --segment-limit 8192 --bits 8 --channels 1 "
         "--audio-rate 11025"},
        {"mono8-odd-chunks",
         "--width 16 --height 9 --frames 25 --bits 8 --channels 1 --audio-rate 11025"},
        {"six-channels", "--width 16 --height 8 --frames 10 --channels 6 --audio-rate 48000"},
        {"video-only", "--width 64 --height 36 --frames 30 --no-audio"},
        {"audio-only", "--frames 30 --no-video --audio-rate 44100"},
        {"gap", "--width 16 --height 8 --frames 10 --gap 70000"},
    };
    return variants;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The avimake files, made now natively; read from MIROLAN_AVIMAKE_FILES on a
// build that has no avimake. False when they cannot be had.
bool AvimakeInputs(std::vector<Input>& inputs, std::string& why) {
    const std::string kept = Environment("MIROLAN_AVIMAKE_FILES");
#ifdef AVIMAKE_PATH
    testsupport::TempDir scratch;
    const std::string folder = kept.empty() ? scratch.path() : kept + "/";
    std::error_code error;
    fs::create_directories(folder, error);
    for (const auto& [name, arguments] : AvimakeVariants()) {
        const std::string path = folder + "avimake-" + name + ".avi";
        const std::string command =
            std::string("\"") + AVIMAKE_PATH + "\" \"" + path + "\" " + arguments + " >/dev/null";
        if (std::system(command.c_str()) != 0) {
            why = "avimake failed: " + command;
            return false;
        }
    }
#else
    if (kept.empty()) {
        why = "no avimake in this build and MIROLAN_AVIMAKE_FILES is not set";
        return false;
    }
    const std::string folder = kept + "/";
#endif
    for (const auto& variant : AvimakeVariants()) {
        const std::string path = folder + "avimake-" + variant.first + ".avi";
        if (!testsupport::FileExists(path)) {
            why = "missing " + path + " (written by the native leg)";
            return false;
        }
        inputs.push_back({"avimake/" + variant.first, testsupport::ReadFileBytes(path)});
    }
    return true;
}

std::vector<Input> BuilderInputs() {
    std::vector<Input> inputs;
    for (const testsupport::NamedLayout& seed : testsupport::SeedLayouts()) {
        inputs.push_back({"builder/" + seed.name, testsupport::BuildAvi(seed.layout).bytes});
    }
    return inputs;
}

std::vector<Input> KeptFuzzInputs(const std::string& folder) {
    const std::vector<fs::path> files = reliability::KeptFuzzFiles(folder);
    std::vector<Input> inputs;
    for (const fs::path& file : files) {
        inputs.push_back(
            {folder + "/" + file.filename().string(), testsupport::ReadFileBytes(file.string())});
    }
    return inputs;
}

// The baseline: "<key> <medium> in=<md5>:<size> <summary>" per file and
// medium, sorted by key; below a served one, its log lines, each as
//   log "<line>"
// (quoted, since some lines end in a blank). '#' lines are comments, kept
// when the file is rewritten.
struct BaselineLine {
    std::string input;
    std::string summary;
    std::vector<std::string> log;  // written below it as  log "<line>"
};
using Baseline = std::map<std::string, BaselineLine>;  // by "<key> <medium>"

std::string BaselinePath() { return MIROLAN_SERVED_BASELINE_FILE; }

// The Windows build positions the file with the Win32 rule, under which a
// seek far past the end fails where a POSIX positioned read just reads
// nothing: a few hostile inputs are served differently there for that reason
// alone. Their Windows records are kept beside the others, as "<medium>@win32"
// lines, and only where they differ.
#ifdef _WIN32
const std::string kLeg = "@win32";
#else
const std::string kLeg;
#endif

bool IsLegLine(const std::string& id) { return id.find('@') != std::string::npos; }

bool Same(const BaselineLine& a, const BaselineLine& b) {
    return a.input == b.input && a.summary == b.summary && a.log == b.log;
}

Baseline ReadBaseline(std::vector<std::string>* comments = nullptr) {
    Baseline baseline;
    std::ifstream in(BaselinePath(), std::ios::binary);
    std::string line;
    BaselineLine* last = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const std::string logMark = "  log \"";
        if (line.compare(0, logMark.size(), logMark) == 0 && line.back() == '"' &&
            last != nullptr) {
            last->log.push_back(line.substr(logMark.size(), line.size() - logMark.size() - 1));
            continue;
        }
        if (line[0] == '#') {
            if (comments != nullptr) comments->push_back(line);
            continue;
        }
        const size_t key = line.find(' ');
        const size_t medium = line.find(' ', key + 1);
        const size_t input = line.find(' ', medium + 1);
        if (key == std::string::npos || medium == std::string::npos || input == std::string::npos) {
            ADD_FAILURE() << "malformed baseline line: " << line;
            continue;
        }
        last = &baseline[line.substr(0, medium)];
        *last = {line.substr(medium + 1, input - medium - 1), line.substr(input + 1), {}};
    }
    return baseline;
}

// Replaces this leg's lines of the set `prefix` ("avimake/"...) with
// `lines`: natively the plain lines; on Windows the "@win32" lines, written
// only where the record differs from the plain line.
void RewriteBaseline(const std::string& prefix, const Baseline& lines) {
    std::vector<std::string> comments;
    Baseline all = ReadBaseline(&comments);
    for (auto it = all.begin(); it != all.end();) {
        const bool ours = it->first.compare(0, prefix.size(), prefix) == 0 &&
                          IsLegLine(it->first) == !kLeg.empty();
        it = ours ? all.erase(it) : std::next(it);
    }
    for (const auto& [id, line] : lines) {
        const auto plain = all.find(id);
        if (kLeg.empty()) {
            all[id] = line;
        } else if (plain == all.end() || !Same(plain->second, line)) {
            all[id + kLeg] = line;
        }
    }
    std::ofstream out(BaselinePath(), std::ios::binary | std::ios::trunc);
    for (const std::string& comment : comments) out << comment << "\n";
    for (const auto& [key, line] : all) {
        out << key << " " << line.input << " " << line.summary << "\n";
        for (const std::string& log : line.log) out << "  log \"" << log << "\"\n";
    }
    ASSERT_TRUE(out.good()) << "cannot write " << BaselinePath();
}

// The fields of the summary (served/refused, descriptors, counts, data)
// that differ, and the log lines that do, by name.
std::string WhatDiffers(const BaselineLine& expected, const MediumRecord& actual) {
    std::istringstream a(expected.summary), b(actual.summary);
    std::string x, y, differs;
    const auto add = [&differs](const std::string& what) {
        differs += (differs.empty() ? "" : "; ") + what;
    };
    for (;;) {
        const bool more = static_cast<bool>(a >> x);
        const bool moreToo = static_cast<bool>(b >> y);
        if (!more && !moreToo) break;
        if (!more || !moreToo || x != y) {
            add((more ? x : std::string("(nothing)")) + " -> " +
                (moreToo ? y : std::string("(nothing)")));
        }
        if (!more || !moreToo) break;
    }
    const size_t lines = std::max(expected.log.size(), actual.log.size());
    for (size_t i = 0; i < lines; ++i) {
        const std::string was = i < expected.log.size() ? expected.log[i] : "(no line)";
        const std::string now = i < actual.log.size() ? actual.log[i] : "(no line)";
        if (was != now)
            add("log line " + std::to_string(i + 1) + " \"" + was + "\" -> \"" + now + "\"");
    }
    return differs;
}

void WriteDetail(const std::string& key, const char* medium, const MediumRecord& record) {
    const std::string folder = Environment("MIROLAN_SERVED_DETAIL");
    if (folder.empty()) return;
    std::string name = key;
    std::replace(name.begin(), name.end(), '/', '-');
    std::error_code error;
    fs::create_directories(folder, error);
    std::ofstream out(folder + "/" + name + "-" + medium + ".txt",
                      std::ios::binary | std::ios::trunc);
    for (const std::string& line : record.detail) out << line << "\n";
}

// Records every input of one set and holds it to the baseline, or rewrites
// the set's baseline lines.
void CheckSet(const std::string& set, const std::vector<Input>& inputs) {
    const bool write = Environment("MIROLAN_SERVED_BASELINE") == "write";
    const std::string prefix = set + "/";
    const Baseline baseline = ReadBaseline();
    Baseline fresh;
    size_t servedBefore = 0, refusedBefore = 0, newlyServed = 0, unknown = 0;
    std::vector<std::string> newlyServedKeys;

    testing::internal::CaptureStdout();  // every log line is also printed there
    {
        Recorder recorder;
        for (const Input& input : inputs) {
            const std::string digest = "in=" + Hex(input.bytes.data(), input.bytes.size()) + ":" +
                                       std::to_string(input.bytes.size());
            for (const bool video : {true, false}) {
                const char* medium = video ? "video" : "audio";
                const std::string id = input.key + " " + medium;
                const MediumRecord record = recorder.Record(input.bytes, video);
                WriteDetail(input.key, medium, record);
                fresh[id] = {digest, record.summary, record.log};
                if (write) continue;
                auto found = baseline.find(id + kLeg);
                if (found == baseline.end()) found = baseline.find(id);
                if (found == baseline.end()) {
                    ++unknown;
                    continue;
                }
                const BaselineLine& expected = found->second;
                const bool wasServed = expected.summary.compare(0, 7, "served ") == 0;
                (wasServed ? servedBefore : refusedBefore) += 1;
                if (expected.input != digest) {
                    Problems().push_back(id +
                                         ": the input is not the file the baseline recorded (" +
                                         expected.input + ", now " + digest +
                                         "): a fixture generator changed; its files must be "
                                         "served as before");
                    continue;
                }
                if (!wasServed) {
                    if (record.served) newlyServedKeys.push_back(id);
                    continue;
                }
                if (record.summary != expected.summary || record.log != expected.log) {
                    std::string detail;
                    for (const std::string& line : record.detail) detail += "    " + line + "\n";
                    Problems().push_back(
                        id + " is no longer served as before: " + WhatDiffers(expected, record) +
                        "\n  baseline: " + expected.summary + "\n  now:      " + record.summary +
                        "\n  this build's record:\n" + detail);
                }
            }
        }
    }
    testing::internal::GetCapturedStdout();
    for (const std::string& problem : Problems()) ADD_FAILURE() << problem;
    Problems().clear();
    newlyServed = newlyServedKeys.size();

    if (write) {
        RewriteBaseline(prefix, fresh);
        std::printf("%s: baseline rewritten, %zu lines\n", set.c_str(), fresh.size());
        return;
    }
    for (const auto& entry : baseline) {
        if (entry.first.compare(0, prefix.size(), prefix) == 0 && !IsLegLine(entry.first) &&
            fresh.count(entry.first) == 0) {
            ADD_FAILURE() << entry.first
                          << ": in the baseline but no longer in the set (a kept input or fixture "
                             "was removed; keep it, or rewrite the baseline if that is deliberate)";
        }
    }
    std::printf(
        "%s: %zu inputs; baseline media served %zu (all identical unless reported), "
        "refused %zu, of which served now %zu; not in the baseline %zu\n",
        set.c_str(), inputs.size(), servedBefore, refusedBefore, newlyServed, unknown);
    for (const std::string& key : newlyServedKeys) std::printf("  newly served: %s\n", key.c_str());
}

}  // namespace

TEST(ServedBaseline, AvimakeFilesAreServedAsBefore) {
    std::vector<Input> inputs;
    std::string why;
    if (!AvimakeInputs(inputs, why)) {
#ifdef AVIMAKE_PATH
        FAIL() << why;
#else
        GTEST_SKIP() << why;
#endif
    }
    CheckSet("avimake", inputs);
}

TEST(ServedBaseline, BuilderFilesAreServedAsBefore) { CheckSet("builder", BuilderInputs()); }

TEST(ServedBaseline, KeptFuzzInputsAreServedAsBefore) {
    const std::vector<Input> corpus = KeptFuzzInputs("corpus");
    ASSERT_GE(corpus.size(), 10u) << "the kept corpus is missing from " << MIROLAN_FUZZ_DIR;
    CheckSet("corpus", corpus);
    CheckSet("regressions", KeptFuzzInputs("regressions"));
}

// The index sources that skip the movie data (the OpenDML super index) must
// build exactly the tables of the walk to the first standard index and the
// scan after it. Every file of the fixture set, small files written by ffmpeg
// and GStreamer when they are installed, and the kept fuzz inputs are opened
// both ways through the container code, and the frame tables and audio chunk
// lists are compared entry by entry. MIROLAN_INDEX_PATH_FILES=<folder> adds
// the .avi files of a folder (large real-writer files, say).
namespace {

struct OpenedTables {
    std::string outcome;  // "refused <kind>", "bad_alloc", or the index source
    avi::IndexSource source = avi::IndexSource::None;
    bool stoppedAtMovie = false;
    std::vector<FrameEntry> frames;
    std::vector<AudioChunk> chunks;
};

// The open's own path (`walkAndScan` false), or the reference: the walk
// resumed at once where it stopped at the 'movi' list, through every chunk,
// so that the tables come from its standard index, 'idx1' or the scan.
OpenedTables OpenTables(const std::string& path, avi::Medium medium, bool walkAndScan) {
    OpenedTables result;
    const std::u16string wide = testsupport::ToUtf16(path.c_str());
    platform::FileHandle file = platform::OpenFileForSharedRead(wide.c_str());
    if (file == nullptr) {
        result.outcome = "cannot open";
        return result;
    }
    int64_t size = 0;
    platform::GetFileSize(file, &size);
    platform::MappingHandle mapping = platform::CreateReadOnlyMapping(file);
    const avi::FileSource source{mapping, size, platform::AllocationGranularity()};
    try {
        avi::AviLayout layout;
        avi::Refusal refusal = avi::WalkHeaders(source, medium, layout);
        result.stoppedAtMovie = layout.stoppedAtMovie;
        if (walkAndScan && layout.stoppedAtMovie) refusal = avi::ResumeWalk(source, medium, layout);
        uint32_t frameSize = 0;
        if (!refusal.Refused() && !layout.haveMainHeader) {
            refusal = avi::MakeRefusal(avi::RefusalKind::NoMainHeader, "-");
        }
        if (!refusal.Refused()) {
            refusal = medium == avi::Medium::Video ? avi::CheckVideoFormat(layout, &frameSize)
                                                   : avi::CheckAudioFormat(layout);
        }
        if (!refusal.Refused()) {
            avi::MediaIndex index;
            refusal = avi::OpenIndex(source, avi::IndexTarget{medium, frameSize, &layout}, index);
            result.source = index.source;
            result.frames = index.frameTable;
            result.chunks.assign(index.audioChunks.begin(), index.audioChunks.end());
        }
        result.outcome = refusal.Refused()
                             ? std::string("refused ") + avi::RefusalKindName(refusal.kind)
                             : "served";
    } catch (const std::bad_alloc&) {
        result.outcome = "bad_alloc";
    }
    platform::CloseMapping(mapping);
    platform::CloseFile(file);
    return result;
}

#ifndef _WIN32
// Small files of the real writers, made now; none when a writer is missing.
std::vector<std::pair<std::string, std::string>> RealWriterFiles(const std::string& folder) {
    const std::string lavfi =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x36:rate=25 -f lavfi -i "
        "sine=frequency=440:sample_rate=";
    const std::string gst =
        "gst-launch-1.0 -q videotestsrc num-buffers=40 ! "
        "video/x-raw,format=BGRA,width=48,height=32,framerate=25/1 ! mux. "
        "audiotestsrc num-buffers=40 ! audio/x-raw,format=";
    const std::pair<std::string, std::string> commands[] = {
        {"ffmpeg-s16", lavfi + "48000 -t 2 -c:v rawvideo -pix_fmt bgra -c:a pcm_s16le -ac 2 "},
        {"ffmpeg-u8-mono", lavfi + "11025 -t 1 -c:v rawvideo -pix_fmt bgra -c:a pcm_u8 -ac 1 "},
        {"gstreamer-s16", gst + "S16LE,rate=48000,channels=2 ! mux. avimux name=mux ! filesink "
                                "location="},
        {"gstreamer-u8", gst + "U8,rate=8000,channels=1 ! mux. avimux name=mux ! filesink "
                               "location="},
    };
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& [name, command] : commands) {
        const std::string path = folder + name + ".avi";
        if (std::system((command + "\"" + path + "\" >/dev/null 2>&1").c_str()) == 0 &&
            testsupport::FileExists(path)) {
            files.push_back({"writers/" + name, path});
        }
    }
    if (files.size() < std::size(commands)) {
        std::printf(
            "IndexPaths: %zu of %zu real writers' files made: install ffmpeg and "
            "GStreamer (bash scripts/install-deps.sh peers) to check them all\n",
            files.size(), std::size(commands));
    }
    return files;
}
#endif

// Three-segment OpenDML files (interleaved '00db' and '01wb', a super index
// per stream, each segment's 'ix00' and 'ix01' at the end of its 'movi'
// list, 'idx1' after the first), each bent the way a hostile writer would
// bend its indexes. Where a fast source cannot be shown to agree with the
// walk it must give way to it, so the two paths stay equal on all of them.
enum class Bend { None, Swapped, Dropped, OmittedSegment, Idx1HidesIndex };

std::vector<uint8_t> BentOpenDmlFile(Bend bend, uint32_t seed) {
    uint32_t state = seed * 2654435761u + 1;
    auto random = [&state](uint32_t below) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % below;
    };
    constexpr uint32_t kFrame = 32;  // 4x2 pixels of 32 bits
    constexpr uint32_t kSegments = 3;
    const bool video = random(2) == 0;  // the stream whose index is bent
    const uint32_t bentSegment = random(kSegments);
    testsupport::AviBuilder avi;
    const uint64_t riff = avi.OpenList("RIFF", "AVI ");
    const uint64_t hdrl = avi.OpenList("LIST", "hdrl");
    avi.MainHeader(0x10, 4);
    size_t supers[2] = {};
    for (int stream = 0; stream < 2; ++stream) {
        const uint64_t strl = avi.OpenList("LIST", "strl");
        if (stream == 0) {
            avi.StreamHeader("vids");
            avi.Bitmap(4, 2, 32, 0, kFrame);
        } else {
            avi.StreamHeader("auds");
            avi.WaveFormat(2, 16);
        }
        supers[stream] = static_cast<size_t>(avi.Position());
        avi.bytes.Code("indx").U32(24 + 16 * kSegments);
        avi.bytes.U16(4).U8(0).U8(0).U32(0).Code(stream == 0 ? "00db" : "01wb");
        avi.bytes.U32(0).U32(0).U32(0);
        for (uint32_t i = 0; i < kSegments; ++i) avi.bytes.U64(0).U32(0).U32(0);
        avi.Close(strl);
    }
    avi.Close(hdrl);
    uint32_t listed[2] = {};
    for (uint32_t segment = 0; segment < kSegments; ++segment) {
        const uint64_t form = segment == 0 ? riff : avi.OpenList("RIFF", "AVIX");
        const uint64_t movi = avi.OpenList("LIST", "movi");
        std::vector<std::pair<uint32_t, uint32_t>> entries[2];  // data offset from movi, size
        struct Listed {
            const char* code;
            uint32_t data;  // from movi
            uint32_t size;
        };
        std::vector<Listed> idx1;
        const uint32_t frames = 2 + random(5);
        const uint32_t hideAfter = random(frames);
        for (uint32_t i = 0; i < frames; ++i) {
            const uint64_t frame =
                avi.Chunk("00db", kFrame, static_cast<uint8_t>(segment * 16 + i));
            entries[0].push_back({static_cast<uint32_t>(frame - movi), kFrame});
            idx1.push_back({"00db", entries[0].back().first, kFrame});
            const uint32_t size = 4 * (1 + random(12));
            const uint64_t chunk = avi.Chunk("01wb", size, static_cast<uint8_t>(i + 1));
            entries[1].push_back({static_cast<uint32_t>(chunk - movi), size});
            idx1.push_back({"01wb", entries[1].back().first, size});
            if (bend == Bend::Idx1HidesIndex && segment == 0 && i == hideAfter) {
                // A standard index of the bent stream among the media chunks
                // (its chunks so far, backwards), which 'idx1' lists as one
                // of them: the walk stops there and takes it.
                const uint64_t hidden =
                    avi.OpenIndex(video ? "ix00" : "ix01", video ? "00db" : "01wb", movi);
                const auto& so = entries[video ? 0 : 1];
                for (auto e = so.rbegin(); e != so.rend(); ++e) avi.IndexEntry(e->first, e->second);
                avi.Close(hidden);
                idx1.push_back({"01wb", static_cast<uint32_t>(hidden + 8 - movi),
                                static_cast<uint32_t>(avi.Position() - hidden - 8)});
            }
        }
        for (int stream = 0; stream < 2; ++stream) {
            auto list = entries[stream];
            const bool bent = segment == bentSegment && (stream == 0) == video;
            if (bent && bend == Bend::Swapped) {
                const uint32_t a = random(static_cast<uint32_t>(list.size() - 1));
                const uint32_t b = a + 1 + random(static_cast<uint32_t>(list.size() - 1 - a));
                std::swap(list[a], list[b]);
            }
            if (bent && bend == Bend::Dropped) {
                list.erase(list.begin() + random(static_cast<uint32_t>(list.size())));
            }
            const uint64_t ix =
                avi.OpenIndex(stream == 0 ? "ix00" : "ix01", stream == 0 ? "00db" : "01wb", movi);
            for (const auto& [offset, size] : list) avi.IndexEntry(offset, size);
            avi.Close(ix);
            if (bend == Bend::Idx1HidesIndex || (bent && bend == Bend::OmittedSegment)) continue;
            const size_t slot = supers[stream] + 32 + 16 * listed[stream];
            avi.bytes.PatchU32(slot, static_cast<uint32_t>(ix));
            avi.bytes.PatchU32(slot + 8, static_cast<uint32_t>(avi.Position() - ix));
            avi.bytes.PatchU32(slot + 12, static_cast<uint32_t>(list.size()));
            avi.bytes.PatchU32(supers[stream] + 12, ++listed[stream]);
        }
        avi.Close(movi);
        if (segment == 0) {
            // Offsets from the 'movi' code to each chunk's header.
            avi.ChunkHeader("idx1", static_cast<uint32_t>(16 * idx1.size()));
            for (const Listed& e : idx1) {
                if (e.code[1] == '0') {
                    avi.Idx1Entry("00db", e.data - 16, e.size);
                } else {
                    avi.Idx1Entry("01wb", e.data - 16, e.size);
                }
            }
        }
        avi.Close(form);
    }
    return avi.bytes.data();
}

std::vector<Input> BentOpenDmlInputs() {
    const std::pair<Bend, const char*> bends[] = {
        {Bend::None, "clean"},
        {Bend::Swapped, "swapped"},
        {Bend::Dropped, "dropped"},
        {Bend::OmittedSegment, "omitted-segment"},
        {Bend::Idx1HidesIndex, "idx1-hides-index"},
    };
    std::vector<Input> inputs;
    for (const auto& [bend, name] : bends) {
        for (uint32_t seed = 0; seed < 40; ++seed) {
            inputs.push_back({std::string("bent/") + name + "-" + std::to_string(seed),
                              BentOpenDmlFile(bend, seed)});
        }
    }
    return inputs;
}

std::string ChunkText(const AudioChunk& c) {
    return std::to_string(c.firstSample) + "-" + std::to_string(c.endSample) + "@" +
           std::to_string(c.offset) + "+" + std::to_string(c.size);
}

}  // namespace

TEST(IndexPaths, FastSourcesBuildTheTablesOfTheWalkAndScan) {
    testsupport::TempDir scratch;
    std::vector<std::pair<std::string, std::string>> files;  // key, path
    auto addBytes = [&](const std::vector<Input>& inputs) {
        for (const Input& input : inputs) {
            std::string name = input.key;
            std::replace(name.begin(), name.end(), '/', '_');
            const std::string path = scratch.File(name + ".avi");
            testsupport::WriteFile(path, input.bytes);
            files.push_back({input.key, path});
        }
    };
    std::vector<Input> avimake;
    std::string why;
    if (AvimakeInputs(avimake, why)) addBytes(avimake);
    addBytes(BuilderInputs());
    addBytes(KeptFuzzInputs("corpus"));
    addBytes(KeptFuzzInputs("regressions"));
    addBytes(BentOpenDmlInputs());
#ifndef _WIN32
    for (const auto& file : RealWriterFiles(scratch.path())) files.push_back(file);
#endif
    const std::string extra = Environment("MIROLAN_INDEX_PATH_FILES");
    if (!extra.empty()) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(extra, error)) {
            if (entry.path().extension() == ".avi") {
                files.push_back(
                    {"extra/" + entry.path().filename().string(), entry.path().string()});
            }
        }
    }
    ASSERT_GE(files.size(), 200u);

    size_t superIndex = 0, resumed = 0, fastForWriters = 0;
    for (const auto& [key, path] : files) {
        for (const avi::Medium medium : {avi::Medium::Video, avi::Medium::Audio}) {
            const std::string id = key + (medium == avi::Medium::Video ? " video" : " audio");
            const OpenedTables reference = OpenTables(path, medium, true);
            const OpenedTables fast = OpenTables(path, medium, false);
            EXPECT_NE(reference.source, avi::IndexSource::SuperIndex) << id;
            const bool writer =
                key.compare(0, 8, "writers/") == 0 || key.compare(0, 6, "extra/") == 0;
            if (fast.source == avi::IndexSource::SuperIndex) {
                ++superIndex;
                if (writer) ++fastForWriters;
            } else if (fast.stoppedAtMovie && fast.outcome == "served") {
                ++resumed;
            }
            if (fast.source != avi::IndexSource::SuperIndex) {
                EXPECT_EQ(fast.source, reference.source) << id;  // the walk's own choice
            }
            // The unbent files are what the shortcut is for.
            if (key.compare(0, 11, "bent/clean-") == 0) {
                EXPECT_EQ(fast.source, avi::IndexSource::SuperIndex) << id;
            }
            if (writer) {
                std::printf("  %s: %s, %s\n", id.c_str(), fast.outcome.c_str(),
                            fast.source == avi::IndexSource::SuperIndex ? "super index"
                                                                        : "walk through 'movi'");
            }
            EXPECT_EQ(fast.outcome, reference.outcome) << id;
            EXPECT_EQ(fast.frames.size(), reference.frames.size()) << id;
            for (size_t i = 0; i < std::min(fast.frames.size(), reference.frames.size()); ++i) {
                if (fast.frames[i] == reference.frames[i]) continue;
                ADD_FAILURE() << id << " frame " << i << ": " << fast.frames[i] << " against "
                              << reference.frames[i];
                break;
            }
            EXPECT_EQ(fast.chunks.size(), reference.chunks.size()) << id;
            for (size_t i = 0; i < std::min(fast.chunks.size(), reference.chunks.size()); ++i) {
                if (ChunkText(fast.chunks[i]) == ChunkText(reference.chunks[i])) continue;
                ADD_FAILURE() << id << " chunk " << i << ": " << ChunkText(fast.chunks[i])
                              << " against " << ChunkText(reference.chunks[i]);
                break;
            }
        }
    }
    std::printf(
        "index paths: %zu files; super index for %zu media (%zu of real writers), the walk "
        "resumed at 'movi' (with or without 'idx1' runs) for %zu served media\n",
        files.size(), superIndex, fastForWriters, resumed);
    // The fixture set's valid files all carry a consistent super index.
    EXPECT_GE(superIndex + 4, 2 * avimake.size());  // no wrap without avimake files
}
