// Which vector instructions the processor offers, asked once at run time.
// The picture kernels are built for each level and the best one the
// processor runs is chosen on the first conversion; the portable level runs
// everywhere and gives the same bytes as every other level.
#pragma once

namespace convert {

enum class SimdLevel : int {
    Portable = 0,  // plain C++, no processor-specific instructions
    Sse2 = 1,
    Ssse3 = 2,
    Avx2 = 3,
};

// The highest level this processor runs (Portable off x86). Thread-safe; the
// processor is asked on the first call only.
SimdLevel ProcessorSimdLevel();

// The name of a level for logs, tests and benchmarks ("portable", "sse2",
// "ssse3", "avx2").
const char* SimdLevelName(SimdLevel level);

// One kernel body built at every level. K has a static `template <SimdLevel L>
// Run(...)` that is forced inline, so that each level's entry point (compiled
// with that level's target attribute) gets the whole body compiled, and
// vectorised, for that level's instructions.
namespace detail {
template <class K, class Entry>
struct LevelEntries;
template <class K, class... Args>
struct LevelEntries<K, void (*)(Args...)> {
    static void Portable(Args... args) { K::template Run<SimdLevel::Portable>(args...); }
#if defined(__x86_64__) || defined(__i386__)
    __attribute__((target("sse2"))) static void Sse2(Args... args) {
        K::template Run<SimdLevel::Sse2>(args...);
    }
    __attribute__((target("ssse3"))) static void Ssse3(Args... args) {
        K::template Run<SimdLevel::Ssse3>(args...);
    }
    __attribute__((target("avx2"))) static void Avx2(Args... args) {
        K::template Run<SimdLevel::Avx2>(args...);
    }
#endif
};
}  // namespace detail

// The entry point (of function pointer type Entry) of kernel K built for
// `level`, or nullptr where this build has no such level.
template <class K, class Entry>
Entry KernelAt(SimdLevel level) {
    using Entries = detail::LevelEntries<K, Entry>;
    switch (level) {
        case SimdLevel::Portable:
            return Entries::Portable;
#if defined(__x86_64__) || defined(__i386__)
        case SimdLevel::Sse2:
            return Entries::Sse2;
        case SimdLevel::Ssse3:
            return Entries::Ssse3;
        case SimdLevel::Avx2:
            return Entries::Avx2;
#else
        default:
            return nullptr;
#endif
    }
    return nullptr;
}

}  // namespace convert
