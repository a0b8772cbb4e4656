// What the targets' code (posix.cpp, win32.cpp) asks the test hooks. In the
// shipped build these are constants the compiler folds away; in the test
// build (MIROLAN_TEST_HOOKS) TestHooks.cpp answers them. Included by the
// platform layer only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace platform {
namespace seams {

using PromptHook = PromptAnswer (*)(const char* caption, const char* message);

#if defined(MIROLAN_TEST_HOOKS)
// True when this read is the one to fail (see FailReadForTesting).
bool ReadFails();
// Counts one view made by MapView: its length less the prefix left unread.
void CountView(uint32_t length, uint32_t unusedPrefix);
bool ThreadCreationFails();
// The tests' debug folder (UTF-8); empty for the fixed one.
std::string DebugFolder();
// The tests' replacement of the assertion prompt, or null.
PromptHook AssertPrompt();
#else
constexpr bool ReadFails() { return false; }
inline void CountView(uint32_t, uint32_t) {}
constexpr bool ThreadCreationFails() { return false; }
inline std::string DebugFolder() { return std::string(); }
constexpr PromptHook AssertPrompt() { return nullptr; }
#endif

}  // namespace seams
}  // namespace platform
