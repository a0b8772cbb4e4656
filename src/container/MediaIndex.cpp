#include "container/MediaIndex.h"

#include <algorithm>
#include <new>

namespace avi {

namespace {

constexpr uint64_t kSmallestFrameRecord = 8;  // an index entry or a chunk header
constexpr size_t kMostFrames = 0xFFFFFFFFu;   // dwTotalFrames counts in 32 bits

bool PushFrame(MediaIndex& index, uint64_t offset) {
    std::vector<FrameEntry>& table = index.frameTable;
    if (table.size() >= kMostFrames) return false;
    if (table.size() >= table.max_size()) throw std::bad_alloc();
    table.push_back(static_cast<FrameEntry>(offset));
    return true;
}

}  // namespace

uint32_t SampleCount(uint32_t size, const WAVEFORMATEX& format) {
    const uint32_t bitsPerFrame = static_cast<uint32_t>(format.wBitsPerSample) * format.nChannels;
    if (bitsPerFrame == 0) return 0;
    // Deliberately 32-bit: size x 8 wraps modulo 2^32 as the format defines.
    return static_cast<uint32_t>(size * 8u) / bitsPerFrame;
}

void PrepareFrameTable(MediaIndex& index, uint32_t totalFrames, uint64_t fileSize, bool video) {
    // The same refusal on every target: a table whose byte size passes 32 bits.
    if (static_cast<uint64_t>(totalFrames) * sizeof(FrameEntry) > 0xFFFFFFFFu) {
        throw std::bad_alloc();
    }
    index.frameTable.clear();
    // Only a video stream fills the table; an audio one would hold the room for nothing.
    if (!video) return;
    // Every frame costs the file at least an 8-byte entry or chunk header, so
    // the file bounds what is worth reserving; the table grows past it if needed.
    const uint64_t fileCanHold = fileSize / kSmallestFrameRecord;
    index.frameTable.reserve(static_cast<size_t>(std::min<uint64_t>(totalFrames, fileCanHold)));
}

bool AppendFrame(MediaIndex& index, uint64_t offset) {
    for (; index.pendingDropFrames > 0; --index.pendingDropFrames) {
        if (!PushFrame(index, offset)) return false;
    }
    return PushFrame(index, offset);
}

bool AppendDropFrame(MediaIndex& index) {
    if (index.frameTable.empty()) {
        // No picture yet: it will show the first one that comes.
        if (index.pendingDropFrames >= kMostFrames) return false;
        ++index.pendingDropFrames;
        return true;
    }
    return PushFrame(index, static_cast<uint64_t>(index.frameTable.back()));
}

void AppendAudioChunk(MediaIndex& index, const WAVEFORMATEX& format, uint64_t offset,
                      uint32_t size) {
    // 64-bit unsigned sums: a hostile count cannot overflow a signed value.
    const uint64_t end = index.sampleCounter + SampleCount(size, format);
    index.audioChunks.push_back(AudioChunk{static_cast<int64_t>(index.sampleCounter),
                                           static_cast<int64_t>(end), static_cast<int64_t>(offset),
                                           size});
    index.sampleCounter = end;
}

void TrimFrameTable(MediaIndex& index) {
    // Frames of later segments grow the table by doubling past the main
    // header's count; the table lives as long as the stream, so give the
    // unused room back (it can be as much as the table itself).
    std::vector<FrameEntry>& table = index.frameTable;
    if (table.capacity() - table.size() > table.size() / 8) table.shrink_to_fit();
}

}  // namespace avi
