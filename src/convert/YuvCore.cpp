// The vector parts of the span preparation that have no width twin (the
// YUV formula's own vector forms are in WidthKernelBodies.h).
#include "convert/PictureKernelSupport.h"

#if CONVERT_X86

namespace convert {
namespace detail {

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
