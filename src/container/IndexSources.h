// Index sources that build the frame table or the audio chunk list of the
// served stream. Each reads through its own windows and appends to a
// MediaIndex; OpenIndex chooses among them.
#pragma once

#include <cstdint>

#include "container/AviLayout.h"
#include "container/FileSource.h"
#include "container/MediaIndex.h"

namespace avi {

// The frame size and the chunk ids of the stream being indexed.
struct IndexTarget {
    Medium medium = Medium::Video;
    uint32_t frameSize = 0;  // video: the bytes of one stored frame
    const AviLayout* layout = nullptr;
};

// OpenDML standard index ('ix##'): reads the 8-byte entries from the
// layout's first entry up to the end of the index chunk. Entry sizes lose
// bit 31 (the OpenDML not-a-key-frame flag). Video: a size of 0 is a drop
// frame, the frame size a frame, any other size ends the index. Audio: a
// size of 0 ends the index. Sets `indexedEnd` past the last chunk listed.
// False only when the first view cannot be mapped; then nothing is stored.
// May throw std::bad_alloc.
bool ReadStandardIndex(const FileSource& source, const IndexTarget& target, MediaIndex& index);

// AVI 1.0 index ('idx1'): 16-byte entries (chunk id, flags, offset, size)
// read through one view of the whole chunk. Offsets count from the 'movi'
// code or from the start of the file; the first entry decides, checked
// against the chunk header it points at. Video: a size of 0 is a drop frame,
// any other size a frame; audio: every chunk of a size above 0. False when
// the chunk cannot be read or neither reading of the offsets fits; then
// nothing is stored. May throw std::bad_alloc.
bool ReadIdx1Index(const FileSource& source, const IndexTarget& target, MediaIndex& index);

// The movie-data scan: from `start` to the end of the file, chunk header by
// chunk header, each chunk stepped by its own size (and its pad byte): the
// served stream's chunks are appended (a video chunk of size 0 is a drop
// frame, any other video chunk a frame stepped by the frame size, an audio
// chunk of size 0 is skipped), a 'RIFF' form and a 'LIST'
// 'movi' or 'rec ' list are entered, any other chunk or list stepped over.
// May throw std::bad_alloc.
void ScanMovieData(const FileSource& source, const IndexTarget& target, uint64_t start,
                   MediaIndex& index);

// Which source built the tables. A super-index source ('indx' read from the
// header list, straight to every segment's standard index) is the cheapest:
// it slots in here and at the head of OpenIndex.
enum class IndexSource : uint8_t { None, StandardIndex, Idx1, MovieScan };

// The cheapest sound source: the walk's standard index (then a scan of the
// movie data after the last chunk it lists), else 'idx1' (then a scan of
// what follows the first 'RIFF' form), else a scan of every 'movi' list. A
// standard index that cannot be read at all counts as none.
// Returns the source used, or None (with `refusal` set) when there is none.
IndexSource OpenIndex(const FileSource& source, const IndexTarget& target, MediaIndex& index,
                      Refusal& refusal);

}  // namespace avi
