// The two tables that serving needs, built at open by one of the index
// sources: the frame table (one file offset per frame) and the audio chunk
// list (one record per audio data chunk, with the samples it holds).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "container/AviRecords.h"

// Absolute file offset of one frame's pixel data (the byte after its chunk header).
using FrameEntry = int64_t;

// One audio data chunk: the samples [firstSample, endSample) stored at `offset`.
struct AudioChunk {
    int64_t firstSample;
    int64_t endSample;
    int64_t offset;
    uint32_t size;
};

// A frame whose chunk holds fewer bytes than a frame: the frame's number and
// the bytes its chunk holds (what is read of it; the rest is zero).
struct ShortFrame {
    uint32_t frame;
    uint32_t size;
};

namespace avi {

// Which source built the tables.
enum class IndexSource : uint8_t { None, StandardIndex, Idx1, MovieScan, SuperIndex };

struct MediaIndex {
    IndexSource source = IndexSource::None;
    std::vector<FrameEntry> frameTable;
    std::deque<AudioChunk> audioChunks;
    // Drop frames met before any picture: each shows the first picture that
    // follows, so they are stored once that picture is known.
    uint32_t pendingDropFrames = 0;
    // File offset just past the last chunk an index listed: where a scan for
    // what the index does not cover starts.
    uint64_t indexedEnd = 0;
    uint64_t sampleCounter = 0;  // endSample of the last audio chunk
    // The base offset of the last standard index header read on the way to
    // the tables (the served stream's first one when its index was used).
    int64_t baseOffset = 0;

    // Set before any source appends. Video: the bytes of one stored frame.
    // Both: the end of the file, past which nothing is counted.
    uint32_t frameSize = 0;
    uint64_t fileEnd = UINT64_MAX;
    // Video frames whose chunk is shorter than a frame, in frame order, and
    // how many chunks of a size above 0 were met, and how many of them short.
    std::vector<ShortFrame> shortFrames;
    uint64_t nonEmptyChunks = 0;
    uint64_t shortChunks = 0;
    uint32_t firstShortSize = 0;          // the first short chunk's size, for a refusal
    uint32_t smallestChunk = UINT32_MAX;  // the smallest video chunk of a size above 0
    uint64_t paletteChanges = 0;          // the video stream's '##pc' chunks met
};

// Sample frames in an audio chunk of `size` bytes: (size x 8) / (bits x
// channels) in unsigned 32-bit arithmetic, 0 when bits x channels is 0.
uint32_t SampleCount(uint32_t size, const WAVEFORMATEX& format);

// Sizes the frame table for a main header's frame count: throws
// std::bad_alloc when count x 8 does not fit 32 bits, and otherwise reserves
// no more entries than a file of `fileSize` bytes could hold (nothing for an
// audio stream). The table starts empty and grows as frames are found.
// Sets the file's end; frameSize is the caller's.
void PrepareFrameTable(MediaIndex& index, uint32_t totalFrames, uint64_t fileSize, bool video);

// Appends one frame's offset (and any drop frames waiting for a picture),
// whose chunk declares `size` bytes (above 0): a chunk shorter than a frame
// is noted in shortFrames. A frame whose data would start past the end of
// the file is not counted. False when the table already holds as many
// frames as a 32-bit count can say; the caller then stops adding.
bool AppendFrame(MediaIndex& index, uint64_t offset, uint32_t size);

// Appends a drop frame: a frame of its own whose picture is the previous
// frame's. False as AppendFrame.
bool AppendDropFrame(MediaIndex& index);

// Records the chunk list always takes; past them, no more than one per 32
// bytes of file (see AppendAudioChunk).
constexpr size_t kAudioChunksAlways = 64 * 1024;

// Appends the chunk's record after the last one; a chunk counts the samples
// that `format` says its size holds, its size cut at the end of the file (a
// chunk that starts past it is not appended). Throws std::bad_alloc when the
// list already holds kAudioChunksAlways records and one per 32 bytes of the
// file: the chunk list never takes more memory than the file's size.
void AppendAudioChunk(MediaIndex& index, const WAVEFORMATEX& format, uint64_t offset,
                      uint32_t size);

// The bytes of frame `frame` that its chunk holds: the frame size, or less
// for a short chunk.
uint32_t FrameBytesHeld(const std::vector<ShortFrame>& shortFrames, uint32_t frameSize,
                        uint64_t frame);

// Gives back the room a table grown by doubling does not use.
void TrimFrameTable(MediaIndex& index);

}  // namespace avi
