// Indexed pixels (8, 4 or 1 bits, the first pixel in the high bits of its
// byte) into BGRA through the context's palette, alpha 255.
//
// Each call first makes a table by stored byte: the BGRA word of its index
// (8 bits), the two words of its two pixels (4 bits) or the eight of its
// eight pixels (1 bit), so that a byte becomes its pixels by one lookup.
#include "convert/PictureKernelSupport.h"

namespace convert {
namespace detail {

namespace {

#if CONVERT_X86
// 8-bit indexes, 8 pixels a block: the indexes widened to 32 bits and the
// words gathered from the table.
__attribute__((target("avx2"))) void Pal8BlocksAvx2(const uint8_t* row, uint8_t* outRow,
                                                    uint32_t blocks, const void* table) {
    const int* words = static_cast<const int*>(table);
    for (uint32_t b = blocks; b-- > 0;) {
        const __m256i index = _mm256_cvtepu8_epi32(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + 8 * size_t{b})));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(outRow + 32 * size_t{b}),
                            _mm256_i32gather_epi32(words, index, 4));
    }
}
#endif

template <int kBits>
struct Indexed {
    static constexpr uint32_t kPerByte = 8 / kBits;
    static constexpr uint32_t kMask = (1u << kBits) - 1;

    template <SimdLevel L>
    static CONVERT_INLINE void Run(CONVERT_KERNEL_PARAMS) {
        uint32_t colour[1u << kBits];
        for (uint32_t i = 0; i <= kMask; ++i) colour[i] = context.palette[i] | 0xFF000000u;
        if constexpr (kBits == 8) {
            RowBlocks blocks;
#if CONVERT_X86
            if constexpr (L == SimdLevel::Avx2) blocks = RowBlocks{Pal8BlocksAvx2, 8, 8};
#endif
            RowsLastFirst<1, false>(
                stored, storedStride, out, outStride, width, height,
                [&colour](const uint8_t* p) -> uint32_t { return colour[p[0]]; }, blocks, colour);
            return;
        }
        // The words of every byte's pixels, first pixel first.
        uint32_t byByte[256][kPerByte];
        for (uint32_t v = 0; v < 256; ++v)
            for (uint32_t i = 0; i < kPerByte; ++i)
                byByte[v][i] = colour[(v >> (8 - kBits * (i + 1))) & kMask];
        const uint32_t wholeBytes = width / kPerByte, rest = width % kPerByte;
        // Last first, byte by byte: a byte is read before its pixels are
        // written, and they land at or after it (see RowsLastFirst).
        for (uint32_t r = height; r-- > 0;) {
            const uint8_t* row = stored + static_cast<size_t>(r) * storedStride;
            uint8_t* outRow = OutRow(out, outStride, r);
            if (rest > 0) {
                const uint8_t last = row[wholeBytes];
                std::memcpy(outRow + 4 * static_cast<size_t>(wholeBytes) * kPerByte, byByte[last],
                            4 * rest);
            }
            for (uint32_t i = wholeBytes; i-- > 0;)
                std::memcpy(outRow + 4 * kPerByte * static_cast<size_t>(i), byByte[row[i]],
                            4 * kPerByte);
        }
    }
};

}  // namespace

PictureKernel Pal8Kernel(SimdLevel level) { return KernelAtLevel<Indexed<8>>(level); }
PictureKernel Pal4Kernel(SimdLevel level) { return KernelAtLevel<Indexed<4>>(level); }
PictureKernel Pal1Kernel(SimdLevel level) { return KernelAtLevel<Indexed<1>>(level); }

}  // namespace detail
}  // namespace convert
