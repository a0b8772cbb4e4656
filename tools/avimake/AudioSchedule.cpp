#include "AudioSchedule.h"

namespace avimake {
namespace {
__extension__ typedef unsigned __int128 Wide;  // frame * duration * rate can exceed 64 bits
constexpr uint64_t kTicksPerSecond = 10000000;
}  // namespace

uint64_t SamplesBeforeFrame(uint64_t frame, uint32_t frame_duration, uint32_t rate) {
    return static_cast<uint64_t>(Wide{frame} * frame_duration * rate / kTicksPerSecond);
}

uint64_t FramesForSamples(uint64_t samples, uint32_t frame_duration, uint32_t rate) {
    const Wide per_frame = Wide{frame_duration} * rate;
    return static_cast<uint64_t>((Wide{samples} * kTicksPerSecond + per_frame - 1) / per_frame);
}

}  // namespace avimake
