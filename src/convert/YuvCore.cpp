// The vector forms of the YUV formula (see PictureKernelSupport.h): the same
// integer arithmetic as YuvPixel, eight or sixteen pixels at a time.
#include "convert/PictureKernelSupport.h"

#if CONVERT_X86

namespace convert {
namespace detail {

// The same for 8 pixels: luma and chroma (the offsets already taken off) as
// 16-bit lanes; pairs (Y, 2) x (ky, 2^14) give ky Y + 2^15, pairs (Cb, Cr)
// x the chroma coefficients give the chroma terms; the packs clamp.
struct Sse2Coefficients {
    __m128i y, r, g, b;
};
__attribute__((target("sse2"), always_inline)) inline Sse2Coefficients Sse2Of(
    const YuvCoefficients& k) {
    return Sse2Coefficients{
        _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(k.y)) | (1 << 14) << 16),
        _mm_set1_epi32(
            static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(k.vr)) << 16)),
        _mm_set1_epi32(
            static_cast<int32_t>(static_cast<uint16_t>(-k.ug)) |
            static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(-k.vg)) << 16)),
        _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(k.ub)))};
}
// yd: 8 lumas less 64; uv: 8 (Cb, Cr) pairs less 8192, in two registers
// (pixels 0-3, 4-7). Writes 32 bytes at `out`.
__attribute__((target("sse2"), always_inline)) inline void Sse2Pixels8(__m128i yd, __m128i uvLo,
                                                                       __m128i uvHi,
                                                                       const Sse2Coefficients& c,
                                                                       uint8_t* out) {
    const __m128i two = _mm_set1_epi16(2);
    const __m128i yLo = _mm_slli_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(yd, two), c.y), 2);
    const __m128i yHi = _mm_slli_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(yd, two), c.y), 2);
    const __m128i r =
        _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(yLo, _mm_madd_epi16(uvLo, c.r)), kChromaBits),
                        _mm_srai_epi32(_mm_add_epi32(yHi, _mm_madd_epi16(uvHi, c.r)), kChromaBits));
    const __m128i g =
        _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(yLo, _mm_madd_epi16(uvLo, c.g)), kChromaBits),
                        _mm_srai_epi32(_mm_add_epi32(yHi, _mm_madd_epi16(uvHi, c.g)), kChromaBits));
    const __m128i b =
        _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(yLo, _mm_madd_epi16(uvLo, c.b)), kChromaBits),
                        _mm_srai_epi32(_mm_add_epi32(yHi, _mm_madd_epi16(uvHi, c.b)), kChromaBits));
    const __m128i br = _mm_packus_epi16(b, r);
    const __m128i ga = _mm_packus_epi16(g, _mm_set1_epi16(255));
    const __m128i bg = _mm_unpacklo_epi8(br, ga), ra = _mm_unpackhi_epi8(br, ga);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(bg, ra));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(bg, ra));
}

struct Avx2Coefficients {
    __m256i y, r, g, b;
};
__attribute__((target("avx2"), always_inline)) inline Avx2Coefficients Avx2Of(
    const YuvCoefficients& k) {
    const Sse2Coefficients c = Sse2Of(k);
    return Avx2Coefficients{_mm256_broadcastsi128_si256(c.y), _mm256_broadcastsi128_si256(c.r),
                            _mm256_broadcastsi128_si256(c.g), _mm256_broadcastsi128_si256(c.b)};
}
// 16 pixels: yd lanes hold pixels 0-7 | 8-15; uvLo pixels 0-3 | 8-11, uvHi
// 4-7 | 12-15 (the order the in-lane unpacks give). Writes 64 bytes.
__attribute__((target("avx2"), always_inline)) inline void Avx2Pixels16(__m256i yd, __m256i uvLo,
                                                                        __m256i uvHi,
                                                                        const Avx2Coefficients& c,
                                                                        uint8_t* out) {
    const __m256i two = _mm256_set1_epi16(2);
    const __m256i yLo =
        _mm256_slli_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(yd, two), c.y), 2);
    const __m256i yHi =
        _mm256_slli_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(yd, two), c.y), 2);
    const __m256i r = _mm256_packs_epi32(
        _mm256_srai_epi32(_mm256_add_epi32(yLo, _mm256_madd_epi16(uvLo, c.r)), kChromaBits),
        _mm256_srai_epi32(_mm256_add_epi32(yHi, _mm256_madd_epi16(uvHi, c.r)), kChromaBits));
    const __m256i g = _mm256_packs_epi32(
        _mm256_srai_epi32(_mm256_add_epi32(yLo, _mm256_madd_epi16(uvLo, c.g)), kChromaBits),
        _mm256_srai_epi32(_mm256_add_epi32(yHi, _mm256_madd_epi16(uvHi, c.g)), kChromaBits));
    const __m256i b = _mm256_packs_epi32(
        _mm256_srai_epi32(_mm256_add_epi32(yLo, _mm256_madd_epi16(uvLo, c.b)), kChromaBits),
        _mm256_srai_epi32(_mm256_add_epi32(yHi, _mm256_madd_epi16(uvHi, c.b)), kChromaBits));
    const __m256i br = _mm256_packus_epi16(b, r);
    const __m256i ga = _mm256_packus_epi16(g, _mm256_set1_epi16(255));
    const __m256i bg = _mm256_unpacklo_epi8(br, ga), ra = _mm256_unpackhi_epi8(br, ga);
    const __m256i lo = _mm256_unpacklo_epi16(bg, ra), hi = _mm256_unpackhi_epi16(bg, ra);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32),
                        _mm256_permute2x128_si256(lo, hi, 0x31));
}

__attribute__((target("avx2"))) uint32_t YuvSpanAvx2(const int16_t* luma, const int16_t* cb,
                                                     const int16_t* cr, uint8_t* out, uint32_t n,
                                                     const YuvCoefficients& k) {
    const Avx2Coefficients c = Avx2Of(k);
    const __m256i y64 = _mm256_set1_epi16(64), c8192 = _mm256_set1_epi16(8192);
    uint32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i yd =
            _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(luma + i)), y64);
        const __m256i u =
            _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cb + i)), c8192);
        const __m256i v =
            _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(cr + i)), c8192);
        Avx2Pixels16(yd, _mm256_unpacklo_epi16(u, v), _mm256_unpackhi_epi16(u, v), c,
                     out + 4 * static_cast<size_t>(i));
    }
    return i;
}

__attribute__((target("sse2"))) uint32_t YuvSpanSse2(const int16_t* luma, const int16_t* cb,
                                                     const int16_t* cr, uint8_t* out, uint32_t n,
                                                     const YuvCoefficients& k) {
    const Sse2Coefficients c = Sse2Of(k);
    const __m128i y64 = _mm_set1_epi16(64), c8192 = _mm_set1_epi16(8192);
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i yd =
            _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + i)), y64);
        const __m128i u =
            _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + i)), c8192);
        const __m128i v =
            _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + i)), c8192);
        Sse2Pixels8(yd, _mm_unpacklo_epi16(u, v), _mm_unpackhi_epi16(u, v), c,
                    out + 4 * static_cast<size_t>(i));
    }
    return i;
}

// Chroma of packed 4:2:2 from three loads of the row, 4 bytes apart: the
// groups of the block, of the block shifted one group back and one group
// on. In each, the 16-bit lanes hold the chroma bytes (Cb, Cr pairs, in the
// row's order); even pixels take 3/4 of their group's and 1/4 of the one
// before, odd pixels 1/4 of the one after; x 16 makes 1/64 levels.
__attribute__((target("sse2"))) void Packed422BlocksSse2(const uint8_t* row, uint8_t* outRow,
                                                         uint32_t x0, uint32_t blocks, int order,
                                                         const YuvCoefficients& k) {
    const Sse2Coefficients c = Sse2Of(k);
    const __m128i low = _mm_set1_epi16(0x00FF), y64 = _mm_set1_epi16(64),
                  c8192 = _mm_set1_epi16(8192);
    for (uint32_t b = blocks; b-- > 0;) {
        const uint32_t x = x0 + b * 8;
        const uint8_t* p = row + 2 * static_cast<size_t>(x);
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i vp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 4));
        const __m128i vn = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4));
        __m128i y, w, wp, wn;
        if (order == 0) {
            y = _mm_srli_epi16(v, 8);
            w = _mm_and_si128(v, low), wp = _mm_and_si128(vp, low), wn = _mm_and_si128(vn, low);
        } else {
            y = _mm_and_si128(v, low);
            w = _mm_srli_epi16(v, 8), wp = _mm_srli_epi16(vp, 8), wn = _mm_srli_epi16(vn, 8);
        }
        const __m128i w3 = _mm_add_epi16(w, _mm_add_epi16(w, w));
        __m128i even = _mm_sub_epi16(_mm_slli_epi16(_mm_add_epi16(w3, wp), 4), c8192);
        __m128i odd = _mm_sub_epi16(_mm_slli_epi16(_mm_add_epi16(w3, wn), 4), c8192);
        if (order == 2) {  // Cr before Cb: swap the lanes of each pair
            even = _mm_shufflehi_epi16(_mm_shufflelo_epi16(even, 0xB1), 0xB1);
            odd = _mm_shufflehi_epi16(_mm_shufflelo_epi16(odd, 0xB1), 0xB1);
        }
        const __m128i yd = _mm_sub_epi16(_mm_slli_epi16(y, 2), y64);
        Sse2Pixels8(yd, _mm_unpacklo_epi32(even, odd), _mm_unpackhi_epi32(even, odd), c,
                    outRow + 4 * static_cast<size_t>(x));
    }
}

__attribute__((target("avx2"))) void Packed422BlocksAvx2(const uint8_t* row, uint8_t* outRow,
                                                         uint32_t x0, uint32_t blocks, int order,
                                                         const YuvCoefficients& k) {
    const Avx2Coefficients c = Avx2Of(k);
    const __m256i low = _mm256_set1_epi16(0x00FF), y64 = _mm256_set1_epi16(64),
                  c8192 = _mm256_set1_epi16(8192);
    for (uint32_t b = blocks; b-- > 0;) {
        const uint32_t x = x0 + b * 16;
        const uint8_t* p = row + 2 * static_cast<size_t>(x);
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i vp = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p - 4));
        const __m256i vn = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 4));
        __m256i y, w, wp, wn;
        if (order == 0) {
            y = _mm256_srli_epi16(v, 8);
            w = _mm256_and_si256(v, low), wp = _mm256_and_si256(vp, low),
            wn = _mm256_and_si256(vn, low);
        } else {
            y = _mm256_and_si256(v, low);
            w = _mm256_srli_epi16(v, 8), wp = _mm256_srli_epi16(vp, 8),
            wn = _mm256_srli_epi16(vn, 8);
        }
        const __m256i w3 = _mm256_add_epi16(w, _mm256_add_epi16(w, w));
        __m256i even = _mm256_sub_epi16(_mm256_slli_epi16(_mm256_add_epi16(w3, wp), 4), c8192);
        __m256i odd = _mm256_sub_epi16(_mm256_slli_epi16(_mm256_add_epi16(w3, wn), 4), c8192);
        if (order == 2) {
            even = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(even, 0xB1), 0xB1);
            odd = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(odd, 0xB1), 0xB1);
        }
        const __m256i yd = _mm256_sub_epi16(_mm256_slli_epi16(y, 2), y64);
        Avx2Pixels16(yd, _mm256_unpacklo_epi32(even, odd), _mm256_unpackhi_epi32(even, odd), c,
                     outRow + 4 * static_cast<size_t>(x));
    }
}

}  // namespace detail
}  // namespace convert

#endif
