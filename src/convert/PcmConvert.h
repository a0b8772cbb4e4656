// Conversion of interleaved PCM sample frames into the host's per-channel
// float buffers. Mono and stereo go through vector forms where the processor
// has the instructions (both channels of stereo in one pass), other channel
// counts one channel at a time; the results are the floats the rules below
// give, computed more cheaply where that is exact (see PcmConvert.cpp). Every
// routine has the signature of convert::SampleConverter.
#pragma once

#include <cstdint>

#include "convert/CpuFeatures.h"
#include "convert/SampleKernel.h"

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

// Signed 24-bit little-endian samples (3 bytes each): x / 8,388,607, the
// double quotient rounded once to float.
void Pcm24ToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                  float* const* channelBuffers, uint32_t channelsToFill);

// Signed 32-bit little-endian samples: x / 2,147,483,647, the double quotient
// rounded once to float.
void Pcm32ToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                  float* const* channelBuffers, uint32_t channelsToFill);

// 32-bit IEEE floats, little-endian: the value bit for bit (NaNs and
// infinities as stored).
void Float32ToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                    float* const* channelBuffers, uint32_t channelsToFill);

// 64-bit IEEE floats, little-endian: the value rounded once to float.
void Float64ToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                    float* const* channelBuffers, uint32_t channelsToFill);

// G.711 A-law and mu-law codes (one byte each): the code's 16-bit linear
// value as G.711 expands it (ffmpeg's decoders give the same), then / 32767
// as 16-bit PCM.
void ALawToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                 float* const* channelBuffers, uint32_t channelsToFill);
void MuLawToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                  float* const* channelBuffers, uint32_t channelsToFill);

// The 16-bit linear value of a G.711 code.
int16_t ALawToLinear(uint8_t code);
int16_t MuLawToLinear(uint8_t code);

// One of the conversions above built for one SIMD level, or nullptr where
// this build has none (the SIMD levels off x86); a conversion with one form
// for every level gives itself. The conversions above run the best level
// this processor runs, chosen on their first call, and every level gives the
// same floats. For tests and benchmarks: the caller makes sure that the
// processor runs the level.
SampleConverter SampleConverterAt(SampleConverter converter, SimdLevel level);

}  // namespace convert
