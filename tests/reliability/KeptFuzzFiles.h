#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace reliability {

// The files kept in fuzz/`folder` ("corpus": the minimized corpus,
// "regressions": every past finding), in name order, hidden files left out.
std::vector<std::filesystem::path> KeptFuzzFiles(const std::string& folder);

}  // namespace reliability
