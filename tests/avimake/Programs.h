// Running avimake and other programs from tests.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace avimaketest {

std::string ShellQuote(const std::string& text);

// Runs the avimake binary under test; returns its exit status. Standard error is captured.
int RunAvimake(const std::vector<std::string>& args, std::string* errorOutput = nullptr);

// Runs a shell command and returns its standard output; *status gets the exit status.
std::string Capture(const std::string& command, int* status = nullptr);

bool HaveFfmpeg();
// Why a check that needs ffmpeg was skipped, and how to run it.
constexpr const char* kNoFfmpeg =
    "ffmpeg/ffprobe not installed: install them (bash scripts/install-deps.sh peers) to run the "
    "ffmpeg checks";

struct Record {
    std::vector<std::string> frameLines;        // framemd5 body lines
    std::map<std::string, std::string> values;  // "#key: value" lines
};
Record ReadRecord(const std::string& path);

// Body lines (not starting with '#') of a framemd5 listing.
std::vector<std::string> BodyLines(const std::string& text);

}  // namespace avimaketest
