#include "AudioSchedule.h"

namespace avimake {
namespace {
__extension__ typedef unsigned __int128 Wide;  // frame * duration * rate can exceed 64 bits
constexpr uint64_t kTicksPerSecond = 10000000;
}  // namespace

uint64_t SamplesBeforeFrame(uint64_t frame, uint32_t frameDuration, uint32_t rate) {
    return static_cast<uint64_t>(Wide{frame} * frameDuration * rate / kTicksPerSecond);
}

uint64_t FramesForSamples(uint64_t samples, uint32_t frameDuration, uint32_t rate) {
    const Wide perFrame = Wide{frameDuration} * rate;
    return static_cast<uint64_t>((Wide{samples} * kTicksPerSecond + perFrame - 1) / perFrame);
}

}  // namespace avimake
