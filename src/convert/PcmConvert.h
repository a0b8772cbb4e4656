// Conversion of interleaved PCM sample frames into the host's per-channel
// float buffers. Each routine is one plain pass per channel (both channels of
// stereo 16-bit in one pass); the results are the floats the quotients below
// give, computed more cheaply where that is exact (see PcmConvert.cpp).
#pragma once

#include <cstdint>

namespace convert {

// Reads `frameCount` frames of `channelCount` interleaved signed 16-bit
// little-endian samples from `interleaved` and writes, for every channel ch
// below `channelsToFill` (capped at `channelCount`), sample j of that channel
// divided by 32767 to channelBuffers[ch][j], so that 32767 gives exactly 1.0.
// The result is the double-precision quotient rounded once to float. A null
// channel buffer is skipped.
void Pcm16ToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                  float* const* channelBuffers, uint32_t channelsToFill);

// The same for unsigned 8-bit samples, centred on 128: (x - 128) / 127, so
// that 255 gives exactly 1.0.
void Pcm8ToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                 float* const* channelBuffers, uint32_t channelsToFill);

}  // namespace convert
