// Stored picture layouts converted into the host's 32-bit BGRA (blue, green,
// red, alpha bytes; alpha 255 unless the layout carries alpha). Pure
// kernels: no I/O, no file knowledge; a kernel sees stored bytes and an
// output picture, nothing else.
//
// Colour of the YUV layouts (limited range, chroma interpolated between its
// sample positions):
//   Y' = (Y - 16) x 255 / 219,  Cb' = (Cb - 128) x 255 / 224,  Cr' = (Cr - 128) x 255 / 224
//   R = Y' + 2 (1 - Kr) Cr'
//   G = Y' - (2 Kb (1 - Kb) Cb' + 2 Kr (1 - Kr) Cr') / (1 - Kr - Kb)
//   B = Y' + 2 (1 - Kb) Cb'
// each rounded to the nearest integer (halves up) and clamped to 0..255;
// BT.709 (Kr 0.2126, Kb 0.0722) or BT.601 (Kr 0.299, Kb 0.114) as the
// context says. 10-bit samples enter as value / 4 with no rounding before
// the final one. Chroma samples sit between the luma samples they cover
// (sample j of a plane subsampled by 2 at luma position 2j + 0.5, by 4 at
// 4j + 1.5, in both directions where the plane is subsampled in both); the
// chroma of a luma sample is the linear interpolation of the two nearest
// chroma samples, the edge sample repeated past the picture's edge.
// The kernels compute this in 32-bit fixed point (PictureKernelSupport.h): the
// result equals the formula's except where the exact value lies within
// 0.03 of a half, where it may be one off; on grey (Cb = Cr = 128) it is
// always equal.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/CpuFeatures.h"
#include "convert/PictureKernel.h"

namespace convert {

enum class PictureLayout : int {
    Uyvy,     // 4:2:2 packed U Y0 V Y1
    Yuy2,     // 4:2:2 packed Y0 U Y1 V
    Yvyu,     // 4:2:2 packed Y0 V Y1 U
    V210,     // 4:2:2 10-bit, 6 pixels in four little-endian words, rows padded to 128 bytes
    I420,     // 4:2:0 planar Y, U, V
    Yv12,     // 4:2:0 planar Y, V, U
    Nv12,     // 4:2:0 Y plane, then U V interleaved
    Nv21,     // 4:2:0 Y plane, then V U interleaved
    Yuv422P,  // 4:2:2 planar Y, U, V
    Yuv411P,  // 4:1:1 planar Y, U, V
    Yuv410P,  // 4:1:0 planar Y, U, V (chroma subsampled by 4 both ways)
    Yvu410P,  // 4:1:0 planar Y, V, U
    Grey,     // 8-bit grey, full range: each channel the stored value
    Rgb555,   // 16-bit little-endian x R5 G5 B5
    Rgb565,   // 16-bit little-endian R5 G6 B5
    Pal8,     // 8-bit index into the palette
    Pal4,     // 4-bit indexes, first pixel in the high nibble
    Pal1,     // 1-bit indexes, first pixel in the most significant bit
    Rgba,     // bytes R, G, B, A: alpha kept
    Bgrx,     // bytes B, G, R, x: alpha 255
    Rgbx,     // bytes R, G, B, x: alpha 255
    Rgb24,    // bytes R, G, B
    Bgr24,    // bytes B, G, R
    Argb,     // bytes A, R, G, B: alpha kept
    Count,
};

// What a kernel needs besides the pixels, fixed at open: the matrix
// (bt709) and, for indexed layouts, the palette (entry i as stored, RGBQUAD
// read little-endian: blue in the low byte; its fourth byte is ignored and
// alpha is 255). Indexes past the stored table take the zero entries, black.
using PictureContext = FormatContext;

// Converts a stored picture of width x height pixels into BGRA.
//
// Packed layouts: stored row r starts at stored + r x storedStride.
// Planar layouts (I420 to Yvu410P): the planes follow one another with no
// padding, the luma plane's rows storedStride bytes apart, each chroma
// plane's rows (storedStride + s - 1) / s bytes apart for a horizontal
// subsampling s (two such interleaved for NV12/NV21), PlanarFrameBytes in all;
// unless the context's chromaStride and lumaPlaneRows give padded planes:
// the chroma rows that many bytes apart, after a luma plane of that many rows.
// Output row r starts at out + r x outStride (negative to turn the picture
// over); each output row gets exactly width x 4 bytes.
//
// In place: a packed layout's kernel also accepts out == stored with
// 0 < storedStride <= outStride: rows go last first and pixels in spans
// each read whole before any of it is written, so nothing is overwritten
// before it is read. Planar layouts never convert in place.
using PictureKernel = PictureConverter;

// The kernel of a layout at the best level this processor runs.
PictureKernel PictureKernelFor(PictureLayout layout);
// The same as a kernel of its own for each layout (a format table's entry):
// asks for the best level's kernel on each call and runs it.
template <PictureLayout kLayout>
void ConvertLayout(const uint8_t* stored, size_t storedStride, uint8_t* out, ptrdiff_t outStride,
                   uint32_t width, uint32_t height, const PictureContext& context) {
    PictureKernelFor(kLayout)(stored, storedStride, out, outStride, width, height, context);
}
// The kernel of a layout built for one level, or nullptr where this build
// has none (the SIMD levels off x86). For tests and benchmarks: the caller
// makes sure that the processor runs the level.
PictureKernel PictureKernelAt(PictureLayout layout, SimdLevel level);

// The stored bytes of one row of a packed layout, without padding
// (v210's 128-byte padding is part of its row), or 0 for planar layouts.
uint64_t PackedRowBytes(PictureLayout layout, uint32_t width);
// True for the planar layouts (I420 to Yvu410P).
bool IsPlanar(PictureLayout layout);
// The bytes of a whole planar frame of width x height whose luma rows are
// lumaStride bytes apart, or 0 for packed layouts.
uint64_t PlanarFrameBytes(PictureLayout layout, uint64_t lumaStride, uint32_t height);

}  // namespace convert
