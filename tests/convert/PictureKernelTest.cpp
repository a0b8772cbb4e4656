// Picture kernels against a plain double-precision model of their formulas,
// and every SIMD level against the portable one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "convert/CpuFeatures.h"
#include "convert/PictureLayouts.h"

namespace {

using convert::PictureContext;
using convert::PictureKernel;
using convert::PictureLayout;
using convert::SimdLevel;

// The levels this processor runs, portable first.
std::vector<SimdLevel> RunnableLevels() {
    std::vector<SimdLevel> levels;
    for (int i = 0; i <= static_cast<int>(convert::ProcessorSimdLevel()); ++i)
        if (convert::PictureKernelAt(PictureLayout::Uyvy, static_cast<SimdLevel>(i)) != nullptr)
            levels.push_back(static_cast<SimdLevel>(i));
    return levels;
}

// ---- The model: a stored frame decoded into sample planes (8-bit units,
// 10-bit samples / 4), chroma interpolated in double, the formula in double.

struct Planes {
    int hSub = 1, vSub = 1;  // chroma subsampling; 0 for RGB-type layouts
    std::vector<double> y, cb, cr;
    uint32_t chromaWidth = 0, chromaHeight = 0;
    std::vector<uint32_t> bgra;  // RGB-type layouts: the expected words
};

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

Planes Decode(PictureLayout layout, const std::vector<uint8_t>& f, size_t stride, uint32_t w,
              uint32_t h, const PictureContext& context) {
    Planes p;
    auto chroma = [&](int hs, int vs) {
        p.hSub = hs;
        p.vSub = vs;
        p.chromaWidth = (w + hs - 1) / hs;
        p.chromaHeight = (h + vs - 1) / vs;
        p.cb.assign(size_t(p.chromaWidth) * p.chromaHeight, 0);
        p.cr = p.cb;
    };
    p.y.assign(size_t(w) * h, 0);
    switch (layout) {
        case PictureLayout::Uyvy:
        case PictureLayout::Yuy2:
        case PictureLayout::Yvyu: {
            const int y0 = layout == PictureLayout::Uyvy ? 1 : 0;
            const int u =
                layout == PictureLayout::Uyvy ? 0 : (layout == PictureLayout::Yuy2 ? 1 : 3);
            const int v =
                layout == PictureLayout::Uyvy ? 2 : (layout == PictureLayout::Yuy2 ? 3 : 1);
            chroma(2, 1);
            for (uint32_t r = 0; r < h; ++r)
                for (uint32_t x = 0; x < w; ++x) {
                    const uint8_t* g = &f[r * stride + 4 * (x / 2)];
                    p.y[r * w + x] = g[y0 + 2 * (x % 2)];
                    p.cb[r * p.chromaWidth + x / 2] = g[u];
                    p.cr[r * p.chromaWidth + x / 2] = g[v];
                }
            break;
        }
        case PictureLayout::V210: {
            chroma(2, 1);
            for (uint32_t r = 0; r < h; ++r)
                for (uint32_t x = 0; x < w; x += 6) {
                    const uint8_t* g = &f[r * stride + (x / 48) * 128 + ((x % 48) / 6) * 16];
                    uint32_t s[12];  // Cb0 Y0 Cr0 Y1 Cb1 Y2 Cr1 Y3 Cb2 Y4 Cr2 Y5
                    for (int i = 0; i < 12; ++i)
                        s[i] = (Le32(g + 4 * (i / 3)) >> (10 * (i % 3))) & 1023;
                    const int ys[6] = {1, 3, 5, 7, 9, 11}, cbs[3] = {0, 4, 8}, crs[3] = {2, 6, 10};
                    for (uint32_t i = 0; i < 6 && x + i < w; ++i)
                        p.y[r * w + x + i] = s[ys[i]] / 4.0;
                    for (uint32_t i = 0; i < 3 && x / 2 + i < p.chromaWidth; ++i) {
                        p.cb[r * p.chromaWidth + x / 2 + i] = s[cbs[i]] / 4.0;
                        p.cr[r * p.chromaWidth + x / 2 + i] = s[crs[i]] / 4.0;
                    }
                }
            break;
        }
        case PictureLayout::I420:
        case PictureLayout::Yv12:
        case PictureLayout::Nv12:
        case PictureLayout::Nv21:
        case PictureLayout::Yuv422P:
        case PictureLayout::Yuv411P:
        case PictureLayout::Yuv410P:
        case PictureLayout::Yvu410P: {
            const bool by4 = layout == PictureLayout::Yuv411P || layout == PictureLayout::Yuv410P ||
                             layout == PictureLayout::Yvu410P;
            const int vs = layout == PictureLayout::Yuv422P || layout == PictureLayout::Yuv411P
                               ? 1
                               : (by4 ? 4 : 2);
            chroma(by4 ? 4 : 2, vs);
            for (uint32_t r = 0; r < h; ++r)
                for (uint32_t x = 0; x < w; ++x) p.y[r * w + x] = f[r * stride + x];
            const size_t planeWidth = (stride + p.hSub - 1) / p.hSub;
            const size_t base = stride * h;
            const bool nv = layout == PictureLayout::Nv12 || layout == PictureLayout::Nv21;
            const bool swap = layout == PictureLayout::Yv12 || layout == PictureLayout::Nv21 ||
                              layout == PictureLayout::Yvu410P;
            for (uint32_t r = 0; r < p.chromaHeight; ++r)
                for (uint32_t c = 0; c < p.chromaWidth; ++c) {
                    double first, second;
                    if (nv) {
                        first = f[base + r * 2 * planeWidth + 2 * c];
                        second = f[base + r * 2 * planeWidth + 2 * c + 1];
                    } else {
                        first = f[base + r * planeWidth + c];
                        second = f[base + planeWidth * p.chromaHeight + r * planeWidth + c];
                    }
                    p.cb[r * p.chromaWidth + c] = swap ? second : first;
                    p.cr[r * p.chromaWidth + c] = swap ? first : second;
                }
            break;
        }
        default: {
            // RGB-type layouts: the expected word of each pixel, straight
            // from the layout's definition.
            p.hSub = 0;
            p.bgra.resize(size_t(w) * h);
            for (uint32_t r = 0; r < h; ++r)
                for (uint32_t x = 0; x < w; ++x) {
                    const uint8_t* row = &f[r * stride];
                    double b = 0, g = 0, red = 0, a = 255;
                    auto widen = [](uint32_t v, int bits) {  // top bits repeated below
                        return std::floor(v * (bits == 5 ? 8.25 : 4.0625));
                    };
                    switch (layout) {
                        case PictureLayout::Grey:
                            b = g = red = row[x];
                            break;
                        case PictureLayout::Rgb555:
                        case PictureLayout::Rgb565: {
                            const uint32_t v = row[2 * x] | row[2 * x + 1] << 8;
                            const bool six = layout == PictureLayout::Rgb565;
                            b = widen(v & 31, 5);
                            g = widen((v >> 5) & (six ? 63 : 31), six ? 6 : 5);
                            red = widen((v >> (six ? 11 : 10)) & 31, 5);
                            break;
                        }
                        case PictureLayout::Pal8:
                        case PictureLayout::Pal4:
                        case PictureLayout::Pal1: {
                            const int bits = layout == PictureLayout::Pal8
                                                 ? 8
                                                 : (layout == PictureLayout::Pal4 ? 4 : 1);
                            const uint32_t bitAt = x * bits;
                            const uint32_t index =
                                (row[bitAt / 8] >> (8 - bits - bitAt % 8)) & ((1u << bits) - 1);
                            p.bgra[r * w + x] =
                                context.palette[index] | 0xFF000000u;  // alpha 255 always
                            continue;
                        }
                        case PictureLayout::Rgba:
                            red = row[4 * x], g = row[4 * x + 1], b = row[4 * x + 2],
                            a = row[4 * x + 3];
                            break;
                        case PictureLayout::Bgrx:
                            b = row[4 * x], g = row[4 * x + 1], red = row[4 * x + 2];
                            break;
                        case PictureLayout::Rgbx:
                            red = row[4 * x], g = row[4 * x + 1], b = row[4 * x + 2];
                            break;
                        case PictureLayout::Rgb24:
                            red = row[3 * x], g = row[3 * x + 1], b = row[3 * x + 2];
                            break;
                        case PictureLayout::Argb:
                            a = row[4 * x], red = row[4 * x + 1], g = row[4 * x + 2],
                            b = row[4 * x + 3];
                            break;
                        case PictureLayout::Bgr24:
                            b = row[3 * x], g = row[3 * x + 1], red = row[3 * x + 2];
                            break;
                        default:
                            ADD_FAILURE() << "no model";
                    }
                    p.bgra[r * w + x] =
                        uint32_t(b) | uint32_t(g) << 8 | uint32_t(red) << 16 | uint32_t(a) << 24;
                }
        }
    }
    return p;
}

// Keys' cubic kernel, a = -0.6, at distance d, rounded to 1/1024 as the
// documented weights are.
double Keys(double d) {
    const double a = -0.6;
    d = std::fabs(d);
    const double w = d < 1 ? (a + 2) * d * d * d - (a + 3) * d * d + 1
                           : (d < 2 ? a * d * d * d - 5 * a * d * d + 8 * a * d - 4 * a : 0);
    return std::floor(w * 1024 + 0.5) / 1024;
}

// Chroma subsampled by 4 at luma position `at`: the cubic of the four
// nearest samples along that axis, edges repeated.
double CubicBy4(const std::vector<double>& plane, const Planes& p, uint32_t x, uint32_t y) {
    auto taps = [](uint32_t at, int s, uint32_t count, long index[4], double w[4]) {
        if (s != 4) {  // not subsampled this way
            index[0] = at;
            w[0] = 1;
            for (int t = 1; t < 4; ++t) index[t] = at, w[t] = 0;
            return;
        }
        const double pos = (at - 1.5) / 4;
        const long first = static_cast<long>(std::floor(pos)) - 1;
        for (int t = 0; t < 4; ++t) {
            w[t] = Keys(pos - double(first + t));
            const long i = first + t;
            index[t] = i < 0 ? 0 : (i >= long(count) ? long(count) - 1 : i);
        }
    };
    long xi[4], yi[4];
    double xw[4], yw[4];
    taps(x, p.hSub, p.chromaWidth, xi, xw);
    taps(y, p.vSub, p.chromaHeight, yi, yw);
    double sum = 0;
    for (int v = 0; v < 4; ++v)
        for (int u = 0; u < 4; ++u) sum += yw[v] * xw[u] * plane[yi[v] * p.chromaWidth + xi[u]];
    return sum;
}

// Chroma at luma position (x, y): sample j of a plane subsampled by s sits
// at s x j + (s - 1) / 2; linear between the two nearest (by 2), cubic of
// the four nearest (by 4), edges repeated.
double Interpolate(const std::vector<double>& plane, const Planes& p, uint32_t x, uint32_t y) {
    if (p.hSub == 4) return CubicBy4(plane, p, x, y);
    auto axis = [](uint32_t at, int s, uint32_t count, uint32_t& i0, uint32_t& i1, double& t) {
        const double pos = (at - (s - 1) / 2.0) / s;
        const double fl = std::floor(pos);
        t = pos - fl;
        const long lo = static_cast<long>(fl);
        i0 = static_cast<uint32_t>(lo < 0 ? 0 : (lo >= long(count) ? count - 1 : lo));
        i1 = static_cast<uint32_t>(lo + 1 < 0 ? 0 : (lo + 1 >= long(count) ? count - 1 : lo + 1));
    };
    uint32_t x0, x1, y0, y1;
    double tx, ty;
    axis(x, p.hSub, p.chromaWidth, x0, x1, tx);
    axis(y, p.vSub, p.chromaHeight, y0, y1, ty);
    auto at = [&](uint32_t cx, uint32_t cy) { return plane[cy * p.chromaWidth + cx]; };
    return (1 - ty) * ((1 - tx) * at(x0, y0) + tx * at(x1, y0)) +
           ty * ((1 - tx) * at(x0, y1) + tx * at(x1, y1));
}

struct ModelPixel {
    double r, g, b;  // before rounding
};
ModelPixel Formula(double y, double cb, double cr, bool bt709) {
    const double kr = bt709 ? 0.2126 : 0.299, kb = bt709 ? 0.0722 : 0.114;
    const double yy = (y - 16) * 255 / 219, u = (cb - 128) * 255 / 224, v = (cr - 128) * 255 / 224;
    return {yy + 2 * (1 - kr) * v,
            yy - (2 * kb * (1 - kb) * u + 2 * kr * (1 - kr) * v) / (1 - kr - kb),
            yy + 2 * (1 - kb) * u};
}
int RoundClamp(double v) {
    const double r = std::floor(v + 0.5);
    return r < 0 ? 0 : (r > 255 ? 255 : static_cast<int>(r));
}
// True when v lies within `margin` of a rounding boundary.
bool NearHalf(double v, double margin) { return std::fabs(v - std::floor(v) - 0.5) < margin; }

// Compares a kernel's output with the model. YUV: every channel within 1,
// equal unless the exact value lies within 0.03 of a half; equal wherever
// the interpolated chroma is neutral (grey). Others: equal.
void ExpectModel(PictureLayout layout, const std::vector<uint8_t>& frame, size_t stride, uint32_t w,
                 uint32_t h, const PictureContext& context, const std::vector<uint8_t>& out,
                 const std::string& what) {
    const Planes p = Decode(layout, frame, stride, w, h, context);
    int reported = 0;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* got = &out[(size_t(y) * w + x) * 4];
            if (p.hSub == 0) {
                const uint32_t want = p.bgra[size_t(y) * w + x];
                if (Le32(got) != want && reported++ < 5)
                    ADD_FAILURE() << what << " pixel " << x << "," << y << " got " << std::hex
                                  << Le32(got) << " want " << want;
                continue;
            }
            const double cb = Interpolate(p.cb, p, x, y), cr = Interpolate(p.cr, p, x, y);
            const ModelPixel m = Formula(p.y[size_t(y) * w + x], cb, cr, context.bt709);
            const double exact[3] = {m.b, m.g, m.r};
            const bool grey = cb == 128 && cr == 128;
            for (int c = 0; c < 3; ++c) {
                const int want = RoundClamp(exact[c]);
                const int diff = got[c] - want;
                const bool ok =
                    diff == 0 || (std::abs(diff) == 1 && !grey && NearHalf(exact[c], 0.03));
                if (!ok && reported++ < 5)
                    ADD_FAILURE() << what << " pixel " << x << "," << y << " channel " << c
                                  << " got " << int(got[c]) << " want " << want << " (" << exact[c]
                                  << ")";
            }
            if (got[3] != 255 && reported++ < 5) ADD_FAILURE() << what << " alpha " << int(got[3]);
        }
}

// ---- Frames

struct Geometry {
    size_t stride;
    size_t bytes;
};
Geometry GeometryOf(PictureLayout layout, uint32_t w, uint32_t h) {
    if (convert::IsPlanar(layout))
        return {w, static_cast<size_t>(convert::PlanarFrameBytes(layout, w, h))};
    // Packed rows padded to 4 bytes, as BI_RGB pads them (v210 pads itself).
    const auto row = static_cast<size_t>(convert::PackedRowBytes(layout, w));
    const size_t stride = layout == PictureLayout::V210 ? row : (row + 3) / 4 * 4;
    return {stride, stride * h};
}

std::vector<uint8_t> RandomFrame(size_t bytes, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> f(bytes);
    for (auto& b : f) b = static_cast<uint8_t>(rng());
    return f;
}

PictureContext ContextFor(bool bt709) {
    PictureContext c;
    c.bt709 = bt709;
    for (uint32_t i = 0; i < 256; ++i) c.palette[i] = i * 2654435761u;  // reserved bytes vary
    return c;
}

// Odd widths, spans cut short, one pixel, rows of whole vector blocks (and
// of whole v210 blocks), rows of several spans, and rows enough for chroma
// subsampled by 4 down to have an inside.
const std::pair<uint32_t, uint32_t> kSizes[] = {{1, 1},  {2, 3},   {5, 4},   {47, 3},   {64, 2},
                                                {96, 2}, {193, 5}, {390, 2}, {1000, 2}, {38, 19}};

class PictureKernelTest : public ::testing::TestWithParam<PictureLayout> {};

std::string LayoutName(const ::testing::TestParamInfo<PictureLayout>& info) {
    static const char* const kNames[] = {
        "Uyvy",    "Yuy2",    "Yvyu",    "V210",    "I420", "Yv12",   "Nv12",   "Nv21",
        "Yuv422P", "Yuv411P", "Yuv410P", "Yvu410P", "Grey", "Rgb555", "Rgb565", "Pal8",
        "Pal4",    "Pal1",    "Rgba",    "Bgrx",    "Rgbx", "Rgb24",  "Bgr24",  "Argb"};
    return kNames[static_cast<int>(info.param)];
}

// Random bytes at several sizes (odd widths, spans cut short, one pixel),
// both matrices, every level: each level equals the model.
TEST_P(PictureKernelTest, EveryLevelMatchesTheModelOnRandomFrames) {
    const PictureLayout layout = GetParam();
    for (const SimdLevel level : RunnableLevels()) {
        const PictureKernel kernel = convert::PictureKernelAt(layout, level);
        ASSERT_NE(kernel, nullptr);
        for (const auto& size : kSizes) {
            for (const bool bt709 : {false, true}) {
                const uint32_t w = size.first, h = size.second;
                const Geometry g = GeometryOf(layout, w, h);
                // Exactly the frame's bytes: a read past them is a fault under ASan.
                const std::vector<uint8_t> frame = RandomFrame(g.bytes, w * 31 + h);
                const PictureContext context = ContextFor(bt709);
                std::vector<uint8_t> out(size_t(w) * h * 4 + 16, 0xEE);
                kernel(frame.data(), g.stride, out.data(), w * 4, w, h, context);
                const std::string what = std::string(convert::SimdLevelName(level)) + " " +
                                         std::to_string(w) + "x" + std::to_string(h) +
                                         (bt709 ? " bt709" : " bt601");
                ExpectModel(layout, frame, g.stride, w, h, context, out, what);
                EXPECT_EQ(std::vector<uint8_t>(out.end() - 16, out.end()),
                          std::vector<uint8_t>(16, 0xEE))
                    << what << ": wrote past the picture";
            }
        }
    }
}

// Every level gives the portable level's bytes, also turned over (negative
// output stride) and, for packed layouts, converted in place; on random
// bytes and on bytes of only 0 and 255, where interpolation overshoots most
// (the vector forms keep interpolated chroma in 16 bits).
TEST_P(PictureKernelTest, EveryLevelGivesThePortableBytesAlsoTurnedOverAndInPlace) {
    const PictureLayout layout = GetParam();
    const uint32_t w = 1000, h = 9;  // several spans and a short last one
    const Geometry g = GeometryOf(layout, w, h);
    for (const bool extremes : {false, true}) {
        std::vector<uint8_t> frame = RandomFrame(g.bytes, 7);
        if (extremes)
            for (auto& b : frame) b = b & 1 ? 255 : 0;
        const PictureContext context = ContextFor(true);
        const size_t outRow = size_t(w) * 4;
        std::vector<uint8_t> portable(outRow * h);
        convert::PictureKernelAt(layout, SimdLevel::Portable)(
            frame.data(), g.stride, portable.data(), static_cast<ptrdiff_t>(outRow), w, h, context);
        for (const SimdLevel level : RunnableLevels()) {
            const PictureKernel kernel = convert::PictureKernelAt(layout, level);
            std::vector<uint8_t> flipped(outRow * h);
            kernel(frame.data(), g.stride, flipped.data() + outRow * (h - 1),
                   -static_cast<ptrdiff_t>(outRow), w, h, context);
            for (uint32_t r = 0; r < h; ++r)
                ASSERT_EQ(
                    0, std::memcmp(&flipped[outRow * (h - 1 - r)], &portable[outRow * r], outRow))
                    << convert::SimdLevelName(level) << " row " << r
                    << (extremes ? " (0 and 255)" : "");
            if (convert::IsPlanar(layout) || g.stride > outRow) continue;
            std::vector<uint8_t> inPlace(outRow * h);
            std::memcpy(inPlace.data(), frame.data(), frame.size());
            kernel(inPlace.data(), g.stride, inPlace.data(), static_cast<ptrdiff_t>(outRow), w, h,
                   context);
            ASSERT_EQ(inPlace, portable) << convert::SimdLevelName(level) << " in place";
        }
    }
}

// Planes padded as GStreamer pads I420 (rows to 4 bytes, the luma plane to
// even rows; the padding filled with bytes of its own), converted with the
// padded geometry in the context, give the unpadded frame's pixels at every
// level; the padded frame is exactly its bytes, so a read past it is a fault
// under ASan.
TEST(PaddedPlanes, GiveThePixelsOfTheUnpaddedFrameAtEveryLevel) {
    const auto round4 = [](uint32_t n) { return (n + 3) / 4 * 4; };
    for (const auto& size : kSizes) {
        const uint32_t w = size.first, h = size.second;
        const uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
        const Geometry g = GeometryOf(PictureLayout::I420, w, h);
        const std::vector<uint8_t> plain = RandomFrame(g.bytes, w * 7 + h);
        const uint32_t stride = round4(w), chromaStride = round4(cw), lumaRows = 2 * ch;
        std::vector<uint8_t> padded(size_t(stride) * lumaRows + 2 * size_t(chromaStride) * ch,
                                    0x5A);
        for (uint32_t r = 0; r < h; ++r)
            std::memcpy(&padded[size_t(r) * stride], &plain[size_t(r) * w], w);
        for (uint32_t plane = 0; plane < 2; ++plane) {
            for (uint32_t r = 0; r < ch; ++r) {
                std::memcpy(
                    &padded[size_t(stride) * lumaRows + (size_t(plane) * ch + r) * chromaStride],
                    &plain[size_t(w) * h + (size_t(plane) * ch + r) * cw], cw);
            }
        }
        PictureContext context = ContextFor(false);
        std::vector<uint8_t> expected(size_t(w) * h * 4);
        convert::PictureKernelAt(PictureLayout::I420, SimdLevel::Portable)(
            plain.data(), w, expected.data(), w * 4, w, h, context);
        context.chromaStride = chromaStride;
        context.lumaPlaneRows = lumaRows;
        for (const SimdLevel level : RunnableLevels()) {
            std::vector<uint8_t> out(expected.size());
            convert::PictureKernelAt(PictureLayout::I420, level)(padded.data(), stride, out.data(),
                                                                 w * 4, w, h, context);
            EXPECT_EQ(out, expected) << convert::SimdLevelName(level) << " " << w << "x" << h;
        }
    }
}

std::vector<PictureLayout> AllLayouts() {
    std::vector<PictureLayout> all;
    for (int i = 0; i < static_cast<int>(PictureLayout::Count); ++i)
        all.push_back(static_cast<PictureLayout>(i));
    return all;
}
INSTANTIATE_TEST_SUITE_P(Layouts, PictureKernelTest, ::testing::ValuesIn(AllLayouts()), LayoutName);

// Every (Y, Cb, Cr) triple, both matrices, every level: 4:2:2 planar rows of
// two pixels, whose one chroma sample is the chroma of both.
TEST(YuvFormula, EveryTripleIsWithinOneOfTheModelAndExactOnGrey) {
    const uint32_t w = 2, h = 65536;  // one (Cb, Cr) pair and two lumas a row
    for (const SimdLevel level : RunnableLevels()) {
        const PictureKernel kernel = convert::PictureKernelAt(PictureLayout::Yuv422P, level);
        for (const bool bt709 : {false, true}) {
            const PictureContext context = ContextFor(bt709);
            uint64_t offByOne = 0;
            std::vector<uint8_t> frame(size_t(w) * h * 2), out(size_t(w) * h * 4);
            for (uint32_t y = 0; y < 256; y += 2) {
                for (uint32_t c = 0; c < h; ++c) {
                    frame[2 * c] = static_cast<uint8_t>(y);
                    frame[2 * c + 1] = static_cast<uint8_t>(y + 1);
                    frame[w * h + c] = static_cast<uint8_t>(c >> 8);       // Cb
                    frame[w * h + h + c] = static_cast<uint8_t>(c & 255);  // Cr
                }
                kernel(frame.data(), w, out.data(), w * 4, w, h, context);
                for (uint32_t c = 0; c < h; ++c)
                    for (uint32_t i = 0; i < 2; ++i) {
                        const ModelPixel m = Formula(y + i, c >> 8, c & 255, bt709);
                        const double exact[3] = {m.b, m.g, m.r};
                        for (int ch = 0; ch < 3; ++ch) {
                            const int got = out[(2 * c + i) * 4 + ch], want = RoundClamp(exact[ch]);
                            if (got == want) continue;
                            ++offByOne;
                            ASSERT_TRUE(std::abs(got - want) == 1 && NearHalf(exact[ch], 0.03) &&
                                        c != 0x8080)
                                << convert::SimdLevelName(level) << " Y " << y + i << " Cb "
                                << (c >> 8) << " Cr " << (c & 255) << " channel " << ch << " got "
                                << got << " want " << want << " (" << exact[ch] << ")";
                        }
                    }
            }
            // Only values within 0.03 of a half may differ: at most 6 %, in practice far fewer.
            EXPECT_LT(offByOne, 3u * 256 * 65536 * 6 / 100) << convert::SimdLevelName(level);
        }
    }
}

// v210's 10 bits are rounded once, not cut to 8 bits first: luma 66 of 1023
// (16.5 in 8-bit levels) is 0.58 above black and comes out 1; 65 comes out 0.
TEST(YuvFormula, TenBitSamplesAreRoundedOnce) {
    std::vector<uint8_t> frame(128, 0);
    const uint32_t cb = 512, cr = 512;
    const uint32_t y0 = 65, y1 = 66;
    const uint32_t words[4] = {cb | y0 << 10 | cr << 20, y1 | cb << 10 | y1 << 20,
                               cr | y1 << 10 | cb << 20, y1 | cr << 10 | y1 << 20};
    std::memcpy(frame.data(), words, sizeof words);
    std::vector<uint8_t> out(6 * 4);
    convert::PictureKernelFor(PictureLayout::V210)(frame.data(), 128, out.data(), 24, 6, 1,
                                                   ContextFor(false));
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[4], 1);
    EXPECT_EQ(out[5], 1);
    EXPECT_EQ(out[6], 1);
}

// Every 16-bit value, both layouts, every level.
TEST(Rgb16, EveryValueWidensByRepeatingItsTopBits) {
    std::vector<uint8_t> frame(65536 * 2);
    for (uint32_t v = 0; v < 65536; ++v) {
        frame[2 * v] = static_cast<uint8_t>(v);
        frame[2 * v + 1] = static_cast<uint8_t>(v >> 8);
    }
    for (const SimdLevel level : RunnableLevels())
        for (const PictureLayout layout : {PictureLayout::Rgb555, PictureLayout::Rgb565}) {
            std::vector<uint8_t> out(65536 * 4);
            convert::PictureKernelAt(layout, level)(frame.data(), 512, out.data(), 1024, 256, 256,
                                                    ContextFor(false));
            ExpectModel(layout, frame, 512, 256, 256, ContextFor(false), out,
                        std::string(convert::SimdLevelName(level)) + " all values");
            // The ends of the range: black stays black, full becomes 255.
            EXPECT_EQ(Le32(&out[0]), 0xFF000000u);
            EXPECT_EQ(Le32(&out[0xFFFF * 4]) & 0xFFFFFF, 0xFFFFFFu);
        }
}

}  // namespace
