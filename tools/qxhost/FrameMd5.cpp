#include "FrameMd5.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qxhost {
namespace {

constexpr size_t kMostHeaderBytes = size_t{4} << 20;

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
bool IsCode(const std::vector<uint8_t>& b, size_t at, const char* code) {
    return std::memcmp(b.data() + at, code, 4) == 0;
}

// The records of one 'strl' list: its type, and the aspect of a 'vprp'.
void ScanStreamList(const std::vector<uint8_t>& b, size_t at, size_t end, int number,
                    int videoStream, HeaderFacts& facts) {
    const bool video = number == videoStream;
    while (at + 8 <= end) {
        const uint32_t size = Le32(b, at + 4);
        const size_t data = at + 8;
        const size_t dataEnd = size <= end - data ? data + size : end;
        if (IsCode(b, at, "strh") && dataEnd - data >= 4) {
            if (IsCode(b, data, "vids") && facts.videoIndex < 0) {
                facts.videoIndex = number;
            } else if (IsCode(b, data, "auds") && facts.audioIndex < 0) {
                facts.audioIndex = number;
            }
        } else if (IsCode(b, at, "strf") && number == facts.videoIndex && dataEnd - data >= 12) {
            const auto height = static_cast<int32_t>(Le32(b, data + 8));
            facts.videoRows =
                height < 0 ? 0u - static_cast<uint32_t>(height) : static_cast<uint32_t>(height);
        } else if (IsCode(b, at, "vprp") && video && dataEnd - data > 36) {
            // Frame aspect x:y in one word (y low), then the active width and
            // height: the sample aspect is their quotient.
            const int64_t aspectY = Le16(b, data + 20);
            const int64_t aspectX = Le16(b, data + 22);
            const int64_t width = Le32(b, data + 24);
            const int64_t height = Le32(b, data + 28);
            if (aspectX != 0 && aspectY != 0 && width != 0 && height != 0) {
                facts.sampleAspect = Reduce(aspectX * height, aspectY * width);
            }
        }
        at = dataEnd + (size & 1);
    }
}

}  // namespace

std::vector<uint8_t> ReadFileStart(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    std::vector<uint8_t> bytes(kMostHeaderBytes);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

HeaderFacts ScanHeaders(const std::vector<uint8_t>& b, int videoStream) {
    HeaderFacts facts;
    if (b.size() < 12 || !IsCode(b, 0, "RIFF") || !IsCode(b, 8, "AVI ")) return facts;
    size_t at = 12;
    while (at + 12 <= b.size()) {
        const uint32_t size = Le32(b, at + 4);
        const size_t end = size <= b.size() - at - 8 ? at + 8 + size : b.size();
        if (IsCode(b, at, "LIST") && IsCode(b, at + 8, "hdrl")) {
            int number = 0;
            size_t inner = at + 12;
            while (inner + 12 <= end) {
                const uint32_t innerSize = Le32(b, inner + 4);
                const size_t innerEnd = innerSize <= end - inner - 8 ? inner + 8 + innerSize : end;
                if (IsCode(b, inner, "LIST") && IsCode(b, inner + 8, "strl")) {
                    ScanStreamList(b, inner + 12, innerEnd, number++, videoStream, facts);
                }
                inner = innerEnd + (innerSize & 1);
            }
            return facts;
        }
        at = end + (size & 1);
    }
    return facts;
}

void AudioPackets(int64_t first, int64_t end, uint32_t headerSampleSize,
                  std::vector<std::pair<int64_t, int64_t>>& packets) {
    const int64_t most = headerSampleSize <= 1 ? INT64_MAX : headerSampleSize < 32 ? 1024 : 1;
    for (int64_t at = first; at < end;) {
        const int64_t piece = std::min(end - at, most);
        packets.emplace_back(at, at + piece);
        at += piece;
    }
}

int16_t FloatToPcm16(float value) {
    const double x = std::nearbyint(static_cast<double>(value) * 32767.0);
    return static_cast<int16_t>(std::fmax(-32768.0, std::fmin(32767.0, x)));
}

uint8_t FloatToPcm8(float value) {
    const double x = std::nearbyint(static_cast<double>(value) * 127.0) + 128.0;
    return static_cast<uint8_t>(std::fmax(0.0, std::fmin(255.0, x)));
}

std::string ChannelLayoutName(int channels) {
    static const char* const kNames[] = {"mono", "stereo", "2.1", "4.0",
                                         "5.0",  "5.1",    "6.1", "7.1"};
    if (channels >= 1 && channels <= 8) return kNames[channels - 1];
    return std::to_string(channels) + " channels";
}

std::string VideoHeader(int index, const Rational& timeBase, int32_t width, int32_t height,
                        const Rational& sampleAspect) {
    std::ostringstream out;
    out << "#tb " << index << ": " << timeBase.num << '/' << timeBase.den << '\n'
        << "#media_type " << index << ": video\n"
        << "#codec_id " << index << ": rawvideo\n"
        << "#dimensions " << index << ": " << width << 'x' << std::llabs(int64_t{height}) << '\n'
        << "#sar " << index << ": " << sampleAspect.num << '/' << sampleAspect.den << '\n';
    return out.str();
}

std::string AudioHeader(int index, const Rational& timeBase, const char* codec, int sampleRate,
                        int channels) {
    std::ostringstream out;
    out << "#tb " << index << ": " << timeBase.num << '/' << timeBase.den << '\n'
        << "#media_type " << index << ": audio\n"
        << "#codec_id " << index << ": " << codec << '\n'
        << "#sample_rate " << index << ": " << sampleRate << '\n'
        << "#channel_layout_name " << index << ": " << ChannelLayoutName(channels) << '\n';
    return out.str();
}

namespace {

// a x b for unsigned 64-bit values, as (high, low) 64-bit halves.
void Multiply(uint64_t a, uint64_t b, uint64_t& high, uint64_t& low) {
    const uint64_t aLow = a & 0xFFFFFFFFu, aHigh = a >> 32;
    const uint64_t bLow = b & 0xFFFFFFFFu, bHigh = b >> 32;
    const uint64_t ll = aLow * bLow, lh = aLow * bHigh, hl = aHigh * bLow, hh = aHigh * bHigh;
    const uint64_t middle = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
    low = (middle << 32) | (ll & 0xFFFFFFFFu);
    high = hh + (lh >> 32) + (hl >> 32) + (middle >> 32);
}

// pts x num x den as a 128-bit value for pts >= 0; num and den below 2^32
// (time bases come from 32-bit header fields), so num x den fits 64 bits.
void Scaled(int64_t pts, const Rational& timeBase, const Rational& other, uint64_t& high,
            uint64_t& low) {
    const uint64_t factor = static_cast<uint64_t>(timeBase.num) * static_cast<uint64_t>(other.den);
    Multiply(static_cast<uint64_t>(pts < 0 ? 0 : pts), factor, high, low);
}

}  // namespace

bool TimeBefore(const TimedLine& a, const TimedLine& b) {
    uint64_t aHigh, aLow, bHigh, bLow;
    Scaled(a.pts, a.timeBase, b.timeBase, aHigh, aLow);
    Scaled(b.pts, b.timeBase, a.timeBase, bHigh, bLow);
    return aHigh != bHigh ? aHigh < bHigh : aLow < bLow;
}

std::vector<TimedLine> Interleave(std::vector<TimedLine> first, std::vector<TimedLine> second) {
    std::vector<TimedLine> merged;
    merged.reserve(first.size() + second.size());
    size_t i = 0, j = 0;
    while (i < first.size() || j < second.size()) {
        bool takeFirst = j == second.size();
        if (i < first.size() && j < second.size()) {
            const TimedLine& a = first[i];
            const TimedLine& b = second[j];
            takeFirst = TimeBefore(a, b) || (!TimeBefore(b, a) && a.stream < b.stream);
        }
        merged.push_back(std::move(takeFirst ? first[i++] : second[j++]));
    }
    return merged;
}

std::string FrameMd5LineOf(int stream, int64_t pts, int64_t duration, uint64_t size,
                           const std::string& md5) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "%d, %10" PRId64 ", %10" PRId64 ", %8" PRId64 ", %8" PRIu64 ", %s\n", stream, pts,
                  pts, duration, size, md5.c_str());
    return line;
}

}  // namespace qxhost
