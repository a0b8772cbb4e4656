#include "StreamFormat.h"

#include <cstdio>

namespace avimake {
namespace {

// Chunks of stream n are named by its two-digit number plus a type code: "00db", "ix01"...
std::string StreamCode(const char* prefix, uint32_t number, const char* suffix) {
    char code[8];
    std::snprintf(code, sizeof code, "%s%02u%s", prefix, number, suffix);
    return code;
}

}  // namespace

StreamFormat DeriveFormat(const Options& options) {
    StreamFormat f;
    f.hasVideo = options.video;
    f.hasAudio = options.audio;
    const uint32_t audioNumber = f.hasVideo ? 1 : 0;
    f.videoChunk = StreamCode("", 0, "db");
    f.videoIndex = StreamCode("ix", 0, "");
    f.audioChunk = StreamCode("", audioNumber, "wb");
    f.audioIndex = StreamCode("ix", audioNumber, "");
    f.pixelBytes = options.bpp / 8u;
    f.frameBytes = options.width * options.height * f.pixelBytes;
    f.blockAlign = options.channels * (options.bits / 8u);
    f.audioBytesPerSecond = options.audioRate * f.blockAlign;
    return f;
}

}  // namespace avimake
