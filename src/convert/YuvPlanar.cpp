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
// row `j`, the rest of `partner` (clamped to the plane): 4:2:0 3/4 and 1/4
// of 4, 4:2:2 the row itself.
struct RowBlend {
    uint32_t j, partner;
    int32_t here, other;
};
template <int kVShift>
CONVERT_INLINE RowBlend BlendForRow(uint32_t y, uint32_t chromaHeight) {
    const uint32_t j = y >> kVShift;
    if (kVShift != 1) return RowBlend{j, j, 1, 0};
    const bool down = (y & 1) != 0;
    uint32_t partner = down ? j + 1 : (j > 0 ? j - 1 : 0);
    if (partner >= chromaHeight) partner = chromaHeight - 1;
    return RowBlend{j, partner, 3, 1};
}

// The first of the four samples around luma position `at` (4j + p).
CONVERT_INLINE int32_t FirstCubicTap(uint32_t at) {
    return static_cast<int32_t>(at >> 2) - 2 + static_cast<int32_t>((at & 3) >> 1);
}
CONVERT_INLINE uint32_t ClampIndex(int32_t i, uint32_t count) {
    return i < 0 ? 0u : (static_cast<uint32_t>(i) >= count ? count - 1 : static_cast<uint32_t>(i));
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

    // The unit the horizontal interpolation by 2 expects (1/16 level) over
    // the sum of the vertical weights (1 or 4), as a shift.
    static constexpr int kShift = kVShift == 0 ? 4 : 2;
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

    // 4:1:1 and 4:1:0 (kCubicBy4): each span's chroma samples c0 - 2 ..
    // c0 + quads + 1, edges repeated, blended down first (4:1:0) by the
    // weights of the row into 1/64 levels, rounded, then across into 1/64
    // levels. With AVX2 the widening across is fused with the conversion
    // (lumas read from the row, the widened chroma never stored); the plain
    // path finishes what the vector one leaves.
    template <SimdLevel L>
    static CONVERT_INLINE void RunCubic(CONVERT_KERNEL_PARAMS) {
        const YuvCoefficients& k = CoefficientsOf(context);
        const Planes p = Locate(stored, storedStride, width, height, context);
        // Across: whole levels (4:1:1) or 1/64 (4:1:0) times 1/1024 to 1/64.
        constexpr int kDrop = kVShift == 0 ? 4 : 10;
        const auto lastSample = static_cast<int32_t>(p.chromaWidth) - 1;
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* lumaRow = p.luma + y * p.lumaStride;
            const uint8_t* cbRows[4];
            const uint8_t* crRows[4];
            const int16_t* weights = kCubicBy4[y & 3];
            for (int t = 0; t < 4; ++t) {
                const size_t row =
                    kVShift == 0 ? y : ClampIndex(FirstCubicTap(y) + t, p.chromaHeight);
                cbRows[t] = p.cb + row * p.chromaStride;
                crRows[t] = p.cr + row * p.chromaStride;
            }
            uint8_t* outRow = OutRow(out, outStride, y);
            for (uint32_t x0 = 0; x0 < width; x0 += kSpan) {
                const uint32_t n = width - x0 < kSpan ? width - x0 : kSpan;
                const uint32_t quads = (n + 3) >> 2;
                // Samples from - 2 to from + quads + 1: those inside the plane
                // (first .. last) read, the others repeat the edge ones.
                const int32_t from = static_cast<int32_t>(x0 >> 2) - 2;
                const int32_t first = from < 0 ? 0 : from;
                const int32_t last = from + static_cast<int32_t>(quads) + 3 < lastSample
                                         ? from + static_cast<int32_t>(quads) + 3
                                         : lastSample;
                // 8 more than the span's own: the vector form reads them.
                int16_t cb[kSpan / 4 + 12], cr[kSpan / 4 + 12];
                int16_t* const cbAt = cb + (first - from);
                int16_t* const crAt = cr + (first - from);
                const auto inside = static_cast<uint32_t>(last - first + 1);
                const auto at = static_cast<size_t>(first);
                uint32_t e = 0;
                if constexpr (kVShift == 0) {
#if CONVERT_X86
                    if constexpr (L != SimdLevel::Portable) {
                        e = BlendRowsSse2(cbRows[0] + at, cbRows[0] + at, 1, 0, 0, cbAt, inside);
                        BlendRowsSse2(crRows[0] + at, crRows[0] + at, 1, 0, 0, crAt, e);
                    }
#endif
                    for (; e < inside; ++e) {
                        cbAt[e] = cbRows[0][at + e];
                        crAt[e] = crRows[0][at + e];
                    }
                } else {
#if CONVERT_X86
                    if constexpr (L == SimdLevel::Ssse3 || L == SimdLevel::Avx2) {
                        e = Wide<L>::BlendFourRows(cbRows, at, weights, cbAt, inside);
                        Wide<L>::BlendFourRows(crRows, at, weights, crAt, e);
                    }
#endif
                    const int32_t w0 = weights[0], w1 = weights[1], w2 = weights[2],
                                  w3 = weights[3];
                    for (; e < inside; ++e) {
                        const size_t c = at + e;
                        cbAt[e] =
                            static_cast<int16_t>((w0 * cbRows[0][c] + w1 * cbRows[1][c] +
                                                  w2 * cbRows[2][c] + w3 * cbRows[3][c] + 8) >>
                                                 4);
                        crAt[e] =
                            static_cast<int16_t>((w0 * crRows[0][c] + w1 * crRows[1][c] +
                                                  w2 * crRows[2][c] + w3 * crRows[3][c] + 8) >>
                                                 4);
                    }
                }
                for (int32_t f = 0; f < first - from; ++f) cb[f] = cbAt[0], cr[f] = crAt[0];
                for (auto f = static_cast<uint32_t>(last - from + 1); f < quads + 12; ++f)
                    cb[f] = cbAt[inside - 1], cr[f] = crAt[inside - 1];
                uint8_t* const spanOut = outRow + 4 * static_cast<size_t>(x0);
                // Pixels done by the vector form: whole vectors, so quads.
                uint32_t done = 0;
#if CONVERT_X86
                if constexpr (L != SimdLevel::Portable)
                    done = Wide<L>::YuvSpanCubic(lumaRow + x0, cb, cr, kDrop, spanOut, n, k);
#endif
                if (done == n) continue;
                const uint32_t rest = n - done;
                int16_t luma[kSpan];
                for (uint32_t i = 0; i < rest; ++i)
                    luma[i] = static_cast<int16_t>(lumaRow[x0 + done + i] * 4);
                int16_t cbFull[kSpan + 4], crFull[kSpan + 4];
                CubicBy4(cb + done / 4, cbFull, quads - done / 4, kDrop);
                CubicBy4(cr + done / 4, crFull, quads - done / 4, kDrop);
                YuvSpanToBgra<L>(luma, cbFull, crFull, spanOut + 4 * static_cast<size_t>(done),
                                 rest, k);
            }
        }
    }

    // Chroma subsampled by 2: linear between the two nearest samples.
    template <SimdLevel L>
    static CONVERT_INLINE void RunLinear(CONVERT_KERNEL_PARAMS) {
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
                YuvSpanBy2ToBgra<L>(luma, cb, cr, at, n, k);
            }
        }
    }

    template <SimdLevel L>
    static CONVERT_INLINE void Run(CONVERT_KERNEL_PARAMS) {
        if constexpr (kHShift == 2) {
            RunCubic<L>(stored, storedStride, out, outStride, width, height, context);
        } else {
            RunLinear<L>(stored, storedStride, out, outStride, width, height, context);
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
