// What `qxhost framemd5` needs to print the lines ffmpeg's framemd5 muxer
// prints for a file: how ffmpeg numbers the file's streams, its time bases and
// aspect ratio, how it cuts the audio into packets, the sample conversion to
// its signed 16-bit output, and the order in which it interleaves the lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Commands.h"

namespace qxhost {

// From the file's header list: the stream numbers of the first video and the
// first audio stream (-1 when none), the sample aspect ratio of video
// stream `videoStream` from its 'vprp' record (0/1 when it has none), as
// ffmpeg reads them, and the first video stream's rows (|biHeight|, 0 when
// its format says none).
struct HeaderFacts {
    int videoIndex = -1;
    int audioIndex = -1;
    Rational sampleAspect{0, 1};
    uint32_t videoRows = 0;
};
HeaderFacts ScanHeaders(const std::vector<uint8_t>& fileStart, int videoStream);
// The first bytes of `path` (UTF-8), as many as the header list needs (at
// most 4 MiB); empty when the file cannot be read.
std::vector<uint8_t> ReadFileStart(const std::string& path);

// The packets ffmpeg's AVI reader makes of one audio chunk of `first` ..
// `end` samples: pieces of at most 1024 samples when the stream header's
// sample size is 2 to 31 bytes, of one sample when it is 32 or more, the
// whole chunk otherwise. Appends [start, end) pairs.
void AudioPackets(int64_t first, int64_t end, uint32_t headerSampleSize,
                  std::vector<std::pair<int64_t, int64_t>>& packets);

// The plug-in's float back to the stored sample: x / 32767 for 16 bits,
// (x - 128) / 127 for 8 bits (as unsigned, 0 .. 255).
int16_t FloatToPcm16(float value);
uint8_t FloatToPcm8(float value);

// ffmpeg's names of the default channel layouts: "mono", "stereo", ...; "N
// channels" beyond eight.
std::string ChannelLayoutName(int channels);

// The header lines of one stream.
std::string VideoHeader(int index, const Rational& timeBase, int32_t width, int32_t height,
                        const Rational& sampleAspect);
std::string AudioHeader(int index, const Rational& timeBase, const char* codec, int sampleRate,
                        int channels);

// One line of output with the time it is ordered by: ffmpeg writes packets
// in order of their time (pts x timeBase), the lower stream number first on a
// tie.
struct TimedLine {
    int stream = 0;
    int64_t pts = 0;
    Rational timeBase;
    std::string text;
};
// True when a's time is before b's: the exact comparison of
// a.pts x a.timeBase.num x b.timeBase.den with b's, in 128 bits.
bool TimeBefore(const TimedLine& a, const TimedLine& b);
// Merges the lines of two streams, each in time order, as ffmpeg's muxer
// interleaves them.
std::vector<TimedLine> Interleave(std::vector<TimedLine> first, std::vector<TimedLine> second);
std::string FrameMd5LineOf(int stream, int64_t pts, int64_t duration, uint64_t size,
                           const std::string& md5);

}  // namespace qxhost
