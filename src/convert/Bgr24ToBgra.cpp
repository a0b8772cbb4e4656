#include "convert/Bgr24ToBgra.h"

#include <cstring>

namespace convert {

namespace {

typedef uint8_t Byte16 __attribute__((vector_size(16)));

using RowConverter = void (*)(const uint8_t* source, uint8_t* destination, uint32_t width);

// One pixel: its three bytes are read before the four are written, so the
// pixel may be converted onto its own source.
inline void PixelToBgra(const uint8_t* source, uint8_t* destination) {
    const uint8_t blue = source[0], green = source[1], red = source[2];
    destination[0] = blue;
    destination[1] = green;
    destination[2] = red;
    destination[3] = 255;
}

// Four pixels from 12 source bytes, by shifts of three little-endian words:
// the plain form, for targets without a byte shuffle.
inline void GroupByWords(const uint8_t* source, uint8_t* destination) {
    uint32_t a, b, c;
    std::memcpy(&a, source, 4);
    std::memcpy(&b, source + 4, 4);
    std::memcpy(&c, source + 8, 4);
    const uint32_t out[4] = {a | 0xFF000000u, (a >> 24) | (b << 8) | 0xFF000000u,
                             (b >> 16) | (c << 16) | 0xFF000000u, (c >> 8) | 0xFF000000u};
    std::memcpy(destination, out, sizeof out);
}

// Four pixels by one byte shuffle of a 16-byte load (the last 4 bytes loaded
// are not used), with alpha taken from a vector of 255s.
inline void GroupByShuffle(const uint8_t* source, uint8_t* destination) {
    const Byte16 alpha = {255, 255, 255, 255, 255, 255, 255, 255,
                          255, 255, 255, 255, 255, 255, 255, 255};
    Byte16 pixels;
    std::memcpy(&pixels, source, sizeof pixels);
    const Byte16 out = __builtin_shufflevector(pixels, alpha, 0, 1, 2, 16, 3, 4, 5, 16, 6, 7, 8, 16,
                                               9, 10, 11, 16);
    std::memcpy(destination, &out, sizeof out);
}

// The row, last pixel first. A group of four pixels at pixel i loads the
// bytes [3i, 3i + 16) before it stores [4i, 4i + 16); with the destination
// not below the source, the store never reaches the source of a pixel before
// i, which is all that is still to be read, so the row may be converted onto
// itself. The bytes loaded past the group's 12 belong to pixels already
// converted and are not used. Groups are taken only where the 16-byte load
// stays inside the row's 3 x width bytes: 12g + 16 <= 3 x width for group g,
// hence (3 x width - 4) / 12 groups; the pixels after them go one by one.
template <bool kShuffle>
inline __attribute__((always_inline)) void RowBackward(const uint8_t* source, uint8_t* destination,
                                                       uint32_t width) {
    const uint32_t groups =
        width < 2 ? 0u : static_cast<uint32_t>((static_cast<uint64_t>(width) * 3 - 4) / 12);
    for (uint32_t i = width; i-- > groups * 4;)
        PixelToBgra(source + 3 * static_cast<size_t>(i), destination + 4 * static_cast<size_t>(i));
    for (uint32_t g = groups; g-- > 0;) {
        const uint8_t* from = source + 12 * static_cast<size_t>(g);
        uint8_t* to = destination + 16 * static_cast<size_t>(g);
        if (kShuffle) {
            GroupByShuffle(from, to);
        } else {
            GroupByWords(from, to);
        }
    }
}

void RowPlain(const uint8_t* source, uint8_t* destination, uint32_t width) {
    RowBackward<false>(source, destination, width);
}

#if defined(__x86_64__) || defined(__i386__)
// The shuffle is one instruction from SSSE3 on.
__attribute__((target("ssse3"))) void RowSsse3(const uint8_t* source, uint8_t* destination,
                                               uint32_t width) {
    RowBackward<true>(source, destination, width);
}

RowConverter AskTheProcessor() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") ? RowSsse3 : RowPlain;
}
#else
RowConverter AskTheProcessor() { return RowPlain; }
#endif

// The processor is asked once, on the first conversion (not at load), and
// the answer kept; the initialisation is thread-safe.
RowConverter ChooseRowConverter() {
    static const RowConverter chosen = AskTheProcessor();
    return chosen;
}

}  // namespace

void Bgr24RowToBgraPortable(const uint8_t* source, uint8_t* destination, uint32_t width) {
    RowPlain(source, destination, width);
}

void Bgr24RowToBgra(const uint8_t* source, uint8_t* destination, uint32_t width) {
    ChooseRowConverter()(source, destination, width);
}

void Bgr24ToBgra(const uint8_t* stored, size_t storedStride, uint8_t* bgraOut, ptrdiff_t outStride,
                 uint32_t width, uint32_t height, const FormatContext& /*context*/) {
    const RowConverter convert = ChooseRowConverter();
    for (uint32_t r = height; r-- > 0;) {
        convert(stored + r * storedStride, bgraOut + static_cast<ptrdiff_t>(r) * outStride, width);
    }
}

}  // namespace convert
