// The 'hdrl' header list and the index chunks.
#pragma once

#include <cstdint>
#include <vector>

#include "ByteBuffer.h"
#include "Options.h"
#include "StreamFormat.h"

namespace avimake {

struct SuperIndexEntry {
    uint64_t offset;    // absolute file position of the 'ix' chunk
    uint32_t size;      // of the 'ix' chunk including its 8-byte header
    uint32_t duration;  // frames, or audio sample frames, it covers
};

struct StreamTotals {
    uint64_t length = 0;    // frames or audio sample frames written
    uint32_t maxChunk = 0;  // largest chunk body
    std::vector<SuperIndexEntry> superIndex;
};

struct HeaderTotals {
    uint64_t firstSegmentFrames = 0;
    uint32_t superIndexCapacity = 0;  // entries reserved in each 'indx'
    StreamTotals video;
    StreamTotals audio;
};

// The complete LIST 'hdrl'. Its size depends only on the options and the reserved capacity,
// so it can be written first with zero totals and rewritten in place at the end.
ByteBuffer BuildHeaderList(const Options& options, const StreamFormat& format,
                           const HeaderTotals& totals);

// Where a chunk's body lies in the file.
struct ChunkRef {
    uint64_t dataPosition;
    uint32_t size;
};

// A standard ('ix##') index chunk; every body offset must be within 4 GiB above `base`.
ByteBuffer BuildStandardIndex(const std::string& indexCode, const std::string& chunkCode,
                              uint64_t base, const std::vector<ChunkRef>& chunks);

struct LegacyIndexEntry {
    std::string chunkCode;
    uint32_t flags;
    uint32_t offset;  // of the chunk header, from the 'movi' list type code
    uint32_t size;
};

ByteBuffer BuildLegacyIndex(const std::vector<LegacyIndexEntry>& entries);

}  // namespace avimake
