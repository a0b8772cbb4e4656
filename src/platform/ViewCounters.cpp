// The view-read counters and the injected read failure, kept once for both
// targets: each target's MapView reports what a view brought in, and each
// read asks whether it is the one to fail.
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

namespace {
std::atomic<uint64_t> readsBeforeFailure{kNoReadFailure};
}  // namespace

void FailReadForTesting(uint64_t readsBefore) { readsBeforeFailure.store(readsBefore); }

uint64_t ReadsBeforeFailureForTesting() { return readsBeforeFailure.load(); }

bool InjectedReadFailure() {
    uint64_t left = readsBeforeFailure.load(std::memory_order_relaxed);
    while (left != kNoReadFailure) {
        const uint64_t next = left == 0 ? kNoReadFailure : left - 1;
        if (readsBeforeFailure.compare_exchange_weak(left, next)) return left == 0;
    }
    return false;
}

}  // namespace platform
