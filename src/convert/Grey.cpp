// 8-bit grey into BGRA: every channel the stored value (full range), as
// machine-vision cameras write it and as ffmpeg reads it.
#include "convert/PictureKernelSupport.h"

namespace convert {
namespace detail {

namespace {

struct Grey {
    template <SimdLevel L>
    static CONVERT_INLINE void Run(CONVERT_KERNEL_PARAMS) {
        (void)context;
        for (uint32_t r = height; r-- > 0;) {
            const uint8_t* row = stored + static_cast<size_t>(r) * storedStride;
            uint8_t* outRow = OutRow(out, outStride, r);
            for (uint32_t s = (width + kSpan - 1) / kSpan; s-- > 0;) {
                const uint32_t x0 = s * kSpan;
                const uint32_t n = width - x0 < kSpan ? width - x0 : kSpan;
                uint8_t luma[kSpan];
                uint32_t words[kSpan];
                std::memcpy(luma, row + x0, n);
                for (uint32_t i = 0; i < n; ++i) words[i] = luma[i] * 0x010101u | 0xFF000000u;
                std::memcpy(outRow + 4 * static_cast<size_t>(x0), words,
                            static_cast<size_t>(n) * 4);
            }
        }
    }
};

}  // namespace

PictureKernel GreyKernel(SimdLevel level) { return KernelAtLevel<Grey>(level); }

}  // namespace detail
}  // namespace convert
