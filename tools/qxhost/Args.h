// Command line of qxhost.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qxhost {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Command { kHelp, kInfo, kFrameMd5, kFrames, kAudio, kPlay, kCheck };

struct Arguments {
    Command command = Command::kHelp;
    std::string file;                // the first (for check: every) input file
    std::vector<std::string> files;  // check: all the files given
    std::string plugin;              // empty: the default plug-in
    std::string out;                 // frames: folder; audio: WAV file
    bool json = false;
    bool realtime = false;
    bool alpha = false;
    bool raw = false;     // frames: the served BGRA bytes, not PNG
    bool stored = false;  // framemd5: the stored bytes, as ffmpeg -c copy hashes them
    // Progress on standard error: -1 when standard error is a terminal, 0 never, 1 always.
    int progress = -1;
    uint32_t every = 1;
    uint32_t timeoutSeconds = 30;
};

// Parses the arguments after the program name. Throws UsageError with a
// one-line reason for anything it does not accept; options that belong to
// another command are refused.
Arguments ParseArguments(const std::vector<std::string>& args);

std::string HelpText();

}  // namespace qxhost
