// Whether the plug-in would serve one medium of a file, and why not, for
// tools that link the core: the same reading and checks as an open, without
// a host, a worker or descriptors.
#pragma once

#include <cstdint>
#include <vector>

#include "container/AviLayout.h"
#include "container/AviRecords.h"
#include "container/FileSource.h"

namespace mirolan {

// Reads and checks `path` (UTF-16, zero-terminated) as an open of a stream
// of `medium` does, then releases everything. Returns a refusal of kind None
// when the stream would be served, else the refusal with its reason. With
// the debug folder present it logs what that open logs up to the worker,
// the reason line of a refusal included. Never throws.
avi::Refusal CheckFile(const char16_t* path, avi::Medium medium);

// What a served stream is made of in the file, for tools that compare what
// the plug-in serves with other readers of the file: its stream header, its
// format, and for audio the sample span [first, end) of every chunk.
struct StreamFacts {
    avi::Refusal refusal{};  // kind None when the stream would be served
    avi::AVIStreamHeader strh{};
    avi::BITMAPINFOHEADER bih{};
    avi::WAVEFORMATEX wfx{};
    int32_t streamNumber = -1;  // the stream's number among the file's streams
    std::vector<int64_t> audioChunkFirst;
    std::vector<int64_t> audioChunkEnd;
};

// Reads `path` as CheckFile does and returns those facts. Never throws
// (out of memory gives the refusal OutOfMemory).
StreamFacts ReadStreamFacts(const char16_t* path, avi::Medium medium);

}  // namespace mirolan
