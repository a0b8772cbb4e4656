// Stream numbering, chunk codes and sizes that follow from the options.
#pragma once

#include <cstdint>
#include <string>

#include "Options.h"

namespace avimake {

struct StreamFormat {
    bool hasVideo = false;
    bool hasAudio = false;
    std::string videoChunk;  // "00db"
    std::string videoIndex;  // "ix00"
    std::string audioChunk;  // "01wb", or "00wb" without video
    std::string audioIndex;  // "ix01", or "ix00" without video
    uint32_t pixelBytes = 0;
    uint32_t frameBytes = 0;
    uint32_t blockAlign = 0;  // bytes per audio sample frame
    uint32_t audioBytesPerSecond = 0;
};

StreamFormat DeriveFormat(const Options& options);

}  // namespace avimake
