#include "convert/PcmConvert.h"

#include <cstddef>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PCM_X86 1
#else
#define PCM_X86 0
#endif

namespace convert {

namespace {

// Forced inline, so that each SIMD level's entry point (below) compiles the
// whole body for its own instructions.
#define PCM_INLINE inline __attribute__((always_inline))

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

PCM_INLINE float Divide32767(float x) { return x * kTwoPowMinus15 + x * kTwoPowMinus30Plus45; }

// The same for four samples at once, written to out[0..3]. Vectors go by
// reference only: by value they would change the calling convention on
// targets without SSE.
PCM_INLINE void StoreDivided32767(const Int32x4& samples, float* out) {
    const Float4 x = __builtin_convertvector(samples, Float4);
    const Float4 quotients = x * kTwoPowMinus15 + x * kTwoPowMinus30Plus45;
    std::memcpy(out, &quotients, sizeof quotients);
}

PCM_INLINE int16_t Sample16(const uint8_t* bytes) {
    return static_cast<int16_t>(static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)));
}

// Stereo, the common case: one 16-byte load holds four frames, left sample in
// the low half of each 32-bit lane and right in the high half (little-endian).
PCM_INLINE void Stereo16(const uint8_t* interleaved, uint32_t frameCount, float* left,
                         float* right) {
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
PCM_INLINE void Channel16(const uint8_t* in, size_t stride, uint32_t frameCount, float* out) {
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

// x / 2,147,483,647 as a product with the double reciprocal: for every
// 32-bit x the product rounded to float is the float of the double quotient
// (checked for all 2^32 when this was written, and on a spread of values by
// the tests), and a product is several times cheaper than a division.
constexpr double kInverse32 = 1.0 / 2147483647.0;

// x / 8,388,607 in float: the float nearest 1 / 8,388,607 is 2^-23 + 2^-46,
// and x * (2^-23 + 2^-46), rounded once, is the float of the double quotient
// for all 2^24 values of x (the tests compare them all, at every level). x is
// exact in a float, so one float product replaces a double conversion, a
// double product and a rounding.
constexpr float kInverse24 = 0x1.000002p-23f;

inline int32_t Sample24(const uint8_t* in) {
    // The three bytes in the top of a word, shifted down with their sign.
    return static_cast<int32_t>((static_cast<uint32_t>(in[0]) << 8) |
                                (static_cast<uint32_t>(in[1]) << 16) |
                                (static_cast<uint32_t>(in[2]) << 24)) >>
           8;
}

// The portable forms: every channel, any count, one sample at a time.
void Pcm8Portable(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                  float* const* channelBuffers, uint32_t channelsToFill) {
    // Every 8-bit sample's (x - 128) / 127 by the rule itself (double quotient,
    // rounded once to float), built by the first worker that converts 8-bit audio.
    static const ByteTable table(
        [](uint8_t x) { return static_cast<float>((static_cast<double>(x) - 128.0) / 127.0); });
    ByteTableToFloat(table, interleaved, channelCount, frameCount, channelBuffers, channelsToFill);
}

void ALawPortable(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                  float* const* channelBuffers, uint32_t channelsToFill) {
    static const ByteTable table([](uint8_t code) {
        return static_cast<float>(static_cast<double>(ALawToLinear(code)) / 32767.0);
    });
    ByteTableToFloat(table, interleaved, channelCount, frameCount, channelBuffers, channelsToFill);
}

void MuLawPortable(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                   float* const* channelBuffers, uint32_t channelsToFill) {
    static const ByteTable table([](uint8_t code) {
        return static_cast<float>(static_cast<double>(MuLawToLinear(code)) / 32767.0);
    });
    ByteTableToFloat(table, interleaved, channelCount, frameCount, channelBuffers, channelsToFill);
}

void Pcm24Portable(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                   float* const* channelBuffers, uint32_t channelsToFill) {
    EachChannel<3>(interleaved, channelCount, frameCount, channelBuffers, channelsToFill,
                   [](const uint8_t* in, float* out) {
                       *out = static_cast<float>(Sample24(in)) * kInverse24;
                   });
}

void Pcm32Portable(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                   float* const* channelBuffers, uint32_t channelsToFill) {
    EachChannel<4>(interleaved, channelCount, frameCount, channelBuffers, channelsToFill,
                   [](const uint8_t* in, float* out) {
                       uint32_t bits;
                       std::memcpy(&bits, in, sizeof bits);
                       const auto x = static_cast<int32_t>(bits);
                       *out = static_cast<float>(static_cast<double>(x) * kInverse32);
                   });
}

void Float32Portable(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                     float* const* channelBuffers, uint32_t channelsToFill) {
    // Copied as bytes, never through a floating-point register, which could
    // change a signalling NaN.
    EachChannel<4>(interleaved, channelCount, frameCount, channelBuffers, channelsToFill,
                   [](const uint8_t* in, float* out) { std::memcpy(out, in, 4); });
}

void Float64Portable(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                     float* const* channelBuffers, uint32_t channelsToFill) {
    EachChannel<8>(interleaved, channelCount, frameCount, channelBuffers, channelsToFill,
                   [](const uint8_t* in, float* out) {
                       double value;
                       std::memcpy(&value, in, sizeof value);
                       *out = static_cast<float>(value);
                   });
}

// The vector forms. They take the common spans whole: mono, or stereo with
// both channels asked for; each converts the leading frames in steps and
// returns how many it did, and the portable form converts the rest (and
// every other span). Every form gives the portable form's floats bit for
// bit: the same IEEE operations lane by lane, or integer work that yields
// the same values (the tests compare every level with the rule, exhaustively
// where a sample has 24 bits or fewer).
bool MonoOrWholeStereo(uint32_t channelCount, float* const* channelBuffers,
                       uint32_t channelsToFill) {
    if (channelCount == 1) return channelsToFill >= 1 && channelBuffers[0] != nullptr;
    return channelCount == 2 && channelsToFill >= 2 && channelBuffers[0] != nullptr &&
           channelBuffers[1] != nullptr;
}

// Converts frames [done, frameCount) with the portable form.
inline void Rest(void (*portable)(const uint8_t*, uint32_t, uint32_t, float* const*, uint32_t),
                 uint32_t done, size_t frameBytes, const uint8_t* interleaved,
                 uint32_t channelCount, uint32_t frameCount, float* const* channelBuffers,
                 uint32_t channelsToFill) {
    if (done == 0) {
        portable(interleaved, channelCount, frameCount, channelBuffers, channelsToFill);
        return;
    }
    if (done >= frameCount) return;
    float* const rest[2] = {channelBuffers[0] + done,
                            channelCount == 2 ? channelBuffers[1] + done : nullptr};
    portable(interleaved + done * frameBytes, channelCount, frameCount - done, rest, channelCount);
}

#if PCM_X86
// The vector forms are functions of their own, compiled for their
// instructions and called from the levels that have them; what they call is
// forced inline into them.
#define PCM_SSSE3 inline __attribute__((always_inline, target("ssse3")))
#define PCM_AVX2 inline __attribute__((always_inline, target("avx2")))

// 32-bit floats: the stereo frames taken apart by lane moves, which never
// touch a value's bits (a signalling NaN stays as stored).
__attribute__((target("sse2"))) uint32_t Float32Sse2(const uint8_t* in, uint32_t channelCount,
                                                     uint32_t frameCount, float* const* out) {
    if (channelCount == 1) {
        std::memcpy(out[0], in, static_cast<size_t>(frameCount) * 4);
        return frameCount;
    }
    uint32_t j = 0;
    for (; j + 4 <= frameCount; j += 4, in += 32) {
        const __m128 a = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)));
        const __m128 b =
            _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16)));
        _mm_storeu_ps(out[0] + j, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_storeu_ps(out[1] + j, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    return j;
}

// 24-bit: eight samples (24 bytes) per step, moved by byte shuffles into the
// top three bytes of 32-bit lanes, shifted down with their sign, converted
// (exactly: 24 bits fit a float) and multiplied by kInverse24.
PCM_SSSE3 void Store24(__m128i topAligned, float* out) {
    const __m128 x = _mm_cvtepi32_ps(_mm_srai_epi32(topAligned, 8));
    _mm_storeu_ps(out, _mm_mul_ps(x, _mm_set1_ps(kInverse24)));
}

__attribute__((target("ssse3"))) uint32_t Pcm24Ssse3(const uint8_t* in, uint32_t channelCount,
                                                     uint32_t frameCount, float* const* out) {
    // Loads of bytes 0-15 and 8-23 of each step; -1 makes a zero byte.
    const uint32_t framesPerStep = 8 / channelCount;
    uint32_t j = 0;
    if (channelCount == 1) {
        const __m128i first = _mm_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
        const __m128i second =
            _mm_setr_epi8(-1, 4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15);
        for (; j + framesPerStep <= frameCount; j += framesPerStep, in += 24) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8));
            Store24(_mm_shuffle_epi8(a, first), out[0] + j);
            Store24(_mm_shuffle_epi8(b, second), out[0] + j + 4);
        }
        return j;
    }
    // Stereo: left samples to lanes 0-1 and right to 2-3 of each half.
    const __m128i first = _mm_setr_epi8(-1, 0, 1, 2, -1, 6, 7, 8, -1, 3, 4, 5, -1, 9, 10, 11);
    const __m128i second = _mm_setr_epi8(-1, 4, 5, 6, -1, 10, 11, 12, -1, 7, 8, 9, -1, 13, 14, 15);
    for (; j + framesPerStep <= frameCount; j += framesPerStep, in += 24) {
        const __m128i a =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), first);
        const __m128i b =
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8)), second);
        Store24(_mm_unpacklo_epi64(a, b), out[0] + j);
        Store24(_mm_unpackhi_epi64(a, b), out[1] + j);
    }
    return j;
}

// 32-bit: four samples per step in double lanes, the portable form's
// conversion, product and rounding.
PCM_AVX2 void Store32(__m128i samples, float* out) {
    const __m256d x = _mm256_cvtepi32_pd(samples);
    _mm_storeu_ps(out, _mm256_cvtpd_ps(_mm256_mul_pd(x, _mm256_set1_pd(kInverse32))));
}

__attribute__((target("avx2"))) uint32_t Pcm32Avx2(const uint8_t* in, uint32_t channelCount,
                                                   uint32_t frameCount, float* const* out) {
    uint32_t j = 0;
    if (channelCount == 1) {
        for (; j + 4 <= frameCount; j += 4, in += 16)
            Store32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), out[0] + j);
        return j;
    }
    for (; j + 4 <= frameCount; j += 4, in += 32) {
        const __m128 a = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)));
        const __m128 b =
            _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16)));
        Store32(_mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))), out[0] + j);
        Store32(_mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))), out[1] + j);
    }
    return j;
}

// 64-bit floats: four per step rounded to float, as the scalar conversion
// rounds them (a signalling NaN comes out quiet either way).
__attribute__((target("avx2"))) uint32_t Float64Avx2(const uint8_t* in, uint32_t channelCount,
                                                     uint32_t frameCount, float* const* out) {
    uint32_t j = 0;
    if (channelCount == 1) {
        for (; j + 4 <= frameCount; j += 4, in += 32)
            _mm_storeu_ps(out[0] + j,
                          _mm256_cvtpd_ps(_mm256_loadu_pd(reinterpret_cast<const double*>(in))));
        return j;
    }
    for (; j + 4 <= frameCount; j += 4, in += 64) {
        const __m128 a = _mm256_cvtpd_ps(_mm256_loadu_pd(reinterpret_cast<const double*>(in)));
        const __m128 b = _mm256_cvtpd_ps(_mm256_loadu_pd(reinterpret_cast<const double*>(in + 32)));
        _mm_storeu_ps(out[0] + j, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_storeu_ps(out[1] + j, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    return j;
}

// One-byte codes, 32 per step. Each law turns the codes into 16-bit linear
// values, the even-numbered codes' and the odd-numbered codes' apart (left
// and right of stereo), and scales them to the floats of its rule.
PCM_AVX2 __m256i Table16(char a0, char a1, char a2, char a3, char a4, char a5, char a6, char a7,
                         char a8, char a9, char a10, char a11, char a12, char a13, char a14,
                         char a15) {
    return _mm256_broadcastsi128_si256(
        _mm_setr_epi8(a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15));
}

// (x - 128) / 127: the code less 128 as a signed byte, widened with its
// sign; then x * 2^-7 + x * (1/127 - 2^-7 as a float), which rounds to the
// rule's float for all 256 codes (a single product by the float nearest
// 1/127 does not, for 16 of them).
struct Unsigned8Law {
    static PCM_AVX2 void Linear(__m256i codes, __m256i* even, __m256i* odd) {
        const __m256i x = _mm256_xor_si256(codes, _mm256_set1_epi8(static_cast<char>(0x80)));
        *even = _mm256_srai_epi16(_mm256_slli_epi16(x, 8), 8);
        *odd = _mm256_srai_epi16(x, 8);
    }
    static PCM_AVX2 __m256 Scale(__m256 x) {
        constexpr float kRest = static_cast<float>(1.0 / 127.0 - 0x1p-7);
        return _mm256_add_ps(_mm256_mul_ps(x, _mm256_set1_ps(0x1p-7f)),
                             _mm256_mul_ps(x, _mm256_set1_ps(kRest)));
    }
};

// G.711: a code's magnitude is (base) x (power of two), both looked up by
// byte shuffles on the code's two halves; their 16-bit product, then the
// sign of the code's top bit (clear for negative values in both laws). A
// linear value x of either law scales to the rule's float by one product
// with the float nearest 1 / 32767: for these 256 values (13 significant
// bits or fewer) it rounds as the double quotient does.
PCM_AVX2 void G711Product(__m256i base, __m256i power, __m256i* even, __m256i* odd) {
    const __m256i low = _mm256_set1_epi16(0x00FF);
    *even = _mm256_mullo_epi16(_mm256_and_si256(base, low), _mm256_and_si256(power, low));
    *odd = _mm256_mullo_epi16(_mm256_srli_epi16(base, 8), _mm256_srli_epi16(power, 8));
}

PCM_AVX2 void G711Sign(__m256i codes, __m256i* even, __m256i* odd) {
    // psignw negates where its second operand is negative: the code's top bit
    // flipped, moved to the top of its 16-bit lane, and never zero.
    const __m256i flipped = _mm256_xor_si256(codes, _mm256_set1_epi8(static_cast<char>(0x80)));
    const __m256i one = _mm256_set1_epi16(1);
    *even = _mm256_sign_epi16(*even, _mm256_or_si256(_mm256_slli_epi16(flipped, 8), one));
    *odd = _mm256_sign_epi16(*odd, _mm256_or_si256(flipped, one));
}

PCM_AVX2 __m256 ScaleBy32767(__m256 x) {
    constexpr float kInverse32767 = static_cast<float>(1.0 / 32767.0);
    return _mm256_mul_ps(x, _mm256_set1_ps(kInverse32767));
}

struct ALawLaw {
    // a = code ^ 0x55: sign (bit 7), segment (bits 4-6), step (bits 0-3). The
    // magnitude is (2 step + 1 + 32 [segment > 0]) << max(segment, 1) + 2,
    // taken here as (2 step + 1 + 32 [segment > 0]) x 2^(max(segment, 1) - 1),
    // at most 63 x 64, shifted left by 3.
    static PCM_AVX2 void Linear(__m256i codes, __m256i* even, __m256i* odd) {
        const __m256i a = _mm256_xor_si256(codes, _mm256_set1_epi8(0x55));
        const __m256i nibble = _mm256_set1_epi8(0x0F);
        const __m256i step = _mm256_and_si256(a, nibble);
        const __m256i high = _mm256_and_si256(_mm256_srli_epi16(a, 4), nibble);
        const __m256i base = _mm256_add_epi8(
            _mm256_add_epi8(step, step),
            _mm256_shuffle_epi8(
                Table16(1, 33, 33, 33, 33, 33, 33, 33, 1, 33, 33, 33, 33, 33, 33, 33), high));
        const __m256i power = _mm256_shuffle_epi8(
            Table16(1, 1, 2, 4, 8, 16, 32, 64, 1, 1, 2, 4, 8, 16, 32, 64), high);
        G711Product(base, power, even, odd);
        *even = _mm256_slli_epi16(*even, 3);
        *odd = _mm256_slli_epi16(*odd, 3);
        G711Sign(codes, even, odd);
    }
    static PCM_AVX2 __m256 Scale(__m256 x) { return ScaleBy32767(x); }
};

struct MuLawLaw {
    // u = ~code: sign (bit 7), segment (bits 4-6), step (bits 0-3). The
    // magnitude is (8 step + 132) << segment, less 132.
    static PCM_AVX2 void Linear(__m256i codes, __m256i* even, __m256i* odd) {
        const __m256i u = _mm256_xor_si256(codes, _mm256_set1_epi8(static_cast<char>(0xFF)));
        const __m256i nibble = _mm256_set1_epi8(0x0F);
        const __m256i step = _mm256_and_si256(u, nibble);
        const __m256i high = _mm256_and_si256(_mm256_srli_epi16(u, 4), nibble);
        const auto c = [](int v) { return static_cast<char>(v); };
        const __m256i base = _mm256_shuffle_epi8(
            Table16(c(132), c(140), c(148), c(156), c(164), c(172), c(180), c(188), c(196), c(204),
                    c(212), c(220), c(228), c(236), c(244), c(252)),
            step);
        const __m256i power = _mm256_shuffle_epi8(
            Table16(1, 2, 4, 8, 16, 32, 64, c(128), 1, 2, 4, 8, 16, 32, 64, c(128)), high);
        G711Product(base, power, even, odd);
        const __m256i bias = _mm256_set1_epi16(132);
        *even = _mm256_sub_epi16(*even, bias);
        *odd = _mm256_sub_epi16(*odd, bias);
        G711Sign(codes, even, odd);
    }
    static PCM_AVX2 __m256 Scale(__m256 x) { return ScaleBy32767(x); }
};

// Sixteen 16-bit values to sixteen floats at `out`.
template <class Law>
PCM_AVX2 void Store16(__m256i values, float* out) {
    const __m256 low = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_castsi256_si128(values)));
    const __m256 high =
        _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_extracti128_si256(values, 1)));
    _mm256_storeu_ps(out, Law::Scale(low));
    _mm256_storeu_ps(out + 8, Law::Scale(high));
}

template <class Law>
PCM_AVX2 uint32_t BytesAvx2(const uint8_t* in, uint32_t channelCount, uint32_t frameCount,
                            float* const* out) {
    const uint32_t framesPerStep = 32 / channelCount;
    uint32_t j = 0;
    for (; j + framesPerStep <= frameCount; j += framesPerStep, in += 32) {
        __m256i even, odd;
        Law::Linear(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in)), &even, &odd);
        if (channelCount == 2) {
            Store16<Law>(even, out[0] + j);
            Store16<Law>(odd, out[1] + j);
        } else {
            // Back in order: each 128-bit half of `low` holds codes 0-7 of
            // its 16, each half of `high` codes 8-15.
            const __m256i low = _mm256_unpacklo_epi16(even, odd);
            const __m256i high = _mm256_unpackhi_epi16(even, odd);
            Store16<Law>(_mm256_permute2x128_si256(low, high, 0x20), out[0] + j);
            Store16<Law>(_mm256_permute2x128_si256(low, high, 0x31), out[0] + j + 16);
        }
    }
    return j;
}

// The one-byte forms, one per law.
__attribute__((target("avx2"))) uint32_t Pcm8Avx2(const uint8_t* in, uint32_t channelCount,
                                                  uint32_t frameCount, float* const* out) {
    return BytesAvx2<Unsigned8Law>(in, channelCount, frameCount, out);
}
__attribute__((target("avx2"))) uint32_t ALawAvx2(const uint8_t* in, uint32_t channelCount,
                                                  uint32_t frameCount, float* const* out) {
    return BytesAvx2<ALawLaw>(in, channelCount, frameCount, out);
}
__attribute__((target("avx2"))) uint32_t MuLawAvx2(const uint8_t* in, uint32_t channelCount,
                                                   uint32_t frameCount, float* const* out) {
    return BytesAvx2<MuLawLaw>(in, channelCount, frameCount, out);
}
#endif  // PCM_X86

constexpr bool AtLeast(SimdLevel level, SimdLevel wanted) {
    return static_cast<int>(level) >= static_cast<int>(wanted);
}

#define PCM_ARGS                                                            \
    const uint8_t *interleaved, uint32_t channelCount, uint32_t frameCount, \
        float *const *channelBuffers, uint32_t channelsToFill
#define PCM_PASS interleaved, channelCount, frameCount, channelBuffers, channelsToFill

// Each kernel: the vector form where its level has one, then the portable
// form for what is left.
#if PCM_X86
#define PCM_VECTOR(level, form)                                                 \
    if constexpr (AtLeast(L, level)) {                                          \
        if (MonoOrWholeStereo(channelCount, channelBuffers, channelsToFill))    \
            done = form(interleaved, channelCount, frameCount, channelBuffers); \
    }
#else
#define PCM_VECTOR(level, form)
#endif

#define PCM_KERNEL(Name, bytes, portable, level, form)                                   \
    struct Name {                                                                        \
        template <SimdLevel L>                                                           \
        static PCM_INLINE void Run(PCM_ARGS) {                                           \
            uint32_t done = 0;                                                           \
            PCM_VECTOR(level, form)                                                      \
            Rest(portable, done, static_cast<size_t>(channelCount) * (bytes), PCM_PASS); \
        }                                                                                \
    };

PCM_KERNEL(Pcm8Kernel, 1, Pcm8Portable, SimdLevel::Avx2, Pcm8Avx2)
PCM_KERNEL(ALawKernel, 1, ALawPortable, SimdLevel::Avx2, ALawAvx2)
PCM_KERNEL(MuLawKernel, 1, MuLawPortable, SimdLevel::Avx2, MuLawAvx2)
PCM_KERNEL(Pcm24Kernel, 3, Pcm24Portable, SimdLevel::Ssse3, Pcm24Ssse3)
PCM_KERNEL(Pcm32Kernel, 4, Pcm32Portable, SimdLevel::Avx2, Pcm32Avx2)
PCM_KERNEL(Float32Kernel, 4, Float32Portable, SimdLevel::Sse2, Float32Sse2)
PCM_KERNEL(Float64Kernel, 8, Float64Portable, SimdLevel::Avx2, Float64Avx2)

// 16-bit: one form for every channel count, in the compiler's vector lanes
// (emulated one by one where the target has no vector unit, as a 32-bit x86
// build's portable level), built for every level like the others.
struct Pcm16Kernel {
    template <SimdLevel L>
    static PCM_INLINE void Run(PCM_ARGS) {
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
};

// The kernel at the best level this processor runs, chosen on the first call.
template <class K>
SampleConverter Best() {
    static const SampleConverter best = KernelAt<K, SampleConverter>(ProcessorSimdLevel());
    return best;
}

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

void Pcm8ToFloat(PCM_ARGS) { Best<Pcm8Kernel>()(PCM_PASS); }
void Pcm24ToFloat(PCM_ARGS) { Best<Pcm24Kernel>()(PCM_PASS); }
void Pcm32ToFloat(PCM_ARGS) { Best<Pcm32Kernel>()(PCM_PASS); }
void Float32ToFloat(PCM_ARGS) { Best<Float32Kernel>()(PCM_PASS); }
void Float64ToFloat(PCM_ARGS) { Best<Float64Kernel>()(PCM_PASS); }
void ALawToFloat(PCM_ARGS) { Best<ALawKernel>()(PCM_PASS); }
void MuLawToFloat(PCM_ARGS) { Best<MuLawKernel>()(PCM_PASS); }

void Pcm16ToFloat(PCM_ARGS) { Best<Pcm16Kernel>()(PCM_PASS); }

SampleConverter SampleConverterAt(SampleConverter converter, SimdLevel level) {
    if (converter == Pcm8ToFloat) return KernelAt<Pcm8Kernel, SampleConverter>(level);
    if (converter == Pcm16ToFloat) return KernelAt<Pcm16Kernel, SampleConverter>(level);
    if (converter == Pcm24ToFloat) return KernelAt<Pcm24Kernel, SampleConverter>(level);
    if (converter == Pcm32ToFloat) return KernelAt<Pcm32Kernel, SampleConverter>(level);
    if (converter == Float32ToFloat) return KernelAt<Float32Kernel, SampleConverter>(level);
    if (converter == Float64ToFloat) return KernelAt<Float64Kernel, SampleConverter>(level);
    if (converter == ALawToFloat) return KernelAt<ALawKernel, SampleConverter>(level);
    if (converter == MuLawToFloat) return KernelAt<MuLawKernel, SampleConverter>(level);
    // One form for every level.
    return level == SimdLevel::Portable || PCM_X86 ? converter : nullptr;
}

}  // namespace convert
