#include "RecordWriter.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <numeric>
#include <stdexcept>

namespace avimake {

std::string FrameLine(uint32_t stream, uint64_t index, uint64_t size, const std::string& md5) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "%" PRIu32 ", %10" PRIu64 ", %10" PRIu64 ", %8d, %8" PRIu64 ", %s", stream, index,
                  index, 1, size, md5.c_str());
    return line;
}

RecordWriter::RecordWriter(const std::string& path, const Options& options,
                           const StreamFormat& format)
    : path_(path), hasAudio_(format.hasAudio), audioStream_(format.hasVideo ? 1 : 0) {
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr) {
        throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    }
    Line("#format: avimake record");
    if (format.hasVideo) {
        // Frames count in units of the video time base, reduced like ffmpeg reports it.
        const uint32_t divisor = std::gcd(options.frameDuration, 10000000u);
        Line("#tb 0: " + std::to_string(options.frameDuration / divisor) + "/" +
             std::to_string(10000000u / divisor));
        Line("#media_type 0: video");
        Line("#dimensions 0: " + std::to_string(options.width) + "x" +
             std::to_string(options.height));
        Line("#stream#, dts,        pts, duration,     size, hash");
    }
}

RecordWriter::~RecordWriter() {
    if (file_ != nullptr) std::fclose(file_);
}

void RecordWriter::Line(const std::string& text) {
    if (std::fprintf(file_, "%s\n", text.c_str()) < 0) {
        throw std::runtime_error("cannot write " + path_);
    }
}

void RecordWriter::AddFrame(uint64_t index, const std::vector<uint8_t>& frame) {
    Line(FrameLine(0, index, frame.size(), tools::Md5::Hex(frame.data(), frame.size())));
}

void RecordWriter::AddAudio(const std::vector<uint8_t>& pcm) {
    audioMd5_.Update(pcm.data(), pcm.size());
    audioBytes_ += pcm.size();
}

void RecordWriter::Finish(uint64_t frames, uint64_t samples) {
    Line("#frames: " + std::to_string(frames));
    if (hasAudio_) {
        Line("#audio_stream: " + std::to_string(audioStream_));
        Line("#audio_samples: " + std::to_string(samples));
        Line("#audio_bytes: " + std::to_string(audioBytes_));
        Line("#audio_md5: " + audioMd5_.HexDigest());
    }
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (closed != 0) throw std::runtime_error("cannot write " + path_);
}

}  // namespace avimake
