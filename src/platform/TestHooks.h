// Seams for the test suites into the platform layer. They exist only in the
// test build of the layer (the mirolan_platform_test library, compiled with
// MIROLAN_TEST_HOOKS), which only test programs link: the shipped library has
// none of them and pays nothing for them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace platform {

// The bytes the views have brought in and the views made since the last
// reset (a view counts its length less the prefix left unread).
struct ViewReadCounters {
    uint64_t bytes;
    uint64_t views;
};
ViewReadCounters ViewReadCountersForTesting();
void ResetViewReadCountersForTesting();

// After `readsBefore` more reads of any file (a view counts as one, as does
// each ReadAtPosition), the next one fails as with a device error, once;
// kNoReadFailure disarms.
constexpr uint64_t kNoReadFailure = ~uint64_t{0};
void FailReadForTesting(uint64_t readsBefore);
// Reads left before the failing one; kNoReadFailure once it has failed.
uint64_t ReadsBeforeFailureForTesting();

// While set, CreateSuspendedThread fails as at the thread limit.
void SetThreadCreationFailureForTesting(bool fail);

// Use `folder` (UTF-8, ending in a separator) as the debug folder; an empty
// string restores the fixed folder.
void SetDebugFolderForTesting(const std::string& folder);

// Replace the assertion prompt; null restores the real one.
using AssertPromptHook = PromptAnswer (*)(const char* caption, const char* message);
void SetAssertPromptForTesting(AssertPromptHook hook);

}  // namespace platform
