#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// One way a file (or an open) is refused, with the reason the debug log and
// `qxhost check` must both give; the reader and qxhost suites run the same
// table. A case with an empty `reason` is served.
struct RefusalCase {
    std::string name;
    std::string fileName;        // e.g. "clip.avi"; "clip.AVI" for the name check
    std::vector<uint8_t> bytes;  // the file's content
    bool missing = false;        // no file is written
    bool video = true;           // the medium opened (false: audio)
    bool bothMedia = false;      // the open asks for video and audio at once
    bool noMedium = false;       // the open asks for neither
    int logLine = 0;             // the reason's log line; 0 when served
    std::string reason;          // the exact text after "Refused: "; a prefix when it
                                 // ends in "..." (values of the system, e.g. error codes)

    // Whether `qxhost check` can express the open (one medium per open).
    bool Checkable() const { return !bothMedia && !noMedium; }
    // Whether `text` is the reason: equal, or starting with it for a prefix.
    bool ReasonMatches(const std::string& text) const;
};

std::vector<RefusalCase> RefusalCases();

}  // namespace testsupport
