#include "convert/PictureLayouts.h"

#include "convert/PictureKernelSupport.h"

namespace convert {

namespace detail {
uint64_t PlanarBytes(int hShift, int vShift, uint64_t lumaStride, uint32_t height);
}  // namespace detail

namespace {

using Getter = PictureKernel (*)(SimdLevel);

struct LayoutFacts {
    Getter kernel;
    uint32_t storedBits;  // bits a pixel of a packed layout (0: planar or v210)
    int hShift, vShift;   // chroma subsampling of a planar layout
};

// Indexed by PictureLayout.
const LayoutFacts kLayouts[] = {
    {detail::UyvyKernel, 16, 0, 0},   {detail::Yuy2Kernel, 16, 0, 0},
    {detail::YvyuKernel, 16, 0, 0},   {detail::V210Kernel, 0, 0, 0},
    {detail::I420Kernel, 0, 1, 1},    {detail::Yv12Kernel, 0, 1, 1},
    {detail::Nv12Kernel, 0, 1, 1},    {detail::Nv21Kernel, 0, 1, 1},
    {detail::Yuv422PKernel, 0, 1, 0}, {detail::Yuv411PKernel, 0, 2, 0},
    {detail::Yuv410PKernel, 0, 2, 2}, {detail::Yvu410PKernel, 0, 2, 2},
    {detail::GreyKernel, 8, 0, 0},    {detail::Rgb555Kernel, 16, 0, 0},
    {detail::Rgb565Kernel, 16, 0, 0}, {detail::Pal8Kernel, 8, 0, 0},
    {detail::Pal4Kernel, 4, 0, 0},    {detail::Pal1Kernel, 1, 0, 0},
    {detail::RgbaKernel, 32, 0, 0},   {detail::BgrxKernel, 32, 0, 0},
    {detail::RgbxKernel, 32, 0, 0},   {detail::Rgb24Kernel, 24, 0, 0},
    {detail::Bgr24Kernel, 24, 0, 0},  {detail::ArgbKernel, 32, 0, 0},
};
static_assert(sizeof kLayouts / sizeof kLayouts[0] == static_cast<size_t>(PictureLayout::Count),
              "one row a layout");

const LayoutFacts* FactsOf(PictureLayout layout) {
    const int i = static_cast<int>(layout);
    if (i < 0 || i >= static_cast<int>(PictureLayout::Count)) return nullptr;
    return &kLayouts[i];
}

}  // namespace

PictureKernel PictureKernelAt(PictureLayout layout, SimdLevel level) {
    const LayoutFacts* facts = FactsOf(layout);
    return facts == nullptr ? nullptr : facts->kernel(level);
}

PictureKernel PictureKernelFor(PictureLayout layout) {
    return PictureKernelAt(layout, ProcessorSimdLevel());
}

bool IsPlanar(PictureLayout layout) {
    const int i = static_cast<int>(layout);
    return i >= static_cast<int>(PictureLayout::I420) &&
           i <= static_cast<int>(PictureLayout::Yvu410P);
}

uint64_t PackedRowBytes(PictureLayout layout, uint32_t width) {
    const LayoutFacts* facts = FactsOf(layout);
    if (facts == nullptr || IsPlanar(layout)) return 0;
    if (layout == PictureLayout::V210) return (uint64_t{width} + 47) / 48 * 128;
    // 4:2:2 packs two pixels in four bytes: an odd width takes a whole group.
    if (facts->storedBits == 16 && layout != PictureLayout::Rgb555 &&
        layout != PictureLayout::Rgb565)
        return (uint64_t{width} + 1) / 2 * 4;
    return (uint64_t{width} * facts->storedBits + 7) / 8;
}

uint64_t PlanarFrameBytes(PictureLayout layout, uint64_t lumaStride, uint32_t height) {
    const LayoutFacts* facts = FactsOf(layout);
    if (facts == nullptr || !IsPlanar(layout)) return 0;
    return detail::PlanarBytes(facts->hShift, facts->vShift, lumaStride, height);
}

}  // namespace convert
