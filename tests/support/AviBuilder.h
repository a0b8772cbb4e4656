#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/Bytes.h"

namespace testsupport {

// Appends RIFF structures to a little-endian byte builder: the one place
// tests write AVI bytes. Every method writes one record field by field;
// positions taken and returned are file offsets, which run ahead of the bytes
// held once a hole is left (see Hole).
class AviBuilder {
public:
    // 'RIFF'/'LIST' header with its size left open; returns where it starts.
    uint64_t OpenList(const char (&code)[5], const char (&type)[5]);
    // A chunk header with its size left open; returns where it starts.
    uint64_t OpenChunk(const char (&code)[5]);
    // Patches the size of the list, chunk or index opened at `start` to cover
    // what follows it (all ones when that does not fit 32 bits).
    void Close(uint64_t start);

    // 'avih' chunk. `dwSize` is the size field written; the body is always 56 bytes.
    void MainHeader(uint32_t flags, uint32_t totalFrames, uint32_t dwSize = 56);
    // 'strh' chunk of the given type and handler code (all zero bytes for 0).
    void StreamHeader(const char (&type)[5], const char (&handler)[5], uint32_t dwSize = 56);
    void StreamHeader(const char (&type)[5], uint32_t dwSize = 56);
    // 'strf' with a 40-byte bitmap header.
    void BitmapFormat(uint32_t sizeImage, uint32_t dwSize = 40);
    // 'strf' with a wave format; `bodySize` 16 omits the cbSize field.
    void WaveFormat(uint16_t channels, uint16_t bitsPerSample, uint32_t bodySize = 18);
    // 'strh' with the given timing: scale and rate (frames or samples per
    // second = rate / scale) and length.
    void TimedStreamHeader(const char (&type)[5], const char (&handler)[5], uint32_t scale,
                           uint32_t rate, uint32_t length);
    // 'strf' with a bitmap header of any shape; `dwSize` 52 adds the three
    // BI_BITFIELDS masks (`masks`, standard BGRA when null).
    void Bitmap(int32_t width, int32_t height, uint16_t bitCount, uint32_t compression,
                uint32_t sizeImage, uint32_t dwSize = 40, const uint32_t* masks = nullptr);
    // 'strf' with a wave format of any tag; `bodySize` 16 omits cbSize, 40
    // writes WAVEFORMATEXTENSIBLE whose sub-format starts with `subFormat`.
    void Wave(uint16_t tag, uint16_t channels, uint16_t bitsPerSample, uint32_t bodySize = 18,
              uint16_t subFormat = 1);
    // A chunk followed by a pad byte when its size is odd; returns the data's offset.
    uint64_t PaddedChunk(const char (&code)[5], uint32_t size, uint8_t fill = 0);
    // 'idx1' entry: chunk id, flags, offset, size (16 bytes, no header).
    void Idx1Entry(const char (&code)[5], uint32_t offset, uint32_t size, uint32_t flags = 0x10);
    // Any chunk with `size` data bytes of `fill`; returns the data's offset.
    uint64_t Chunk(const char (&code)[5], uint32_t size, uint8_t fill = 0);
    // A chunk header only, with the given size field and no data.
    void ChunkHeader(const char (&code)[5], uint32_t size);
    // Standard index header ('ix00'/'ix01') with its size left open (Close
    // patches it to cover the entries). Its entries in use count the
    // IndexEntry calls that follow, as a writer fills them, unless a count
    // is given.
    static constexpr uint32_t kCountEntries = 0xFFFFFFFFu;
    uint64_t OpenIndex(const char (&code)[5], const char (&chunkId)[5], uint64_t baseOffset,
                       uint32_t entriesInUse = kCountEntries);
    void IndexEntry(uint32_t offset, uint32_t size);

    // Leaves `size` zero bytes here that are never held: the file written
    // from the builder has them as a sparse hole. One hole at the most.
    void Hole(uint64_t size);
    bool hasHole() const { return hasHole_; }
    size_t holeAt() const { return holeAt_; }  // where in `bytes` the hole is
    uint64_t holeSize() const { return holeSize_; }

    // The file offset of the next byte appended.
    uint64_t Position() const { return bytes.size() + (hasHole_ ? holeSize_ : 0); }
    uint64_t size() const { return Position(); }
    Bytes bytes;

private:
    // The bodies of 'strh', BITMAPINFOHEADER and the wave format's first 16 bytes.
    void StreamHeaderRecord(const char (&type)[5], const char (&handler)[5], uint32_t scale,
                            uint32_t rate, uint32_t length);
    void BitmapRecord(int32_t width, int32_t height, uint16_t bitCount, uint32_t compression,
                      uint32_t sizeImage);
    void WaveRecord(uint16_t tag, uint16_t channels, uint16_t bitsPerSample, uint32_t sampleRate,
                    uint32_t bytesPerSecond);
    size_t Held(uint64_t position) const;  // a file offset as an index into `bytes`

    bool countingIndex_ = false;  // IndexEntry counts into the open index's header
    uint64_t openIndex_ = 0;
    uint32_t indexEntries_ = 0;
    bool hasHole_ = false;
    size_t holeAt_ = 0;
    uint64_t holeSize_ = 0;
};

// BuildAvi writes a small OpenDML AVI file with the builder above: 'hdrl' with 'avih' and one
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
