#include "Args.h"

#include <cerrno>
#include <cstdlib>

namespace qxhost {
namespace {

uint32_t ParseCount(const std::string& option, const std::string& text, uint32_t min) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        throw UsageError(option + " needs a number, got '" + text + "'");
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < min || value > 0xFFFFFFFFull) {
        throw UsageError(option + " must be a whole number of at least " + std::to_string(min) +
                         ", got '" + text + "'");
    }
    return static_cast<uint32_t>(value);
}

Command ParseCommand(const std::string& name) {
    if (name == "info") return Command::kInfo;
    if (name == "framemd5") return Command::kFrameMd5;
    if (name == "frames") return Command::kFrames;
    if (name == "audio") return Command::kAudio;
    if (name == "play") return Command::kPlay;
    if (name == "check") return Command::kCheck;
    throw UsageError("unknown command '" + name + "'");
}

std::string CommandName(Command command) {
    switch (command) {
        case Command::kInfo:
            return "info";
        case Command::kFrameMd5:
            return "framemd5";
        case Command::kFrames:
            return "frames";
        case Command::kAudio:
            return "audio";
        case Command::kPlay:
            return "play";
        case Command::kCheck:
            return "check";
        default:
            return "help";
    }
}

// Whether `option` belongs to `command`.
// check reads files with the plug-in's own code linked into qxhost, so it
// loads no plug-in and waits for none: --plugin and --timeout are not its.
bool Accepts(Command command, const std::string& option) {
    if (command == Command::kCheck) return option == "--json";
    if (option == "--plugin" || option == "--timeout") return true;
    const bool progress = option == "--progress" || option == "--no-progress";
    switch (command) {
        case Command::kInfo:
            return option == "--json";
        case Command::kFrameMd5:
            return option == "--stored" || progress;
        case Command::kFrames:
            return option == "--out" || option == "--every" || option == "--alpha" ||
                   option == "--raw" || progress;
        case Command::kAudio:
            return option == "--out" || progress;
        case Command::kPlay:
            return option == "--realtime" || progress;
        default:
            return false;
    }
}

bool TakesValue(const std::string& option) {
    return option == "--plugin" || option == "--timeout" || option == "--out" ||
           option == "--every";
}

bool Known(const std::string& option) {
    return TakesValue(option) || option == "--json" || option == "--realtime" ||
           option == "--alpha" || option == "--raw" || option == "--stored" ||
           option == "--progress" || option == "--no-progress";
}

}  // namespace

Arguments ParseArguments(const std::vector<std::string>& args) {
    Arguments parsed;
    bool haveCommand = false;
    bool haveFile = false;
    // Options may come before the command; check them against it afterwards.
    std::vector<std::string> seen;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (name == "-h" || name == "--help") {
            parsed.command = Command::kHelp;
            return parsed;
        }
        if (name.size() > 1 && name[0] == '-') {
            std::string value;
            bool inlineValue = false;
            const size_t eq = name.find('=');
            if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
                value = name.substr(eq + 1);
                name = name.substr(0, eq);
                inlineValue = true;
            }
            if (!Known(name)) throw UsageError("unknown option " + name);
            if (TakesValue(name)) {
                if (!inlineValue) {
                    if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
                    value = args[++i];
                }
                if (value.empty()) throw UsageError(name + " needs a non-empty value");
            } else if (inlineValue) {
                throw UsageError(name + " takes no value");
            }
            if (name == "--plugin") parsed.plugin = value;
            if (name == "--timeout") parsed.timeoutSeconds = ParseCount(name, value, 1);
            if (name == "--out") parsed.out = value;
            if (name == "--every") parsed.every = ParseCount(name, value, 1);
            if (name == "--json") parsed.json = true;
            if (name == "--realtime") parsed.realtime = true;
            if (name == "--alpha") parsed.alpha = true;
            if (name == "--raw") parsed.raw = true;
            if (name == "--stored") parsed.stored = true;
            if (name == "--progress") parsed.progress = 1;
            if (name == "--no-progress") parsed.progress = 0;
            seen.push_back(name);
        } else if (!haveCommand) {
            parsed.command = ParseCommand(name);
            haveCommand = true;
        } else if (!haveFile || parsed.command == Command::kCheck) {
            if (!haveFile) parsed.file = name;
            parsed.files.push_back(name);
            haveFile = true;
        } else {
            throw UsageError("unexpected argument '" + name + "'");
        }
    }
    if (!haveCommand) throw UsageError("no command given");
    if (!haveFile) throw UsageError("no input file given");
    for (const std::string& option : seen) {
        if (!Accepts(parsed.command, option)) {
            throw UsageError(option + " does not apply to " + CommandName(parsed.command));
        }
    }
    if ((parsed.command == Command::kFrames || parsed.command == Command::kAudio) &&
        parsed.out.empty()) {
        throw UsageError(CommandName(parsed.command) + " needs --out");
    }
    return parsed;
}

std::string HelpText() {
    return R"(usage: qxhost COMMAND FILE [options]
       qxhost check FILE... [--json]

Loads the Mirolan plug-in the way a host application does and drives it on FILE.

Commands
  info FILE [--json]           what the plug-in reports when it opens the video and the
                               audio stream: time scale, duration, frame duration, size,
                               sample rate, channels; frame count and frames per second
  framemd5 FILE [--stored]     the lines of ffmpeg -i FILE -map 0 -f framemd5 - for the
                               streams the plug-in serves: video frames as BGRA rows top-down
                               (BGR for 24-bit files, as ffmpeg decodes them), audio as
                               signed 16-bit samples in ffmpeg's packets, streams numbered
                               and time bases reduced as ffmpeg has them. --stored: the bytes
                               as the file stores them, the lines of ffmpeg -c copy
                               (32-bit video rows in stored order, 8-bit audio unsigned)
  frames FILE --out DIR [--every N] [--alpha] [--raw]
                               every Nth frame (default 1) as DIR/frame_NNNNNN.png, upright,
                               RGB (RGBA with --alpha), plus DIR/contact_sheet.png; --raw:
                               as DIR/frame_NNNNNN.bgra instead, the BGRA bytes served, rows
                               top-down (width x height x 4 bytes), no sheet, in every build
  audio FILE --out F.wav       the whole audio track as a 32-bit float WAV file
  play FILE [--realtime]       serves video and audio in full, each on its own thread, with a
                               progress bar on a terminal and a summary; --realtime paces the
                               requests at the streams' own rates
  check FILE... [--json]       whether the plug-in serves each file, read by the plug-in's own
                               code linked into qxhost (so no --plugin or --timeout):
                               per medium "ok", "none" (the file has no such stream) or
                               "refused: REASON", and for a file that is not servable a command
                               (ffmpeg) that converts it into one that is, or advice where a
                               conversion is not the answer (an AVI file named otherwise:
                               rename it; a file that is no AVI file). A file is servable
                               when every medium it has is served and it has at least one.
                               --json: one JSON array, an object per file

Options for every command but check
  --progress, --no-progress    progress on standard error for framemd5, frames, audio and
                               play (default: when standard error is a terminal and the
                               command takes longer than a second); never on standard output
  --plugin PATH                the plug-in library to load (default: the one next to
                               qxhost, else the one this qxhost was built with)
  --timeout SECONDS            give up when the plug-in delivers nothing for this long
                               (default 30)
  -h, --help                   this text

Exit status: 0 on success, 1 when the file cannot be served or the plug-in misbehaves,
2 for a usage error. check: 0 only when every file given is servable, else 1.
)";
}

}  // namespace qxhost
