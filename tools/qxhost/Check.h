// qxhost check: whether the plug-in serves files, and how to convert those it
// does not. The verdicts come from the plug-in's own open code (the core
// library linked in), so the reasons are the ones its debug log gives.
#pragma once

#include <string>
#include <vector>

#include "Args.h"

namespace qxhost {

// One medium of one file.
struct MediumVerdict {
    enum class Status { kOk, kNone, kRefused };
    Status status = Status::kNone;
    std::string kind;    // the refusal's kind name, e.g. "CompressedVideo"; empty unless refused
    std::string reason;  // the refusal's text, as the log's "Refused: " line gives it
};

struct FileVerdict {
    std::string file;
    MediumVerdict video;
    MediumVerdict audio;
    // Every medium the file has is served, and it has at least one.
    bool Servable() const;
    // The command that converts the file into a servable one; empty when the
    // file is servable, or when it cannot be read at all (missing, say).
    std::string convert;
    // Refused, and ffmpeg cannot decode any of its streams either.
    bool noConversion = false;
    // What to do instead when converting is not the answer: a valid AVI file
    // with another extension is renamed; a file that is no AVI file is said
    // to be one. Empty otherwise.
    std::string advice;
};

// Which media a conversion keeps: a medium ffmpeg cannot decode is left out
// (-an, -vn).
enum class ConvertMedia { Both, VideoOnly, AudioOnly };

// Checks both media of `file` (UTF-8 path).
FileVerdict CheckOneFile(const std::string& file);

// An ffmpeg command line that rewrites `file` as an AVI file the plug-in
// serves (32-bit BGRA video, 16-bit PCM audio, OpenDML indexes), written
// beside it as NAME-servable.avi; only the media `media` says. Video of
// `videoRows` lines converts from YUV with the matrix the plug-in itself
// takes at that height: BT.709 for HD, limited range.
std::string ConversionCommand(const std::string& file, ConvertMedia media = ConvertMedia::Both,
                              uint32_t videoRows = 0);

// The text (or JSON, an array of one object per file) that check prints.
std::string FormatVerdicts(const std::vector<FileVerdict>& verdicts, bool json);

// Runs `check` over args.files; 0 when every file is servable, else 1.
int RunCheck(const Arguments& args);

}  // namespace qxhost
