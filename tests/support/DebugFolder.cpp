#include "support/DebugFolder.h"

#include <filesystem>

#include "platform/TestHooks.h"

namespace fs = std::filesystem;

namespace testsupport {

DebugFolder::DebugFolder(bool create) {
    if (create) fs::create_directory(dir_.File("tovraDebug"));
    std::string folder = dir_.File("tovraDebug/");
#ifdef _WIN32
    for (char& c : folder) {
        if (c == '/') c = '\\';
    }
#endif
    platform::SetDebugFolderForTesting(folder);
}

DebugFolder::~DebugFolder() { platform::SetDebugFolderForTesting(std::string()); }

void DebugFolder::CreateLogFile() const { WriteFile(LogFile(), {}); }

}  // namespace testsupport
