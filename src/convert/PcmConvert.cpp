#include "convert/PcmConvert.h"

#include <cstddef>
#include <cstring>

namespace convert {

namespace {

// Four lanes at a time through the compiler's vector extension: SSE on x86-64,
// element by element where the target has no vector unit.
typedef int32_t Int32x4 __attribute__((vector_size(16)));
typedef float Float4 __attribute__((vector_size(16)));

// x / 32767 for a 16-bit x, rounded once to float. Since 1 / 32767 =
// 2^-15 * (1 + 2^-15 + 2^-30 + ...), the quotient is x * 2^-15 + x * (2^-30 +
// 2^-45) up to a remainder far below half a float step: the first product is
// exact (a power of two), the second is rounded once, and the rounding of the
// sum gives the same float as (float)((double)x / 32767.0) for each of the
// 65,536 values (tests/stream compares them all, in mono and in stereo). Two
// products and a sum in float lanes replace two conversions and a division.
constexpr float kTwoPowMinus15 = 0x1p-15f;
constexpr float kTwoPowMinus30Plus45 = 0x1.0002p-30f;  // 2^-30 + 2^-45, exact in a float

inline float Divide32767(float x) { return x * kTwoPowMinus15 + x * kTwoPowMinus30Plus45; }

// The same for four samples at once, written to out[0..3]. Vectors go by
// reference only: by value they would change the calling convention on
// targets without SSE.
inline void StoreDivided32767(const Int32x4& samples, float* out) {
    const Float4 x = __builtin_convertvector(samples, Float4);
    const Float4 quotients = x * kTwoPowMinus15 + x * kTwoPowMinus30Plus45;
    std::memcpy(out, &quotients, sizeof quotients);
}

inline int16_t Sample16(const uint8_t* bytes) {
    return static_cast<int16_t>(static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)));
}

// Stereo, the common case: one 16-byte load holds four frames, left sample in
// the low half of each 32-bit lane and right in the high half (little-endian).
void Stereo16(const uint8_t* interleaved, uint32_t frameCount, float* left, float* right) {
    uint32_t j = 0;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (; j + 4 <= frameCount; j += 4) {
        Int32x4 lanes;
        std::memcpy(&lanes, interleaved + static_cast<size_t>(j) * 4, sizeof lanes);
        const Int32x4 leftSamples = (lanes << 16) >> 16;  // arithmetic shifts keep the sign
        const Int32x4 rightSamples = lanes >> 16;
        StoreDivided32767(leftSamples, left + j);
        StoreDivided32767(rightSamples, right + j);
    }
#endif
    for (; j < frameCount; ++j) {
        left[j] =
            Divide32767(static_cast<float>(Sample16(interleaved + static_cast<size_t>(j) * 4)));
        right[j] =
            Divide32767(static_cast<float>(Sample16(interleaved + static_cast<size_t>(j) * 4 + 2)));
    }
}

// Any channel count: one channel at a time, four samples per step.
void Channel16(const uint8_t* in, size_t stride, uint32_t frameCount, float* out) {
    uint32_t j = 0;
    for (; j + 4 <= frameCount; j += 4, in += 4 * stride) {
        const Int32x4 lanes = {Sample16(in), Sample16(in + stride), Sample16(in + 2 * stride),
                               Sample16(in + 3 * stride)};
        StoreDivided32767(lanes, out + j);
    }
    for (; j < frameCount; ++j, in += stride)
        out[j] = Divide32767(static_cast<float>(Sample16(in)));
}

// One table of 256 floats for a one-byte code, each entry the rule's value.
struct ByteTable {
    float values[256];
    template <typename Rule>
    explicit ByteTable(Rule rule) {
        for (uint32_t x = 0; x < 256; ++x) values[x] = rule(static_cast<uint8_t>(x));
    }
};

void ByteTableToFloat(const ByteTable& table, const uint8_t* interleaved, uint32_t channelCount,
                      uint32_t frameCount, float* const* channelBuffers, uint32_t channelsToFill) {
    if (channelsToFill > channelCount) channelsToFill = channelCount;
    const size_t stride = channelCount;
    for (uint32_t ch = 0; ch < channelsToFill; ++ch) {
        float* out = channelBuffers[ch];
        if (out == nullptr) continue;
        const uint8_t* in = interleaved + ch;
        for (uint32_t j = 0; j < frameCount; ++j, in += stride) out[j] = table.values[*in];
    }
}

// Every channel asked for, sample by sample: `Decode` turns the `kBytes`
// stored bytes of one sample into the float written.
template <size_t kBytes, typename Decode>
inline void EachChannel(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                        float* const* channelBuffers, uint32_t channelsToFill, Decode decode) {
    if (channelsToFill > channelCount) channelsToFill = channelCount;
    const size_t stride = static_cast<size_t>(channelCount) * kBytes;
    for (uint32_t ch = 0; ch < channelsToFill; ++ch) {
        float* out = channelBuffers[ch];
        if (out == nullptr) continue;
        const uint8_t* in = interleaved + static_cast<size_t>(ch) * kBytes;
        for (uint32_t j = 0; j < frameCount; ++j, in += stride) decode(in, out + j);
    }
}

// x / 8,388,607 and x / 2,147,483,647 as a product with the double
// reciprocal: for every 24-bit and every 32-bit x the product rounded to
// float is the float of the double quotient (checked for all 2^24 values by
// the tests, and for all 2^32 when this was written), and a product is
// several times cheaper than a division.
constexpr double kInverse24 = 1.0 / 8388607.0;
constexpr double kInverse32 = 1.0 / 2147483647.0;

}  // namespace

int16_t ALawToLinear(uint8_t code) {
    // G.711: the code's even bits are inverted; then sign, 3-bit segment and
    // 4-bit step, the value at the step's middle.
    const uint32_t a = code ^ 0x55u;
    const uint32_t step = a & 0x0Fu;
    const uint32_t segment = (a & 0x70u) >> 4;
    const uint32_t magnitude =
        segment != 0 ? (step * 2 + 1 + 32) << (segment + 2) : (step * 2 + 1) << 3;
    return static_cast<int16_t>((a & 0x80u) != 0 ? static_cast<int32_t>(magnitude)
                                                 : -static_cast<int32_t>(magnitude));
}

int16_t MuLawToLinear(uint8_t code) {
    // G.711: the code is inverted; then sign, 3-bit segment and 4-bit step,
    // on a scale biased by 0x84.
    constexpr int32_t kBias = 0x84;
    const uint32_t u = static_cast<uint8_t>(~code);
    const int32_t t = static_cast<int32_t>((((u & 0x0Fu) << 3) + kBias) << ((u & 0x70u) >> 4));
    return static_cast<int16_t>((u & 0x80u) != 0 ? kBias - t : t - kBias);
}

void Pcm24ToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                  float* const* channelBuffers, uint32_t channelsToFill) {
    EachChannel<3>(interleaved, channelCount, frameCount, channelBuffers, channelsToFill,
                   [](const uint8_t* in, float* out) {
                       // The three bytes in the top of a word, shifted down with their sign.
                       const auto x = static_cast<int32_t>((static_cast<uint32_t>(in[0]) << 8) |
                                                           (static_cast<uint32_t>(in[1]) << 16) |
                                                           (static_cast<uint32_t>(in[2]) << 24)) >>
                                      8;
                       *out = static_cast<float>(static_cast<double>(x) * kInverse24);
                   });
}

void Pcm32ToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                  float* const* channelBuffers, uint32_t channelsToFill) {
    EachChannel<4>(interleaved, channelCount, frameCount, channelBuffers, channelsToFill,
                   [](const uint8_t* in, float* out) {
                       uint32_t bits;
                       std::memcpy(&bits, in, sizeof bits);
                       const auto x = static_cast<int32_t>(bits);
                       *out = static_cast<float>(static_cast<double>(x) * kInverse32);
                   });
}

void Float32ToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                    float* const* channelBuffers, uint32_t channelsToFill) {
    // Copied as bytes, never through a floating-point register, which could
    // change a signalling NaN.
    EachChannel<4>(interleaved, channelCount, frameCount, channelBuffers, channelsToFill,
                   [](const uint8_t* in, float* out) { std::memcpy(out, in, 4); });
}

void Float64ToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                    float* const* channelBuffers, uint32_t channelsToFill) {
    EachChannel<8>(interleaved, channelCount, frameCount, channelBuffers, channelsToFill,
                   [](const uint8_t* in, float* out) {
                       double value;
                       std::memcpy(&value, in, sizeof value);
                       *out = static_cast<float>(value);
                   });
}

void ALawToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                 float* const* channelBuffers, uint32_t channelsToFill) {
    static const ByteTable table([](uint8_t code) {
        return static_cast<float>(static_cast<double>(ALawToLinear(code)) / 32767.0);
    });
    ByteTableToFloat(table, interleaved, channelCount, frameCount, channelBuffers, channelsToFill);
}

void MuLawToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                  float* const* channelBuffers, uint32_t channelsToFill) {
    static const ByteTable table([](uint8_t code) {
        return static_cast<float>(static_cast<double>(MuLawToLinear(code)) / 32767.0);
    });
    ByteTableToFloat(table, interleaved, channelCount, frameCount, channelBuffers, channelsToFill);
}

void Pcm16ToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                  float* const* channelBuffers, uint32_t channelsToFill) {
    if (channelsToFill > channelCount) channelsToFill = channelCount;
    if (channelCount == 2 && channelsToFill == 2 && channelBuffers[0] != nullptr &&
        channelBuffers[1] != nullptr) {
        Stereo16(interleaved, frameCount, channelBuffers[0], channelBuffers[1]);
        return;
    }
    const size_t stride = static_cast<size_t>(channelCount) * 2;
    for (uint32_t ch = 0; ch < channelsToFill; ++ch) {
        if (channelBuffers[ch] == nullptr) continue;
        Channel16(interleaved + static_cast<size_t>(ch) * 2, stride, frameCount,
                  channelBuffers[ch]);
    }
}

void Pcm8ToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                 float* const* channelBuffers, uint32_t channelsToFill) {
    // Every 8-bit sample's (x - 128) / 127 by the rule itself (double quotient,
    // rounded once to float), built by the first worker that converts 8-bit audio.
    static const ByteTable table(
        [](uint8_t x) { return static_cast<float>((static_cast<double>(x) - 128.0) / 127.0); });
    ByteTableToFloat(table, interleaved, channelCount, frameCount, channelBuffers, channelsToFill);
}

}  // namespace convert
