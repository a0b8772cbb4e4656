// Small AVI files built in the test, chunk by chunk, and a reader opened on
// them the way the opening sequence leaves it before the header walk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "container/FileSource.h"
#include "container/OpenStream.h"
#include "reader/Owners.h"
#include "support/AviBuilder.h"
#include "support/Bytes.h"
#include "support/TempDir.h"

namespace fixture {

// The layout most writers produce: 'RIFF' 'AVI ', 'hdrl' with 'avih' and a
// video and an audio 'strl' (each with an 'indx'), an 'odml' list, an
// odd-sized 'JUNK', then 'movi' with interleaved '00db'/'01wb' chunks and
// the two standard indexes at its end, then 'idx1'.
struct ExampleFile {
    testsupport::AviBuilder avi;
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
uint64_t Headers(testsupport::AviBuilder& avi, const ExampleOptions& options = ExampleOptions{});
// A 'movi' list of `frames` '00db' chunks followed by their 'ix00' (base
// offset: the list's start); returns the frames' data offsets.
std::vector<uint64_t> VideoMovie(testsupport::AviBuilder& avi, uint32_t frames, uint32_t sizeImage);

// Writes the file and opens it with its mapping, size and granularity, as
// the opening sequence does; ReadContainer() then reads it as the open does,
// into the values this object holds.
class MappedReader : public avi::StreamTables {
public:
    enum Medium { kVideo, kAudio };
    MappedReader(const std::string& path, Medium which);
    MappedReader& operator*() { return *this; }
    MappedReader* operator->() { return this; }

    avi::FileSource Source() const { return avi::FileSource{mapping.get(), fileSize, granularity}; }
    bool ReadContainer() {
        refusal = avi::OpenStream(Source(), medium, *this);
        return !refusal.Refused();
    }

    avi::Refusal refusal{};  // kind None when the stream can be served
    int64_t fileSize = 0;
    uint32_t granularity = 0;

private:
    avi::Medium medium;
    FileOwner file;
    MappingOwner mapping;
};

// Writes `bytes` to `name` in `dir` and opens a reader of `medium` on it.
std::unique_ptr<MappedReader> Open(const testsupport::TempDir& dir, const std::string& name,
                                   const std::vector<uint8_t>& bytes, MappedReader::Medium medium);

}  // namespace fixture
