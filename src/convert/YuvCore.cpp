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

// The same 16 quads at a time: each 128-bit lane does what the SSE2 form
// does for 8 quads (lane 0 quads j .. j + 7, lane 1 j + 8 .. j + 15), and the
// stores put the lanes' halves back in order.
__attribute__((target("avx2"))) uint32_t CubicBy4Avx2(const int16_t* samples, int16_t* result,
                                                      uint32_t quads, int drop) {
    __m256i pair01[4], pair23[4];
    for (int q = 0; q < 4; ++q) {
        const int16_t* w = kCubicBy4[q];
        pair01[q] = _mm256_set1_epi32(
            static_cast<int32_t>(static_cast<uint16_t>(w[0]) |
                                 static_cast<uint32_t>(static_cast<uint16_t>(w[1])) << 16));
        pair23[q] = _mm256_set1_epi32(
            static_cast<int32_t>(static_cast<uint16_t>(w[2]) |
                                 static_cast<uint32_t>(static_cast<uint16_t>(w[3])) << 16));
    }
    const __m256i half = _mm256_set1_epi32(1 << (drop - 1));
    const __m128i count = _mm_cvtsi32_si128(drop);
    uint32_t j = 0;
    for (; j + 16 <= quads; j += 16) {
        __m256i s[5];
        for (int t = 0; t < 5; ++t)
            s[t] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples + j + t));
        __m256i phase[4];
        for (int q = 0; q < 4; ++q) {
            const int o = q >> 1;
            const __m256i lo = _mm256_add_epi32(
                _mm256_madd_epi16(_mm256_unpacklo_epi16(s[o], s[o + 1]), pair01[q]),
                _mm256_madd_epi16(_mm256_unpacklo_epi16(s[o + 2], s[o + 3]), pair23[q]));
            const __m256i hi = _mm256_add_epi32(
                _mm256_madd_epi16(_mm256_unpackhi_epi16(s[o], s[o + 1]), pair01[q]),
                _mm256_madd_epi16(_mm256_unpackhi_epi16(s[o + 2], s[o + 3]), pair23[q]));
            phase[q] = _mm256_packs_epi32(_mm256_sra_epi32(_mm256_add_epi32(lo, half), count),
                                          _mm256_sra_epi32(_mm256_add_epi32(hi, half), count));
        }
        const __m256i lo01 = _mm256_unpacklo_epi16(phase[0], phase[1]);
        const __m256i hi01 = _mm256_unpackhi_epi16(phase[0], phase[1]);
        const __m256i lo23 = _mm256_unpacklo_epi16(phase[2], phase[3]);
        const __m256i hi23 = _mm256_unpackhi_epi16(phase[2], phase[3]);
        // Per lane: quads 0-1, 2-3, 4-5, 6-7 of that lane's 8.
        const __m256i q01 = _mm256_unpacklo_epi32(lo01, lo23);
        const __m256i q23 = _mm256_unpackhi_epi32(lo01, lo23);
        const __m256i q45 = _mm256_unpacklo_epi32(hi01, hi23);
        const __m256i q67 = _mm256_unpackhi_epi32(hi01, hi23);
        __m256i* o = reinterpret_cast<__m256i*>(result + 4 * j);
        _mm256_storeu_si256(o, _mm256_permute2x128_si256(q01, q23, 0x20));
        _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(q45, q67, 0x20));
        _mm256_storeu_si256(o + 2, _mm256_permute2x128_si256(q01, q23, 0x31));
        _mm256_storeu_si256(o + 3, _mm256_permute2x128_si256(q45, q67, 0x31));
    }
    return j;
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
