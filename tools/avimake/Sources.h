// Where frames and PCM come from: the built-in pattern and tone, or raw input files.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace avimake {

class VideoSource {
public:
    virtual ~VideoSource() = default;
    // Produces stored (bottom-up) frame `index`; false at the end of the input.
    virtual bool Next(uint64_t index, std::vector<uint8_t>& frame) = 0;
};

class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Produces up to `count` sample frames starting at `first`; returns how many it produced
    // (fewer only at the end of the input). `pcm` is resized to the bytes produced.
    virtual uint64_t Read(uint64_t first, uint64_t count, std::vector<uint8_t>& pcm) = 0;
};

std::unique_ptr<VideoSource> MakePatternVideo(uint32_t width, uint32_t height, uint32_t pixelBytes);
// Raw top-row-first frames from `path` ("-" = standard input), flipped to bottom-up.
std::unique_ptr<VideoSource> MakeRawVideo(const std::string& path, uint32_t width, uint32_t height,
                                          uint32_t pixelBytes);

// Sine of 440 Hz * (c + 2) / 2 on channel c at half of full scale.
std::unique_ptr<AudioSource> MakeToneAudio(uint32_t rate, uint16_t channels, uint16_t bits);
std::unique_ptr<AudioSource> MakeRawAudio(const std::string& path, uint32_t blockAlign);

// Size of a regular file, or nothing for pipes, standard input and missing files.
std::optional<uint64_t> RegularFileSize(const std::string& path);

}  // namespace avimake
