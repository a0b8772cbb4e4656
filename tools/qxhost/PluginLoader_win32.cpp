// Plug-in loading and process facts on Windows.
// <windows.h> comes first: the other system headers rely on its definitions.
// clang-format off
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>

#include "PluginLoader.h"

namespace qxhost {
namespace {

std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int count =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], count);
    return wide;
}

std::string Narrow(const wchar_t* text) {
    const int count = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (count <= 1) return std::string();
    std::string narrow(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &narrow[0], count, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(count - 1));
    return narrow;
}

class Win32Library : public PluginLibrary {
public:
    explicit Win32Library(HMODULE module) : module_(module) {}
    ~Win32Library() override { FreeLibrary(module_); }
    Win32Library(const Win32Library&) = delete;
    Win32Library& operator=(const Win32Library&) = delete;

    void* Symbol(const char* name) const override {
        return reinterpret_cast<void*>(GetProcAddress(module_, name));
    }

private:
    HMODULE module_;
};

}  // namespace

std::unique_ptr<PluginLibrary> LoadPluginLibrary(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryW(Widen(path).c_str());
    if (module == nullptr) {
        char reason[64];
        std::snprintf(reason, sizeof reason, "LoadLibraryW failed with error %lu",
                      static_cast<unsigned long>(GetLastError()));
        error = reason;
        return nullptr;
    }
    return std::make_unique<Win32Library>(module);
}

const char* PluginFileName() { return "mirolan.dll"; }

std::string ExecutableFolder() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string();
    buffer[length] = L'\0';
    std::string path = Narrow(buffer);
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    // The narrow argv is in the ANSI code page; the wide command line is exact.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(Narrow(wide[i]));
    LocalFree(wide);
    return args;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

std::FILE* DivertStdoutToStderr() {
    // The plug-in shares this C runtime (msvcrt.dll), so moving descriptor 1
    // moves its stdout too; _dup2 also updates the process's standard handle.
    std::fflush(stdout);
    const int out = _fileno(stdout);
    const int copy = out >= 0 ? _dup(out) : -1;
    if (copy < 0) {
        if (out >= 0) _setmode(out, _O_BINARY);
        return stdout;
    }
    _setmode(copy, _O_BINARY);
    std::FILE* data = _fdopen(copy, "wb");
    if (data == nullptr) {
        _close(copy);
        _setmode(out, _O_BINARY);
        return stdout;
    }
    if (_dup2(_fileno(stderr), out) != 0) {
        std::fclose(data);
        _setmode(out, _O_BINARY);
        return stdout;
    }
    return data;
}

}  // namespace qxhost
