#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "convert/PcmConvert.h"

namespace {

// The reference conversions, written out as the rule states them.
float Expected16(int x) { return static_cast<float>(static_cast<double>(x) / 32767.0); }
float Expected8(int x) { return static_cast<float>((static_cast<double>(x) - 128) / 127.0); }

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Converts mono samples with `convert`: one float per sample.
using Convert = void (*)(const uint8_t*, uint32_t, uint32_t, float* const*, uint32_t);
std::vector<float> Mono(Convert convert, const std::vector<uint8_t>& bytes, uint32_t samples) {
    std::vector<float> out(samples, -99.0f);
    float* buffers[] = {out.data()};
    convert(bytes.data(), 1, samples, buffers, 1);
    return out;
}

TEST(PcmConvert, Every16BitValueMatchesTheDoubleQuotientRoundedOnce) {
    std::vector<uint8_t> samples;
    for (int x = -32768; x <= 32767; ++x) {
        const auto bits = static_cast<uint16_t>(x);
        samples.push_back(static_cast<uint8_t>(bits & 0xFF));
        samples.push_back(static_cast<uint8_t>(bits >> 8));
    }
    const std::vector<float> mono = Mono(convert::Pcm16ToFloat, samples, 65536);
    int mismatches = 0;
    for (int x = -32768; x <= 32767; ++x) {
        const float got = mono[static_cast<size_t>(x + 32768)];
        if (!SameBits(got, Expected16(x))) {
            if (++mismatches < 10) ADD_FAILURE() << "value " << x << " gave " << got;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(PcmConvert, Every8BitValueMatchesTheDoubleQuotientRoundedOnce) {
    std::vector<uint8_t> samples;
    for (int x = 0; x < 256; ++x) samples.push_back(static_cast<uint8_t>(x));
    const std::vector<float> mono = Mono(convert::Pcm8ToFloat, samples, 256);
    for (int x = 0; x < 256; ++x) {
        EXPECT_TRUE(SameBits(mono[static_cast<size_t>(x)], Expected8(x)))
            << "byte " << x << " gave " << mono[static_cast<size_t>(x)];
    }
}

TEST(PcmConvert, RangeEndsAndSilence) {
    const std::vector<float> out8 = Mono(convert::Pcm8ToFloat, {0, 128, 255}, 3);
    EXPECT_NEAR(out8[0], -1.0078740f, 1e-6);
    EXPECT_EQ(out8[1], 0.0f);
    EXPECT_EQ(out8[2], 1.0f);

    // -32768, 0, 32767
    const std::vector<float> out16 =
        Mono(convert::Pcm16ToFloat, {0x00, 0x80, 0x00, 0x00, 0xFF, 0x7F}, 3);
    EXPECT_NEAR(out16[0], -1.0000305f, 1e-7);
    EXPECT_EQ(out16[1], 0.0f);
    EXPECT_EQ(out16[2], 1.0f);
}

TEST(PcmConvert, DeinterleavesStereo16BitIntoOneBufferPerChannel) {
    // L0 R0 L1 R1 L2 R2 with L = 100, 200, 300 and R = -1, -2, -3.
    const int16_t values[] = {100, -1, 200, -2, 300, -3};
    uint8_t bytes[sizeof values];
    for (size_t i = 0; i < 6; ++i) {
        const auto bits = static_cast<uint16_t>(values[i]);
        bytes[2 * i] = static_cast<uint8_t>(bits & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(bits >> 8);
    }
    float left[4] = {9, 9, 9, 9};
    float right[4] = {9, 9, 9, 9};
    float* buffers[] = {left, right};
    convert::Pcm16ToFloat(bytes, 2, 3, buffers, 2);
    EXPECT_EQ(left[0], Expected16(100));
    EXPECT_EQ(left[1], Expected16(200));
    EXPECT_EQ(left[2], Expected16(300));
    EXPECT_EQ(right[0], Expected16(-1));
    EXPECT_EQ(right[1], Expected16(-2));
    EXPECT_EQ(right[2], Expected16(-3));
    EXPECT_EQ(left[3], 9.0f) << "written past the frame count";
    EXPECT_EQ(right[3], 9.0f) << "written past the frame count";
}

TEST(PcmConvert, EveryStereo16BitValueMatchesInBothChannels) {
    // Left runs through every value upward, right through every value downward;
    // three frames more than 65,536 so that a count that is not a multiple of
    // four is covered as well.
    constexpr uint32_t kFrames = 65536 + 3;
    std::vector<uint8_t> bytes;
    for (uint32_t j = 0; j < kFrames; ++j) {
        const auto l = static_cast<uint16_t>(j);
        const auto r = static_cast<uint16_t>(0xFFFFu - j);
        for (uint16_t v : {l, r}) {
            bytes.push_back(static_cast<uint8_t>(v & 0xFF));
            bytes.push_back(static_cast<uint8_t>(v >> 8));
        }
    }
    std::vector<float> left(kFrames + 1, -99.0f), right(kFrames + 1, -99.0f);
    float* buffers[] = {left.data(), right.data()};
    convert::Pcm16ToFloat(bytes.data(), 2, kFrames, buffers, 2);
    int mismatches = 0;
    for (uint32_t j = 0; j < kFrames; ++j) {
        const int l = static_cast<int16_t>(static_cast<uint16_t>(j));
        const int r = static_cast<int16_t>(static_cast<uint16_t>(0xFFFFu - j));
        if (!SameBits(left[j], Expected16(l)) || !SameBits(right[j], Expected16(r))) {
            if (++mismatches < 10)
                ADD_FAILURE() << "frame " << j << ": " << left[j] << ", " << right[j];
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(left[kFrames], -99.0f) << "written past the frame count";
    EXPECT_EQ(right[kFrames], -99.0f) << "written past the frame count";
}

TEST(PcmConvert, DeinterleavesThreeChannel8Bit) {
    const uint8_t bytes[] = {0, 128, 255, 1, 129, 254};
    float a[2], b[2], c[2];
    float* buffers[] = {a, b, c};
    convert::Pcm8ToFloat(bytes, 3, 2, buffers, 3);
    EXPECT_EQ(a[0], Expected8(0));
    EXPECT_EQ(a[1], Expected8(1));
    EXPECT_EQ(b[0], Expected8(128));
    EXPECT_EQ(b[1], Expected8(129));
    EXPECT_EQ(c[0], Expected8(255));
    EXPECT_EQ(c[1], Expected8(254));
}

TEST(PcmConvert, FillsOnlyTheChannelsAskedForAndSkipsNullBuffers) {
    const uint8_t bytes[] = {10, 20, 30, 40, 50, 60};  // two 3-channel frames, 8-bit
    float first[2] = {9, 9};
    float third[2] = {9, 9};
    float* buffers[] = {first, nullptr, third};
    convert::Pcm8ToFloat(bytes, 3, 2, buffers, 2);  // the third buffer is not asked for
    EXPECT_EQ(first[0], Expected8(10));
    EXPECT_EQ(first[1], Expected8(40));
    EXPECT_EQ(third[0], 9.0f);
    EXPECT_EQ(third[1], 9.0f);

    // More channels asked for than the samples carry: capped at the samples' count.
    float only[2] = {9, 9};
    float spare[2] = {9, 9};
    float* two[] = {only, spare};
    const uint8_t mono16[] = {0xFF, 0x7F, 0x01, 0x00};
    convert::Pcm16ToFloat(mono16, 1, 2, two, 2);
    EXPECT_EQ(only[0], 1.0f);
    EXPECT_EQ(only[1], Expected16(1));
    EXPECT_EQ(spare[0], 9.0f);
}

TEST(PcmConvert, ZeroFramesWriteNothing) {
    const uint8_t bytes[] = {1, 2};
    float out[1] = {9};
    float* buffers[] = {out};
    convert::Pcm16ToFloat(bytes, 1, 0, buffers, 1);
    convert::Pcm8ToFloat(bytes, 1, 0, buffers, 1);
    EXPECT_EQ(out[0], 9.0f);
}

}  // namespace
