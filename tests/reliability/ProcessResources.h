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

// Where the counts come from, for messages.
const char* ResourceSource();

}  // namespace reliability
