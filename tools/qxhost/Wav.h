// 32-bit float WAV output (WAVE_FORMAT_IEEE_FLOAT, interleaved, with a 'fact' chunk).
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace qxhost {

constexpr uint16_t kWaveFormatIeeeFloat = 3;

// The 58-byte header of a float WAV file holding `frames` sample frames of
// `channels` channels: RIFF, 'fmt ' (18 bytes, cbSize 0), 'fact', 'data'.
// Returns an empty vector when the data would not fit the 32-bit sizes.
std::vector<uint8_t> FloatWavHeader(uint32_t channels, uint32_t sampleRate, uint64_t frames);

// Interleaves `frames` samples of each channel buffer into `out` (appended).
void Interleave(const std::vector<const float*>& channels, size_t frames, std::vector<float>& out);

// A float WAV file written as the samples arrive; the header is rewritten with
// the final length on Close.
class FloatWavWriter {
public:
    // Throws HostError when the file cannot be created.
    FloatWavWriter(const std::string& path, uint32_t channels, uint32_t sampleRate);
    // Appends interleaved samples (a multiple of the channel count).
    void Write(const std::vector<float>& interleaved);
    // Completes the header; throws HostError on a write failure or a file too large.
    void Close();
    uint64_t frames() const { return frames_; }

private:
    std::string path_;
    std::ofstream out_;
    uint32_t channels_;
    uint32_t sampleRate_;
    uint64_t frames_ = 0;
};

}  // namespace qxhost
