// Planar YUV (I420, YV12, NV12, NV21, 4:2:2, 4:1:1 and 4:1:0 planar) into
// BGRA. The planes follow one another without padding; see PictureLayouts.h.
#include "convert/PictureKernelSupport.h"

namespace convert {
namespace detail {

namespace {

// Where the planes of a frame lie.
struct Planes {
    const uint8_t* luma;
    const uint8_t* cb;  // first Cb byte (inside the interleaved plane for NV12/NV21)
    const uint8_t* cr;
    size_t lumaStride, chromaStride;
    uint32_t chromaWidth, chromaHeight;
};

// Vertical weights of the chroma row pair for luma row y: weight `here` of
// row `j`, the rest of `partner` (clamped to the plane), summing to
// 1 << kVShift times 2 (4:2:0: 3/4 and 1/4; 4:1:0: 5/8, 3/8 or 7/8, 1/8).
struct RowBlend {
    uint32_t j, partner;
    int32_t here, other;
};
template <int kVShift>
CONVERT_INLINE RowBlend BlendForRow(uint32_t y, uint32_t chromaHeight) {
    const uint32_t j = y >> kVShift;
    if (kVShift == 0) return RowBlend{j, j, 1, 0};
    const uint32_t m = y & ((1u << kVShift) - 1);
    const bool down = m >= (1u << kVShift) / 2;
    uint32_t partner = down ? j + 1 : (j > 0 ? j - 1 : 0);
    if (partner >= chromaHeight) partner = chromaHeight - 1;
    if (kVShift == 1) return RowBlend{j, partner, 3, 1};
    static const int32_t kNear[4] = {5, 7, 7, 5};
    return RowBlend{j, partner, kNear[m], 8 - kNear[m]};
}

// kHShift, kVShift: chroma subsampling (log2) across and down; kStep: bytes
// between a plane's chroma samples (2 where Cb and Cr are interleaved);
// kSwap: the second chroma plane (or byte) is Cb.
template <int kHShift, int kVShift, int kStep, bool kSwap>
struct Planar {
    static CONVERT_INLINE Planes Locate(const uint8_t* stored, size_t lumaStride, uint32_t width,
                                        uint32_t height) {
        Planes p;
        p.luma = stored;
        p.lumaStride = lumaStride;
        p.chromaWidth = (width + (1u << kHShift) - 1) >> kHShift;
        p.chromaHeight = (height + (1u << kVShift) - 1) >> kVShift;
        const size_t planeWidth = (lumaStride + (1u << kHShift) - 1) >> kHShift;
        p.chromaStride = planeWidth * kStep;
        const uint8_t* first = stored + lumaStride * height;
        const uint8_t* second = kStep == 2 ? first + 1 : first + p.chromaStride * p.chromaHeight;
        p.cb = kSwap ? second : first;
        p.cr = kSwap ? first : second;
        return p;
    }

    // Chroma samples c0 - 1 .. c0 + count of one plane, blended down,
    // edges repeated, in the unit the horizontal interpolation expects
    // (1/16 level for a subsampling of 2 across, 1/8 for 4).
    static CONVERT_INLINE void Samples(const uint8_t* plane, size_t chromaStride,
                                       const RowBlend& blend, uint32_t c0, uint32_t count,
                                       uint32_t chromaWidth, int16_t* samples) {
        constexpr int32_t kUnit = kHShift == 1 ? 16 : 8;
        constexpr int32_t kScale = kUnit / (kVShift == 0 ? 1 : (kVShift == 1 ? 4 : 8));
        const uint8_t* here = plane + blend.j * chromaStride;
        const uint8_t* other = plane + blend.partner * chromaStride;
        for (uint32_t i = 0; i < count; ++i) {
            const size_t at = static_cast<size_t>(c0 + i) * kStep;
            samples[i + 1] =
                static_cast<int16_t>((blend.here * here[at] + blend.other * other[at]) * kScale);
        }
        const size_t before = static_cast<size_t>(c0 > 0 ? c0 - 1 : 0) * kStep;
        const size_t after =
            static_cast<size_t>(c0 + count < chromaWidth ? c0 + count : chromaWidth - 1) * kStep;
        samples[0] = static_cast<int16_t>(
            (blend.here * here[before] + blend.other * other[before]) * kScale);
        samples[count + 1] =
            static_cast<int16_t>((blend.here * here[after] + blend.other * other[after]) * kScale);
    }

    template <SimdLevel L>
    static CONVERT_INLINE void Run(CONVERT_KERNEL_PARAMS) {
        const YuvCoefficients& k = CoefficientsOf(context);
        const Planes p = Locate(stored, storedStride, width, height);
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* lumaRow = p.luma + y * p.lumaStride;
            const RowBlend blend = BlendForRow<kVShift>(y, p.chromaHeight);
            uint8_t* outRow = OutRow(out, outStride, y);
            for (uint32_t x0 = 0; x0 < width; x0 += kSpan) {
                const uint32_t n = width - x0 < kSpan ? width - x0 : kSpan;
                const uint32_t c0 = x0 >> kHShift;
                const uint32_t count = (n + (1u << kHShift) - 1) >> kHShift;
                int16_t luma[kSpan], cb[kSpan / 2 + 2], cr[kSpan / 2 + 2];
                int16_t cbFull[kSpan + 4], crFull[kSpan + 4];
                for (uint32_t i = 0; i < n; ++i)
                    luma[i] = static_cast<int16_t>(lumaRow[x0 + i] * 4);
                Samples(p.cb, p.chromaStride, blend, c0, count, p.chromaWidth, cb);
                Samples(p.cr, p.chromaStride, blend, c0, count, p.chromaWidth, cr);
                if (kHShift == 1) {
                    UpsampleBy2(cb, cbFull, n);
                    UpsampleBy2(cr, crFull, n);
                } else {
                    UpsampleBy4(cb, cbFull, n);
                    UpsampleBy4(cr, crFull, n);
                }
                YuvSpanToBgra<L>(luma, cbFull, crFull, outRow + 4 * static_cast<size_t>(x0), n, k);
            }
        }
    }
};

}  // namespace

PictureKernel I420Kernel(SimdLevel level) { return KernelAtLevel<Planar<1, 1, 1, false>>(level); }
PictureKernel Yv12Kernel(SimdLevel level) { return KernelAtLevel<Planar<1, 1, 1, true>>(level); }
PictureKernel Nv12Kernel(SimdLevel level) { return KernelAtLevel<Planar<1, 1, 2, false>>(level); }
PictureKernel Nv21Kernel(SimdLevel level) { return KernelAtLevel<Planar<1, 1, 2, true>>(level); }
PictureKernel Yuv422PKernel(SimdLevel level) {
    return KernelAtLevel<Planar<1, 0, 1, false>>(level);
}
PictureKernel Yuv411PKernel(SimdLevel level) {
    return KernelAtLevel<Planar<2, 0, 1, false>>(level);
}
PictureKernel Yuv410PKernel(SimdLevel level) {
    return KernelAtLevel<Planar<2, 2, 1, false>>(level);
}
PictureKernel Yvu410PKernel(SimdLevel level) { return KernelAtLevel<Planar<2, 2, 1, true>>(level); }

// Luma plane plus two chroma planes (or one interleaved plane of twice the
// width: the same bytes).
uint64_t PlanarBytes(int hShift, int vShift, uint64_t lumaStride, uint32_t height) {
    const uint64_t planeWidth = (lumaStride + (1u << hShift) - 1) >> hShift;
    const uint64_t chromaHeight = (uint64_t{height} + (1u << vShift) - 1) >> vShift;
    return lumaStride * height + 2 * planeWidth * chromaHeight;
}

}  // namespace detail
}  // namespace convert
