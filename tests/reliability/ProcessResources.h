// What a process holds that a closed stream must give back: open handles
// (file descriptors on Linux) and threads.
#pragma once

#include <chrono>

namespace reliability {

struct ResourceCounts {
    long handles = -1;  // -1: the system cannot tell
    long threads = -1;
};

ResourceCounts CountResources();

// Waits until the counts are back at `baseline` (a thread that has been
// joined may linger for a moment before the system forgets it); returns the
// last counts seen.
ResourceCounts WaitForResourcesAt(const ResourceCounts& baseline,
                                  std::chrono::milliseconds patience = std::chrono::seconds(5));

// The counts once they have held still for `steadyFor` (or the last seen
// after `patience`): the baseline of a leak check. Threads of the tests
// before may still be ending (a worker just joined; the Windows build's
// standard-output writer, which ends after a second without lines), and one
// that ends after the baseline would hide a thread leaked.
ResourceCounts SteadyResources(
    std::chrono::milliseconds steadyFor = std::chrono::milliseconds(1500),
    std::chrono::milliseconds patience = std::chrono::seconds(5));

// Where the counts come from, for messages.
const char* ResourceSource();

}  // namespace reliability
