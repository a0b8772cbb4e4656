// What a sample kernel is: a pure conversion of interleaved stored samples
// into the host's per-channel float buffers. No I/O and no file knowledge.
#pragma once

#include <cstdint>

namespace convert {

// Reads `frameCount` frames of `channelCount` interleaved samples from
// `interleaved` and writes, for every channel ch below `channelsToFill`
// (capped at `channelCount`), sample j of that channel as a float to
// channelBuffers[ch][j]. A null channel buffer is skipped.
using SampleConverter = void (*)(const uint8_t* interleaved, uint32_t channelCount,
                                 uint32_t frameCount, float* const* channelBuffers,
                                 uint32_t channelsToFill);

}  // namespace convert
