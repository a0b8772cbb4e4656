#include "Wav.h"

#include <filesystem>

#include "HostStream.h"

namespace qxhost {
namespace {

void Put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    Put16(out, value & 0xFFFFu);
    Put16(out, value >> 16);
}

void PutCode(std::vector<uint8_t>& out, const char* code) { out.insert(out.end(), code, code + 4); }

constexpr uint32_t kHeaderSize = 58;

}  // namespace

std::vector<uint8_t> FloatWavHeader(uint32_t channels, uint32_t sampleRate, uint64_t frames) {
    const uint64_t blockAlign = uint64_t{channels} * 4;
    const uint64_t dataSize = frames * blockAlign;
    if (channels == 0 || channels > 0xFFFF || blockAlign > 0xFFFF ||
        (channels != 0 && frames > (0xFFFFFFFFu - kHeaderSize) / blockAlign) ||
        uint64_t{sampleRate} * blockAlign > 0xFFFFFFFFu || frames > 0xFFFFFFFFu) {
        return {};
    }
    std::vector<uint8_t> header;
    PutCode(header, "RIFF");
    Put32(header, static_cast<uint32_t>(kHeaderSize - 8 + dataSize));
    PutCode(header, "WAVE");
    PutCode(header, "fmt ");
    Put32(header, 18);
    Put16(header, kWaveFormatIeeeFloat);
    Put16(header, channels);
    Put32(header, sampleRate);
    Put32(header, static_cast<uint32_t>(sampleRate * blockAlign));
    Put16(header, static_cast<uint32_t>(blockAlign));
    Put16(header, 32);
    Put16(header, 0);  // cbSize
    PutCode(header, "fact");
    Put32(header, 4);
    Put32(header, static_cast<uint32_t>(frames));
    PutCode(header, "data");
    Put32(header, static_cast<uint32_t>(dataSize));
    return header;
}

void Interleave(const std::vector<const float*>& channels, size_t frames, std::vector<float>& out) {
    const size_t base = out.size();
    out.resize(base + frames * channels.size());
    float* cursor = out.data() + base;
    for (size_t i = 0; i < frames; ++i) {
        for (const float* channel : channels) *cursor++ = channel[i];
    }
}

FloatWavWriter::FloatWavWriter(const std::string& path, uint32_t channels, uint32_t sampleRate)
    : path_(path), channels_(channels), sampleRate_(sampleRate) {
    if (FloatWavHeader(channels, sampleRate, 0).empty()) {
        throw HostError("cannot write a WAV file with " + std::to_string(channels) +
                        " channels at " + std::to_string(sampleRate) + " Hz");
    }
    out_.open(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    if (!out_) throw HostError("cannot create " + path);
    const std::vector<uint8_t> header = FloatWavHeader(channels, sampleRate, 0);
    out_.write(reinterpret_cast<const char*>(header.data()),
               static_cast<std::streamsize>(header.size()));
}

void FloatWavWriter::Write(const std::vector<float>& interleaved) {
    // Samples go out little-endian, as the file format wants; every target is.
    out_.write(reinterpret_cast<const char*>(interleaved.data()),
               static_cast<std::streamsize>(interleaved.size() * sizeof(float)));
    frames_ += interleaved.size() / channels_;
}

void FloatWavWriter::Close() {
    const std::vector<uint8_t> header = FloatWavHeader(channels_, sampleRate_, frames_);
    if (header.empty()) throw HostError(path_ + ": audio too long for a WAV file");
    out_.seekp(0);
    out_.write(reinterpret_cast<const char*>(header.data()),
               static_cast<std::streamsize>(header.size()));
    out_.close();
    if (!out_) throw HostError("cannot write " + path_);
}

}  // namespace qxhost
