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
        EachPixelLastFirst<kBytes>(stored, storedStride, out, outStride, width, height,
                                   [](const uint8_t* p) -> uint32_t {
                                       const uint32_t alpha = kA < 0 ? 255u : p[kA < 0 ? 0 : kA];
                                       return p[kB] | static_cast<uint32_t>(p[kG]) << 8 |
                                              static_cast<uint32_t>(p[kR]) << 16 | alpha << 24;
                                   });
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
