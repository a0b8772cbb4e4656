// Index sources that build the frame table or the audio chunk list of the
// served stream. Each reads through its own windows and appends to a
// MediaIndex; OpenIndex chooses among them.
#pragma once

#include <cstdint>
#include <vector>

#include "container/AviLayout.h"
#include "container/ByteSource.h"
#include "container/HeaderWalk.h"
#include "container/MediaIndex.h"

namespace avi {

// The frame size and the chunk ids of the stream being indexed.
struct IndexTarget {
    Medium medium = Medium::Video;
    uint32_t frameSize = 0;  // video: the bytes of one stored frame
    const AviLayout* layout = nullptr;
    // Video: the bytes of a frame as a writer that pads the layout's rows
    // stores it (format::PaddedFrameSize), 0 when it never does. A chunk of
    // that size is a whole frame too: an index entry of it is a frame, and
    // the scan steps over it whole.
    uint32_t paddedFrameSize = 0;

    bool IsFrameSize(uint32_t size) const {
        return size == frameSize || (paddedFrameSize != 0 && size == paddedFrameSize);
    }
    // The bytes the scan steps after a video chunk's header: the frame
    // size, whatever the chunk says, unless it holds the padded frame.
    uint32_t FrameStep(uint32_t size) const {
        return paddedFrameSize != 0 && size == paddedFrameSize ? size : frameSize;
    }
};

// OpenDML standard index ('ix##'): reads the 8-byte entries from the
// layout's first entry: as many as its header counts in use, and no more
// than the chunk (and the file) holds; what a writer reserved after them is
// not the stream's. Entry sizes lose bit 31 (the OpenDML not-a-key-frame
// flag). An offset of 0 (the base itself, never a chunk's data: an entry
// never written) ends the index. Video: a size of 0 is a drop frame, the
// frame size (or the padded frame size) a frame, any other size ends the index. Audio: a size of 0
// ends the index. Sets `indexedEnd` past the last chunk listed.
// False only when the first view cannot be mapped; then nothing is stored.
// May throw std::bad_alloc.
bool ReadStandardIndex(const ByteSource& source, const IndexTarget& target, MediaIndex& index);

// The entries of a standard index in a view (`count` entries of 8 bytes
// at `entries`, offsets from `base`), appended by the rules of
// ReadStandardIndex. Returns how many entries were taken before one ended
// the index. May throw std::bad_alloc.
uint64_t AppendStandardEntries(const uint8_t* entries, uint64_t count, uint64_t base,
                               const IndexTarget& target, MediaIndex& index);

// Of the `count` entries of an index (or of a run of chunks) the shortcuts
// take, whether entry n is one whose chunk is read where the walk or the
// scan would meet it: every entry of up to 16, else the first, the last and
// entries spread evenly between.
constexpr uint64_t kMostCheckedEntries = 16;
constexpr bool CheckedEntry(uint64_t n, uint64_t count) {
    return count <= kMostCheckedEntries || n + 1 == count ||
           (n * kMostCheckedEntries) % count < kMostCheckedEntries;
}

// What a shortcut source (the super index, 'idx1' runs) gives back: taken,
// or not, with the reason the next source is tried instead (for the log;
// empty when there is nothing to say, as for a source that is absent).
struct Shortcut {
    bool taken = false;
    char why[128] = {};
};

// Whether 'idx1' lets the walk step over the first 'movi' list in runs:
// reads the 'idx1' chunk that follows the first 'movi' list (found from the
// list's declared size, not by stepping through it) and gathers the runs of
// chunks it lists that follow each other in the list, in file order, with
// media chunk codes only (none the walk acts on), each of 4 chunks or more
// (shorter ones save no read). The checked chunks of
// each run (CheckedEntry: all of a run of up to 16) carry the code and size
// their entries give; a run where one does not is left to the walk. A walk
// that reaches a run's first chunk would step through the run to its end
// and meet nothing else, so it may jump there (ResumeWalk). What is not
// proven: that an unchecked chunk inside a longer run has the header its
// entry gives. The entries are read a view at a time (kIdx1EntriesPerView)
// and the chunk headers through one window moving forward through the file,
// never one read per entry. When an entry cannot be read, no run is given. Taken (with the runs,
// perhaps none) unless there is no 'idx1' right after the list (no reason) or where its offsets
// count from is unknown (the reason).
Shortcut Idx1MovieRuns(const ByteSource& source, const AviLayout& layout,
                       std::vector<MovieRun>& runs);

// OpenDML super index ('indx' of the served stream, found by the walk, which
// stopped at the first 'movi' list): the tables are built from the standard
// indexes it lists, plus a scan of what follows the last chunk listed,
// instead of the walk to the first standard index and the scan after it.
// Taken only when these hold (else not, with the reason, empty for a super
// index that lists nothing; nothing stored):
// - each listed chunk is a plain 'ix##' index of the stream's chunk id that
//   lies in the file and holds the entries it counts in use; the indexes lie
//   in file order, none overlapping or repeating another (so together they
//   count no more entries than the file holds);
// - the file's RIFF forms each open with a 'movi' list, and index k lies in
//   form k, one per form: no form is left to the walk or the scan;
// - no standard index another stream's super index lists ahead of the first
//   names the served stream;
// - the first index's entries in use are all taken by the rules of
//   ReadStandardIndex;
// - each later index lists chunks in strictly increasing file order, each
//   after the previous one's end and inside its form's 'movi' list, all
//   taken by the same rules; the scan from the last chunk listed before it
//   meets none of the stream's and lands on its first chunk; and at its
//   checked entries (CheckedEntry) the chunk header carries the code and
//   size the entry gives and the scan from the chunk's end meets none of the
//   stream's chunks before the next entry's header.
// A later index of up to 16 entries is thus checked chunk by chunk. What
// is not proven: in a longer one, the headers of the chunks between checked
// entries and the absence of a stream chunk between two unchecked
// neighbours; and that the first 'movi' list holds no unlisted standard
// index of the stream ahead of the first listed one (the walk would stop
// there). A file that lies there is served from its super index. Nothing but
// the indexes' headers is held: each index's entries are read through views
// of up to 8 MiB and appended. May throw std::bad_alloc.
Shortcut ReadSuperIndex(const ByteSource& source, const IndexTarget& target, MediaIndex& index);

// 'idx1' entries are read this many at a time, through one view that moves
// forward through the chunk (256 KiB): an open's memory does not grow with
// the index, and each entry is read once per pass into a buffer the cache
// still holds.
constexpr uint64_t kIdx1EntriesPerView = 16384;

// AVI 1.0 index ('idx1'): 16-byte entries (chunk id, flags, offset, size)
// read a view at a time (kIdx1EntriesPerView). Offsets count from the 'movi'
// code or from the start of the file; the first entry decides, checked
// against the chunk header it points at. Video: a size of 0 is a drop frame,
// any other size a frame; audio: every chunk of a size above 0. False when
// the chunk cannot be read (a read that fails part way leaves the tables as
// they were: the open reports the failure) or neither reading of the offsets
// fits; then nothing is stored. May throw std::bad_alloc.
bool ReadIdx1Index(const ByteSource& source, const IndexTarget& target, MediaIndex& index);

// The movie-data scan: from `start` to the end of the file, chunk header by
// chunk header, each chunk stepped by its own size (and its pad byte): the
// served stream's chunks are appended (a video chunk of size 0 is a drop
// frame, any other video chunk a frame stepped by the frame size (by its own
// when it holds the padded frame: IndexTarget::FrameStep), an audio
// chunk of size 0 is skipped), a 'RIFF' form and a 'LIST' 'movi' or 'rec '
// list are entered, any other chunk or list stepped over. A run of all-zero
// chunk headers is crossed as a whole (holes of a sparse file skipped
// unread); one past the declared end of a RIFF segment ends the scan. May
// throw std::bad_alloc.
void ScanMovieData(const ByteSource& source, const IndexTarget& target, uint64_t start,
                   MediaIndex& index);

// The same scan, stopped before any chunk header at or past `limit`. Returns
// the position where it stopped. `segmentEnd`: the declared end of the RIFF
// form that holds `start` when the caller knows it (else it is found).
constexpr uint64_t kFindSegmentEnd = ~uint64_t{0};
uint64_t ScanMovieRange(const ByteSource& source, const IndexTarget& target, uint64_t start,
                        uint64_t limit, MediaIndex& index, uint64_t segmentEnd = kFindSegmentEnd);

// The video stream's '##pc' (palette change) chunks from `start` up to
// `limit`, found by the same scan, which stores no frame: OpenDML standard
// indexes list no such chunks, so the movie data they cover is scanned for
// them. Reads chunk headers only, as the scan does.
uint64_t CountPaletteChanges(const ByteSource& source, const IndexTarget& target, uint64_t start,
                             uint64_t limit);

// The declared end of the RIFF segment that holds `position`, reached by
// stepping from the first segment's end over each next 'RIFF' header by its
// size; 0 when the chain of segments breaks first or runs past the file.
uint64_t SegmentEndAt(const ByteSource& source, const AviLayout& layout, uint64_t position);

// The cheapest sound source. When the walk stopped at the 'movi' list: the
// super index (one it declines is logged, line 9101, unless it lists
// nothing, and the walk goes on through the list as it would have); without
// one, the walk goes on through the list jumping over the runs of chunks an
// 'idx1' after it lists (one whose offsets cannot be placed is logged, line
// 9102). Then, as the walk ends: its standard index (then a scan of the
// movie data after the last chunk it lists), else 'idx1' (then a scan of
// what follows the first 'RIFF' form), else a scan of every 'movi' list. A
// standard index that cannot be read at all counts as none.
// Sets index.source to the source used; returns the refusal when there is
// none (NoIndexNoMovie) or the resumed walk refuses the file, else kind None.
Refusal OpenIndex(const ByteSource& source, const IndexTarget& target, MediaIndex& index);

}  // namespace avi
