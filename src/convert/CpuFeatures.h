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
constexpr int kSimdLevelCount = 4;

// The highest level this processor runs (Portable off x86). Thread-safe; the
// processor is asked on the first call only.
SimdLevel ProcessorSimdLevel();

// The name of a level for logs, tests and benchmarks ("portable", "sse2",
// "ssse3", "avx2").
const char* SimdLevelName(SimdLevel level);

}  // namespace convert
