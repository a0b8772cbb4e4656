// Which audio sample frames go with which video frame.
#pragma once

#include <cstdint>

namespace avimake {

// Audio sample frames that play before video frame `frame` starts:
// floor(frame * frameDuration * rate / 10^7), frameDuration in 100 ns units. Chunk sizes
// taken as differences of this vary by one sample so the total never drifts from the video.
uint64_t SamplesBeforeFrame(uint64_t frame, uint32_t frameDuration, uint32_t rate);

// Smallest number of frames whose audio covers `samples` sample frames.
uint64_t FramesForSamples(uint64_t samples, uint32_t frameDuration, uint32_t rate);

}  // namespace avimake
