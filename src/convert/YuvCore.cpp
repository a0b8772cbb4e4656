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
// yLo, yHi: the luma terms 4 (ky Y + 2^15) of pixels 0-3 and 4-7 (32-bit
// lanes); uvLo, uvHi: their (Cb, Cr) pairs less 8192. Writes 32 bytes at `out`.
__attribute__((target("sse2"), always_inline)) inline void Sse2Channels(__m128i yLo, __m128i yHi,
                                                                        __m128i uvLo, __m128i uvHi,
                                                                        const Sse2Coefficients& c,
                                                                        uint8_t* out) {
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
// yd: 8 lumas less 64; uv: 8 (Cb, Cr) pairs less 8192, in two registers
// (pixels 0-3, 4-7). Writes 32 bytes at `out`.
__attribute__((target("sse2"), always_inline)) inline void Sse2Pixels8(__m128i yd, __m128i uvLo,
                                                                       __m128i uvHi,
                                                                       const Sse2Coefficients& c,
                                                                       uint8_t* out) {
    const __m128i two = _mm_set1_epi16(2);
    const __m128i yLo = _mm_slli_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(yd, two), c.y), 2);
    const __m128i yHi = _mm_slli_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(yd, two), c.y), 2);
    Sse2Channels(yLo, yHi, uvLo, uvHi, c, out);
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
// 16 pixels: yLo, yHi the luma terms as for Sse2Channels of pixels 0-3 |
// 8-11 and 4-7 | 12-15, uvLo and uvHi their chroma pairs (the order the
// in-lane unpacks give). Writes 64 bytes.
__attribute__((target("avx2"), always_inline)) inline void Avx2Channels(__m256i yLo, __m256i yHi,
                                                                        __m256i uvLo, __m256i uvHi,
                                                                        const Avx2Coefficients& c,
                                                                        uint8_t* out) {
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
// 16 pixels: yd lanes hold pixels 0-7 | 8-15; uvLo pixels 0-3 | 8-11, uvHi
// 4-7 | 12-15. Writes 64 bytes.
__attribute__((target("avx2"), always_inline)) inline void Avx2Pixels16(__m256i yd, __m256i uvLo,
                                                                        __m256i uvHi,
                                                                        const Avx2Coefficients& c,
                                                                        uint8_t* out) {
    const __m256i two = _mm256_set1_epi16(2);
    const __m256i yLo =
        _mm256_slli_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(yd, two), c.y), 2);
    const __m256i yHi =
        _mm256_slli_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(yd, two), c.y), 2);
    Avx2Channels(yLo, yHi, uvLo, uvHi, c, out);
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

// The same from chroma subsampled by 2, interpolated on the way (as
// YuvSpanBy2ToBgra does): 8 (SSE2) or 16 (AVX2) pixels from pixel i take the
// samples i / 2 .. i / 2 + 5 (or + 9) of the span's sample arrays.
__attribute__((target("sse2"), always_inline)) inline __m128i InterpolatedBy2Sse2(
    const int16_t* samples) {
    const __m128i before = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples));
    const __m128i here = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + 1));
    const __m128i after = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + 2));
    const __m128i here3 = _mm_add_epi16(here, _mm_add_epi16(here, here));
    return _mm_unpacklo_epi16(_mm_add_epi16(here3, before), _mm_add_epi16(here3, after));
}
__attribute__((target("sse2"))) uint32_t YuvSpanBy2Sse2(const int16_t* luma,
                                                        const int16_t* cbSamples,
                                                        const int16_t* crSamples, uint8_t* out,
                                                        uint32_t n, const YuvCoefficients& k) {
    const Sse2Coefficients c = Sse2Of(k);
    const __m128i y64 = _mm_set1_epi16(64), c8192 = _mm_set1_epi16(8192);
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i yd =
            _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + i)), y64);
        const __m128i u = _mm_sub_epi16(InterpolatedBy2Sse2(cbSamples + i / 2), c8192);
        const __m128i v = _mm_sub_epi16(InterpolatedBy2Sse2(crSamples + i / 2), c8192);
        Sse2Pixels8(yd, _mm_unpacklo_epi16(u, v), _mm_unpackhi_epi16(u, v), c,
                    out + 4 * static_cast<size_t>(i));
    }
    return i;
}

__attribute__((target("avx2"), always_inline)) inline __m256i InterpolatedBy2Avx2(
    const int16_t* samples) {
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples));
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 1));
    const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 2));
    const __m128i here3 = _mm_add_epi16(here, _mm_add_epi16(here, here));
    const __m128i even = _mm_add_epi16(here3, before), odd = _mm_add_epi16(here3, after);
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(even, odd)),
                                   _mm_unpackhi_epi16(even, odd), 1);
}
__attribute__((target("avx2"))) uint32_t YuvSpanBy2Avx2(const int16_t* luma,
                                                        const int16_t* cbSamples,
                                                        const int16_t* crSamples, uint8_t* out,
                                                        uint32_t n, const YuvCoefficients& k) {
    const Avx2Coefficients c = Avx2Of(k);
    const __m256i y64 = _mm256_set1_epi16(64), c8192 = _mm256_set1_epi16(8192);
    uint32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i yd =
            _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(luma + i)), y64);
        const __m256i u = _mm256_sub_epi16(InterpolatedBy2Avx2(cbSamples + i / 2), c8192);
        const __m256i v = _mm256_sub_epi16(InterpolatedBy2Avx2(crSamples + i / 2), c8192);
        Avx2Pixels16(yd, _mm256_unpacklo_epi16(u, v), _mm256_unpackhi_epi16(u, v), c,
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

// v210 unpacked. A group's four words w0..w3 hold, in fields a (bits 0-9),
// b (10-19) and c (20-29): Cb0 = a0, Y0 = b0, Cr0 = c0, Y1 = a1, Cb1 = b1,
// Y2 = c1, Cr1 = a2, Y3 = b2, Cb2 = c2, Y4 = a3, Cr2 = b3, Y5 = c3. A byte
// shuffle gathers, into each 16-bit lane, the two bytes that hold one field
// (a at bit 0 of its pair, b at bit 2, c at bit 4); a multiplication by
// 2^(6 - bit) lifts the field to the top of the lane, dropping what lies
// above it, and a shift right by 6 brings it down alone (by 4, then the
// mask, for the chroma x 4).
__attribute__((target("ssse3"), always_inline)) inline __m128i V210LumaShuffle() {
    return _mm_setr_epi8(1, 2, 4, 5, 6, 7, 9, 10, 12, 13, 14, 15, -1, -1, -1, -1);
}
__attribute__((target("ssse3"), always_inline)) inline __m128i V210LumaLift() {
    return _mm_setr_epi16(16, 64, 4, 16, 64, 4, 0, 0);
}
// (Cb, Cr) pairs: (a0, c0), (b1, a2), (c2, b3).
__attribute__((target("ssse3"), always_inline)) inline __m128i V210ChromaShuffle() {
    return _mm_setr_epi8(0, 1, 2, 3, 5, 6, 8, 9, 10, 11, 13, 14, -1, -1, -1, -1);
}
__attribute__((target("ssse3"), always_inline)) inline __m128i V210ChromaLift() {
    return _mm_setr_epi16(64, 4, 16, 64, 4, 16, 0, 0);
}

__attribute__((target("ssse3"))) uint32_t V210UnpackSsse3(const uint8_t* groups, uint32_t count,
                                                          int16_t* luma, int16_t* pairs) {
    const __m128i lumaShuffle = V210LumaShuffle(), lumaLift = V210LumaLift();
    const __m128i chromaShuffle = V210ChromaShuffle(), chromaLift = V210ChromaLift();
    const __m128i mask = _mm_set1_epi16(0x0FFC);
    for (uint32_t g = 0; g < count; ++g) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(groups + 16 * g));
        const __m128i y =
            _mm_srli_epi16(_mm_mullo_epi16(_mm_shuffle_epi8(w, lumaShuffle), lumaLift), 6);
        const __m128i uv = _mm_and_si128(
            _mm_srli_epi16(_mm_mullo_epi16(_mm_shuffle_epi8(w, chromaShuffle), chromaLift), 4),
            mask);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(luma + 6 * g), y);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pairs + 6 * g), uv);
    }
    return count;
}

__attribute__((target("avx2"))) uint32_t V210UnpackAvx2(const uint8_t* groups, uint32_t count,
                                                        int16_t* luma, int16_t* pairs) {
    const __m256i lumaShuffle = _mm256_broadcastsi128_si256(V210LumaShuffle());
    const __m256i lumaLift = _mm256_broadcastsi128_si256(V210LumaLift());
    const __m256i chromaShuffle = _mm256_broadcastsi128_si256(V210ChromaShuffle());
    const __m256i chromaLift = _mm256_broadcastsi128_si256(V210ChromaLift());
    const __m256i mask = _mm256_set1_epi16(0x0FFC);
    uint32_t g = 0;
    for (; g + 2 <= count; g += 2) {
        const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(groups + 16 * g));
        const __m256i y =
            _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_shuffle_epi8(w, lumaShuffle), lumaLift), 6);
        const __m256i uv = _mm256_and_si256(
            _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_shuffle_epi8(w, chromaShuffle), chromaLift),
                              4),
            mask);
        // Each lane's 6 values, then the next lane's over its 2 spare ones.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(luma + 6 * g), _mm256_castsi256_si128(y));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(luma + 6 * g + 6),
                         _mm256_extracti128_si256(y, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pairs + 6 * g), _mm256_castsi256_si128(uv));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pairs + 6 * g + 6),
                         _mm256_extracti128_si256(uv, 1));
    }
    return g;
}

// The chroma of 8 (SSE2) or 16 (AVX2) pixels from their samples' pairs
// (samples x 4): 3/4 of each pixel's own sample and 1/4 of its neighbour on
// its side, less 8192, in the pixels' order (pixels 0-3, 4-7 a register;
// per lane for AVX2).
__attribute__((target("sse2"))) uint32_t V210SpanSse2(const int16_t* luma, const int16_t* pairs,
                                                      uint8_t* out, uint32_t n,
                                                      const YuvCoefficients& k) {
    const Sse2Coefficients c = Sse2Of(k);
    const __m128i lumaTerm = _mm_set1_epi32(
        static_cast<int32_t>(static_cast<uint16_t>(k.y)) |
        static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(k.y - 512)) << 16));
    const __m128i minus256 = _mm_set1_epi16(-256), c8192 = _mm_set1_epi16(8192);
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i y4 =
            _mm_slli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + i)), 2);
        const __m128i yLo = _mm_madd_epi16(_mm_unpacklo_epi16(y4, minus256), lumaTerm);
        const __m128i yHi = _mm_madd_epi16(_mm_unpackhi_epi16(y4, minus256), lumaTerm);
        const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + i));
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + i + 2));
        const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + i + 4));
        const __m128i here3 = _mm_sub_epi16(_mm_add_epi16(here, _mm_add_epi16(here, here)), c8192);
        const __m128i even = _mm_add_epi16(here3, before), odd = _mm_add_epi16(here3, after);
        Sse2Channels(yLo, yHi, _mm_unpacklo_epi32(even, odd), _mm_unpackhi_epi32(even, odd), c,
                     out + 4 * static_cast<size_t>(i));
    }
    return i;
}

__attribute__((target("avx2"))) uint32_t V210SpanAvx2(const int16_t* luma, const int16_t* pairs,
                                                      uint8_t* out, uint32_t n,
                                                      const YuvCoefficients& k) {
    const Avx2Coefficients c = Avx2Of(k);
    const __m256i lumaTerm = _mm256_set1_epi32(
        static_cast<int32_t>(static_cast<uint16_t>(k.y)) |
        static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(k.y - 512)) << 16));
    const __m256i minus256 = _mm256_set1_epi16(-256), c8192 = _mm256_set1_epi16(8192);
    uint32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i y4 =
            _mm256_slli_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(luma + i)), 2);
        const __m256i yLo = _mm256_madd_epi16(_mm256_unpacklo_epi16(y4, minus256), lumaTerm);
        const __m256i yHi = _mm256_madd_epi16(_mm256_unpackhi_epi16(y4, minus256), lumaTerm);
        const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairs + i));
        const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairs + i + 2));
        const __m256i after = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairs + i + 4));
        const __m256i here3 =
            _mm256_sub_epi16(_mm256_add_epi16(here, _mm256_add_epi16(here, here)), c8192);
        const __m256i even = _mm256_add_epi16(here3, before);
        const __m256i odd = _mm256_add_epi16(here3, after);
        Avx2Channels(yLo, yHi, _mm256_unpacklo_epi32(even, odd), _mm256_unpackhi_epi32(even, odd),
                     c, out + 4 * static_cast<size_t>(i));
    }
    return i;
}

}  // namespace detail
}  // namespace convert

#endif
