#include "convert/CpuFeatures.h"

namespace convert {

namespace {

SimdLevel AskTheProcessor() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return SimdLevel::Avx2;
    if (__builtin_cpu_supports("ssse3")) return SimdLevel::Ssse3;
    if (__builtin_cpu_supports("sse2")) return SimdLevel::Sse2;
#endif
    return SimdLevel::Portable;
}

}  // namespace

SimdLevel ProcessorSimdLevel() {
    static const SimdLevel level = AskTheProcessor();
    return level;
}

const char* SimdLevelName(SimdLevel level) {
    switch (level) {
        case SimdLevel::Portable:
            return "portable";
        case SimdLevel::Sse2:
            return "sse2";
        case SimdLevel::Ssse3:
            return "ssse3";
        case SimdLevel::Avx2:
            return "avx2";
    }
    return "?";
}

}  // namespace convert
