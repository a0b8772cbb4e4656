#include "support/RefusalCases.h"

#include <cstring>

#include "support/AviBuilder.h"

namespace testsupport {
namespace {

// Offset of the first `code` in `bytes` at or after `from`; bytes.size() when absent.
size_t Find(const std::vector<uint8_t>& bytes, const char (&code)[5], size_t from = 0) {
    for (size_t at = from; at + 4 <= bytes.size(); ++at) {
        if (std::memcmp(bytes.data() + at, code, 4) == 0) return at;
    }
    return bytes.size();
}

void Put16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> Built(const AviLayout& layout) { return BuildAvi(layout).bytes; }

// The file of the plain layout after `bend` has changed it.
template <typename Bend>
std::vector<uint8_t> BuiltBent(Bend bend) {
    AviLayout layout;
    bend(layout);
    return Built(layout);
}

// Data of the 'strf' chunk after the stream header of `type` ('vids', 'auds').
size_t FormatData(const std::vector<uint8_t>& bytes, const char (&type)[5]) {
    return Find(bytes, "strf", Find(bytes, type)) + 8;
}

RefusalCase Case(const std::string& name, std::vector<uint8_t> bytes, bool video, int line,
                 const std::string& reason) {
    RefusalCase c;
    c.name = name;
    c.fileName = name + ".avi";
    c.bytes = std::move(bytes);
    c.video = video;
    c.logLine = line;
    c.reason = reason;
    return c;
}

}  // namespace

bool RefusalCase::ReasonMatches(const std::string& text) const {
    const size_t dots = reason.size() >= 3 ? reason.size() - 3 : 0;
    if (reason.size() >= 3 && reason.compare(dots, 3, "...") == 0) {
        return text.compare(0, dots, reason, 0, dots) == 0;
    }
    return text == reason;
}

std::vector<RefusalCase> RefusalCases() {
    std::vector<RefusalCase> cases;
    const AviLayout plain;

    std::vector<uint8_t> mjpg = Built(plain);
    Put32(mjpg, FormatData(mjpg, "vids") + 16, 0x47504A4D);  // biCompression 'MJPG'
    cases.push_back(
        Case("compressed-video", mjpg, true, 9008, "video is compressed (MJPEG, 'MJPG')"));

    cases.push_back(Case("video-48-bit", BuiltBent([](AviLayout& l) { l.bitCount = 48; }), true,
                         9009, "video is 48-bit RGB with 16 bits a channel, not read yet"));

    AviLayout depth24;
    depth24.bitCount = 24;
    depth24.width = 5;  // rows of 15 bytes stored in 16
    depth24.sizeImage = 16 * 2;
    cases.push_back(Case("video-24-bit", Built(depth24), true, 0, ""));

    std::vector<uint8_t> pcm20 = Built(plain);
    Put16(pcm20, FormatData(pcm20, "auds") + 14, 20);  // wBitsPerSample
    cases.push_back(Case("audio-20-bit", pcm20, false, 9012, "audio is 20-bit PCM, not read"));

    std::vector<uint8_t> mp3 = Built(plain);
    Put16(mp3, FormatData(mp3, "auds"), 0x55);  // wFormatTag
    cases.push_back(
        Case("audio-mp3", mp3, false, 9011, "audio is compressed (MP3, format tag 0x0055)"));

    std::vector<uint8_t> noMovie = Built(plain);
    noMovie.resize(Find(noMovie, "movi") - 8);  // the file ends after its headers
    cases.push_back(Case("no-index-no-movie", noMovie, true, 9015, "no index and no 'movi' list"));

    const std::string text = "This is a text file that was named like a video. ";
    cases.push_back(Case("not-riff-avi", std::vector<uint8_t>(text.begin(), text.end()), true, 9005,
                         "not a RIFF AVI file"));

    cases.push_back(Case("no-video-stream", BuiltBent([](AviLayout& l) { l.withVideo = false; }),
                         true, 9007, "no video stream"));

    const auto narrow = [](AviLayout& l) {
        l.width = 0;
        l.sizeImage = 16;
    };
    cases.push_back(Case("video-width-0", BuiltBent(narrow), true, 9010,
                         "video frame size unusable (width 0, height 2, biSizeImage 16)"));

    cases.push_back(Case("video-scale-0", BuiltBent([](AviLayout& l) { l.frameDuration = 0; }),
                         true, 9014, "video frame rate unusable (rate 10000000, scale 0)"));

    // The format's rate is the one served; only when neither it nor the
    // header's gives one is the stream refused.
    cases.push_back(
        Case("audio-scale-0", BuiltBent([](AviLayout& l) { l.audioScale = 0; }), false, 0, ""));
    std::vector<uint8_t> noRate = BuiltBent([](AviLayout& l) { l.audioScale = 0; });
    Put32(noRate, FormatData(noRate, "auds") + 4, 0);  // nSamplesPerSec
    cases.push_back(Case("audio-no-rate", noRate, false, 9014,
                         "audio sample rate unusable (rate 192000 / scale 0, format 0 Hz)"));

    // Every frame a dropped one.
    cases.push_back(Case("no-frames", BuiltBent([](AviLayout& l) { l.sizeImage = 0; }), true, 9016,
                         "no video frame found"));

    RefusalCase upper =
        Case("upper-case-name", Built(plain), true, 9001, "the file name does not end in \".avi\"");
    upper.fileName = "upper-case-name.AVI";
    cases.push_back(upper);

    RefusalCase missing =
        Case("missing", {}, true, 9003, "the file cannot be opened for reading (system error ...");
    missing.missing = true;
    cases.push_back(missing);

    cases.push_back(Case("empty", {}, true, 9005, "the file is empty"));
    cases.push_back(Case("shorter-than-riff-header", {'R', 'I', 'F', 'F', 4, 0, 0, 0}, true, 9005,
                         "the file is 8 bytes long, shorter than a RIFF header (12 bytes)"));

    RefusalCase both = Case("both-media", Built(plain), true, 9002,
                            "the host asked for both video and audio in one stream; a stream "
                            "carries either video or audio");
    both.bothMedia = true;
    cases.push_back(both);
    RefusalCase neither = Case("neither-medium", Built(plain), true, 9002,
                               "the host asked for neither video nor audio in one stream; a "
                               "stream carries either video or audio");
    neither.noMedium = true;
    cases.push_back(neither);
    return cases;
}

}  // namespace testsupport
