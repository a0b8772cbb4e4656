#include "support/TempDir.h"

#include <atomic>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const fs::path base = fs::temp_directory_path();
    for (;;) {
        const fs::path candidate =
            base / ("mirolan-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate.generic_string() + "/";
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code error;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(path_, error);
}

}  // namespace testsupport
