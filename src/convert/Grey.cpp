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
        RowBlocks blocks;
#if CONVERT_X86
        if constexpr (L != SimdLevel::Portable) blocks = VectorBlocks<L, 1>(Wide<L>::GreyBlocks);
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
