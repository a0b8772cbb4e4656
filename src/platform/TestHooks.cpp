// The test hooks of the platform layer, kept once for both targets: built
// only into the test build of the layer (MIROLAN_TEST_HOOKS), never shipped.
#include "platform/TestHooks.h"

#include <atomic>
#include <mutex>

#include "platform/Seams.h"

#if !defined(MIROLAN_TEST_HOOKS)
#error "TestHooks.cpp belongs to the test build of the platform layer only"
#endif

namespace platform {

namespace {
std::atomic<uint64_t> viewBytes{0};
std::atomic<uint64_t> viewCount{0};
std::atomic<uint64_t> readsBeforeFailure{kNoReadFailure};
std::atomic<bool> failThreadCreation{false};
std::atomic<AssertPromptHook> promptHook{nullptr};

struct FolderOverride {
    std::mutex lock;
    std::string folder;
};
FolderOverride& Folder() {
    static FolderOverride value;
    return value;
}
}  // namespace

ViewReadCounters ViewReadCountersForTesting() {
    return ViewReadCounters{viewBytes.load(std::memory_order_relaxed),
                            viewCount.load(std::memory_order_relaxed)};
}

void ResetViewReadCountersForTesting() {
    viewBytes.store(0, std::memory_order_relaxed);
    viewCount.store(0, std::memory_order_relaxed);
}

void FailReadForTesting(uint64_t readsBefore) { readsBeforeFailure.store(readsBefore); }

uint64_t ReadsBeforeFailureForTesting() { return readsBeforeFailure.load(); }

void SetThreadCreationFailureForTesting(bool fail) { failThreadCreation.store(fail); }

void SetDebugFolderForTesting(const std::string& folder) {
    FolderOverride& current = Folder();
    std::lock_guard<std::mutex> hold(current.lock);
    current.folder = folder;
}

void SetAssertPromptForTesting(AssertPromptHook hook) { promptHook.store(hook); }

namespace seams {

bool ReadFails() {
    uint64_t left = readsBeforeFailure.load(std::memory_order_relaxed);
    while (left != kNoReadFailure) {
        const uint64_t next = left == 0 ? kNoReadFailure : left - 1;
        if (readsBeforeFailure.compare_exchange_weak(left, next)) return left == 0;
    }
    return false;
}

void CountView(uint32_t length, uint32_t unusedPrefix) {
    viewBytes.fetch_add(length - (unusedPrefix < length ? unusedPrefix : length),
                        std::memory_order_relaxed);
    viewCount.fetch_add(1, std::memory_order_relaxed);
}

bool ThreadCreationFails() { return failThreadCreation.load(); }

std::string DebugFolder() {
    FolderOverride& current = Folder();
    std::lock_guard<std::mutex> hold(current.lock);
    return current.folder;
}

AssertPromptHook AssertPrompt() { return promptHook.load(); }

}  // namespace seams
}  // namespace platform
