// The subcommands of qxhost.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "Args.h"
#include "qxdriver.h"

namespace qxhost {

// Runs a parsed command. `builtInPlugin` is the plug-in path this qxhost was
// built with, tried when none is given and none lies next to the executable.
// Returns the exit status; failures are reported as one line on stderr.
int RunCommand(const Arguments& args, const std::string& builtInPlugin);

// Where the commands write their data (hash lines, info, summaries, help):
// stdout unless set, and main sets it to the copy of the real standard
// output that it keeps away from the plug-in.
std::FILE* DataOutput();
void SetDataOutput(std::FILE* stream);

// The plug-in to load: the requested path, else the library next to the
// executable when it exists, else `builtInPlugin` when given.
std::string ResolvePluginPath(const std::string& requested, const std::string& builtInPlugin);

// `text` as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);

// A fraction in lowest terms; den is positive.
struct Rational {
    int64_t num = 0;
    int64_t den = 1;
};
Rational Reduce(int64_t num, int64_t den);

// The text of `info`, for the descriptors the plug-in filled (null when the
// stream was refused, with the reason, when known, in videoReason /
// audioReason).
std::string DescribeStreams(const std::string& file, const VideoDesc* video, const AudioDesc* audio,
                            bool json, const std::string& videoReason = "",
                            const std::string& audioReason = "");

}  // namespace qxhost
