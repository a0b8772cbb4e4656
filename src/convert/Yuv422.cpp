// Packed 8-bit 4:2:2 (UYVY, YUY2, YVYU) and 10-bit v210 into BGRA.
#include "convert/PictureKernelSupport.h"

namespace convert {
namespace detail {

namespace {

// Four bytes hold two pixels: luma of the first and second at kY0 and kY1,
// their shared Cb at kU and Cr at kV. A row holds (width + 1) / 2 such
// groups (an odd width's last group has a luma byte that is not shown).
template <int kY0, int kU, int kY1, int kV>
struct Packed422 {
    // Pixels [x0, x0 + n) of a row, x0 even, n <= kSpan: read whole before
    // any output is written.
    template <SimdLevel L>
    static CONVERT_INLINE void Span(const uint8_t* row, uint32_t chromaWidth, uint32_t x0,
                                    uint32_t n, uint8_t* outRow, const YuvCoefficients& k) {
        const uint32_t pairs = (n + 1) / 2, c0 = x0 / 2;
        int16_t luma[kSpan + 2], cb[kSpan / 2 + 2], cr[kSpan / 2 + 2];
        const uint8_t* group = row + 4 * static_cast<size_t>(c0);
        for (uint32_t j = 0; j < pairs; ++j) {
            luma[2 * j] = static_cast<int16_t>(group[4 * j + kY0] * 4);
            luma[2 * j + 1] = static_cast<int16_t>(group[4 * j + kY1] * 4);
            cb[j + 1] = static_cast<int16_t>(group[4 * j + kU] * 16);
            cr[j + 1] = static_cast<int16_t>(group[4 * j + kV] * 16);
        }
        const uint32_t before = c0 > 0 ? c0 - 1 : 0;
        const uint32_t after = c0 + pairs < chromaWidth ? c0 + pairs : chromaWidth - 1;
        cb[0] = static_cast<int16_t>(row[4 * static_cast<size_t>(before) + kU] * 16);
        cr[0] = static_cast<int16_t>(row[4 * static_cast<size_t>(before) + kV] * 16);
        cb[pairs + 1] = static_cast<int16_t>(row[4 * static_cast<size_t>(after) + kU] * 16);
        cr[pairs + 1] = static_cast<int16_t>(row[4 * static_cast<size_t>(after) + kV] * 16);
        YuvSpanBy2ToBgra<L>(luma, cb, cr, outRow + 4 * static_cast<size_t>(x0), n, k);
    }

    // Pixels [x0, end) in spans, last first.
    template <SimdLevel L>
    static CONVERT_INLINE void Spans(const uint8_t* row, uint32_t chromaWidth, uint32_t x0,
                                     uint32_t end, uint8_t* outRow, const YuvCoefficients& k) {
        for (uint32_t s = (end - x0 + kSpan - 1) / kSpan; s-- > 0;) {
            const uint32_t from = x0 + s * kSpan;
            Span<L>(row, chromaWidth, from, end - from < kSpan ? end - from : kSpan, outRow, k);
        }
    }

    template <SimdLevel L>
    static CONVERT_INLINE void Run(CONVERT_KERNEL_PARAMS) {
        const YuvCoefficients& k = CoefficientsOf(context);
        const uint32_t chromaWidth = (width + 1) / 2;
        // The vector forms take blocks of 16 (AVX2) or 8 pixels from pixel
        // 16 on, each reading its own group and the ones on either side, and
        // stop 2 pixels short of the row's end so that the group after the
        // last exists; the head and the tail go through the spans.
        constexpr uint32_t block = L == SimdLevel::Avx2 ? 16 : 8;
        const uint32_t blocks = CONVERT_X86 && L != SimdLevel::Portable && width >= 16 + block + 2
                                    ? (width - 18) / block
                                    : 0;
        const uint32_t middleEnd = 16 + blocks * block;
        for (uint32_t r = height; r-- > 0;) {
            const uint8_t* row = stored + static_cast<size_t>(r) * storedStride;
            uint8_t* outRow = OutRow(out, outStride, r);
            if (blocks == 0) {
                Spans<L>(row, chromaWidth, 0, width, outRow, k);
                continue;
            }
            // Last first, for conversion in place: tail, blocks, head.
            Spans<L>(row, chromaWidth, middleEnd, width, outRow, k);
#if CONVERT_X86
            constexpr int kOrder = kU == 0 ? 0 : (kU == 1 ? 1 : 2);
            if constexpr (L != SimdLevel::Portable) {
                static_assert(VecAt<L>::kBytes / 2 == block, "a block is one vector's pixels");
                Wide<L>::Packed422Blocks(row, outRow, 16, blocks, kOrder, k);
            }
#endif
            Spans<L>(row, chromaWidth, 0, 16, outRow, k);
        }
    }
};

// v210: each 16 bytes (a group) hold 6 pixels as four little-endian words
// of three 10-bit fields (bits 0-9, 10-19, 20-29):
//   Cb0 Y0 Cr0 | Y1 Cb1 Y2 | Cr1 Y3 Cb2 | Y4 Cr2 Y5
// and 8 groups (48 pixels) make a 128-byte block; a row is whole blocks, so
// group g of a row starts at byte 16 g and every group of a started block
// may be read.
CONVERT_INLINE uint32_t Word(const uint8_t* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}
// Chroma sample c (0 = Cb, 1 = Cr) of the row.
CONVERT_INLINE int32_t V210Chroma(const uint8_t* row, uint32_t c, int which) {
    const uint8_t* g = row + 16 * static_cast<size_t>(c / 3);
    switch (c % 3) {
        case 0:
            return which == 0 ? Word(g) & 0x3FF : (Word(g) >> 20) & 0x3FF;
        case 1:
            return which == 0 ? (Word(g + 4) >> 10) & 0x3FF : Word(g + 8) & 0x3FF;
        default:
            return which == 0 ? (Word(g + 8) >> 20) & 0x3FF : (Word(g + 12) >> 10) & 0x3FF;
    }
}

// A row goes in spans of whole blocks, last first, each in two passes over
// the first-level cache: its groups unpacked into lumas (as stored) and
// (Cb, Cr) pairs x 4, with the sample on either side of the span, then
// converted, chroma interpolated on the way. The span is read whole before
// its output is written, and the next span's first group (its `after`
// sample) lies below that span's own output, so a row converts in place.
constexpr uint32_t kV210Span = 960;  // 20 blocks
static_assert(kV210Span % 48 == 0, "spans of whole blocks");

struct V210 {
    template <SimdLevel L>
    static CONVERT_INLINE void Span(const uint8_t* row, uint32_t chromaWidth, uint32_t x0,
                                    uint32_t n, uint8_t* out, const YuvCoefficients& k) {
        const uint32_t groups = (n + 5) / 6, samples = (n + 1) / 2, c0 = x0 / 2;
        const uint8_t* first = row + 16 * static_cast<size_t>(x0 / 6);
        // pairs[2 j], pairs[2 j + 1]: Cb and Cr of sample c0 - 1 + j.
        int16_t luma[kV210Span + 16], pairs[kV210Span + 16];
        uint32_t g = 0;
#if CONVERT_X86
        // Whole vectors of groups (the 128-bit form needs SSSE3), the count
        // rounded up to them: the span is whole blocks, so an odd count's
        // next group is in the row.
        if constexpr (L >= SimdLevel::Ssse3) {
            constexpr uint32_t kGroups = VecAt<L>::kBytes / 16;
            g = Wide<L>::V210Unpack(first, (groups + kGroups - 1) / kGroups * kGroups, luma,
                                    pairs + 2);
        }
#endif
        for (; g < groups; ++g) {
            const uint8_t* p = first + 16 * static_cast<size_t>(g);
            const uint32_t w0 = Word(p), w1 = Word(p + 4), w2 = Word(p + 8), w3 = Word(p + 12);
            int16_t* y = luma + 6 * g;
            y[0] = static_cast<int16_t>((w0 >> 10) & 0x3FF);
            y[1] = static_cast<int16_t>(w1 & 0x3FF);
            y[2] = static_cast<int16_t>((w1 >> 20) & 0x3FF);
            y[3] = static_cast<int16_t>((w2 >> 10) & 0x3FF);
            y[4] = static_cast<int16_t>(w3 & 0x3FF);
            y[5] = static_cast<int16_t>((w3 >> 20) & 0x3FF);
            int16_t* uv = pairs + 2 + 6 * g;
            uv[0] = static_cast<int16_t>((w0 & 0x3FF) * 4);
            uv[1] = static_cast<int16_t>(((w0 >> 20) & 0x3FF) * 4);
            uv[2] = static_cast<int16_t>(((w1 >> 10) & 0x3FF) * 4);
            uv[3] = static_cast<int16_t>((w2 & 0x3FF) * 4);
            uv[4] = static_cast<int16_t>(((w2 >> 20) & 0x3FF) * 4);
            uv[5] = static_cast<int16_t>(((w3 >> 10) & 0x3FF) * 4);
        }
        // The samples on either side, the edge one repeated past the row
        // (after the unpacking, which writes past the span's own).
        const uint32_t before = c0 > 0 ? c0 - 1 : 0;
        const uint32_t after = c0 + samples < chromaWidth ? c0 + samples : chromaWidth - 1;
        pairs[0] = static_cast<int16_t>(V210Chroma(row, before, 0) * 4);
        pairs[1] = static_cast<int16_t>(V210Chroma(row, before, 1) * 4);
        pairs[2 * samples + 2] = static_cast<int16_t>(V210Chroma(row, after, 0) * 4);
        pairs[2 * samples + 3] = static_cast<int16_t>(V210Chroma(row, after, 1) * 4);
        if constexpr (L == SimdLevel::Portable) {
            // Plain loops, which the compiler vectorises where the target
            // lets it: pixel 2 j takes 3/4 of sample j and 1/4 of j - 1,
            // pixel 2 j + 1 1/4 of j + 1.
            int16_t cb[kV210Span + 2], cr[kV210Span + 2];
            for (uint32_t j = 0; j < samples; ++j) {
                const int16_t* p = pairs + 2 * j;
                cb[2 * j] = static_cast<int16_t>(3 * p[2] + p[0]);
                cb[2 * j + 1] = static_cast<int16_t>(3 * p[2] + p[4]);
                cr[2 * j] = static_cast<int16_t>(3 * p[3] + p[1]);
                cr[2 * j + 1] = static_cast<int16_t>(3 * p[3] + p[5]);
            }
            YuvSpanToBgra<L>(luma, cb, cr, out, n, k);
            return;
        }
        uint32_t i = 0;
#if CONVERT_X86
        if constexpr (L != SimdLevel::Portable) i = Wide<L>::V210Span(luma, pairs, out, n, k);
        if constexpr (L == SimdLevel::Avx2) {  // then half a vector's pixels
            i += Wide<SimdLevel::Sse2>::V210Span(luma + i, pairs + i,
                                                 out + 4 * static_cast<size_t>(i), n - i, k);
        }
#endif
        for (; i < n; ++i) {
            const uint32_t here = 2 * (i / 2 + 1), side = i % 2 == 0 ? here - 2 : here + 2;
            const uint32_t word = YuvPixel(luma[i], 3 * pairs[here] + pairs[side],
                                           3 * pairs[here + 1] + pairs[side + 1], k);
            std::memcpy(out + 4 * static_cast<size_t>(i), &word, 4);
        }
    }

    template <SimdLevel L>
    static CONVERT_INLINE void Run(CONVERT_KERNEL_PARAMS) {
        const YuvCoefficients& k = CoefficientsOf(context);
        const uint32_t chromaWidth = (width + 1) / 2;
        const uint32_t spans = (width + kV210Span - 1) / kV210Span;
        for (uint32_t r = height; r-- > 0;) {
            const uint8_t* row = stored + static_cast<size_t>(r) * storedStride;
            uint8_t* outRow = OutRow(out, outStride, r);
            for (uint32_t s = spans; s-- > 0;) {
                const uint32_t x0 = s * kV210Span;
                const uint32_t n = width - x0 < kV210Span ? width - x0 : kV210Span;
                Span<L>(row, chromaWidth, x0, n, outRow + 4 * static_cast<size_t>(x0), k);
            }
        }
    }
};

}  // namespace

PictureKernel UyvyKernel(SimdLevel level) { return KernelAtLevel<Packed422<1, 0, 3, 2>>(level); }
PictureKernel Yuy2Kernel(SimdLevel level) { return KernelAtLevel<Packed422<0, 1, 2, 3>>(level); }
PictureKernel YvyuKernel(SimdLevel level) { return KernelAtLevel<Packed422<0, 3, 2, 1>>(level); }
PictureKernel V210Kernel(SimdLevel level) { return KernelAtLevel<V210>(level); }

}  // namespace detail
}  // namespace convert
