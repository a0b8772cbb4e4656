#include <gtest/gtest.h>

#include <cmath>

#include "AudioSchedule.h"

namespace {

using avimake::FramesForSamples;
using avimake::SamplesBeforeFrame;

TEST(AudioSchedule, WholeSamplesPerFrameGiveEqualChunks) {
    for (uint64_t frame = 0; frame < 100; ++frame) {
        EXPECT_EQ(
            SamplesBeforeFrame(frame + 1, 400000, 48000) - SamplesBeforeFrame(frame, 400000, 48000),
            1920u);
    }
}

TEST(AudioSchedule, FractionalSamplesPerFrameAlternateWithoutDrift) {
    const uint32_t duration = 333667;  // 29.97 fps
    const uint32_t rate = 44100;
    const double exactPerFrame = duration * 1e-7 * rate;  // 1471.47...
    for (uint64_t frame = 0; frame < 30000; ++frame) {
        const uint64_t chunk = SamplesBeforeFrame(frame + 1, duration, rate) -
                               SamplesBeforeFrame(frame, duration, rate);
        ASSERT_TRUE(chunk == 1471 || chunk == 1472) << "frame " << frame << " got " << chunk;
    }
    const double exactTotal = 30000 * exactPerFrame;
    EXPECT_LE(
        std::fabs(static_cast<double>(SamplesBeforeFrame(30000, duration, rate)) - exactTotal),
        1.0);
}

TEST(AudioSchedule, HugePositionsDoNotOverflow) {
    const uint64_t frame = uint64_t{1} << 32;
    const long double exact = static_cast<long double>(frame) * 4294967295.0L * 768000.0L / 1e7L;
    const long double got =
        static_cast<long double>(SamplesBeforeFrame(frame, 4294967295u, 768000));
    EXPECT_LT(std::fabs(got - exact) / exact, 1e-12L);
}

TEST(AudioSchedule, FramesForSamplesIsTheSmallestCoveringFrameCount) {
    for (uint64_t samples : {1u, 1471u, 1472u, 1000000u, 44100u * 3600u}) {
        const uint64_t frames = FramesForSamples(samples, 333667, 44100);
        EXPECT_GE(SamplesBeforeFrame(frames, 333667, 44100), samples);
        EXPECT_LT(SamplesBeforeFrame(frames - 1, 333667, 44100), samples);
    }
}

}  // namespace
