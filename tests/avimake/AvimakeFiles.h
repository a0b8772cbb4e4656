// Test helpers that make avimake files and pull the pieces the tests look at out of them.
#pragma once

#include <string>
#include <vector>

#include "Programs.h"
#include "RiffFile.h"

namespace avimaketest {

// Runs avimake to write `path`; throws (failing the test) when it exits non-zero.
void MakeAvi(const std::string& path, std::vector<std::string> args);

struct IndexedChunk {
    uint64_t data;  // absolute position of the chunk body
    uint32_t size;
};

// Follows a stream's 'indx' to its standard indexes and each entry to its chunk, checking on
// the way that every link lands on the chunk code it should.
std::vector<IndexedChunk> ChunksViaSuperIndex(const RiffFile& file, const Chunk& strl,
                                              const std::string& indexCode,
                                              const std::string& chunkCode);

Chunk ChildOf(const RiffFile& file, const Chunk& list, const std::string& code,
              const std::string& listType = "");

// Field `n` (0-based dword) of the 'avih' main header.
uint32_t AvihDword(const RiffFile& file, int n);

}  // namespace avimaketest
