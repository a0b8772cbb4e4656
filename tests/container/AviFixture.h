// Small AVI files built in the test, chunk by chunk, and a reader opened on
// them the way the opening sequence leaves it before the header walk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "reader/Mirolan.h"
#include "support/Bytes.h"
#include "support/TempDir.h"

namespace fixture {

// Appends RIFF structures to a little-endian byte builder. Every method
// writes one record field by field; offsets returned are absolute.
class AviBuilder {
public:
    // 'RIFF'/'LIST' header with its size left open; returns where it starts.
    size_t OpenList(const char (&code)[5], const char (&type)[5]);
    // Patches the size of the list opened at `start` to cover what follows it.
    void CloseList(size_t start);

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
    // Standard index header ('ix00'/'ix01') with its size left open.
    size_t OpenIndex(const char (&code)[5], const char (&chunkId)[5], uint64_t baseOffset);
    void IndexEntry(uint32_t offset, uint32_t size);
    // Patches the index chunk's size to cover its entries.
    void CloseIndex(size_t start);

    uint64_t size() const { return bytes.size(); }
    testsupport::Bytes bytes;
};

// The layout most writers produce: 'RIFF' 'AVI ', 'hdrl' with 'avih' and a
// video and an audio 'strl' (each with an 'indx'), an 'odml' list, an
// odd-sized 'JUNK', then 'movi' with interleaved '00db'/'01wb' chunks and
// the two standard indexes at its end, then 'idx1'.
struct ExampleFile {
    AviBuilder avi;
    std::vector<uint64_t> frameOffsets;                      // data offset per frame
    std::vector<std::pair<uint64_t, uint32_t>> audioChunks;  // data offset, size
    uint64_t videoIndexBase = 0;
    uint64_t audioIndexBase = 0;
};
struct ExampleOptions {
    uint32_t frames = 3;
    uint32_t sizeImage = 64;
    uint32_t audioChunkSize = 40;  // 16-bit stereo: 10 samples
    uint32_t totalFramesField = 3;
    uint16_t channels = 2;
    uint16_t bitsPerSample = 16;
};
ExampleFile BuildExample(const ExampleOptions& options = ExampleOptions{});

// Opens 'RIFF' 'AVI ' and writes a whole 'hdrl' (main header with the
// has-index flag, a video and an audio 'strl'); returns the 'RIFF' start.
size_t Headers(AviBuilder& avi, const ExampleOptions& options = ExampleOptions{});
// A 'movi' list of `frames` '00db' chunks followed by their 'ix00' (base
// offset: the list's start); returns the frames' data offsets.
std::vector<uint64_t> VideoMovie(AviBuilder& avi, uint32_t frames, uint32_t sizeImage);

// Writes the file and opens a reader on it with the file, its mapping, its
// size and the granularity set, as the opening sequence does.
class MappedReader {
public:
    enum Medium { kVideo, kAudio };
    MappedReader(const std::string& path, Medium medium);
    CMirolan& operator*() { return *reader_; }
    CMirolan* operator->() { return reader_.get(); }

private:
    std::unique_ptr<CMirolan> reader_;
};

// Writes `bytes` to `name` in `dir` and opens a reader of `medium` on it.
std::unique_ptr<MappedReader> Open(const testsupport::TempDir& dir, const std::string& name,
                                   const std::vector<uint8_t>& bytes, MappedReader::Medium medium);

}  // namespace fixture
