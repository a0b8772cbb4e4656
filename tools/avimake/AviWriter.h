// Lays out the RIFF segments: header, 'movi' lists with interleaved chunks, the standard
// indexes closing each 'movi', 'idx1' after the first one, and the header rewrite at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "FileWriter.h"
#include "Headers.h"
#include "Options.h"
#include "StreamFormat.h"

namespace avimake {

class AviWriter {
public:
    AviWriter(const Options& options, const StreamFormat& format, uint32_t superCapacity);

    // Writes the RIFF header, a placeholder 'hdrl' and opens the first 'movi'.
    void Begin();
    // One interleave unit: a frame (nullptr without video) and the PCM that plays during it.
    void AddUnit(const std::vector<uint8_t>* frame, const std::vector<uint8_t>& pcm);
    // Closes the last segment, rewrites 'hdrl' with the totals and closes the file.
    void Finish();

    const HeaderTotals& totals() const { return totals_; }

private:
    struct StreamIndex {
        std::string chunkCode;
        std::string indexCode;
        StreamTotals* totals;
        std::vector<ChunkRef> segmentChunks;
    };

    void OpenMovi();
    void WriteGap();
    void WriteChunk(StreamIndex& stream, const uint8_t* data, uint32_t size);
    static uint64_t StandardIndexSpan(const StreamIndex& stream, bool adding);
    bool UnitOverflowsSegment(uint64_t unitBytes, bool addsFrame, bool addsPcm) const;
    void CloseSegment();
    void WriteStandardIndex(StreamIndex& stream, bool audio);
    void PatchSize(uint64_t chunkPosition);

    const Options& options_;
    StreamFormat format_;
    FileWriter file_;
    HeaderTotals totals_;
    StreamIndex video_;
    StreamIndex audio_;
    std::vector<LegacyIndexEntry> legacyIndex_;
    uint64_t headerPosition_ = 0;
    uint64_t headerSize_ = 0;
    uint64_t riffPosition_ = 0;
    uint64_t moviPosition_ = 0;
    uint64_t indexBase_ = 0;
    uint64_t gapBytes_ = 0;  // hole inside the current segment, not counted against the limit
    uint32_t segment_ = 0;
    uint64_t segmentUnits_ = 0;
};

}  // namespace avimake
