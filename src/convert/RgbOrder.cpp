// 8-bit-per-channel RGB in other byte orders into BGRA: RGBA and ARGB (alpha kept),
// BGRx and RGBx (the fourth byte ignored, alpha 255), RGB and BGR.
#include "convert/PictureKernelSupport.h"

namespace convert {
namespace detail {

namespace {

// kBytes a stored pixel; red, green and blue at kR, kG, kB; alpha at kA, or
// 255 when kA < 0.
template <int kBytes, int kR, int kG, int kB, int kA>
struct Reorder {
    template <SimdLevel L>
    static CONVERT_INLINE void Run(CONVERT_KERNEL_PARAMS) {
        (void)context;
        for (uint32_t r = height; r-- > 0;) {
            const uint8_t* row = stored + static_cast<size_t>(r) * storedStride;
            uint8_t* outRow = OutRow(out, outStride, r);
            for (uint32_t s = (width + kSpan - 1) / kSpan; s-- > 0;) {
                const uint32_t x0 = s * kSpan;
                const uint32_t n = width - x0 < kSpan ? width - x0 : kSpan;
                uint8_t bytes[kSpan * kBytes];
                uint8_t pixels[kSpan * 4];
                std::memcpy(bytes, row + static_cast<size_t>(x0) * kBytes,
                            static_cast<size_t>(n) * kBytes);
                for (uint32_t i = 0; i < n; ++i) {
                    const uint8_t* p = bytes + kBytes * i;
                    pixels[4 * i] = p[kB];
                    pixels[4 * i + 1] = p[kG];
                    pixels[4 * i + 2] = p[kR];
                    pixels[4 * i + 3] = kA < 0 ? 255 : p[kA < 0 ? 0 : kA];
                }
                std::memcpy(outRow + 4 * static_cast<size_t>(x0), pixels,
                            static_cast<size_t>(n) * 4);
            }
        }
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
