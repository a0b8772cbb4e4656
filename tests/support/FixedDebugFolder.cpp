#include "support/FixedDebugFolder.h"

#include <filesystem>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace testsupport {

FixedDebugFolder::FixedDebugFolder() {
#ifdef _WIN32
    folder_ = "C:/tovraDebug/";
#else
    struct passwd* entry = getpwuid(getuid());
    if (entry == nullptr || entry->pw_dir == nullptr) return;
    folder_ = std::string(entry->pw_dir) + "/tovraDebug/";
#endif
    std::error_code error;
    if (std::filesystem::exists(folder_, error)) return;
    created_ = std::filesystem::create_directory(folder_, error);
}

FixedDebugFolder::~FixedDebugFolder() {
    if (!created_) return;
    // A plug-in in another process may log into it while it is removed,
    // which leaves a file behind and the folder in place: try again, so that
    // no later test finds the debug folder switched on.
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::error_code error;
        std::filesystem::remove_all(folder_, error);
        if (!std::filesystem::exists(folder_, error)) return;
    }
}

}  // namespace testsupport
