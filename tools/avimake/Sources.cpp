#include "Sources.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "TestPattern.h"

namespace avimake {
namespace {

class PatternVideo : public VideoSource {
public:
    PatternVideo(uint32_t width, uint32_t height, uint32_t pixelBytes)
        : pattern_(width, height, pixelBytes) {}
    bool Next(uint64_t index, std::vector<uint8_t>& frame) override {
        pattern_.Render(index, frame);
        return true;
    }

private:
    TestPattern pattern_;
};

// Owns a FILE* opened for reading, or borrows stdin for "-".
class InputFile {
public:
    explicit InputFile(const std::string& path) : path_(path) {
        file_ = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
        if (file_ == nullptr) {
            throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
        }
    }
    ~InputFile() {
        if (file_ != nullptr && file_ != stdin) std::fclose(file_);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Reads up to size bytes; fewer only at end of input.
    size_t Read(uint8_t* data, size_t size) {
        const size_t got = std::fread(data, 1, size, file_);
        if (got < size && std::ferror(file_)) throw std::runtime_error("cannot read " + path_);
        return got;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    FILE* file_ = nullptr;
};

class RawVideo : public VideoSource {
public:
    RawVideo(const std::string& path, uint32_t width, uint32_t height, uint32_t pixelBytes)
        : input_(path), rowBytes_(size_t{width} * pixelBytes), height_(height) {}

    bool Next(uint64_t, std::vector<uint8_t>& frame) override {
        topDown_.resize(rowBytes_ * height_);
        const size_t got = input_.Read(topDown_.data(), topDown_.size());
        if (got == 0) return false;
        if (got < topDown_.size()) {
            std::fprintf(stderr, "avimake: %s ends inside a frame; the partial frame is dropped\n",
                         input_.path().c_str());
            return false;
        }
        // AVI frames with a positive biHeight are stored bottom row first.
        frame.resize(topDown_.size());
        for (uint32_t y = 0; y < height_; ++y) {
            std::memcpy(&frame[(height_ - 1 - y) * rowBytes_], &topDown_[y * rowBytes_], rowBytes_);
        }
        return true;
    }

private:
    InputFile input_;
    size_t rowBytes_;
    uint32_t height_;
    std::vector<uint8_t> topDown_;
};

class ToneAudio : public AudioSource {
public:
    ToneAudio(uint32_t rate, uint16_t channels, uint16_t bits)
        : rate_(rate), channels_(channels), bytes_(bits / 8u) {}

    uint64_t Read(uint64_t first, uint64_t count, std::vector<uint8_t>& pcm) override {
        pcm.resize(count * channels_ * bytes_);
        uint8_t* out = pcm.data();
        for (uint64_t s = first; s < first + count; ++s) {
            for (uint32_t c = 0; c < channels_; ++c) {
                const double level = 0.5 * std::sin(Phase(s, c));
                if (bytes_ == 1) {
                    *out++ = static_cast<uint8_t>(128 + std::lround(level * 127));
                } else {
                    const auto v =
                        static_cast<uint16_t>(static_cast<int16_t>(std::lround(level * 32767)));
                    *out++ = static_cast<uint8_t>(v);
                    *out++ = static_cast<uint8_t>(v >> 8);
                }
            }
        }
        return count;
    }

private:
    // Phase from the exact integer cycle position, so it stays precise however long the file.
    double Phase(uint64_t sample, uint32_t channel) const {
        const uint64_t frequency = 220u * (channel + 2);
        const uint64_t cyclePosition = (frequency * sample) % rate_;
        return 2.0 * M_PI * static_cast<double>(cyclePosition) / rate_;
    }

    uint32_t rate_;
    uint32_t channels_;
    uint32_t bytes_;
};

class RawAudio : public AudioSource {
public:
    RawAudio(const std::string& path, uint32_t blockAlign)
        : input_(path), blockAlign_(blockAlign) {}

    uint64_t Read(uint64_t, uint64_t count, std::vector<uint8_t>& pcm) override {
        pcm.resize(count * blockAlign_);
        const size_t got = input_.Read(pcm.data(), pcm.size());
        pcm.resize(got - got % blockAlign_);  // a partial sample frame at the end is dropped
        return pcm.size() / blockAlign_;
    }

private:
    InputFile input_;
    uint32_t blockAlign_;
};

}  // namespace

std::unique_ptr<VideoSource> MakePatternVideo(uint32_t width, uint32_t height,
                                              uint32_t pixelBytes) {
    return std::make_unique<PatternVideo>(width, height, pixelBytes);
}

std::unique_ptr<VideoSource> MakeRawVideo(const std::string& path, uint32_t width, uint32_t height,
                                          uint32_t pixelBytes) {
    return std::make_unique<RawVideo>(path, width, height, pixelBytes);
}

std::unique_ptr<AudioSource> MakeToneAudio(uint32_t rate, uint16_t channels, uint16_t bits) {
    return std::make_unique<ToneAudio>(rate, channels, bits);
}

std::unique_ptr<AudioSource> MakeRawAudio(const std::string& path, uint32_t blockAlign) {
    return std::make_unique<RawAudio>(path, blockAlign);
}

std::optional<uint64_t> RegularFileSize(const std::string& path) {
    struct stat st;
    if (path == "-" || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

}  // namespace avimake
