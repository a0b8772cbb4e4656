// The vector operations of one width, for kernels written once and compiled
// for every width (WidthKernels.h): Vec128 (SSE2; the byte shuffle SSSE3)
// and Vec256 (AVX2). Each op is a forced-inline static function carrying
// its width's target, so that a body compiled for that target (or a wider
// one) takes it in; a body without the target could not, which is why the
// bodies are compiled once per width rather than as templates.
//
// The ops are the intrinsics themselves, one for one, so each width runs
// the instructions it always ran. AVX2 unpacks and packs work within each
// 128-bit lane; the few ops that cross lanes (the interleaving stores, the
// half-width gathers) put the lanes back in order, so that a body reads the
// same at both widths and no body branches on the width.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/CpuFeatures.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define CONVERT_VEC128 static inline __attribute__((target("sse2"), always_inline))
#define CONVERT_VEC128_SHUFFLE static inline __attribute__((target("ssse3"), always_inline))
#define CONVERT_VEC256 static inline __attribute__((target("avx2"), always_inline))

namespace convert {
namespace detail {

// The ops both widths spell alike, `mm` the intrinsics' prefix (_mm,
// _mm256) and `si` the whole vector's suffix (si128, si256). Loads and
// stores take any alignment; the packs and Zip (unpack) ops work within
// each 128-bit lane, as the instructions do.
// clang-format off
#define CONVERT_VEC_OPS(OP, mm, si)                                                             \
    OP T Load(const void* p) { return mm##_loadu_##si(static_cast<const T*>(p)); }              \
    OP void Store(void* p, T v) { mm##_storeu_##si(static_cast<T*>(p), v); }                    \
    OP T Set8(int8_t v) { return mm##_set1_epi8(v); }                                           \
    OP T Set16(int16_t v) { return mm##_set1_epi16(v); }                                        \
    OP T Set32(int32_t v) { return mm##_set1_epi32(v); }                                        \
    OP T And(T a, T b) { return mm##_and_##si(a, b); }                                          \
    OP T Or(T a, T b) { return mm##_or_##si(a, b); }                                            \
    OP T Add16(T a, T b) { return mm##_add_epi16(a, b); }                                       \
    OP T Sub16(T a, T b) { return mm##_sub_epi16(a, b); }                                       \
    OP T Mullo16(T a, T b) { return mm##_mullo_epi16(a, b); }                                   \
    OP T Add32(T a, T b) { return mm##_add_epi32(a, b); }                                       \
    OP T Madd16(T a, T b) { return mm##_madd_epi16(a, b); }                                     \
    template <int n> OP T Shl16(T a) { return mm##_slli_epi16(a, n); }                          \
    template <int n> OP T Shr16(T a) { return mm##_srli_epi16(a, n); }                          \
    template <int n> OP T Shl32(T a) { return mm##_slli_epi32(a, n); }                          \
    template <int n> OP T Sar32(T a) { return mm##_srai_epi32(a, n); }                          \
    OP T PackSigned32(T a, T b) { return mm##_packs_epi32(a, b); }                              \
    OP T PackUnsigned16(T a, T b) { return mm##_packus_epi16(a, b); }                           \
    OP T ZipLo8(T a, T b) { return mm##_unpacklo_epi8(a, b); }                                  \
    OP T ZipHi8(T a, T b) { return mm##_unpackhi_epi8(a, b); }                                  \
    OP T ZipLo16(T a, T b) { return mm##_unpacklo_epi16(a, b); }                                \
    OP T ZipHi16(T a, T b) { return mm##_unpackhi_epi16(a, b); }                                \
    OP T ZipLo32(T a, T b) { return mm##_unpacklo_epi32(a, b); }                                \
    OP T ZipHi32(T a, T b) { return mm##_unpackhi_epi32(a, b); }                                \
    /* The two 16-bit halves of every 32-bit element swapped. */                                \
    OP T SwapPairs16(T a) { return mm##_shufflehi_epi16(mm##_shufflelo_epi16(a, 0xB1), 0xB1); } \
    /* Half a vector's 16-bit elements added (within the low 128 bits). */                      \
    OP Half AddHalf16(Half a, Half b) { return _mm_add_epi16(a, b); }
// clang-format on

struct Vec128 {
    using T = __m128i;
    using Half = __m128i;  // half a vector's elements, in the low 64 bits
    static constexpr uint32_t kBytes = 16;

    CONVERT_VEC_OPS(CONVERT_VEC128, _mm, si128)
    // The same 16 bytes in every 128-bit lane.
    CONVERT_VEC128 T Lanes(__m128i v) { return v; }
    // Byte i of each lane from byte index[i] of the same lane (0 where its
    // top bit is set).
    CONVERT_VEC128_SHUFFLE T ShuffleBytes(T a, T index) { return _mm_shuffle_epi8(a, index); }

    CONVERT_VEC128 Half LoadHalf(const void* p) {
        return _mm_loadl_epi64(static_cast<const __m128i*>(p));
    }
    // The 16-bit elements of two halves interleaved, a first: one vector.
    CONVERT_VEC128 T ZipHalves16(Half a, Half b) { return _mm_unpacklo_epi16(a, b); }

    // Stores 2 vectors: the 16-bit elements of a and b interleaved, a first.
    CONVERT_VEC128 void StoreZip16(void* out, T a, T b) {
        T* o = static_cast<T*>(out);
        _mm_storeu_si128(o, _mm_unpacklo_epi16(a, b));
        _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(a, b));
    }
    // Stores 4 vectors: the bytes of a, b, c and d interleaved in that order.
    CONVERT_VEC128 void StoreZip8x4(void* out, T a, T b, T c, T d) {
        const T abLo = _mm_unpacklo_epi8(a, b), abHi = _mm_unpackhi_epi8(a, b);
        const T cdLo = _mm_unpacklo_epi8(c, d), cdHi = _mm_unpackhi_epi8(c, d);
        T* o = static_cast<T*>(out);
        _mm_storeu_si128(o, _mm_unpacklo_epi16(abLo, cdLo));
        _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(abLo, cdLo));
        _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(abHi, cdHi));
        _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(abHi, cdHi));
    }
    // Each 128-bit lane's 16 bytes loaded from kApart bytes after the one
    // before's: one load here.
    template <size_t kApart>
    CONVERT_VEC128 T LoadLanes(const void* p) {
        return Load(p);
    }
    // Each 128-bit lane's 16 bytes stored `apart` elements after the one
    // before: one store here.
    CONVERT_VEC128 void StoreLanesApart(int16_t* p, size_t /*apart*/, T v) {
        _mm_storeu_si128(reinterpret_cast<T*>(p), v);
    }
    // The pairs (p[m], p[m + 1]) of 32-bit elements, m = 0 .. kBytes / 8 - 1,
    // each twice, in order; reads p[0 .. 8].
    CONVERT_VEC128 T PairsTwice(const int16_t* p) {
        const T pairs = _mm_unpacklo_epi16(Load(p), Load(p + 1));
        return _mm_unpacklo_epi32(pairs, pairs);
    }
    // 8 or 16 bytes, each widened to a 16-bit element, in order.
    CONVERT_VEC128 T LoadWiden8(const uint8_t* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                 _mm_setzero_si128());
    }
    // 8 or 16 bytes of a and of b interleaved, a first, in order.
    CONVERT_VEC128 T LoadZip8(const uint8_t* a, const uint8_t* b) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                                 _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)));
    }
    // Each 16-bit element: the sum of its two bytes in a (unsigned) times
    // those in b (signed), saturated.
    CONVERT_VEC128_SHUFFLE T MaddBytes(T a, T b) { return _mm_maddubs_epi16(a, b); }
};

struct Vec256 {
    using T = __m256i;
    using Half = __m128i;
    static constexpr uint32_t kBytes = 32;

    CONVERT_VEC_OPS(CONVERT_VEC256, _mm256, si256)
    CONVERT_VEC256 T Lanes(__m128i v) { return _mm256_broadcastsi128_si256(v); }
    CONVERT_VEC256 T ShuffleBytes(T a, T index) { return _mm256_shuffle_epi8(a, index); }

    CONVERT_VEC256 Half LoadHalf(const void* p) {
        return _mm_loadu_si128(static_cast<const __m128i*>(p));
    }
    CONVERT_VEC256 T ZipHalves16(Half a, Half b) {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)),
                                       _mm_unpackhi_epi16(a, b), 1);
    }

    // The in-lane unpacks leave elements 0-3 | 8-11 and 4-7 | 12-15 of the
    // interleave; the lane permutes put them in order.
    CONVERT_VEC256 void StoreZip16(void* out, T a, T b) {
        const T lo = _mm256_unpacklo_epi16(a, b), hi = _mm256_unpackhi_epi16(a, b);
        T* o = static_cast<T*>(out);
        _mm256_storeu_si256(o, _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    CONVERT_VEC256 void StoreZip8x4(void* out, T a, T b, T c, T d) {
        const T abLo = _mm256_unpacklo_epi8(a, b), abHi = _mm256_unpackhi_epi8(a, b);
        const T cdLo = _mm256_unpacklo_epi8(c, d), cdHi = _mm256_unpackhi_epi8(c, d);
        // Elements 0-3 | 16-19, 4-7 | 20-23, 8-11 | 24-27, 12-15 | 28-31.
        const T p0 = _mm256_unpacklo_epi16(abLo, cdLo), p1 = _mm256_unpackhi_epi16(abLo, cdLo);
        const T p2 = _mm256_unpacklo_epi16(abHi, cdHi), p3 = _mm256_unpackhi_epi16(abHi, cdHi);
        T* o = static_cast<T*>(out);
        _mm256_storeu_si256(o, _mm256_permute2x128_si256(p0, p1, 0x20));
        _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(p2, p3, 0x20));
        _mm256_storeu_si256(o + 2, _mm256_permute2x128_si256(p0, p1, 0x31));
        _mm256_storeu_si256(o + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
    }
    template <size_t kApart>
    CONVERT_VEC256 T LoadLanes(const void* p) {
        if constexpr (kApart == 16) {
            return Load(p);
        } else {
            const uint8_t* bytes = static_cast<const uint8_t*>(p);
            return _mm256_inserti128_si256(
                _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes))),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + kApart)), 1);
        }
    }
    CONVERT_VEC256 void StoreLanesApart(int16_t* p, size_t apart, T v) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + apart), _mm256_extracti128_si256(v, 1));
    }
    // One byte shuffle of p[0 .. 7] in both lanes.
    CONVERT_VEC256 T PairsTwice(const int16_t* p) {
        const T pattern = _mm256_setr_epi8(0, 1, 2, 3, 0, 1, 2, 3, 2, 3, 4, 5, 2, 3, 4, 5,  //
                                           4, 5, 6, 7, 4, 5, 6, 7, 6, 7, 8, 9, 6, 7, 8, 9);
        return _mm256_shuffle_epi8(
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
            pattern);
    }
    CONVERT_VEC256 T LoadWiden8(const uint8_t* p) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    CONVERT_VEC256 T LoadZip8(const uint8_t* a, const uint8_t* b) {
        return _mm256_or_si256(LoadWiden8(a), _mm256_slli_epi16(LoadWiden8(b), 8));
    }
    CONVERT_VEC256 T MaddBytes(T a, T b) { return _mm256_maddubs_epi16(a, b); }
};

#undef CONVERT_VEC128
#undef CONVERT_VEC128_SHUFFLE
#undef CONVERT_VEC256
#undef CONVERT_VEC_OPS

// The vector width of a level above the portable one.
template <SimdLevel L>
struct VecAtLevel {
    static_assert(L != SimdLevel::Portable, "the portable level has no vectors");
    using Type = Vec128;
};
template <>
struct VecAtLevel<SimdLevel::Avx2> {
    using Type = Vec256;
};
template <SimdLevel L>
using VecAt = typename VecAtLevel<L>::Type;

}  // namespace detail
}  // namespace convert

#endif
