// The container's open of one file's bytes held in memory, as the container
// fuzz target and the corpus replay run it: each medium's layout and tables,
// read through two sources that place their views differently, must agree
// and keep the promises serving relies on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzhost {

// What the container made of one input.
struct ContainerOutcome {
    bool videoServable = false;
    bool audioServable = false;
    std::vector<std::string> problems;  // every broken promise; empty means clean
};

// Opens `data` as video and as audio through avi::OpenStream over a
// MemorySource (views exactly as asked for) and over a source whose views
// begin and end on 64 KiB boundaries, as a platform's mapping places them,
// with a smaller read-ahead. The two must give the same refusal or the same
// tables, and served tables must hold: frames that all lie within the file,
// as many as the main header then counts, a positive frame duration, short
// frames in order within the table; audio chunks within the file whose
// samples run on from 0 without a gap.
ContainerOutcome CheckContainer(const uint8_t* data, size_t size);

}  // namespace fuzzhost
