// libFuzzer target over the container alone: the input's bytes, held in
// memory, opened as each medium's layout and tables (the header walk, the
// format checks, the index sources) with no file, thread or host. It runs
// far faster than the whole-path target and reaches the same parser; any
// broken promise aborts, so it is kept as a crash.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ContainerChecks.h"
#include "platform/TestHooks.h"

namespace {

platform::PromptAnswer IgnoreAssertion(const char*, const char*) {
    return platform::PromptAnswer::Ignore;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Logging off whatever the user's machine has: a folder that never exists.
    const std::filesystem::path absent =
        std::filesystem::temp_directory_path() /
        ("mirolan-fuzz-container-" + std::to_string(static_cast<long>(::getpid()))) /
        "no-debug-folder/";
    platform::SetDebugFolderForTesting(absent.string());
    platform::SetAssertPromptForTesting(IgnoreAssertion);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzzhost::ContainerOutcome outcome = fuzzhost::CheckContainer(data, size);
    if (!outcome.problems.empty()) {
        for (const std::string& problem : outcome.problems)
            std::fprintf(stderr, "%s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
