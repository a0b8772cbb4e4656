// The view-read counters, kept once for both targets: each target's MapView
// reports what a view brought in.
#include <atomic>

#include "platform/platform.h"

namespace platform {

namespace {
std::atomic<uint64_t> viewBytes{0};
std::atomic<uint64_t> viewCount{0};
}  // namespace

void CountView(uint32_t length, uint32_t unusedPrefix) {
    viewBytes.fetch_add(length - (unusedPrefix < length ? unusedPrefix : length),
                        std::memory_order_relaxed);
    viewCount.fetch_add(1, std::memory_order_relaxed);
}

ViewReadCounters ViewReadCountersForTesting() {
    return ViewReadCounters{viewBytes.load(std::memory_order_relaxed),
                            viewCount.load(std::memory_order_relaxed)};
}

void ResetViewReadCountersForTesting() {
    viewBytes.store(0, std::memory_order_relaxed);
    viewCount.store(0, std::memory_order_relaxed);
}

}  // namespace platform
