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
constexpr ByteShuffle ShuffleOf() {
    ByteShuffle s{};
    for (int i = 0; i < 16; ++i) {
        const int pixel = i / 4, c = i % 4;
        const int from = c == 0 ? kB : (c == 1 ? kG : (c == 2 ? kR : kA));
        s.index[i] = static_cast<int8_t>(from < 0 ? -128 : kBytes * pixel + from);
    }
    s.opaque = kA < 0 ? 0xFF000000u : 0;
    return s;
}
template <int kBytes, int kR, int kG, int kB, int kA>
constexpr ByteShuffle kShuffle = ShuffleOf<kBytes, kR, kG, kB, kA>();
#endif

// kBytes a stored pixel; red, green and blue at kR, kG, kB; alpha at kA, or
// 255 when kA < 0.
template <int kBytes, int kR, int kG, int kB, int kA>
struct Reorder {
    template <SimdLevel L>
    static CONVERT_INLINE void Run(CONVERT_KERNEL_PARAMS) {
        (void)context;
        RowBlocks blocks;
        const void* table = nullptr;
#if CONVERT_X86
        if constexpr (L >= SimdLevel::Ssse3) {
            // 4 pixels a 128-bit lane, loaded from 4 x kBytes bytes apart.
            constexpr uint32_t kLanes = VecAt<L>::kBytes / 16;
            blocks = RowBlocks{kBytes == 3 ? Wide<L>::Shuffle3Blocks : Wide<L>::Shuffle4Blocks,
                               4 * kLanes, 4 * kBytes * (kLanes - 1) + 16};
            table = &kShuffle<kBytes, kR, kG, kB, kA>;
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
            blocks, table);
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
