// 8-bit grey into BGRA: every channel the stored value (full range), as
// machine-vision cameras write it and as ffmpeg reads it.
#include "convert/PictureKernelSupport.h"

namespace convert {
namespace detail {

namespace {

#if CONVERT_X86
// 16 pixels a block: the grey bytes doubled (g, g) and paired with alpha
// (g, 255), then the pairs interleaved into (g, g, g, 255).
__attribute__((target("sse2"))) void GreyBlocksSse2(const uint8_t* row, uint8_t* outRow,
                                                    uint32_t blocks, const void*) {
    const __m128i alpha = _mm_set1_epi8(static_cast<char>(0xFF));
    for (uint32_t b = blocks; b-- > 0;) {
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16 * size_t{b}));
        const __m128i ggLo = _mm_unpacklo_epi8(g, g), ggHi = _mm_unpackhi_epi8(g, g);
        const __m128i gaLo = _mm_unpacklo_epi8(g, alpha), gaHi = _mm_unpackhi_epi8(g, alpha);
        __m128i* o = reinterpret_cast<__m128i*>(outRow + 64 * size_t{b});
        _mm_storeu_si128(o, _mm_unpacklo_epi16(ggLo, gaLo));
        _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(ggLo, gaLo));
        _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(ggHi, gaHi));
        _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(ggHi, gaHi));
    }
}

// The same, 32 pixels a block; the in-lane unpacks leave pixels 0-3 | 16-19
// and so on, put back in order by the lane permutes.
__attribute__((target("avx2"))) void GreyBlocksAvx2(const uint8_t* row, uint8_t* outRow,
                                                    uint32_t blocks, const void*) {
    const __m256i alpha = _mm256_set1_epi8(static_cast<char>(0xFF));
    for (uint32_t b = blocks; b-- > 0;) {
        const __m256i g =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 32 * size_t{b}));
        const __m256i ggLo = _mm256_unpacklo_epi8(g, g), ggHi = _mm256_unpackhi_epi8(g, g);
        const __m256i gaLo = _mm256_unpacklo_epi8(g, alpha), gaHi = _mm256_unpackhi_epi8(g, alpha);
        const __m256i p0 = _mm256_unpacklo_epi16(ggLo, gaLo),
                      p1 = _mm256_unpackhi_epi16(ggLo, gaLo);
        const __m256i p2 = _mm256_unpacklo_epi16(ggHi, gaHi),
                      p3 = _mm256_unpackhi_epi16(ggHi, gaHi);
        __m256i* o = reinterpret_cast<__m256i*>(outRow + 128 * size_t{b});
        _mm256_storeu_si256(o, _mm256_permute2x128_si256(p0, p1, 0x20));
        _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(p2, p3, 0x20));
        _mm256_storeu_si256(o + 2, _mm256_permute2x128_si256(p0, p1, 0x31));
        _mm256_storeu_si256(o + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
    }
}
#endif

struct Grey {
    template <SimdLevel L>
    static CONVERT_INLINE void Run(CONVERT_KERNEL_PARAMS) {
        (void)context;
        RowBlocks blocks;
#if CONVERT_X86
        if constexpr (L == SimdLevel::Avx2) {
            blocks = RowBlocks{GreyBlocksAvx2, 32, 32};
        } else if constexpr (L != SimdLevel::Portable) {
            blocks = RowBlocks{GreyBlocksSse2, 16, 16};
        }
#endif
        RowsLastFirst<1>(
            stored, storedStride, out, outStride, width, height,
            [](const uint8_t* p) -> uint32_t { return p[0] * 0x010101u | 0xFF000000u; }, blocks);
    }
};

}  // namespace

PictureKernel GreyKernel(SimdLevel level) { return KernelAtLevel<Grey>(level); }

}  // namespace detail
}  // namespace convert
