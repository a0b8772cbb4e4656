// Indexed pixels (8, 4 or 1 bits, the first pixel in the high bits of its
// byte) into BGRA through the context's palette, alpha 255.
#include "convert/PictureKernelSupport.h"

namespace convert {
namespace detail {

namespace {

template <int kBits>
struct Indexed {
    template <SimdLevel L>
    static CONVERT_INLINE void Run(CONVERT_KERNEL_PARAMS) {
        constexpr uint32_t kPerByte = 8 / kBits;
        constexpr uint32_t kMask = (1u << kBits) - 1;
        for (uint32_t r = height; r-- > 0;) {
            const uint8_t* row = stored + static_cast<size_t>(r) * storedStride;
            uint8_t* outRow = OutRow(out, outStride, r);
            for (uint32_t s = (width + kSpan - 1) / kSpan; s-- > 0;) {
                const uint32_t x0 = s * kSpan;  // a multiple of 8: whole bytes
                const uint32_t n = width - x0 < kSpan ? width - x0 : kSpan;
                uint8_t bytes[kSpan];
                uint32_t words[kSpan];
                std::memcpy(bytes, row + x0 / kPerByte, (n + kPerByte - 1) / kPerByte);
                for (uint32_t i = 0; i < n; ++i) {
                    const uint32_t shift = (kPerByte - 1 - i % kPerByte) * kBits;
                    words[i] =
                        context.palette[(bytes[i / kPerByte] >> shift) & kMask] | 0xFF000000u;
                }
                std::memcpy(outRow + 4 * static_cast<size_t>(x0), words,
                            static_cast<size_t>(n) * 4);
            }
        }
    }
};

}  // namespace

PictureKernel Pal8Kernel(SimdLevel level) { return KernelAtLevel<Indexed<8>>(level); }
PictureKernel Pal4Kernel(SimdLevel level) { return KernelAtLevel<Indexed<4>>(level); }
PictureKernel Pal1Kernel(SimdLevel level) { return KernelAtLevel<Indexed<1>>(level); }

}  // namespace detail
}  // namespace convert
