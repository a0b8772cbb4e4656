#include "support/LoadedPlugin.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
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

}  // namespace testsupport
