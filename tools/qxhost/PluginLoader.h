// The only code of qxhost that knows the operating system: loading the plug-in
// library by path, and the few facts about the process the tool needs.
#pragma once

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

// Makes the standard output write bytes unchanged (no CR added before LF), so
// that hash lines compare equal to ffmpeg's.
void UseBinaryStdout();

}  // namespace qxhost
