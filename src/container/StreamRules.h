// What makes a stream servable: the formats accepted, the frame size and
// frame duration they give, and the refusal (with the values found) when a
// stream cannot be served.
#pragma once

#include <cstdint>

#include "container/AviLayout.h"
#include "format/PictureFormats.h"
#include "format/SoundFormats.h"

namespace avi {

// Frame duration in 100 ns units: 10,000,000 x scale / rate, rounded to the
// nearest unit (exactly `dwScale` when the rate is 10,000,000); 0 when the
// rate or the scale is 0.
uint64_t FrameDuration(const AVIStreamHeader& header);

// The video stream's format: a layout the picture table serves, a usable
// width and height, and a frame rate. Fills `picture` (row, sizes, masks and
// palette); its frameSize is the bytes of one stored frame, as the row says
// (for 32-bit RGB a biSizeImage of 0 or width x height only hints at the
// stored size, and any other is the frame size the file was written with).
// Every layout is served into a host buffer of width x |height| x 4 bytes.
Refusal CheckVideoFormat(const AviLayout& layout, format::PictureFormat* picture);
// The same, giving only the stored frame size.
Refusal CheckVideoFormat(const AviLayout& layout, uint32_t* frameSize);

// The video stream once its frames are known: at least one, and a length
// in 100 ns units that fits 63 bits.
Refusal CheckVideoFrames(const AviLayout& layout, uint64_t frames);

// The audio stream's format: a layout the sound table serves (plain, or
// extensible with its sub-format), at least one channel, and a sample rate
// dwRate / dwScale from 1 to 2^31 - 1. Fills `sound` when given.
Refusal CheckAudioFormat(const AviLayout& layout, format::SoundFormat* sound = nullptr);

}  // namespace avi
