// The bodies of the vector kernels written once for every width
// (WidthKernels in PictureKernelSupport.h). Included once per width by
// WidthKernels.cpp, which defines before each inclusion:
//   CONVERT_WIDTH_VEC             the width's ops (Vec128, Vec256)
//   CONVERT_WIDTH_NS              a namespace of its own for the helpers
//   CONVERT_WIDTH_TARGET          the instructions of its kernels ("sse2")
//   CONVERT_WIDTH_SHUFFLE_TARGET  those of kernels with byte shuffles ("ssse3")
// A body calls only V's ops (and lane constants built with 128-bit
// intrinsics), so that both widths run one body; where AVX2 works per
// 128-bit lane, the ops put the lanes back in order.
// No include guard: included once per width.

#define CONVERT_WIDE inline __attribute__((target(CONVERT_WIDTH_TARGET), always_inline))
#define CONVERT_WIDE_SHUFFLE \
    inline __attribute__((target(CONVERT_WIDTH_SHUFFLE_TARGET), always_inline))
#define CONVERT_WIDE_ENTRY \
    template <>            \
    __attribute__((target(CONVERT_WIDTH_TARGET)))
#define CONVERT_WIDE_SHUFFLE_ENTRY \
    template <>                    \
    __attribute__((target(CONVERT_WIDTH_SHUFFLE_TARGET)))

namespace convert {
namespace detail {
namespace CONVERT_WIDTH_NS {

using V = CONVERT_WIDTH_VEC;
using T = V::T;
using Half = V::Half;
// 16-bit elements a vector.
constexpr uint32_t kLanes16 = V::kBytes / 2;

// The YUV formula (PictureKernelSupport.h) on 16-bit lanes: pairs (Y, 2) x
// (ky, 2^14) give ky Y + 2^15, pairs (Cb, Cr) x the chroma coefficients
// give the chroma terms; the packs clamp.
struct Coefficients {
    T y, r, g, b;
};
CONVERT_WIDE Coefficients CoefficientsFor(const YuvCoefficients& k) {
    return Coefficients{
        V::Set32(static_cast<int32_t>(static_cast<uint16_t>(k.y)) | (1 << 14) << 16),
        V::Set32(static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(k.vr)) << 16)),
        V::Set32(static_cast<int32_t>(static_cast<uint16_t>(-k.ug)) |
                 static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(-k.vg)) << 16)),
        V::Set32(static_cast<int32_t>(static_cast<uint16_t>(k.ub)))};
}
// One channel of the pixels of yLo | yHi, clamped to 16 bits.
CONVERT_WIDE T Channel(T yLo, T yHi, T uvLo, T uvHi, T coefficients) {
    return V::PackSigned32(V::Sar32<kChromaBits>(V::Add32(yLo, V::Madd16(uvLo, coefficients))),
                           V::Sar32<kChromaBits>(V::Add32(yHi, V::Madd16(uvHi, coefficients))));
}
// yLo, yHi: the luma terms 4 (ky Y + 2^15) of the first and second half of
// the pixels (32-bit elements; per lane for AVX2: pixels 0-3 | 8-11 and
// 4-7 | 12-15); uvLo, uvHi: their (Cb, Cr) pairs less 8192. Writes 4 bytes a
// pixel at `out`.
CONVERT_WIDE void Channels(T yLo, T yHi, T uvLo, T uvHi, const Coefficients& c, uint8_t* out) {
    const T r = Channel(yLo, yHi, uvLo, uvHi, c.r);
    const T g = Channel(yLo, yHi, uvLo, uvHi, c.g);
    const T b = Channel(yLo, yHi, uvLo, uvHi, c.b);
    const T br = V::PackUnsigned16(b, r);
    const T ga = V::PackUnsigned16(g, V::Set16(255));
    V::StoreZip16(out, V::ZipLo8(br, ga), V::ZipHi8(br, ga));
}
// yd: the lumas less 64; uvLo, uvHi: their (Cb, Cr) pairs less 8192, as the
// in-lane unpacks of yd's order give them.
CONVERT_WIDE void Pixels(T yd, T uvLo, T uvHi, const Coefficients& c, uint8_t* out) {
    const T two = V::Set16(2);
    const T yLo = V::Shl32<2>(V::Madd16(V::ZipLo16(yd, two), c.y));
    const T yHi = V::Shl32<2>(V::Madd16(V::ZipHi16(yd, two), c.y));
    Channels(yLo, yHi, uvLo, uvHi, c, out);
}

// Chroma subsampled by 2 for kLanes16 pixels from pixel i: the samples i / 2
// .. i / 2 + kLanes16 / 2 + 1, 3/4 of a pixel's own and 1/4 of its
// neighbour on its side, in the pixels' order.
CONVERT_WIDE T InterpolatedBy2(const int16_t* samples) {
    const Half before = V::LoadHalf(samples);
    const Half here = V::LoadHalf(samples + 1);
    const Half after = V::LoadHalf(samples + 2);
    const Half here3 = V::AddHalf16(here, V::AddHalf16(here, here));
    return V::ZipHalves16(V::AddHalf16(here3, before), V::AddHalf16(here3, after));
}

// The chroma of kLanes16 pixels from pixel i, as stored or subsampled by 2.
struct ChromaAsStored {
    const int16_t* cb;
    const int16_t* cr;
    CONVERT_WIDE T Cb(uint32_t i) const { return V::Load(cb + i); }
    CONVERT_WIDE T Cr(uint32_t i) const { return V::Load(cr + i); }
};
struct ChromaBy2 {
    const int16_t* cbSamples;
    const int16_t* crSamples;
    CONVERT_WIDE T Cb(uint32_t i) const { return InterpolatedBy2(cbSamples + i / 2); }
    CONVERT_WIDE T Cr(uint32_t i) const { return InterpolatedBy2(crSamples + i / 2); }
};
// The leading whole vectors of a span of n pixels: luma in quarter levels,
// chroma in 1/64 levels.
template <class Chroma>
CONVERT_WIDE uint32_t SpanOf(const int16_t* luma, const Chroma& chroma, uint8_t* out, uint32_t n,
                             const YuvCoefficients& k) {
    const Coefficients c = CoefficientsFor(k);
    const T y64 = V::Set16(64), c8192 = V::Set16(8192);
    uint32_t i = 0;
    for (; i + kLanes16 <= n; i += kLanes16) {
        const T yd = V::Sub16(V::Load(luma + i), y64);
        const T u = V::Sub16(chroma.Cb(i), c8192);
        const T v = V::Sub16(chroma.Cr(i), c8192);
        Pixels(yd, V::ZipLo16(u, v), V::ZipHi16(u, v), c, out + 4 * static_cast<size_t>(i));
    }
    return i;
}

// 16-bit RGB on 16-bit lanes: blue | green << 8 and red | 255 << 8,
// interleaved into words.
template <bool kGreen6>
CONVERT_WIDE void Rgb16Blocks(const uint8_t* row, uint8_t* outRow, uint32_t blocks) {
    const T m5 = V::Set16(31), m6 = V::Set16(63);
    const T alpha = V::Set16(static_cast<int16_t>(0xFF00));
    for (uint32_t b = blocks; b-- > 0;) {
        const T p = V::Load(row + V::kBytes * size_t{b});
        const T b5 = V::And(p, m5);
        const T blue = V::Or(V::Shl16<3>(b5), V::Shr16<2>(b5));
        T green, r5;
        if (kGreen6) {
            const T g6 = V::And(V::Shr16<5>(p), m6);
            green = V::Or(V::Shl16<2>(g6), V::Shr16<4>(g6));
            r5 = V::Shr16<11>(p);
        } else {
            const T g5 = V::And(V::Shr16<5>(p), m5);
            green = V::Or(V::Shl16<3>(g5), V::Shr16<2>(g5));
            r5 = V::And(V::Shr16<10>(p), m5);
        }
        const T red = V::Or(V::Shl16<3>(r5), V::Shr16<2>(r5));
        V::StoreZip16(outRow + 2 * V::kBytes * size_t{b}, V::Or(blue, V::Shl16<8>(green)),
                      V::Or(red, alpha));
    }
}

// 8-bit RGB reordered: 4 pixels of kBytes bytes a 128-bit lane.
template <size_t kBytes>
CONVERT_WIDE_SHUFFLE void ShuffleBlocks(const uint8_t* row, uint8_t* outRow, uint32_t blocks,
                                        const ByteShuffle& shuffle) {
    const T index = V::Lanes(_mm_loadu_si128(reinterpret_cast<const __m128i*>(shuffle.index)));
    const T opaque = V::Set32(static_cast<int32_t>(shuffle.opaque));
    constexpr size_t kPixels = V::kBytes / 4;
    for (uint32_t b = blocks; b-- > 0;) {
        const T v = V::LoadLanes<4 * kBytes>(row + kPixels * kBytes * size_t{b});
        V::Store(outRow + V::kBytes * size_t{b}, V::Or(V::ShuffleBytes(v, index), opaque));
    }
}

}  // namespace CONVERT_WIDTH_NS

// One branch a span, each way's loop compiled with its chroma inlined.
CONVERT_WIDE_ENTRY uint32_t WidthKernels<CONVERT_WIDTH_VEC>::YuvSpan(
    const int16_t* luma, const int16_t* cb, const int16_t* cr, SpanChroma chroma, uint8_t* out,
    uint32_t n, const YuvCoefficients& k) {
    using namespace CONVERT_WIDTH_NS;
    return chroma == SpanChroma::By2 ? SpanOf(luma, ChromaBy2{cb, cr}, out, n, k)
                                     : SpanOf(luma, ChromaAsStored{cb, cr}, out, n, k);
}

// Chroma of packed 4:2:2 from three loads of the row, 4 bytes apart: the
// groups of the block, of the block shifted one group back and one group
// on. In each, the 16-bit lanes hold the chroma bytes (Cb, Cr pairs, in the
// row's order); even pixels take 3/4 of their group's and 1/4 of the one
// before, odd pixels 1/4 of the one after; x 16 makes 1/64 levels.
CONVERT_WIDE_ENTRY void WidthKernels<CONVERT_WIDTH_VEC>::Packed422Blocks(const uint8_t* row,
                                                                         uint8_t* outRow,
                                                                         uint32_t x0,
                                                                         uint32_t blocks, int order,
                                                                         const YuvCoefficients& k) {
    using namespace CONVERT_WIDTH_NS;
    const Coefficients c = CoefficientsFor(k);
    const T low = V::Set16(0x00FF), y64 = V::Set16(64), c8192 = V::Set16(8192);
    for (uint32_t b = blocks; b-- > 0;) {
        const uint32_t x = x0 + b * kLanes16;
        const uint8_t* p = row + 2 * static_cast<size_t>(x);
        const T v = V::Load(p), vp = V::Load(p - 4), vn = V::Load(p + 4);
        T y, w, wp, wn;
        if (order == 0) {
            y = V::Shr16<8>(v);
            w = V::And(v, low), wp = V::And(vp, low), wn = V::And(vn, low);
        } else {
            y = V::And(v, low);
            w = V::Shr16<8>(v), wp = V::Shr16<8>(vp), wn = V::Shr16<8>(vn);
        }
        const T w3 = V::Add16(w, V::Add16(w, w));
        T even = V::Sub16(V::Shl16<4>(V::Add16(w3, wp)), c8192);
        T odd = V::Sub16(V::Shl16<4>(V::Add16(w3, wn)), c8192);
        if (order == 2) {  // Cr before Cb
            even = V::SwapPairs16(even);
            odd = V::SwapPairs16(odd);
        }
        const T yd = V::Sub16(V::Shl16<2>(y), y64);
        Pixels(yd, V::ZipLo32(even, odd), V::ZipHi32(even, odd), c,
               outRow + 4 * static_cast<size_t>(x));
    }
}

// v210 unpacked. A group's four words w0..w3 hold, in fields a (bits 0-9),
// b (10-19) and c (20-29): Cb0 = a0, Y0 = b0, Cr0 = c0, Y1 = a1, Cb1 = b1,
// Y2 = c1, Cr1 = a2, Y3 = b2, Cb2 = c2, Y4 = a3, Cr2 = b3, Y5 = c3. A byte
// shuffle gathers, into each 16-bit lane, the two bytes that hold one field
// (a at bit 0 of its pair, b at bit 2, c at bit 4); a multiplication by
// 2^(6 - bit) lifts the field to the top of the lane, dropping what lies
// above it, and a shift right by 6 brings it down alone (by 4, then the
// mask, for the chroma x 4). One group a 128-bit lane; each lane's 6 values
// are stored after the one before's, over its 2 spare ones.
CONVERT_WIDE_SHUFFLE_ENTRY uint32_t WidthKernels<CONVERT_WIDTH_VEC>::V210Unpack(
    const uint8_t* groups, uint32_t count, int16_t* luma, int16_t* pairs) {
    using namespace CONVERT_WIDTH_NS;
    const T lumaShuffle =
        V::Lanes(_mm_setr_epi8(1, 2, 4, 5, 6, 7, 9, 10, 12, 13, 14, 15, -1, -1, -1, -1));
    const T lumaLift = V::Lanes(_mm_setr_epi16(16, 64, 4, 16, 64, 4, 0, 0));
    // (Cb, Cr) pairs: (a0, c0), (b1, a2), (c2, b3).
    const T chromaShuffle =
        V::Lanes(_mm_setr_epi8(0, 1, 2, 3, 5, 6, 8, 9, 10, 11, 13, 14, -1, -1, -1, -1));
    const T chromaLift = V::Lanes(_mm_setr_epi16(64, 4, 16, 64, 4, 16, 0, 0));
    const T mask = V::Set16(0x0FFC);
    constexpr uint32_t kGroups = V::kBytes / 16;
    uint32_t g = 0;
    for (; count - g >= kGroups; g += kGroups) {
        const T w = V::Load(groups + 16 * static_cast<size_t>(g));
        const T y = V::Shr16<6>(V::Mullo16(V::ShuffleBytes(w, lumaShuffle), lumaLift));
        const T uv =
            V::And(V::Shr16<4>(V::Mullo16(V::ShuffleBytes(w, chromaShuffle), chromaLift)), mask);
        V::StoreLanesApart(luma + 6 * g, 6, y);
        V::StoreLanesApart(pairs + 6 * g, 6, uv);
    }
    return g;
}

// The chroma of 8 or 16 pixels from their samples' pairs (samples x 4): 3/4
// of each pixel's own sample and 1/4 of its neighbour on its side, less
// 8192, in the pixels' order (per lane for AVX2).
CONVERT_WIDE_ENTRY uint32_t WidthKernels<CONVERT_WIDTH_VEC>::V210Span(const int16_t* luma,
                                                                      const int16_t* pairs,
                                                                      uint8_t* out, uint32_t n,
                                                                      const YuvCoefficients& k) {
    using namespace CONVERT_WIDTH_NS;
    const Coefficients c = CoefficientsFor(k);
    const T lumaTerm = V::Set32(
        static_cast<int32_t>(static_cast<uint16_t>(k.y)) |
        static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(k.y - 512)) << 16));
    const T minus256 = V::Set16(-256), c8192 = V::Set16(8192);
    uint32_t i = 0;
    for (; i + kLanes16 <= n; i += kLanes16) {
        const T y4 = V::Shl16<2>(V::Load(luma + i));
        const T yLo = V::Madd16(V::ZipLo16(y4, minus256), lumaTerm);
        const T yHi = V::Madd16(V::ZipHi16(y4, minus256), lumaTerm);
        const T before = V::Load(pairs + i);
        const T here = V::Load(pairs + i + 2);
        const T after = V::Load(pairs + i + 4);
        const T here3 = V::Sub16(V::Add16(here, V::Add16(here, here)), c8192);
        const T even = V::Add16(here3, before), odd = V::Add16(here3, after);
        Channels(yLo, yHi, V::ZipLo32(even, odd), V::ZipHi32(even, odd), c,
                 out + 4 * static_cast<size_t>(i));
    }
    return i;
}

// The cubic by 4 fused with the conversion. Pixel 4q + p takes the pairs
// (s[m], s[m + 1]) of samples m = q + p / 2 and m + 2 times the two pairs of
// its phase's weights (Madd16). The span's pairs are first laid out doubled,
// pair m at 32-bit elements 2m and 2m + 1: then each vector's pairs are one
// plain load. For the pixels from quad j, those of the first half of the
// pixels (per lane for AVX2: 0-3 | 8-11, the order Pixels takes) start at
// element 2j, those of the second half at 2j + 2, and each vector's second
// pairs 4 elements after its first. The chroma's offset is taken off before
// the shift (8192 << drop is a whole multiple of 2^drop, so the result is
// the same); the results fit 16 bits (at most 255 x 64 x 1.32 in
// magnitude), so an element's (Cb, Cr) pair is the low halves of the sums.
namespace CONVERT_WIDTH_NS {
// The pairs of a vector of doubled pairs.
constexpr uint32_t kPairs = V::kBytes / 8;
CONVERT_WIDE void DoubledPairs(const int16_t* samples, uint32_t vectors, int32_t* doubled) {
    for (uint32_t v = 0; v < vectors; ++v)
        V::Store(doubled + 2 * kPairs * v, V::PairsTwice(samples + kPairs * v));
}
// One plane's chroma of half a vector's pixels, their first pairs at `at`.
template <int kDrop>
CONVERT_WIDE T CubicChroma(const int32_t* at, T w01, T w23, T bias) {
    const T sum = V::Add32(V::Madd16(V::Load(at), w01), V::Madd16(V::Load(at + 4), w23));
    return V::Sar32<kDrop>(V::Add32(sum, bias));
}
template <int kDrop>
CONVERT_WIDE uint32_t SpanCubicOf(const uint8_t* lumaRow, const int16_t* cbSamples,
                                  const int16_t* crSamples, uint8_t* out, uint32_t n,
                                  const YuvCoefficients& k) {
    const uint32_t blocks = n / kLanes16;
    if (blocks == 0 || n > kSpan) return 0;
    // The pairs up to 3 past the last block's quads, in whole vectors.
    const uint32_t vectors = (blocks * kLanes16 / 4 + 3 + kPairs - 1) / kPairs;
    int32_t cbDoubled[kSpan / 2 + 8], crDoubled[kSpan / 2 + 8];
    DoubledPairs(cbSamples, vectors, cbDoubled);
    DoubledPairs(crSamples, vectors, crDoubled);
    const auto pairOf = [](int16_t first, int16_t second) {
        return static_cast<int32_t>(static_cast<uint16_t>(first) |
                                    static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16);
    };
    const int16_t(&w)[4][4] = kCubicBy4;
    const T w01 = V::Lanes(_mm_setr_epi32(pairOf(w[0][0], w[0][1]), pairOf(w[1][0], w[1][1]),
                                          pairOf(w[2][0], w[2][1]), pairOf(w[3][0], w[3][1])));
    const T w23 = V::Lanes(_mm_setr_epi32(pairOf(w[0][2], w[0][3]), pairOf(w[1][2], w[1][3]),
                                          pairOf(w[2][2], w[2][3]), pairOf(w[3][2], w[3][3])));
    const T bias = V::Set32((1 << (kDrop - 1)) - (8192 << kDrop));
    const T low = V::Set32(0xFFFF), y64 = V::Set16(64);
    const Coefficients c = CoefficientsFor(k);
    for (uint32_t b = 0; b < blocks; ++b) {
        const uint32_t i = b * kLanes16;
        const int32_t* cbAt = cbDoubled + i / 2;
        const int32_t* crAt = crDoubled + i / 2;
        const T uvLo = V::Or(V::And(CubicChroma<kDrop>(cbAt, w01, w23, bias), low),
                             V::Shl32<16>(CubicChroma<kDrop>(crAt, w01, w23, bias)));
        const T uvHi = V::Or(V::And(CubicChroma<kDrop>(cbAt + 2, w01, w23, bias), low),
                             V::Shl32<16>(CubicChroma<kDrop>(crAt + 2, w01, w23, bias)));
        const T yd = V::Sub16(V::Shl16<2>(V::LoadWiden8(lumaRow + i)), y64);
        Pixels(yd, uvLo, uvHi, c, out + 4 * static_cast<size_t>(i));
    }
    return blocks * kLanes16;
}
}  // namespace CONVERT_WIDTH_NS

CONVERT_WIDE_ENTRY uint32_t WidthKernels<CONVERT_WIDTH_VEC>::YuvSpanCubic(
    const uint8_t* lumaRow, const int16_t* cbSamples, const int16_t* crSamples, int drop,
    uint8_t* out, uint32_t n, const YuvCoefficients& k) {
    using namespace CONVERT_WIDTH_NS;
    return drop == 4 ? SpanCubicOf<4>(lumaRow, cbSamples, crSamples, out, n, k)
                     : SpanCubicOf<10>(lumaRow, cbSamples, crSamples, out, n, k);
}

// Each weight w split into 16 h + l (h = w >> 4, l = w & 15, both bytes):
// (sum of w r + 8) >> 4 = sum of h r + ((sum of l r + 8) >> 4), exactly, and
// every partial sum fits 16 bits (sum of h r within -10 x 255 .. 72 x 255,
// sum of l r at most 60 x 255), so MaddBytes on the rows' interleaved bytes
// makes them. Where n is not a whole number of vectors the last vector is
// redone from n less a vector (the same values again).
CONVERT_WIDE_SHUFFLE_ENTRY uint32_t WidthKernels<CONVERT_WIDTH_VEC>::BlendFourRows(
    const uint8_t* const rows[4], size_t at, const int16_t* weights, int16_t* dst, uint32_t n) {
    using namespace CONVERT_WIDTH_NS;
    if (n < kLanes16) return 0;
    // Two weights' parts as the bytes of a 16-bit element, the first row's low.
    const auto bytes = [](int first, int second) {
        return static_cast<int16_t>((first & 0xFF) | (second & 0xFF) << 8);
    };
    const T high01 = V::Set16(bytes(weights[0] >> 4, weights[1] >> 4));
    const T high23 = V::Set16(bytes(weights[2] >> 4, weights[3] >> 4));
    const T low01 = V::Set16(bytes(weights[0] & 15, weights[1] & 15));
    const T low23 = V::Set16(bytes(weights[2] & 15, weights[3] & 15));
    const T eight = V::Set16(8);
    for (uint32_t i = 0; i < n; i += kLanes16) {
        const size_t x = i + kLanes16 <= n ? i : n - kLanes16;
        const T r01 = V::LoadZip8(rows[0] + at + x, rows[1] + at + x);
        const T r23 = V::LoadZip8(rows[2] + at + x, rows[3] + at + x);
        const T high = V::Add16(V::MaddBytes(r01, high01), V::MaddBytes(r23, high23));
        const T low = V::Add16(V::MaddBytes(r01, low01), V::MaddBytes(r23, low23));
        V::Store(dst + x, V::Add16(high, V::Shr16<4>(V::Add16(low, eight))));
    }
    return n;
}

CONVERT_WIDE_ENTRY void WidthKernels<CONVERT_WIDTH_VEC>::Rgb555Blocks(const uint8_t* row,
                                                                      uint8_t* outRow,
                                                                      uint32_t blocks,
                                                                      const void*) {
    CONVERT_WIDTH_NS::Rgb16Blocks<false>(row, outRow, blocks);
}
CONVERT_WIDE_ENTRY void WidthKernels<CONVERT_WIDTH_VEC>::Rgb565Blocks(const uint8_t* row,
                                                                      uint8_t* outRow,
                                                                      uint32_t blocks,
                                                                      const void*) {
    CONVERT_WIDTH_NS::Rgb16Blocks<true>(row, outRow, blocks);
}

// Grey: each byte g made the pixel (g, g, g, 255).
CONVERT_WIDE_ENTRY void WidthKernels<CONVERT_WIDTH_VEC>::GreyBlocks(const uint8_t* row,
                                                                    uint8_t* outRow,
                                                                    uint32_t blocks, const void*) {
    using namespace CONVERT_WIDTH_NS;
    const T alpha = V::Set8(static_cast<int8_t>(0xFF));
    for (uint32_t b = blocks; b-- > 0;) {
        const T g = V::Load(row + V::kBytes * size_t{b});
        V::StoreZip8x4(outRow + 4 * V::kBytes * size_t{b}, g, g, g, alpha);
    }
}

CONVERT_WIDE_SHUFFLE_ENTRY void WidthKernels<CONVERT_WIDTH_VEC>::Shuffle3Blocks(
    const uint8_t* row, uint8_t* outRow, uint32_t blocks, const void* shuffle) {
    CONVERT_WIDTH_NS::ShuffleBlocks<3>(row, outRow, blocks,
                                       *static_cast<const ByteShuffle*>(shuffle));
}
CONVERT_WIDE_SHUFFLE_ENTRY void WidthKernels<CONVERT_WIDTH_VEC>::Shuffle4Blocks(
    const uint8_t* row, uint8_t* outRow, uint32_t blocks, const void* shuffle) {
    CONVERT_WIDTH_NS::ShuffleBlocks<4>(row, outRow, blocks,
                                       *static_cast<const ByteShuffle*>(shuffle));
}

}  // namespace detail
}  // namespace convert

#undef CONVERT_WIDE
#undef CONVERT_WIDE_SHUFFLE
#undef CONVERT_WIDE_ENTRY
#undef CONVERT_WIDE_SHUFFLE_ENTRY
