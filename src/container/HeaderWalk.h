// The header walk: reads a file's RIFF structure from offset 0 and reports
// what it found as an AviLayout.
#pragma once

#include <vector>

#include "container/AviLayout.h"
#include "container/FileSource.h"

namespace avi {

// Walks from offset 0 into 'RIFF' forms and the 'hdrl', 'strl' and 'movi'
// lists, filling `layout`: the main header, the first 'vids' stream whose
// layout the picture table serves and the first 'auds' stream with their
// headers and formats, the first 'movi' list and 'idx1' chunk, and, for the
// stream of `medium`, its first standard index, where the walk stops
// (layout.haveStandardIndex). It stops earlier, at the first 'movi' list
// (layout.stoppedAtMovie), once the main header and the served stream's
// header and format are read: an index can be read from there without
// stepping through the movie data, and ResumeWalk goes on from there. Every
// chunk is stepped by its own size and a pad byte after an odd size is
// skipped when the next chunk starts after it. Logs a refused mapping (936)
// and the walk's assertions. A main header whose frame count no table could
// hold is refused (OutOfMemory), before anything else is read. Returns the
// refusal, kind None when the walk ended without one.
Refusal WalkHeaders(const FileSource& source, Medium medium, AviLayout& layout);

// A run of consecutive movie-data chunks that the walk only steps over:
// from the header at `start` to `end`, the end of the last chunk's data.
struct MovieRun {
    uint64_t start;
    uint64_t end;
    uint64_t lastHeader;
    bool afterOddChunk;  // the last chunk's size is odd (the pad-byte rule follows)
    uint32_t firstCode;
    uint32_t firstSize;
    uint32_t lastCode;
};

// Goes on with a walk that stopped at the 'movi' list (layout.stoppedAtMovie)
// exactly as it would have gone on without the stop, to the served stream's
// first standard index or the end of the file. Whenever the walk reaches the
// start of one of `runs` (sorted, disjoint), it goes on from the run's end
// as stepping through the run would have, without reading it.
Refusal ResumeWalk(const FileSource& source, Medium medium, AviLayout& layout,
                   const std::vector<MovieRun>* runs = nullptr);

}  // namespace avi
