// libFuzzer target over the whole open-serve-close path: the input is written
// to a file named *.avi and opened through the export as video and as audio,
// served by the fuzz host and closed. Any broken promise the host sees aborts,
// so it is kept as a crash like a sanitizer report.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "FuzzHost.h"
#include "platform/TestHooks.h"
#include "qxdriver.h"

namespace {

const DriverTable* driver = nullptr;
std::filesystem::path workFolder;
std::string inputPath;
std::u16string inputPathWide;

std::u16string Widen(const std::string& text) {
    std::u16string wide;
    for (unsigned char c : text) wide += static_cast<char16_t>(c);  // temp paths are ASCII
    return wide;
}

platform::PromptAnswer IgnoreAssertion(const char*, const char*) {
    return platform::PromptAnswer::Ignore;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() /
                            ("mirolan-fuzz-" + std::to_string(static_cast<long>(::getpid())));
    fs::create_directories(folder);
    workFolder = folder;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(workFolder, ignored);
    });
    inputPath = (folder / "input.avi").string();
    inputPathWide = Widen(inputPath);
    // Logging off whatever the user's machine has: a folder that never exists.
    platform::SetDebugFolderForTesting((folder / "no-debug-folder/").string());
    platform::SetAssertPromptForTesting(IgnoreAssertion);
    driver = qxVideoDriver_Mirolan(&fuzzhost::Services());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(inputPath, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out.good()) std::abort();
    }
    fuzzhost::Options options;
    options.injectReadFailures = true;
    const fuzzhost::Outcome outcome =
        fuzzhost::Exercise(*driver, inputPathWide, data, size, options);
    if (!outcome.problems.empty()) {
        for (const std::string& problem : outcome.problems)
            std::fprintf(stderr, "%s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
