#pragma once

#include <string>

#include "qxdriver.h"

namespace testsupport {

// Loads the built plug-in by path as a host does (dlopen, LoadLibraryW) and
// finds its entry point. The library stays loaded for the whole test run.
class LoadedPlugin {
public:
    explicit LoadedPlugin(const std::string& path);
    bool loaded() const { return entry_ != nullptr; }
    const std::string& error() const { return error_; }
    qx_entry_fn entry() const { return entry_; }

private:
    void* module_ = nullptr;
    qx_entry_fn entry_ = nullptr;
    std::string error_;
};

// The plug-in built alongside the tests.
LoadedPlugin& BuiltPlugin();

}  // namespace testsupport
