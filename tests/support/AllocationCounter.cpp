// Replaces the global operator new and delete of the test binary with a
// counting pair: each block carries its size in a header.
#include "support/AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

constexpr size_t kHeader = alignof(std::max_align_t);
std::atomic<size_t> current{0};
std::atomic<size_t> peak{0};

// The calling thread's injected failure (see FailOnThisThreadAfter).
thread_local bool failing = false;
thread_local size_t allowedBeforeFailure = 0;
thread_local size_t failedCount = 0;

void* Allocate(size_t size) {
    if (failing) {
        if (allowedBeforeFailure == 0) {
            ++failedCount;
            throw std::bad_alloc();
        }
        --allowedBeforeFailure;
    }
    void* block = std::malloc(size + kHeader);
    if (block == nullptr) throw std::bad_alloc();
    *static_cast<size_t*>(block) = size;
    const size_t now = current.fetch_add(size) + size;
    size_t seen = peak.load();
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
    return static_cast<char*>(block) + kHeader;
}

void Free(void* pointer) noexcept {
    if (pointer == nullptr) return;
    void* block = static_cast<char*>(pointer) - kHeader;
    current.fetch_sub(*static_cast<size_t*>(block));
    std::free(block);
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void operator delete(void* pointer) noexcept { Free(pointer); }
void operator delete[](void* pointer) noexcept { Free(pointer); }
void operator delete(void* pointer, size_t) noexcept { Free(pointer); }
void operator delete[](void* pointer, size_t) noexcept { Free(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { Free(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { Free(pointer); }

namespace allocation {

void ResetPeak() { peak.store(current.load()); }
size_t Current() { return current.load(); }
size_t Peak() { return peak.load(); }

void FailOnThisThreadAfter(size_t skipped) {
    allowedBeforeFailure = skipped;
    failedCount = 0;
    failing = true;
}

size_t StopFailing() {
    failing = false;
    return failedCount;
}

}  // namespace allocation
