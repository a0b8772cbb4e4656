// The vector parts of the span preparation that have no width twin (the
// YUV formula's own vector forms are in WidthKernelBodies.h).
#include "convert/PictureKernelSupport.h"

#if CONVERT_X86

namespace convert {
namespace detail {

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
