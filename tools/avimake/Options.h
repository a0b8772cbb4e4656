// Command-line options of avimake and their defaults.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace avimake {

enum class AvihFramesMode { kFirstSegment, kAll, kFixed };

struct Options {
    std::string outPath;
    uint32_t width = 320;
    uint32_t height = 240;
    std::optional<uint64_t> frames;   // unset: 50 for the pattern, end of input for raw input
    uint32_t frameDuration = 400000;  // 100 ns units
    uint32_t audioRate = 48000;
    uint16_t channels = 2;
    uint16_t bits = 16;
    bool video = true;
    bool audio = true;
    uint64_t segmentLimit = uint64_t{1} << 30;
    std::string videoRaw;  // "" = built-in pattern, "-" = standard input
    std::string audioRaw;  // "" = built-in tone
    std::string record;
    uint64_t gap = 0;

    // Deliberately malformed output, for reader tests.
    bool noIndexFlag = false;
    uint16_t bpp = 32;
    std::string handler;  // video fccHandler; empty = four zero bytes
    bool idx1Only = false;
    bool oddJunk = false;
    bool audioStrf16 = false;
    AvihFramesMode avihFramesMode = AvihFramesMode::kFirstSegment;
    uint32_t avihFrames = 0;
    std::optional<uint64_t> truncate;
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses argv; returns nullopt when --help was asked for. Throws UsageError on bad input.
std::optional<Options> ParseOptions(const std::vector<std::string>& args);

std::string HelpText();

}  // namespace avimake
