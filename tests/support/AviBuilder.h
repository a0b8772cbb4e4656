#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Builds a small OpenDML AVI file in memory: 'hdrl' with 'avih' and one
// 'strl' per stream, a 'movi' list of interleaved '00db' frames and '01wb'
// PCM chunks, an 'ix00' and 'ix01' standard index at the end of 'movi', then
// 'idx1'. Every field can be bent to make the malformed files tests need.
struct AviLayout {
    int32_t width = 4;
    int32_t height = 2;
    uint16_t bitCount = 32;
    uint32_t frames = 3;
    uint32_t frameDuration = 400000;   // video dwScale, in 100 ns units at the default rate
    uint32_t videoRate = 10000000;     // video dwRate: frames per second = rate / scale
    int64_t sizeImage = -1;            // biSizeImage; -1: width * |height| * bitCount / 8
    uint32_t avihFrames = UINT32_MAX;  // dwTotalFrames; UINT32_MAX: the real count
    bool hasIndexFlag = true;
    bool withAudio = true;
    bool withVideo = true;
    uint16_t channels = 2;
    uint16_t bitsPerSample = 16;
    uint32_t sampleRate = 48000;
    int64_t audioRate = -1;   // audio dwRate; -1: sampleRate * block align
    int64_t audioScale = -1;  // audio dwScale; -1: block align
    uint32_t samplesPerChunk = 100;
    uint32_t audioLength = UINT32_MAX;  // dwLength; UINT32_MAX: the real count
    uint32_t junkBeforeFrames = 0;      // a 'JUNK' chunk of this size opens 'movi', left as a hole
};

struct BuiltAvi {
    std::vector<uint8_t> bytes;          // the whole file, or its head when there is a hole
    uint64_t holeSize = 0;               // zero bytes that follow the head, never written
    std::vector<uint8_t> tail;           // what follows the hole
    std::vector<uint64_t> frameOffsets;  // data offset of each frame
    std::vector<uint8_t> pcm;            // all audio bytes, in order
};

// Frame k's pixel bytes are a pattern derived from k, so that any frame can
// be told from any other.
std::vector<uint8_t> FramePixels(uint32_t frame, size_t size);

BuiltAvi BuildAvi(const AviLayout& layout);

// Writes the file, leaving its hole sparse.
void WriteAvi(const std::string& path, const BuiltAvi& built);

// The builder's seed files, by stable name: small valid files of every stream
// layout and a few with bent fields, each a different path through the open.
// The fuzz seeds and the served-data baseline are made from this one list.
struct NamedLayout {
    std::string name;
    AviLayout layout;
};
std::vector<NamedLayout> SeedLayouts();

}  // namespace testsupport
