// 8-bit-per-channel RGB in other byte orders into BGRA: RGBA and ARGB (alpha kept),
// BGRx and RGBx (the fourth byte ignored, alpha 255), RGB and BGR.
#include "convert/PictureKernelSupport.h"

namespace convert {
namespace detail {

namespace {

#if CONVERT_X86
// Pixels of 4 bytes on SSE2, 4 a block: each output byte o taken from stored
// byte s of its word by a shift of the words by o - s bytes and a mask.
template <int kFrom, int kTo>
__attribute__((target("sse2"), always_inline)) inline __m128i ByteMoved(__m128i words) {
    const __m128i mask = _mm_set1_epi32(static_cast<int32_t>(0xFFu << (8 * kTo)));
    if constexpr (kTo > kFrom) {
        return _mm_and_si128(_mm_slli_epi32(words, 8 * (kTo - kFrom)), mask);
    } else if constexpr (kTo < kFrom) {
        return _mm_and_si128(_mm_srli_epi32(words, 8 * (kFrom - kTo)), mask);
    } else {
        return _mm_and_si128(words, mask);
    }
}
template <int kR, int kG, int kB, int kA>
__attribute__((target("sse2"))) void Words4BlocksSse2(const uint8_t* row, uint8_t* outRow,
                                                      uint32_t blocks, const void*) {
    const __m128i opaque = _mm_set1_epi32(kA < 0 ? static_cast<int32_t>(0xFF000000u) : 0);
    for (uint32_t b = blocks; b-- > 0;) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16 * size_t{b}));
        __m128i o = _mm_or_si128(_mm_or_si128(ByteMoved<kB, 0>(w), ByteMoved<kG, 1>(w)),
                                 _mm_or_si128(ByteMoved<kR, 2>(w), opaque));
        if constexpr (kA >= 0) o = _mm_or_si128(o, ByteMoved<kA, 3>(w));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(outRow + 16 * size_t{b}), o);
    }
}

// A byte shuffle of 16 bytes holding 4 pixels of kBytes bytes: output byte
// 4i + c from stored byte kBytes i + (kB, kG, kR, kA)[c], 255 where there is
// no alpha (the shuffle's zero, or-ed with 255).
template <int kBytes, int kR, int kG, int kB, int kA>
struct Shuffle {
    static constexpr char At(int i) {
        const int pixel = i / 4, c = i % 4;
        const int from = c == 0 ? kB : (c == 1 ? kG : (c == 2 ? kR : kA));
        return static_cast<char>(from < 0 ? 0x80 : kBytes * pixel + from);
    }
};
template <int kBytes, int kR, int kG, int kB, int kA>
__attribute__((target("ssse3"), always_inline)) inline __m128i ShuffleMask() {
    using S = Shuffle<kBytes, kR, kG, kB, kA>;
    return _mm_setr_epi8(S::At(0), S::At(1), S::At(2), S::At(3), S::At(4), S::At(5), S::At(6),
                         S::At(7), S::At(8), S::At(9), S::At(10), S::At(11), S::At(12), S::At(13),
                         S::At(14), S::At(15));
}

// 4 pixels a block from one 16-byte load (of which a 3-byte layout uses 12).
template <int kBytes, int kR, int kG, int kB, int kA>
__attribute__((target("ssse3"))) void ShuffleBlocksSsse3(const uint8_t* row, uint8_t* outRow,
                                                         uint32_t blocks, const void*) {
    const __m128i mask = ShuffleMask<kBytes, kR, kG, kB, kA>();
    const __m128i opaque = _mm_set1_epi32(kA < 0 ? static_cast<int32_t>(0xFF000000u) : 0);
    for (uint32_t b = blocks; b-- > 0;) {
        const __m128i v =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * kBytes * size_t{b}));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(outRow + 16 * size_t{b}),
                         _mm_or_si128(_mm_shuffle_epi8(v, mask), opaque));
    }
}

// 8 pixels a block: pixels 0-3 in the low lane, 4-7 in the high one (loaded
// from 4 x kBytes bytes on), the same shuffle in both.
template <int kBytes, int kR, int kG, int kB, int kA>
__attribute__((target("avx2"))) void ShuffleBlocksAvx2(const uint8_t* row, uint8_t* outRow,
                                                       uint32_t blocks, const void*) {
    const __m256i mask = _mm256_broadcastsi128_si256(ShuffleMask<kBytes, kR, kG, kB, kA>());
    const __m256i opaque = _mm256_set1_epi32(kA < 0 ? static_cast<int32_t>(0xFF000000u) : 0);
    for (uint32_t b = blocks; b-- > 0;) {
        const uint8_t* p = row + 8 * kBytes * size_t{b};
        __m256i v;
        if constexpr (kBytes == 4) {
            v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        } else {
            v = _mm256_inserti128_si256(
                _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * kBytes)), 1);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(outRow + 32 * size_t{b}),
                            _mm256_or_si256(_mm256_shuffle_epi8(v, mask), opaque));
    }
}
#endif

// kBytes a stored pixel; red, green and blue at kR, kG, kB; alpha at kA, or
// 255 when kA < 0.
template <int kBytes, int kR, int kG, int kB, int kA>
struct Reorder {
    template <SimdLevel L>
    static CONVERT_INLINE void Run(CONVERT_KERNEL_PARAMS) {
        (void)context;
        RowBlocks blocks;
#if CONVERT_X86
        if constexpr (L == SimdLevel::Avx2) {
            blocks = RowBlocks{ShuffleBlocksAvx2<kBytes, kR, kG, kB, kA>, 8, 4 * kBytes + 16};
        } else if constexpr (L == SimdLevel::Ssse3) {
            blocks = RowBlocks{ShuffleBlocksSsse3<kBytes, kR, kG, kB, kA>, 4, 16};
        } else if constexpr (L == SimdLevel::Sse2 && kBytes == 4) {
            blocks = RowBlocks{Words4BlocksSse2<kR, kG, kB, kA>, 4, 16};
        }
#endif
        RowsLastFirst<kBytes>(
            stored, storedStride, out, outStride, width, height,
            [](const uint8_t* p) -> uint32_t {
                const uint32_t alpha = kA < 0 ? 255u : p[kA < 0 ? 0 : kA];
                return p[kB] | static_cast<uint32_t>(p[kG]) << 8 |
                       static_cast<uint32_t>(p[kR]) << 16 | alpha << 24;
            },
            blocks);
    }
};

}  // namespace

PictureKernel RgbaKernel(SimdLevel level) { return KernelAtLevel<Reorder<4, 0, 1, 2, 3>>(level); }
PictureKernel BgrxKernel(SimdLevel level) { return KernelAtLevel<Reorder<4, 2, 1, 0, -1>>(level); }
PictureKernel RgbxKernel(SimdLevel level) { return KernelAtLevel<Reorder<4, 0, 1, 2, -1>>(level); }
PictureKernel ArgbKernel(SimdLevel level) { return KernelAtLevel<Reorder<4, 1, 2, 3, 0>>(level); }
PictureKernel Rgb24Kernel(SimdLevel level) { return KernelAtLevel<Reorder<3, 0, 1, 2, -1>>(level); }
PictureKernel Bgr24Kernel(SimdLevel level) { return KernelAtLevel<Reorder<3, 2, 1, 0, -1>>(level); }

}  // namespace detail
}  // namespace convert
