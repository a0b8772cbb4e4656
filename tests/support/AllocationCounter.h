// Counts what a test binary allocates with operator new, to measure the peak
// memory of an open, and makes allocations fail on demand. Linked only into
// the suites that ask for it (tests/CMakeLists.txt): it replaces the global
// operator new and delete of the whole binary.
#pragma once

#include <cstddef>

namespace allocation {

// Starts a measurement: the peak is set to what is allocated now.
void ResetPeak();
// Bytes allocated with operator new and not yet freed.
size_t Current();
// The most that was allocated at once since ResetPeak().
size_t Peak();

// From the `skipped`-th allocation of the calling thread on (counting from
// 0), every allocation of that thread fails as when memory runs out: the
// throwing forms throw std::bad_alloc, the nothrow forms return null. Other
// threads are not touched.
void FailOnThisThreadAfter(size_t skipped);
// Ends the failures; returns how many allocations failed.
size_t StopFailing();

}  // namespace allocation
