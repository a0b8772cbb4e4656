// The only code of qxhost that knows the operating system: loading the plug-in
// library by path, and the few facts about the process the tool needs.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace qxhost {

// A loaded shared library, unloaded when the object goes away.
class PluginLibrary {
public:
    virtual ~PluginLibrary() = default;
    // The address of an exported C symbol, or null when the library has none.
    virtual void* Symbol(const char* name) const = 0;
};

// Loads the library at `path` (UTF-8). On failure returns null and puts a
// one-line reason into `error`.
std::unique_ptr<PluginLibrary> LoadPluginLibrary(const std::string& path, std::string& error);

// The plug-in's file name on this system ("libmirolan.so", "mirolan.dll").
const char* PluginFileName();

// The folder that holds the running executable, ending in a separator, or an
// empty string when it cannot be found.
std::string ExecutableFolder();

// The command-line arguments after the program name, in UTF-8.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Whether the standard error stream is an interactive terminal.
bool StderrIsTerminal();

// Keeps the standard output for qxhost's own data. Returns a stream on a copy
// of the original standard output that writes bytes unchanged (no CR added
// before LF, so that hash lines compare equal to ffmpeg's), and points the
// process's standard output (descriptor 1 and the C runtime's stdout) at the
// standard error: whatever a loaded plug-in prints there, such as its debug
// log, goes to the standard error and never into the data. When no copy can
// be made, nothing is moved and stdout itself is returned.
std::FILE* DivertStdoutToStderr();

}  // namespace qxhost
