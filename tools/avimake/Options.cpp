#include "Options.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>

namespace avimake {
namespace {

uint64_t ParseNumber(const std::string& option, const std::string& text, uint64_t min,
                     uint64_t max) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        throw UsageError(option + " needs a number, got '" + text + "'");
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < min || value > max) {
        throw UsageError(option + " must be a number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", got '" + text + "'");
    }
    return value;
}

template <typename T>
T ParseAs(const std::string& option, const std::string& text, uint64_t min, uint64_t max) {
    return static_cast<T>(ParseNumber(option, text, min, max));
}

void ParseAvihFrames(Options& o, const std::string& text) {
    if (text == "first") {
        o.avihFramesMode = AvihFramesMode::kFirstSegment;
    } else if (text == "all") {
        o.avihFramesMode = AvihFramesMode::kAll;
    } else {
        o.avihFramesMode = AvihFramesMode::kFixed;
        o.avihFrames = ParseAs<uint32_t>("--avih-frames", text, 0, UINT32_MAX);
    }
}

using ValueSetter = std::function<void(Options&, const std::string&)>;
using FlagSetter = std::function<void(Options&)>;

const std::map<std::string, ValueSetter>& ValueOptions() {
    static const std::map<std::string, ValueSetter> options = {
        {"--width",
         [](Options& o, const std::string& v) {
             o.width = ParseAs<uint32_t>("--width", v, 1, 32768);
         }},
        {"--height",
         [](Options& o, const std::string& v) {
             o.height = ParseAs<uint32_t>("--height", v, 1, 32768);
         }},
        {"--frames",
         [](Options& o, const std::string& v) {
             o.frames = ParseNumber("--frames", v, 0, UINT32_MAX);
         }},
        {"--frame-duration",
         [](Options& o, const std::string& v) {
             o.frameDuration = ParseAs<uint32_t>("--frame-duration", v, 10, UINT32_MAX);
         }},
        {"--audio-rate",
         [](Options& o, const std::string& v) {
             o.audioRate = ParseAs<uint32_t>("--audio-rate", v, 1, 768000);
         }},
        {"--channels",
         [](Options& o, const std::string& v) {
             o.channels = ParseAs<uint16_t>("--channels", v, 1, 16);
         }},
        {"--bits",
         [](Options& o, const std::string& v) {
             o.bits = ParseAs<uint16_t>("--bits", v, 8, 16);
             if (o.bits != 8 && o.bits != 16) throw UsageError("--bits must be 8 or 16");
         }},
        {"--segment-limit",
         [](Options& o, const std::string& v) {
             o.segmentLimit = ParseNumber("--segment-limit", v, 4096, 0xFFFF0000u);
         }},
        {"--video-raw", [](Options& o, const std::string& v) { o.videoRaw = v; }},
        {"--audio-raw", [](Options& o, const std::string& v) { o.audioRaw = v; }},
        {"--record", [](Options& o, const std::string& v) { o.record = v; }},
        {"--gap",
         [](Options& o, const std::string& v) {
             o.gap = ParseNumber("--gap", v, 0, uint64_t{1} << 50);
         }},
        {"--bpp",
         [](Options& o, const std::string& v) {
             o.bpp = ParseAs<uint16_t>("--bpp", v, 24, 32);
             if (o.bpp != 24 && o.bpp != 32) throw UsageError("--bpp must be 24 or 32");
         }},
        {"--handler",
         [](Options& o, const std::string& v) {
             if (v.empty() || v.size() > 4) throw UsageError("--handler needs 1 to 4 characters");
             o.handler = v;
         }},
        {"--avih-frames", ParseAvihFrames},
        {"--truncate",
         [](Options& o, const std::string& v) {
             o.truncate = ParseNumber("--truncate", v, 0, uint64_t{1} << 50);
         }},
    };
    return options;
}

const std::map<std::string, FlagSetter>& FlagOptions() {
    static const std::map<std::string, FlagSetter> options = {
        {"--no-audio", [](Options& o) { o.audio = false; }},
        {"--no-video", [](Options& o) { o.video = false; }},
        {"--no-index-flag", [](Options& o) { o.noIndexFlag = true; }},
        {"--idx1-only", [](Options& o) { o.idx1Only = true; }},
        {"--odd-junk", [](Options& o) { o.oddJunk = true; }},
        {"--audio-strf16", [](Options& o) { o.audioStrf16 = true; }},
    };
    return options;
}

void Validate(const Options& o) {
    if (o.outPath.empty()) throw UsageError("missing output file name");
    if (!o.video && !o.audio) throw UsageError("--no-video and --no-audio leave nothing to write");
    const uint64_t frameBytes = uint64_t{o.width} * o.height * (o.bpp / 8u);
    // The top bit of an index entry's size marks a non-keyframe, so frames stay below 2 GiB.
    if (frameBytes >= (uint64_t{1} << 31)) throw UsageError("frame size must stay below 2 GiB");
    if (!o.video && !o.videoRaw.empty()) throw UsageError("--video-raw needs video");
    if (!o.audio && !o.audioRaw.empty()) throw UsageError("--audio-raw needs audio");
    if (o.videoRaw == "-" && o.audioRaw == "-") throw UsageError("only one input can be stdin");
}

}  // namespace

std::optional<Options> ParseOptions(const std::vector<std::string>& args) {
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        const size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (name == "-h" || name == "--help") return std::nullopt;
        if (auto flag = FlagOptions().find(name); flag != FlagOptions().end()) {
            if (inlineValue) throw UsageError(name + " takes no value");
            flag->second(o);
        } else if (auto value = ValueOptions().find(name); value != ValueOptions().end()) {
            if (!inlineValue && i + 1 >= args.size()) throw UsageError(name + " needs a value");
            value->second(o, inlineValue ? *inlineValue : args[++i]);
        } else if (name.size() > 1 && name[0] == '-') {
            throw UsageError("unknown option " + name);
        } else if (o.outPath.empty()) {
            o.outPath = name;
        } else {
            throw UsageError("more than one output file: " + name);
        }
    }
    Validate(o);
    return o;
}

std::string HelpText() {
    return R"(usage: avimake OUT.avi [options]

Writes an OpenDML AVI file (RIFF 'AVI ' + 'AVIX' segments, 'indx' super indexes,
'ix00'/'ix01' standard indexes at the end of each 'movi', 'idx1' in the first segment)
holding uncompressed bottom-up BGRA video and PCM audio interleaved frame by frame.

Content
  --width W              frame width in pixels (default 320)
  --height H             frame height in pixels (default 240)
  --frames N             number of frames (default 50; with --video-raw: until end of input)
  --frame-duration D     frame duration in 100 ns units (default 400000 = 25 fps)
  --audio-rate R         audio sample rate in Hz (default 48000)
  --channels C           audio channels (default 2)
  --bits 8|16            PCM sample size: 8 = unsigned, 16 = signed (default 16)
  --no-audio             write no audio stream
  --no-video             write no video stream (audio becomes stream 0, chunks '00wb')
  --video-raw F|-        raw frames of W*H*4 bytes (BGRA, top row first, the layout of
                         ffmpeg -f rawvideo -pix_fmt bgra; W*H*3 BGR with --bpp 24) from F
                         or standard input; they are flipped into the bottom-up order of
                         the file. Without --frames, reads to the end of the input (from a
                         pipe, at most 256 segments: pass --frames for more)
  --audio-raw F          raw interleaved PCM in the chosen format; audio stops at its end

Layout
  --segment-limit BYTES  start a new 'AVIX' segment when a RIFF would exceed BYTES
                         (default 1073741824; at least one frame per segment)
  --gap BYTES            put BYTES of 'JUNK' (rounded up to even, split into chunks of at
                         most 1 GiB) at the start of the first 'movi', left as a sparse hole;
                         the gap does not count against --segment-limit. RIFF/LIST sizes that
                         no longer fit in 32 bits are written as 0xFFFFFFFF, 'idx1' keeps only
                         entries whose offsets fit, and 'ix' base offsets start after the gap.
  --record FILE          write a record of the output (see below)

Malformed output, for reader tests
  --no-index-flag        clear AVIF_HASINDEX (0x10) in 'avih'
  --bpp 24               write 24-bit frames (biBitCount 24, biSizeImage W*H*3, no row padding)
  --handler CODE         video fccHandler, e.g. DIB (padded with spaces); default four zero bytes
  --idx1-only            plain AVI 1.0: no 'indx', no 'odml', no 'ix' chunks, one RIFF only
  --odd-junk             an odd-sized (7 byte) 'JUNK' chunk right before 'movi', no pad byte
  --audio-strf16         audio 'strf' of 16 bytes (no cbSize)
  --avih-frames all|first|N  'avih' dwTotalFrames: all frames, the first segment's (default),
                         or any number N
  --truncate BYTES       cut (or zero-extend) the finished file to BYTES

Built-in pattern
  Moving colour bars over a grey ramp, the frame number drawn large in the middle, and the
  frame number stored in the first 4 pixels of the first row in the file (the bottom image
  row): pixel k has B = G = R = byte k of the 32-bit little-endian frame number, A = 255.
  The tone is a sine of 440 Hz on channel 0, 660 Hz on channel 1, 880 Hz on channel 2...
  at half of full scale.

Record (--record)
  '#' lines are comments: '#tb 0: NUM/DEN' etc. One line per video frame in the format of
  ffmpeg's framemd5 muxer: "stream, dts, pts, duration, size, md5" with widths %d, %10d,
  %10d, %8d, %8d. Then '#frames: N', '#audio_stream: S', '#audio_samples: N' (sample frames),
  '#audio_bytes: N' and '#audio_md5: HEX' (MD5 of all PCM bytes in stream order).
)";
}

}  // namespace avimake
