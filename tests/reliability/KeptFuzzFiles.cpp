#include "KeptFuzzFiles.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace reliability {

std::vector<fs::path> KeptFuzzFiles(const std::string& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::path(MIROLAN_FUZZ_DIR) / folder, error)) {
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace reliability
