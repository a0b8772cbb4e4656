// avimake: writes OpenDML AVI fixtures (uncompressed video + PCM) for tests and benchmarks.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "App.h"
#include "Options.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        const auto options = avimake::ParseOptions(args);
        if (!options) {
            std::fputs(avimake::HelpText().c_str(), stdout);
            return 0;
        }
        avimake::Run(*options);
    } catch (const avimake::UsageError& e) {
        std::fprintf(stderr, "avimake: %s\n(avimake --help lists the options)\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "avimake: %s\n", e.what());
        return 1;
    }
    return 0;
}
