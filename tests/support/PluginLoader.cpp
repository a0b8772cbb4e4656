#include "support/PluginLoader.h"

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <pwd.h>
#include <unistd.h>
#endif

namespace testsupport {

LoadedPlugin::LoadedPlugin(const std::string& path) {
#ifdef _WIN32
    // The build passes a Unix path; under Wine the Unix root is drive Z:.
    std::string windowsPath = (!path.empty() && path[0] == '/') ? "Z:" + path : path;
    for (char& c : windowsPath) {
        if (c == '/') c = '\\';
    }
    std::wstring wide(windowsPath.begin(), windowsPath.end());
    HMODULE module = LoadLibraryW(wide.c_str());
    if (module == nullptr) {
        error_ = "LoadLibraryW failed: " + std::to_string(GetLastError());
        return;
    }
    module_ = module;
    entry_ = reinterpret_cast<qx_entry_fn>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, QX_ENTRY_NAME)));
#else
    module_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module_ == nullptr) {
        error_ = dlerror();
        return;
    }
    entry_ = reinterpret_cast<qx_entry_fn>(dlsym(module_, QX_ENTRY_NAME));
#endif
    if (entry_ == nullptr) error_ = "entry point not found";
}

LoadedPlugin& BuiltPlugin() {
#ifdef MIROLAN_LIBRARY_PATH
    static LoadedPlugin plugin(MIROLAN_LIBRARY_PATH);
#else
    static LoadedPlugin plugin("");
#endif
    return plugin;
}

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
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
}

}  // namespace testsupport
