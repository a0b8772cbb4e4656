#include "container/MediaIndex.h"

#include <algorithm>
#include <new>

namespace avi {

namespace {

constexpr uint64_t kSmallestFrameRecord = kStandardIndexEntrySize;  // = a chunk header
constexpr size_t kMostFrames = 0xFFFFFFFFu;  // dwTotalFrames counts in 32 bits

// `size`: the bytes the frame's chunk holds; a chunk shorter than a frame is
// noted with the frame's number.
bool PushFrame(MediaIndex& index, uint64_t offset, uint32_t size) {
    std::vector<FrameEntry>& table = index.frameTable;
    if (table.size() >= kMostFrames) return false;
    if (table.size() >= table.max_size()) throw std::bad_alloc();
    if (size < index.frameSize) {
        index.shortFrames.push_back(ShortFrame{static_cast<uint32_t>(table.size()), size});
    }
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
    index.fileEnd = fileSize;
    // Only a video stream fills the table; an audio one would hold the room for nothing.
    if (!video) return;
    // Every frame costs the file at least an 8-byte entry or chunk header, so
    // the file bounds what is worth reserving; the table grows past it if needed.
    const uint64_t fileCanHold = fileSize / kSmallestFrameRecord;
    index.frameTable.reserve(static_cast<size_t>(std::min<uint64_t>(totalFrames, fileCanHold)));
}

bool AppendFrame(MediaIndex& index, uint64_t offset, uint32_t size) {
    // A chunk whose data would start past the end of the file is no frame of it.
    if (offset > index.fileEnd) return true;
    ++index.nonEmptyChunks;
    index.smallestChunk = std::min(index.smallestChunk, size);
    if (size < index.frameSize) {
        if (index.shortChunks == 0) index.firstShortSize = size;
        ++index.shortChunks;
    }
    for (; index.pendingDropFrames > 0; --index.pendingDropFrames) {
        if (!PushFrame(index, offset, size)) return false;
    }
    return PushFrame(index, offset, size);
}

bool AppendDropFrame(MediaIndex& index) {
    if (index.frameTable.empty()) {
        // No picture yet: it will show the first one that comes.
        if (index.pendingDropFrames >= kMostFrames) return false;
        ++index.pendingDropFrames;
        return true;
    }
    // The previous frame again, as much of it as its chunk holds.
    const std::vector<ShortFrame>& shortFrames = index.shortFrames;
    const bool previousShort =
        !shortFrames.empty() && shortFrames.back().frame + uint64_t{1} == index.frameTable.size();
    return PushFrame(index, static_cast<uint64_t>(index.frameTable.back()),
                     previousShort ? shortFrames.back().size : index.frameSize);
}

uint32_t FrameBytesHeld(const std::vector<ShortFrame>& shortFrames, uint32_t frameSize,
                        uint64_t frame) {
    const auto found = std::lower_bound(
        shortFrames.begin(), shortFrames.end(), frame,
        [](const ShortFrame& entry, uint64_t number) { return entry.frame < number; });
    return found != shortFrames.end() && found->frame == frame ? found->size : frameSize;
}

void AppendAudioChunk(MediaIndex& index, const WAVEFORMATEX& format, uint64_t offset,
                      uint32_t size) {
    // Samples the file does not hold are not counted: the size is cut at its end.
    if (offset > index.fileEnd) return;
    if (size > index.fileEnd - offset) size = static_cast<uint32_t>(index.fileEnd - offset);
    // The chunk list is the one table an index can make larger than the
    // file: a record takes 32 bytes, a standard index entry 8. Past the first
    // kAudioChunksAlways records it holds at most the file's size, one record
    // per 32 bytes of file, and a list that would grow beyond is refused as
    // out of memory. A real file's audio chunk takes far more of the file
    // than that (hundreds of bytes of samples at least, its header and its
    // index entries); only entries naming the same few bytes over and over
    // come near it.
    if (index.audioChunks.size() >= kAudioChunksAlways &&
        index.audioChunks.size() >= index.fileEnd / sizeof(AudioChunk)) {
        throw std::bad_alloc();
    }
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
