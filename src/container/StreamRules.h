// What makes a stream servable: the formats accepted, the frame size and
// frame duration they give, and the refusal (with the values found) when a
// stream cannot be served.
#pragma once

#include <cstdint>

#include "container/AviLayout.h"

namespace avi {

// Bytes of one stored row: width x bits per pixel, rounded up to 4 bytes.
uint64_t StoredRowBytes(int32_t width, uint16_t bitCount);

// Frame duration in 100 ns units: 10,000,000 x scale / rate, rounded to the
// nearest unit (exactly `dwScale` when the rate is 10,000,000); 0 when the
// rate or the scale is 0.
uint64_t FrameDuration(const AVIStreamHeader& header);

// The video stream's format: uncompressed RGB of 32 or 24 bits per pixel, a
// usable width and height, and a frame rate. Sets `frameSize` to the bytes
// of one stored frame: the stored row (padded to 4 bytes) x |height|. For
// 32 bits a biSizeImage of 0 or width x height only hints at that, and a
// biSizeImage below it is taken as the frame size the file was written
// with; 24-bit frames are always whole stored rows. Either depth is served
// into a host buffer of width x |height| x 4 bytes.
Refusal CheckVideoFormat(const AviLayout& layout, uint32_t* frameSize);

// The video stream once its frames are known: at least one, and a length
// in 100 ns units that fits 63 bits.
Refusal CheckVideoFrames(const AviLayout& layout, uint64_t frames);

// The audio stream's format: integer PCM (plain, or extensible with the PCM
// sub-format) of 8 or 16 bits, at least one channel, and a sample rate
// dwRate / dwScale from 1 to 2^31 - 1.
Refusal CheckAudioFormat(const AviLayout& layout);

}  // namespace avi
