// Counts what this test binary allocates with operator new, to measure
// the peak memory of an open.
#pragma once

#include <cstddef>

namespace allocation {

// Starts a measurement: the peak is set to what is allocated now.
void ResetPeak();
// Bytes allocated with operator new and not yet freed.
size_t Current();
// The most that was allocated at once since ResetPeak().
size_t Peak();

}  // namespace allocation
