// The vector kernels written once for every width, compiled once per width:
// the same body with the 128-bit ops for SSE2 (SSSE3 where it shuffles
// bytes) and with the 256-bit ops for AVX2.
#include "convert/PictureKernelSupport.h"

#if CONVERT_X86

#define CONVERT_WIDTH_VEC Vec128
#define CONVERT_WIDTH_NS width128
#define CONVERT_WIDTH_TARGET "sse2"
#define CONVERT_WIDTH_SHUFFLE_TARGET "ssse3"
#include "convert/WidthKernelBodies.h"
#undef CONVERT_WIDTH_VEC
#undef CONVERT_WIDTH_NS
#undef CONVERT_WIDTH_TARGET
#undef CONVERT_WIDTH_SHUFFLE_TARGET

#define CONVERT_WIDTH_VEC Vec256
#define CONVERT_WIDTH_NS width256
#define CONVERT_WIDTH_TARGET "avx2"
#define CONVERT_WIDTH_SHUFFLE_TARGET "avx2"
#include "convert/WidthKernelBodies.h"
#undef CONVERT_WIDTH_VEC
#undef CONVERT_WIDTH_NS
#undef CONVERT_WIDTH_TARGET
#undef CONVERT_WIDTH_SHUFFLE_TARGET

#endif
