// The vector parts of the span preparation that have no width twin (the
// YUV formula's own vector forms are in WidthKernelBodies.h).
#include "convert/PictureKernelSupport.h"

#if CONVERT_X86

namespace convert {
namespace detail {

// The span preparation. Every value fits 16 bits: chroma at most 255 x 16
// before an interpolation that multiplies it by 4.
// Samples j .. j + 7 paired with j + 1 .. j + 8 (lo: j .. j + 3) times one
// row's weights, the sum of the two pairs of taps for 4 quads each.
__attribute__((target("sse2"))) uint32_t CubicBy4Sse2(const int16_t* samples, int16_t* result,
                                                      uint32_t quads, int drop) {
    __m128i pair01[4], pair23[4];
    for (int q = 0; q < 4; ++q) {
        const int16_t* w = kCubicBy4[q];
        pair01[q] = _mm_set1_epi32(
            static_cast<int32_t>(static_cast<uint16_t>(w[0]) |
                                 static_cast<uint32_t>(static_cast<uint16_t>(w[1])) << 16));
        pair23[q] = _mm_set1_epi32(
            static_cast<int32_t>(static_cast<uint16_t>(w[2]) |
                                 static_cast<uint32_t>(static_cast<uint16_t>(w[3])) << 16));
    }
    const __m128i half = _mm_set1_epi32(1 << (drop - 1));
    const __m128i count = _mm_cvtsi32_si128(drop);
    uint32_t j = 0;
    for (; j + 8 <= quads; j += 8) {
        __m128i s[5];
        for (int t = 0; t < 5; ++t)
            s[t] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + j + t));
        __m128i phase[4];
        for (int q = 0; q < 4; ++q) {
            const int o = q >> 1;
            const __m128i lo =
                _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(s[o], s[o + 1]), pair01[q]),
                              _mm_madd_epi16(_mm_unpacklo_epi16(s[o + 2], s[o + 3]), pair23[q]));
            const __m128i hi =
                _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(s[o], s[o + 1]), pair01[q]),
                              _mm_madd_epi16(_mm_unpackhi_epi16(s[o + 2], s[o + 3]), pair23[q]));
            phase[q] = _mm_packs_epi32(_mm_sra_epi32(_mm_add_epi32(lo, half), count),
                                       _mm_sra_epi32(_mm_add_epi32(hi, half), count));
        }
        const __m128i lo01 = _mm_unpacklo_epi16(phase[0], phase[1]);
        const __m128i hi01 = _mm_unpackhi_epi16(phase[0], phase[1]);
        const __m128i lo23 = _mm_unpacklo_epi16(phase[2], phase[3]);
        const __m128i hi23 = _mm_unpackhi_epi16(phase[2], phase[3]);
        __m128i* o = reinterpret_cast<__m128i*>(result + 4 * j);
        _mm_storeu_si128(o, _mm_unpacklo_epi32(lo01, lo23));
        _mm_storeu_si128(o + 1, _mm_unpackhi_epi32(lo01, lo23));
        _mm_storeu_si128(o + 2, _mm_unpacklo_epi32(hi01, hi23));
        _mm_storeu_si128(o + 3, _mm_unpackhi_epi32(hi01, hi23));
    }
    return j;
}

// The cubic by 4 fused with the conversion (the integers of CubicBy4 then
// YuvSpanToBgra). Pixel 4q + p takes the pairs (s[m], s[m + 1]) of samples
// m = q + p / 2 and m + 2 times the two pairs of its phase's weights
// (pmaddwd). The span's pairs are first laid out doubled, pair m at 32-bit
// lanes 2m and 2m + 1: then each register's pairs are one plain load. For
// the 16 pixels from quad j, those of pixels 0-3 | 8-11 (the order
// Avx2Channels takes) start at lane 2j, those of 4-7 | 12-15 at lane 2j + 2,
// and each register's second pairs 4 lanes after its first. The chroma's
// offset is taken off before the shift (8192 << drop is a whole multiple of
// 2^drop, so the result is the same); the results fit 16 bits (at most
// 255 x 64 x 1.32 in magnitude), so a lane's (Cb, Cr) pair is the low halves
// of the two sums.
__attribute__((target("avx2"), always_inline)) inline void DoubledPairsAvx2(const int16_t* samples,
                                                                            uint32_t groups,
                                                                            int32_t* doubled) {
    // Of 8 samples, the bytes of pairs 0, 0, 1, 1 | 2, 2, 3, 3.
    const __m256i pattern = _mm256_setr_epi8(0, 1, 2, 3, 0, 1, 2, 3, 2, 3, 4, 5, 2, 3, 4, 5, 4, 5,
                                             6, 7, 4, 5, 6, 7, 6, 7, 8, 9, 6, 7, 8, 9);
    for (uint32_t g = 0; g < groups; ++g) {
        const __m256i s = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 4 * g)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(doubled + 8 * g),
                            _mm256_shuffle_epi8(s, pattern));
    }
}
// One plane's chroma of 8 pixels: their first pairs at `first`, their
// second 4 lanes on; less the offset, shifted down.
__attribute__((target("avx2"), always_inline)) inline __m256i CubicChromaAvx2(
    const int32_t* first, __m256i w01, __m256i w23, __m256i bias, __m128i count) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(first + 4));
    const __m256i sum = _mm256_add_epi32(_mm256_madd_epi16(a, w01), _mm256_madd_epi16(b, w23));
    return _mm256_sra_epi32(_mm256_add_epi32(sum, bias), count);
}
__attribute__((target("avx2"))) uint32_t YuvSpanCubicAvx2(const uint8_t* lumaRow,
                                                          const int16_t* cbSamples,
                                                          const int16_t* crSamples, uint8_t* out,
                                                          uint32_t n, int drop,
                                                          const YuvCoefficients& k) {
    const uint32_t blocks = n / 16;
    if (blocks == 0 || blocks > kSpan / 16) return 0;
    // Groups of 4 pairs: blocks + 1 (the last block reads 3 pairs past its own).
    int32_t cbDoubled[2 * kSpan / 4 + 8], crDoubled[2 * kSpan / 4 + 8];
    DoubledPairsAvx2(cbSamples, blocks + 1, cbDoubled);
    DoubledPairsAvx2(crSamples, blocks + 1, crDoubled);
    const Avx2Coefficients c = Avx2Of(k);
    int32_t pair01[8], pair23[8];
    for (int d = 0; d < 8; ++d) {
        const int16_t* w = kCubicBy4[d & 3];
        pair01[d] = static_cast<int32_t>(static_cast<uint16_t>(w[0]) |
                                         static_cast<uint32_t>(static_cast<uint16_t>(w[1])) << 16);
        pair23[d] = static_cast<int32_t>(static_cast<uint16_t>(w[2]) |
                                         static_cast<uint32_t>(static_cast<uint16_t>(w[3])) << 16);
    }
    const __m256i w01 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pair01));
    const __m256i w23 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pair23));
    const __m256i bias = _mm256_set1_epi32((1 << (drop - 1)) - (8192 << drop));
    const __m128i count = _mm_cvtsi32_si128(drop);
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    // Lumas into 32-bit lanes, pixels 0-3 | 8-11 and 4-7 | 12-15; the luma
    // term 4 (ky (4 Y - 64) + 2^15) as (ky Y + 2^13 - 16 ky) x 16.
    const __m256i lumaLo =
        _mm256_setr_epi8(0, -1, -1, -1, 1, -1, -1, -1, 2, -1, -1, -1, 3, -1, -1, -1, 8, -1, -1, -1,
                         9, -1, -1, -1, 10, -1, -1, -1, 11, -1, -1, -1);
    const __m256i lumaHi = _mm256_add_epi8(lumaLo, _mm256_set1_epi32(4));
    const __m256i ky = _mm256_set1_epi32(static_cast<uint16_t>(k.y));
    const __m256i lumaBase = _mm256_set1_epi32((1 << 13) - 16 * k.y);
    for (uint32_t b = 0; b < blocks; ++b) {
        const uint32_t i = 16 * b;
        const int32_t* cbAt = cbDoubled + 8 * b;
        const int32_t* crAt = crDoubled + 8 * b;
        const __m256i uvLo =
            _mm256_or_si256(_mm256_and_si256(CubicChromaAvx2(cbAt, w01, w23, bias, count), low),
                            _mm256_slli_epi32(CubicChromaAvx2(crAt, w01, w23, bias, count), 16));
        const __m256i uvHi = _mm256_or_si256(
            _mm256_and_si256(CubicChromaAvx2(cbAt + 2, w01, w23, bias, count), low),
            _mm256_slli_epi32(CubicChromaAvx2(crAt + 2, w01, w23, bias, count), 16));
        const __m256i y = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(lumaRow + i)));
        const __m256i yLo = _mm256_slli_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(y, lumaLo), ky), lumaBase), 4);
        const __m256i yHi = _mm256_slli_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(y, lumaHi), ky), lumaBase), 4);
        Avx2Channels(yLo, yHi, uvLo, uvHi, c, out + 4 * static_cast<size_t>(i));
    }
    return 16 * blocks;
}

// Each weight w split into 16 h + l (h = w >> 4, l = w & 15, both bytes):
// (sum of w r + 8) >> 4 = sum of h r + ((sum of l r + 8) >> 4), exactly, and
// every partial sum fits 16 bits (sum of h r within -10 x 255 .. 72 x 255,
// sum of l r at most 60 x 255), so pmaddubsw on the rows' interleaved bytes
// makes them. The last 8 are redone from n - 8 where n is not a multiple of
// 8 (the same values again).
__attribute__((target("ssse3"), always_inline)) inline void BlendFourRowsAt(
    const uint8_t* const rows[4], size_t at, __m128i high01, __m128i high23, __m128i low01,
    __m128i low23, int16_t* dst) {
    const __m128i r01 =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[0] + at)),
                          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[1] + at)));
    const __m128i r23 =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[2] + at)),
                          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[3] + at)));
    const __m128i high =
        _mm_add_epi16(_mm_maddubs_epi16(r01, high01), _mm_maddubs_epi16(r23, high23));
    const __m128i low = _mm_add_epi16(_mm_maddubs_epi16(r01, low01), _mm_maddubs_epi16(r23, low23));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                     _mm_add_epi16(high, _mm_srli_epi16(_mm_add_epi16(low, _mm_set1_epi16(8)), 4)));
}
__attribute__((target("ssse3"))) uint32_t BlendFourRowsSsse3(const uint8_t* const rows[4],
                                                             size_t at, const int16_t* weights,
                                                             int16_t* dst, uint32_t n) {
    if (n < 8) return 0;
    // Two weights' parts as the bytes of a 16-bit lane, the first row's low.
    const auto bytes = [](int first, int second) {
        return static_cast<int16_t>((first & 0xFF) | (second & 0xFF) << 8);
    };
    const __m128i high01 = _mm_set1_epi16(bytes(weights[0] >> 4, weights[1] >> 4));
    const __m128i high23 = _mm_set1_epi16(bytes(weights[2] >> 4, weights[3] >> 4));
    const __m128i low01 = _mm_set1_epi16(bytes(weights[0] & 15, weights[1] & 15));
    const __m128i low23 = _mm_set1_epi16(bytes(weights[2] & 15, weights[3] & 15));
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) BlendFourRowsAt(rows, at + i, high01, high23, low01, low23, dst + i);
    if (i < n) BlendFourRowsAt(rows, at + n - 8, high01, high23, low01, low23, dst + n - 8);
    return n;
}

__attribute__((target("sse2"))) uint32_t LumaTimes4Sse2(const uint8_t* src, int16_t* dst,
                                                        uint32_t n) {
    const __m128i zero = _mm_setzero_si128();
    uint32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                         _mm_slli_epi16(_mm_unpacklo_epi8(v, zero), 2));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 8),
                         _mm_slli_epi16(_mm_unpackhi_epi8(v, zero), 2));
    }
    return i;
}

__attribute__((target("sse2"))) uint32_t BlendRowsSse2(const uint8_t* here, const uint8_t* other,
                                                       int16_t wHere, int16_t wOther, int shift,
                                                       int16_t* dst, uint32_t n) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i wh = _mm_set1_epi16(wHere), wo = _mm_set1_epi16(wOther);
    const __m128i count = _mm_cvtsi32_si128(shift);
    uint32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(here + i));
        const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(other + i));
        const __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(h, zero), wh),
                                         _mm_mullo_epi16(_mm_unpacklo_epi8(o, zero), wo));
        const __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(h, zero), wh),
                                         _mm_mullo_epi16(_mm_unpackhi_epi8(o, zero), wo));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_sll_epi16(lo, count));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 8), _mm_sll_epi16(hi, count));
    }
    return i;
}

__attribute__((target("sse2"))) uint32_t BlendPairsSse2(const uint8_t* here, const uint8_t* other,
                                                        int16_t wHere, int16_t wOther, int shift,
                                                        int16_t* first, int16_t* second,
                                                        uint32_t n) {
    const __m128i low = _mm_set1_epi16(0x00FF);
    const __m128i wh = _mm_set1_epi16(wHere), wo = _mm_set1_epi16(wOther);
    const __m128i count = _mm_cvtsi32_si128(shift);
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(here + 2 * i));
        const __m128i o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(other + 2 * i));
        const __m128i a = _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(h, low), wh),
                                        _mm_mullo_epi16(_mm_and_si128(o, low), wo));
        const __m128i b = _mm_add_epi16(_mm_mullo_epi16(_mm_srli_epi16(h, 8), wh),
                                        _mm_mullo_epi16(_mm_srli_epi16(o, 8), wo));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(first + i), _mm_sll_epi16(a, count));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(second + i), _mm_sll_epi16(b, count));
    }
    return i;
}

}  // namespace detail
}  // namespace convert

#endif
