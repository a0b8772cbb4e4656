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
    f.has_video = options.video;
    f.has_audio = options.audio;
    const uint32_t audio_number = f.has_video ? 1 : 0;
    f.video_chunk = StreamCode("", 0, "db");
    f.video_index = StreamCode("ix", 0, "");
    f.audio_chunk = StreamCode("", audio_number, "wb");
    f.audio_index = StreamCode("ix", audio_number, "");
    f.pixel_bytes = options.bpp / 8u;
    f.frame_bytes = options.width * options.height * f.pixel_bytes;
    f.block_align = options.channels * (options.bits / 8u);
    f.audio_bytes_per_second = options.audio_rate * f.block_align;
    return f;
}

}  // namespace avimake
