// Plug-in loading and process facts on POSIX systems.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "PluginLoader.h"

namespace qxhost {
namespace {

class PosixLibrary : public PluginLibrary {
public:
    explicit PosixLibrary(void* handle) : handle_(handle) {}
    ~PosixLibrary() override { dlclose(handle_); }
    PosixLibrary(const PosixLibrary&) = delete;
    PosixLibrary& operator=(const PosixLibrary&) = delete;

    void* Symbol(const char* name) const override { return dlsym(handle_, name); }

private:
    void* handle_;
};

}  // namespace

std::unique_ptr<PluginLibrary> LoadPluginLibrary(const std::string& path, std::string& error) {
    // A name without a slash would send dlopen searching the library path.
    const std::string exact = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(exact.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : "dlopen failed";
        return nullptr;
    }
    return std::make_unique<PosixLibrary>(handle);
}

const char* PluginFileName() { return "libmirolan.so"; }

std::string ExecutableFolder() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return std::string();
    std::string path(buffer, static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

std::FILE* DivertStdoutToStderr() {
    std::fflush(stdout);
    const int copy = dup(STDOUT_FILENO);
    if (copy < 0) return stdout;
    std::FILE* data = fdopen(copy, "wb");
    if (data == nullptr) {
        close(copy);
        return stdout;
    }
    if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::fclose(data);
        return stdout;
    }
    return data;
}

}  // namespace qxhost
