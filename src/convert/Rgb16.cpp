// 16-bit RGB (little-endian words, 5-5-5 with the top bit unused, or 5-6-5)
// into BGRA. A 5-bit channel v becomes (v << 3) | (v >> 2) and a 6-bit one
// (v << 2) | (v >> 4): the top bits repeated below, so that 0 stays 0 and
// the largest value becomes 255, as ffmpeg widens them.
#include "convert/PictureKernelSupport.h"

namespace convert {
namespace detail {

namespace {

template <bool kGreen6>
CONVERT_INLINE uint32_t Rgb16Pixel(const uint8_t* bytes) {
    const uint32_t p = bytes[0] | static_cast<uint32_t>(bytes[1]) << 8;
    const uint32_t b5 = p & 31;
    const uint32_t b = (b5 << 3) | (b5 >> 2);
    uint32_t g, r;
    if (kGreen6) {
        const uint32_t g6 = (p >> 5) & 63, r5 = (p >> 11) & 31;
        g = (g6 << 2) | (g6 >> 4);
        r = (r5 << 3) | (r5 >> 2);
    } else {
        const uint32_t g5 = (p >> 5) & 31, r5 = (p >> 10) & 31;
        g = (g5 << 3) | (g5 >> 2);
        r = (r5 << 3) | (r5 >> 2);
    }
    return b | g << 8 | r << 16 | 0xFF000000u;
}

#if CONVERT_X86
// The same on 16-bit lanes: blue | green << 8 and red | 255 << 8, interleaved
// into words. 8 pixels a block.
template <bool kGreen6>
__attribute__((target("sse2"))) void Rgb16BlocksSse2(const uint8_t* row, uint8_t* outRow,
                                                     uint32_t blocks, const void*) {
    const __m128i m5 = _mm_set1_epi16(31), m6 = _mm_set1_epi16(63);
    const __m128i alpha = _mm_set1_epi16(static_cast<int16_t>(0xFF00));
    for (uint32_t b = blocks; b-- > 0;) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16 * size_t{b}));
        const __m128i b5 = _mm_and_si128(p, m5);
        const __m128i blue = _mm_or_si128(_mm_slli_epi16(b5, 3), _mm_srli_epi16(b5, 2));
        __m128i green, r5;
        if (kGreen6) {
            const __m128i g6 = _mm_and_si128(_mm_srli_epi16(p, 5), m6);
            green = _mm_or_si128(_mm_slli_epi16(g6, 2), _mm_srli_epi16(g6, 4));
            r5 = _mm_srli_epi16(p, 11);
        } else {
            const __m128i g5 = _mm_and_si128(_mm_srli_epi16(p, 5), m5);
            green = _mm_or_si128(_mm_slli_epi16(g5, 3), _mm_srli_epi16(g5, 2));
            r5 = _mm_and_si128(_mm_srli_epi16(p, 10), m5);
        }
        const __m128i red = _mm_or_si128(_mm_slli_epi16(r5, 3), _mm_srli_epi16(r5, 2));
        const __m128i bg = _mm_or_si128(blue, _mm_slli_epi16(green, 8));
        const __m128i ra = _mm_or_si128(red, alpha);
        __m128i* o = reinterpret_cast<__m128i*>(outRow + 32 * size_t{b});
        _mm_storeu_si128(o, _mm_unpacklo_epi16(bg, ra));
        _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(bg, ra));
    }
}

// 16 pixels a block; the in-lane unpacks give pixels 0-3 | 8-11 and
// 4-7 | 12-15, put in order by the lane permutes.
template <bool kGreen6>
__attribute__((target("avx2"))) void Rgb16BlocksAvx2(const uint8_t* row, uint8_t* outRow,
                                                     uint32_t blocks, const void*) {
    const __m256i m5 = _mm256_set1_epi16(31), m6 = _mm256_set1_epi16(63);
    const __m256i alpha = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));
    for (uint32_t b = blocks; b-- > 0;) {
        const __m256i p =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 32 * size_t{b}));
        const __m256i b5 = _mm256_and_si256(p, m5);
        const __m256i blue = _mm256_or_si256(_mm256_slli_epi16(b5, 3), _mm256_srli_epi16(b5, 2));
        __m256i green, r5;
        if (kGreen6) {
            const __m256i g6 = _mm256_and_si256(_mm256_srli_epi16(p, 5), m6);
            green = _mm256_or_si256(_mm256_slli_epi16(g6, 2), _mm256_srli_epi16(g6, 4));
            r5 = _mm256_srli_epi16(p, 11);
        } else {
            const __m256i g5 = _mm256_and_si256(_mm256_srli_epi16(p, 5), m5);
            green = _mm256_or_si256(_mm256_slli_epi16(g5, 3), _mm256_srli_epi16(g5, 2));
            r5 = _mm256_and_si256(_mm256_srli_epi16(p, 10), m5);
        }
        const __m256i red = _mm256_or_si256(_mm256_slli_epi16(r5, 3), _mm256_srli_epi16(r5, 2));
        const __m256i bg = _mm256_or_si256(blue, _mm256_slli_epi16(green, 8));
        const __m256i ra = _mm256_or_si256(red, alpha);
        const __m256i lo = _mm256_unpacklo_epi16(bg, ra), hi = _mm256_unpackhi_epi16(bg, ra);
        __m256i* o = reinterpret_cast<__m256i*>(outRow + 64 * size_t{b});
        _mm256_storeu_si256(o, _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(lo, hi, 0x31));
    }
}
#endif

template <bool kGreen6>
struct Rgb16 {
    template <SimdLevel L>
    static CONVERT_INLINE void Run(CONVERT_KERNEL_PARAMS) {
        (void)context;
        RowBlocks blocks;
#if CONVERT_X86
        if constexpr (L == SimdLevel::Avx2) {
            blocks = RowBlocks{Rgb16BlocksAvx2<kGreen6>, 16, 32};
        } else if constexpr (L != SimdLevel::Portable) {
            blocks = RowBlocks{Rgb16BlocksSse2<kGreen6>, 8, 16};
        }
#endif
        RowsLastFirst<2>(stored, storedStride, out, outStride, width, height, Rgb16Pixel<kGreen6>,
                         blocks);
    }
};

}  // namespace

PictureKernel Rgb555Kernel(SimdLevel level) { return KernelAtLevel<Rgb16<false>>(level); }
PictureKernel Rgb565Kernel(SimdLevel level) { return KernelAtLevel<Rgb16<true>>(level); }

}  // namespace detail
}  // namespace convert
