// qxhost: a reference host for the Mirolan AVI import plug-in.
#include <cstdio>
#include <exception>

#include "Args.h"
#include "Commands.h"
#include "PluginLoader.h"

#ifndef QXHOST_DEFAULT_PLUGIN
#define QXHOST_DEFAULT_PLUGIN ""
#endif

int main(int argc, char** argv) {
    try {
        const qxhost::Arguments args = qxhost::ParseArguments(qxhost::Utf8Arguments(argc, argv));
        // Before the plug-in is loaded: its debug log goes to the standard
        // output, which from here on is the standard error.
        qxhost::SetDataOutput(qxhost::DivertStdoutToStderr());
        const int status = qxhost::RunCommand(args, QXHOST_DEFAULT_PLUGIN);
        return std::fflush(qxhost::DataOutput()) == 0 ? status : 1;
    } catch (const qxhost::UsageError& e) {
        std::fprintf(stderr, "qxhost: %s (qxhost --help lists the commands)\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qxhost: %s\n", e.what());
        return 1;
    }
}
