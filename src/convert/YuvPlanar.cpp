// Planar YUV (I420, YV12, NV12, NV21, 4:2:2, 4:1:1 and 4:1:0 planar) into
// BGRA. The planes follow one another, without padding unless the context
// gives the padded planes' geometry; see PictureLayouts.h.
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
                                        uint32_t height, const PictureContext& context) {
        Planes p;
        p.luma = stored;
        p.lumaStride = lumaStride;
        p.chromaWidth = (width + (1u << kHShift) - 1) >> kHShift;
        p.chromaHeight = (height + (1u << kVShift) - 1) >> kVShift;
        const size_t planeWidth = (lumaStride + (1u << kHShift) - 1) >> kHShift;
        p.chromaStride = context.chromaStride != 0 ? context.chromaStride : planeWidth * kStep;
        const size_t lumaRows = context.lumaPlaneRows != 0 ? context.lumaPlaneRows : height;
        const uint8_t* first = stored + lumaStride * lumaRows;
        const uint8_t* second = kStep == 2 ? first + 1 : first + p.chromaStride * p.chromaHeight;
        p.cb = kSwap ? second : first;
        p.cr = kSwap ? first : second;
        return p;
    }

    // The unit the horizontal interpolation expects (1/16 level for a
    // subsampling of 2 across, 1/8 for 4) over the sum of the vertical
    // weights (1, 4 or 8): a power of two (16, 8, 4, 2 or 1), as a shift.
    static constexpr int kShift = (kHShift == 1 ? 4 : 3) - (kVShift == 0 ? 0 : kVShift + 1);
    static CONVERT_INLINE int16_t Blend(const RowBlend& blend, const uint8_t* here,
                                        const uint8_t* other, size_t at) {
        return static_cast<int16_t>((blend.here * here[at] + blend.other * other[at]) << kShift);
    }

    // Chroma samples c0 - 1 .. c0 + count of both planes, blended down,
    // edges repeated, in that unit.
    template <SimdLevel L>
    static CONVERT_INLINE void Samples(const Planes& p, const RowBlend& blend, uint32_t c0,
                                       uint32_t count, int16_t* cb, int16_t* cr) {
        const uint8_t* cbHere = p.cb + blend.j * p.chromaStride;
        const uint8_t* cbOther = p.cb + blend.partner * p.chromaStride;
        const uint8_t* crHere = p.cr + blend.j * p.chromaStride;
        const uint8_t* crOther = p.cr + blend.partner * p.chromaStride;
        const auto wHere = static_cast<int16_t>(blend.here);
        const auto wOther = static_cast<int16_t>(blend.other);
        uint32_t i = 0;
#if CONVERT_X86
        if constexpr (L != SimdLevel::Portable) {
            if constexpr (kStep == 2) {
                // Interleaved: pairs from the plane's first byte, in its order.
                const uint8_t* here = kSwap ? crHere : cbHere;
                const uint8_t* other = kSwap ? crOther : cbOther;
                int16_t* first = kSwap ? cr + 1 : cb + 1;
                int16_t* second = kSwap ? cb + 1 : cr + 1;
                i = BlendPairsSse2(here + 2 * static_cast<size_t>(c0),
                                   other + 2 * static_cast<size_t>(c0), wHere, wOther, kShift,
                                   first, second, count);
            } else {
                i = BlendRowsSse2(cbHere + c0, cbOther + c0, wHere, wOther, kShift, cb + 1, count);
                BlendRowsSse2(crHere + c0, crOther + c0, wHere, wOther, kShift, cr + 1, i);
            }
        }
#endif
        for (; i < count; ++i) {
            const size_t at = static_cast<size_t>(c0 + i) * kStep;
            cb[i + 1] = Blend(blend, cbHere, cbOther, at);
            cr[i + 1] = Blend(blend, crHere, crOther, at);
        }
        const size_t before = static_cast<size_t>(c0 > 0 ? c0 - 1 : 0) * kStep;
        const size_t after =
            static_cast<size_t>(c0 + count < p.chromaWidth ? c0 + count : p.chromaWidth - 1) *
            kStep;
        cb[0] = Blend(blend, cbHere, cbOther, before);
        cr[0] = Blend(blend, crHere, crOther, before);
        cb[count + 1] = Blend(blend, cbHere, cbOther, after);
        cr[count + 1] = Blend(blend, crHere, crOther, after);
    }

    template <SimdLevel L>
    static CONVERT_INLINE void Run(CONVERT_KERNEL_PARAMS) {
        const YuvCoefficients& k = CoefficientsOf(context);
        const Planes p = Locate(stored, storedStride, width, height, context);
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* lumaRow = p.luma + y * p.lumaStride;
            const RowBlend blend = BlendForRow<kVShift>(y, p.chromaHeight);
            uint8_t* outRow = OutRow(out, outStride, y);
            for (uint32_t x0 = 0; x0 < width; x0 += kSpan) {
                const uint32_t n = width - x0 < kSpan ? width - x0 : kSpan;
                const uint32_t c0 = x0 >> kHShift;
                const uint32_t count = (n + (1u << kHShift) - 1) >> kHShift;
                int16_t luma[kSpan], cb[kSpan / 2 + 2], cr[kSpan / 2 + 2];
                uint32_t i = 0;
#if CONVERT_X86
                if constexpr (L != SimdLevel::Portable) i = LumaTimes4Sse2(lumaRow + x0, luma, n);
#endif
                for (; i < n; ++i) luma[i] = static_cast<int16_t>(lumaRow[x0 + i] * 4);
                Samples<L>(p, blend, c0, count, cb, cr);
                uint8_t* const at = outRow + 4 * static_cast<size_t>(x0);
                if constexpr (kHShift == 1) {
                    YuvSpanBy2ToBgra<L>(luma, cb, cr, at, n, k);
                } else {
                    int16_t cbFull[kSpan + 4], crFull[kSpan + 4];
                    UpsampleBy4<L>(cb, cbFull, n);
                    UpsampleBy4<L>(cr, crFull, n);
                    YuvSpanToBgra<L>(luma, cbFull, crFull, at, n, k);
                }
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
