// The --record text: per-frame lines in the layout of ffmpeg's framemd5 muxer, so its
// output for the finished file can be compared line by line, plus the audio's MD5.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Options.h"
#include "StreamFormat.h"
#include "common/Md5.h"

namespace avimake {

class RecordWriter {
public:
    RecordWriter(const std::string& path, const Options& options, const StreamFormat& format);
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    void AddFrame(uint64_t index, const std::vector<uint8_t>& frame);
    void AddAudio(const std::vector<uint8_t>& pcm);
    void Finish(uint64_t frames, uint64_t samples);

private:
    void Line(const std::string& text);

    std::string path_;
    FILE* file_ = nullptr;
    bool hasAudio_;
    uint32_t audioStream_;
    tools::Md5 audioMd5_;
    uint64_t audioBytes_ = 0;
};

// "0,          3,          3,        1,   307200, <md5>": stream, dts, pts, duration, size, md5.
std::string FrameLine(uint32_t stream, uint64_t index, uint64_t size, const std::string& md5);

}  // namespace avimake
