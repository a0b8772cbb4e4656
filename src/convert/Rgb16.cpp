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

template <bool kGreen6>
struct Rgb16 {
    template <SimdLevel L>
    static CONVERT_INLINE void Run(CONVERT_KERNEL_PARAMS) {
        (void)context;
        RowBlocks blocks;
#if CONVERT_X86
        if constexpr (L != SimdLevel::Portable) {
            blocks = VectorBlocks<L, 2>(kGreen6 ? Wide<L>::Rgb565Blocks : Wide<L>::Rgb555Blocks);
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
