// Stream numbering, chunk codes and sizes that follow from the options.
#pragma once

#include <cstdint>
#include <string>

#include "Options.h"

namespace avimake {

struct StreamFormat {
    bool has_video = false;
    bool has_audio = false;
    std::string video_chunk;  // "00db"
    std::string video_index;  // "ix00"
    std::string audio_chunk;  // "01wb", or "00wb" without video
    std::string audio_index;  // "ix01", or "ix00" without video
    uint32_t pixel_bytes = 0;
    uint32_t frame_bytes = 0;
    uint32_t block_align = 0;  // bytes per audio sample frame
    uint32_t audio_bytes_per_second = 0;
};

StreamFormat DeriveFormat(const Options& options);

}  // namespace avimake
