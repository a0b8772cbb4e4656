// What the picture kernels share: the build of one kernel body at every
// SIMD level, the fixed-point YUV conversion of a span of pixels, and the
// chroma interpolation. Internal to convert/.
//
// A kernel is a struct with a static Run taking the PictureKernel
// arguments; every function it reaches is forced inline, so that each level's
// entry point (compiled with that level's target attribute) gets the whole
// body compiled, and vectorised, for its instructions. The arithmetic is
// integer only, so every level gives the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "convert/PictureLayouts.h"
#include "convert/SimdVec.h"

#define CONVERT_INLINE inline __attribute__((always_inline))

namespace convert {
namespace detail {

#define CONVERT_KERNEL_PARAMS                                                                      \
    const uint8_t *stored, size_t storedStride, uint8_t *out, ptrdiff_t outStride, uint32_t width, \
        uint32_t height, const PictureContext &context

#if defined(__x86_64__) || defined(__i386__)
#define CONVERT_X86 1
#else
#define CONVERT_X86 0
#endif

// The entry point of kernel K built for `level`, or nullptr.
template <class K>
PictureKernel KernelAtLevel(SimdLevel level) {
    return KernelAt<K, PictureKernel>(level);
}

// Pixels converted per span: a multiple of 48 (v210's block) and of 4 (the
// largest chroma subsampling), small enough for the span's working arrays
// to stay in the first-level cache.
constexpr uint32_t kSpan = 192;

// Fixed point of the YUV conversion, with coefficients that fit in 16 bits
// so that the vector forms multiply and add pairs of 16-bit values into 32
// bits (pmaddwd) with the same result as the plain form. Luma enters in
// quarter levels (8-bit x 4, or 10-bit as stored) less 64, chroma in 1/64
// levels (8-bit x 64, or 10-bit x 16) less 8192. The luma term is taken
// with 16 fraction bits (plus the rounding half) and then scaled by 4, the
// chroma terms with 18:
//   channel = (4 (ky Y + 2^15) + kc C [+ kc' C']) >> 18, clamped to 0..255.
// Sums stay below 2^28.
constexpr int kLumaBits = 16;
constexpr int kChromaBits = 18;
struct YuvCoefficients {
    int16_t y;   // per quarter level of luma, 16 fraction bits
    int16_t vr;  // per 1/64 level of Cr, into red, 18 fraction bits
    int16_t ug;  // per 1/64 level of Cb, out of green (subtracted)
    int16_t vg;  // per 1/64 level of Cr, out of green (subtracted)
    int16_t ub;  // per 1/64 level of Cb, into blue
};

constexpr int16_t Fixed(double value, int bits) {
    return static_cast<int16_t>(value * (1 << bits) + 0.5);
}
constexpr YuvCoefficients MakeCoefficients(double kr, double kb) {
    const double c = 255.0 / 224.0 / 64.0;
    return YuvCoefficients{Fixed(255.0 / 219.0 / 4.0, kLumaBits),
                           Fixed(2 * (1 - kr) * c, kChromaBits),
                           Fixed(2 * kb * (1 - kb) / (1 - kr - kb) * c, kChromaBits),
                           Fixed(2 * kr * (1 - kr) / (1 - kr - kb) * c, kChromaBits),
                           Fixed(2 * (1 - kb) * c, kChromaBits)};
}
constexpr YuvCoefficients kBt601 = MakeCoefficients(0.299, 0.114);
constexpr YuvCoefficients kBt709 = MakeCoefficients(0.2126, 0.0722);

CONVERT_INLINE const YuvCoefficients& CoefficientsOf(const PictureContext& context) {
    return context.bt709 ? kBt709 : kBt601;
}

CONVERT_INLINE int32_t ClampByte(int32_t v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// One pixel, the plain form.
CONVERT_INLINE uint32_t YuvPixel(int32_t luma, int32_t cb, int32_t cr, const YuvCoefficients& k) {
    const int32_t y = ((luma - 64) * k.y + (1 << (kLumaBits - 1))) * 4;
    const int32_t u = cb - 8192, v = cr - 8192;
    const int32_t r = ClampByte((y + k.vr * v) >> kChromaBits);
    const int32_t g = ClampByte((y - k.ug * u - k.vg * v) >> kChromaBits);
    const int32_t b = ClampByte((y + k.ub * u) >> kChromaBits);
    return static_cast<uint32_t>(b) | static_cast<uint32_t>(g) << 8 |
           static_cast<uint32_t>(r) << 16 | 0xFF000000u;
}

#if CONVERT_X86
// The vector kernels written once for every width: each is compiled for
// SSE2 (Vec128) and for AVX2 (Vec256) from one body (WidthKernelBodies.h,
// included once per width by WidthKernels.cpp), so that the widths cannot
// drift apart. `Wide<L>::Kernel` is the one built for level L's width
// (VecAt<L>, SimdVec.h). Each does the leading part of its loop that whole
// vectors cover and returns how far it went, or converts whole blocks; the
// callers' plain loops do the rest. Not inlined: each is compiled for its
// own instructions and called from every level's kernels at or above it.
enum class SpanChroma { PerPixel, By2 };

// Output byte i of a 128-bit lane from stored byte index[i] of the same
// lane (none where its top bit is set), or-ed with `opaque` a pixel.
struct ByteShuffle {
    int8_t index[16];
    uint32_t opaque;
};

template <class V>
struct WidthKernels {
    // YUV into BGRA over the first pixels of a span: n rounded down to whole
    // vectors of 16-bit elements (8 or 16 pixels). Chroma as YuvSpanToBgra
    // takes it (PerPixel), or subsampled by 2 and interpolated on the way,
    // cb and cr as YuvSpanBy2ToBgra takes them (By2).
    static uint32_t YuvSpan(const int16_t* luma, const int16_t* cb, const int16_t* cr,
                            SpanChroma chroma, uint8_t* out, uint32_t n, const YuvCoefficients& k);
    // Packed 4:2:2 straight from the row: `blocks` blocks of 8 or 16 pixels
    // from pixel x0 (even, >= 2), last block first; each reads the 4 bytes
    // before and after its own bytes. order 0: U Y V Y; 1: Y U Y V; 2: Y V Y U.
    static void Packed422Blocks(const uint8_t* row, uint8_t* outRow, uint32_t x0, uint32_t blocks,
                                int order, const YuvCoefficients& k);
    // v210 groups (16 bytes, 6 pixels, one after another) unpacked: each
    // group's 6 lumas as stored into luma[6 g ..], its 3 (Cb, Cr) pairs x 4
    // into pairs[6 g ..]; writes up to 2 lumas and 1 pair past the last
    // group's own (room the caller leaves). Takes `count` rounded down to
    // whole vectors (1 or 2 groups). The 128-bit form needs SSSE3.
    static uint32_t V210Unpack(const uint8_t* groups, uint32_t count, int16_t* luma,
                               int16_t* pairs);
    // n pixels from v210's unpacked luma and chroma pairs (pairs[2 j],
    // pairs[2 j + 1]: sample j - 1 of the span x 4, the edge ones in place),
    // n rounded down to 8 or 16.
    static uint32_t V210Span(const int16_t* luma, const int16_t* pairs, uint8_t* out, uint32_t n,
                             const YuvCoefficients& k);
    // Chroma subsampled by 4, widened by the cubic on the way, with the
    // integers of CubicBy4 then YuvSpanToBgra: lumas straight from the
    // stored row, cbSamples and crSamples as CubicBy4 takes them (with 8
    // more readable past them), the cubic's sums `drop` bits down (4 or
    // 10); n rounded down to whole vectors.
    static uint32_t YuvSpanCubic(const uint8_t* lumaRow, const int16_t* cbSamples,
                                 const int16_t* crSamples, int drop, uint8_t* out, uint32_t n,
                                 const YuvCoefficients& k);
    // dst[i] = (sum of weights[t] x rows[t][at + i], t = 0 .. 3, + 8) >> 4,
    // weights those of a kCubicBy4 row: all n where n is at least a vector
    // of 16-bit elements, else none. The 128-bit form needs SSSE3.
    static uint32_t BlendFourRows(const uint8_t* const rows[4], size_t at, const int16_t* weights,
                                  int16_t* dst, uint32_t n);
    // Row blocks (RowBlocks) of one vector's load: 16-bit RGB 5-5-5 and
    // 5-6-5, 8-bit grey.
    static void Rgb555Blocks(const uint8_t* row, uint8_t* outRow, uint32_t blocks, const void*);
    static void Rgb565Blocks(const uint8_t* row, uint8_t* outRow, uint32_t blocks, const void*);
    static void GreyBlocks(const uint8_t* row, uint8_t* outRow, uint32_t blocks, const void*);
    // 8-bit RGB of 3 or 4 bytes a pixel into BGRA by one byte shuffle a
    // 128-bit lane (4 pixels): `shuffle` a ByteShuffle. Need SSSE3.
    static void Shuffle3Blocks(const uint8_t* row, uint8_t* outRow, uint32_t blocks,
                               const void* shuffle);
    static void Shuffle4Blocks(const uint8_t* row, uint8_t* outRow, uint32_t blocks,
                               const void* shuffle);
};

// The kernels of level L's width (L above the portable level).
template <SimdLevel L>
using Wide = WidthKernels<VecAt<L>>;
#endif

// n pixels from luma (quarter levels) and interpolated chroma (1/64 levels)
// into BGRA at `out` (4 bytes a pixel, any alignment).
template <SimdLevel L>
CONVERT_INLINE void YuvSpanToBgra(const int16_t* luma, const int16_t* cb, const int16_t* cr,
                                  uint8_t* out, uint32_t n, const YuvCoefficients& k) {
    uint32_t i = 0;
#if CONVERT_X86
    if constexpr (L != SimdLevel::Portable) {
        i = Wide<L>::YuvSpan(luma, cb, cr, SpanChroma::PerPixel, out, n, k);
    }
#endif
    for (; i < n; ++i) {
        const uint32_t word = YuvPixel(luma[i], cb[i], cr[i], k);
        std::memcpy(out + 4 * static_cast<size_t>(i), &word, 4);
    }
}

#if CONVERT_X86
// Vector parts of the span preparation (SSE2, used from every x86 level),
// each doing a leading part of its loop and returning how far it went; the
// plain loops below finish. Not inlined, for the reason given above.
// dst[i] = src[i] x 4.
uint32_t LumaTimes4Sse2(const uint8_t* src, int16_t* dst, uint32_t n);
// dst[i] = (here[i] wHere + other[i] wOther) << shift.
uint32_t BlendRowsSse2(const uint8_t* here, const uint8_t* other, int16_t wHere, int16_t wOther,
                       int shift, int16_t* dst, uint32_t n);
// The same over n interleaved pairs: the first bytes into first[], the
// second into second[].
uint32_t BlendPairsSse2(const uint8_t* here, const uint8_t* other, int16_t wHere, int16_t wOther,
                        int shift, int16_t* first, int16_t* second, uint32_t n);
#endif

// Chroma subsampled by 4 (sample j at 4j + 1.5) is widened by the cubic of
// the four nearest samples (Keys' kernel, a = -0.6, the bicubic filter of
// common scalers, which a linear blend of two samples misses by up to 2
// levels next to the picture's edges). Luma position 4j + p takes samples
// j - 2 .. j + 1 (p = 0, 1) or j - 1 .. j + 2 (p = 2, 3) with the weights of
// row p: the kernel's values in 1/1024, rounded (each row sums to 1024).
constexpr int16_t kCubicBy4[4][4] = {
    {-54, 414, 754, -90},  // 0.625 past the second sample
    {-8, 103, 988, -59},   // 0.875
    {-59, 988, 103, -8},   // 0.125
    {-90, 754, 414, -54},  // 0.375
};

// `quads` groups of 4 luma positions from 4 x first: `samples` holds the
// chroma samples first - 2 up to first + quads + 1 (the edge ones already
// repeated past the picture); result[4j + p] = (sum of the weights of row p
// times samples j + p / 2 .. j + p / 2 + 3 + 2^(drop - 1)) >> drop. The
// plain form, for the pixels after the vector kernel's (YuvSpanCubic).
CONVERT_INLINE void CubicBy4(const int16_t* samples, int16_t* result, uint32_t quads, int drop) {
    const int32_t half = 1 << (drop - 1);
    for (uint32_t j = 0; j < quads; ++j)
        for (uint32_t q = 0; q < 4; ++q) {
            const int16_t* w = kCubicBy4[q];
            const int16_t* s = samples + j + (q >> 1);
            const int32_t sum = w[0] * s[0] + w[1] * s[1] + w[2] * s[2] + w[3] * s[3];
            result[4 * j + q] = static_cast<int16_t>((sum + half) >> drop);
        }
}

// n pixels from luma (quarter levels) and chroma subsampled by 2, from the
// even position x0: cbSamples and crSamples hold the chroma samples
// x0 / 2 - 1 up to (x0 + n - 1) / 2 + 1 (the edge ones already repeated past
// the picture) in 1/16 levels. Sample j sits at 2j + 0.5: position 2j takes
// 3/4 of j and 1/4 of j - 1, position 2j + 1 takes 3/4 of j and 1/4 of
// j + 1, which makes 1/64 levels; the interpolated chroma is never stored.
template <SimdLevel L>
CONVERT_INLINE void YuvSpanBy2ToBgra(const int16_t* luma, const int16_t* cbSamples,
                                     const int16_t* crSamples, uint8_t* out, uint32_t n,
                                     const YuvCoefficients& k) {
    uint32_t i = 0;
#if CONVERT_X86
    if constexpr (L != SimdLevel::Portable) {
        i = Wide<L>::YuvSpan(luma, cbSamples, crSamples, SpanChroma::By2, out, n, k);
    }
#endif
    if constexpr (L == SimdLevel::Portable) {
        // Plain loops over stored chroma, which the compiler vectorises where
        // the target lets it.
        int16_t cb[kSpan + 2], cr[kSpan + 2];
        for (uint32_t j = 0; j < (n + 1) / 2; ++j) {
            cb[2 * j] = static_cast<int16_t>(3 * cbSamples[j + 1] + cbSamples[j]);
            cb[2 * j + 1] = static_cast<int16_t>(3 * cbSamples[j + 1] + cbSamples[j + 2]);
            cr[2 * j] = static_cast<int16_t>(3 * crSamples[j + 1] + crSamples[j]);
            cr[2 * j + 1] = static_cast<int16_t>(3 * crSamples[j + 1] + crSamples[j + 2]);
        }
        YuvSpanToBgra<L>(luma, cb, cr, out, n, k);
        return;
    }
    for (; i < n; ++i) {
        const uint32_t j = i / 2, side = i % 2 == 0 ? j : j + 2;
        const int32_t cb = 3 * cbSamples[j + 1] + cbSamples[side];
        const int32_t cr = 3 * crSamples[j + 1] + crSamples[side];
        const uint32_t word = YuvPixel(luma[i], cb, cr, k);
        std::memcpy(out + 4 * static_cast<size_t>(i), &word, 4);
    }
}

// Row r of a picture whose rows are `stride` bytes apart (stride may be
// negative for the output).
CONVERT_INLINE uint8_t* OutRow(uint8_t* out, ptrdiff_t outStride, uint32_t r) {
    return out + static_cast<ptrdiff_t>(r) * outStride;
}

// The vector part of a row of whole pixels: `blocks` blocks of a fixed
// number of pixels from pixel 0, the last block first, each loading all its
// bytes before it stores its output; `table` is the kernel's own (a palette,
// or null).
using BlockRunner = void (*)(const uint8_t* row, uint8_t* outRow, uint32_t blocks,
                             const void* table);
struct RowBlocks {
    BlockRunner run = nullptr;
    uint32_t pixels = 0;  // a block's pixels
    uint32_t load = 0;    // bytes a block loads from its first pixel's (at least its own)
};

#if CONVERT_X86
// The row blocks of a width kernel at level L (above the portable level)
// over stored pixels of kBytes bytes: one vector loaded a block.
template <SimdLevel L, size_t kBytes>
CONVERT_INLINE RowBlocks VectorBlocks(BlockRunner run) {
    return RowBlocks{run, VecAt<L>::kBytes / kBytes, VecAt<L>::kBytes};
}
#endif

// The frame of a layout with whole pixels of kBytes stored bytes, each made
// into one BGRA word by `pixel(storedBytes)`: the last row first and, in a
// row, the pixels after the blocks one by one (last first), then the blocks,
// last first. Blocks are taken only where their load stays inside the row's
// width x kBytes bytes. Every pixel's bytes are read before its output is
// written and a pixel's output never reaches the bytes of the pixels before
// it (4 >= kBytes), so the frame may be converted where it was read (the
// output row is never smaller than the stored one, nor below it).
// Without blocks and with kSpans, a row goes in spans copied out whole
// before any of their output is written, which lets the compiler vectorise
// the plain loop (the copies cannot alias the output).
template <size_t kBytes, bool kSpans = true, typename PixelToWord>
CONVERT_INLINE void RowsLastFirst(const uint8_t* stored, size_t storedStride, uint8_t* out,
                                  ptrdiff_t outStride, uint32_t width, uint32_t height,
                                  PixelToWord pixel, const RowBlocks& blocks,
                                  const void* table = nullptr) {
    const uint64_t rowBytes = uint64_t{width} * kBytes;
    const uint32_t count =
        blocks.run != nullptr && rowBytes >= blocks.load
            ? static_cast<uint32_t>((rowBytes - blocks.load) / (blocks.pixels * kBytes) + 1)
            : 0;
    const uint32_t vectorEnd = count * blocks.pixels;
    for (uint32_t r = height; r-- > 0;) {
        const uint8_t* row = stored + static_cast<size_t>(r) * storedStride;
        uint8_t* outRow = OutRow(out, outStride, r);
        if (kSpans && blocks.run == nullptr) {
            for (uint32_t s = (width + kSpan - 1) / kSpan; s-- > 0;) {
                const uint32_t x0 = s * kSpan;
                const uint32_t n = width - x0 < kSpan ? width - x0 : kSpan;
                uint8_t bytes[kSpan * kBytes];
                uint32_t words[kSpan];
                std::memcpy(bytes, row + static_cast<size_t>(x0) * kBytes,
                            static_cast<size_t>(n) * kBytes);
                for (uint32_t i = 0; i < n; ++i) words[i] = pixel(bytes + kBytes * i);
                std::memcpy(outRow + 4 * static_cast<size_t>(x0), words,
                            static_cast<size_t>(n) * 4);
            }
            continue;
        }
        for (uint32_t x = width; x-- > vectorEnd;) {
            const uint32_t word = pixel(row + kBytes * static_cast<size_t>(x));
            std::memcpy(outRow + 4 * static_cast<size_t>(x), &word, 4);
        }
        if (count > 0) blocks.run(row, outRow, count, table);
    }
}

// Each layout's kernel at a level (nullptr where not built), one getter a
// layout, defined beside the kernel.
PictureKernel UyvyKernel(SimdLevel level);
PictureKernel Yuy2Kernel(SimdLevel level);
PictureKernel YvyuKernel(SimdLevel level);
PictureKernel V210Kernel(SimdLevel level);
PictureKernel I420Kernel(SimdLevel level);
PictureKernel Yv12Kernel(SimdLevel level);
PictureKernel Nv12Kernel(SimdLevel level);
PictureKernel Nv21Kernel(SimdLevel level);
PictureKernel Yuv422PKernel(SimdLevel level);
PictureKernel Yuv411PKernel(SimdLevel level);
PictureKernel Yuv410PKernel(SimdLevel level);
PictureKernel Yvu410PKernel(SimdLevel level);
PictureKernel GreyKernel(SimdLevel level);
PictureKernel Rgb555Kernel(SimdLevel level);
PictureKernel Rgb565Kernel(SimdLevel level);
PictureKernel Pal8Kernel(SimdLevel level);
PictureKernel Pal4Kernel(SimdLevel level);
PictureKernel Pal1Kernel(SimdLevel level);
PictureKernel RgbaKernel(SimdLevel level);
PictureKernel BgrxKernel(SimdLevel level);
PictureKernel RgbxKernel(SimdLevel level);
PictureKernel Rgb24Kernel(SimdLevel level);
PictureKernel ArgbKernel(SimdLevel level);
PictureKernel Bgr24Kernel(SimdLevel level);

}  // namespace detail
}  // namespace convert
