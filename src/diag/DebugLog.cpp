#include "diag/DebugLog.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

namespace diag {

namespace {

constexpr size_t kBufferSize = 260;  // every text buffer: 259 characters and the terminator
constexpr size_t kCutKeep = 253;     // an overlong line keeps this much, then "[...]\n"

// Everything up to and including the last path separator is dropped.
void StripToFileName(char (&name)[kBufferSize], const char* sourceFile) {
    std::memset(name, 0, sizeof name);
    std::snprintf(name, sizeof name, "%s", sourceFile);
    const char* slash = std::strrchr(name, '\\');
    const char* forward = std::strrchr(name, '/');
    if (forward != nullptr && (slash == nullptr || forward > slash)) slash = forward;
    if (slash != nullptr) std::memmove(name, slash + 1, std::strlen(slash + 1) + 1);
}

bool WriteLine(const char* text, const char* sourceFile, int line, const char* detailsFormat,
               va_list arguments) {
    if (!platform::DebugPathExists(platform::DebugPath::Folder)) return false;

    char fileName[kBufferSize];
    StripToFileName(fileName, sourceFile);

    std::tm local{};
    unsigned short milliseconds = 0;
    platform::LocalTimeNow(&local, &milliseconds);
    char timeStamp[25];
    std::strftime(timeStamp, sizeof timeStamp, "%Y-%m-%d %H:%M:%S", &local);

    char details[kBufferSize];
    std::vsnprintf(details, sizeof details, detailsFormat, arguments);
    char location[kBufferSize];
    // Cut at the buffer like every piece of the line.
    if (std::snprintf(location, sizeof location, "%s(%d)", fileName, line) < 0) location[0] = '\0';

    char logLine[kBufferSize];
    BuildLogLine(logLine, timeStamp, milliseconds, location, text, details);

    platform::WriteStandardOutput(logLine);

    if (platform::DebugPathWritable(platform::DebugPath::LogFile) &&
        platform::AppendLineExclusively(platform::DebugPath::LogFile, logLine, false)) {
        return true;
    }
    platform::AppendLineExclusively(platform::DebugPath::FallbackFile, logLine, true);
    return false;
}

}  // namespace

void BuildLogLine(char (&out)[260], const char* timeStamp, unsigned short milliseconds,
                  const char* location, const char* text, const char* details) {
    const char* separator = (text[0] != '\0' && details[0] != '\0') ? " DETAILS: " : "";
    const int needed = std::snprintf(out, sizeof out, "%s.%hu\t%-35s\t%s%s%s\n", timeStamp,
                                     milliseconds, location, text, separator, details);
    if (needed > static_cast<int>(kBufferSize - 1)) {
        std::memcpy(out + kCutKeep, "[...]\n", 6);
        out[kBufferSize - 1] = '\0';
    }
}

bool DebugLogV(const char* text, const char* sourceFile, int line, const char* detailsFormat,
               va_list arguments) noexcept {
    // The platform's paths are strings: out of memory, the line is lost.
    try {
        return WriteLine(text, sourceFile, line, detailsFormat, arguments);
    } catch (...) {
        return false;
    }
}

void PrintNotice(const char* format, ...) noexcept {
    va_list arguments;
    va_start(arguments, format);
    try {
        if (platform::DebugPathExists(platform::DebugPath::Folder)) {
            char notice[kBufferSize];
            std::vsnprintf(notice, sizeof notice, format, arguments);
            platform::WriteStandardOutput(notice);  // flushed: seen at once even through a pipe
        }
    } catch (...) {  // out of memory: the notice is lost
    }
    va_end(arguments);
}

bool DebugLog(const char* text, const char* sourceFile, int line, const char* detailsFormat,
              ...) noexcept {
    va_list arguments;
    va_start(arguments, detailsFormat);
    const bool logged = DebugLogV(text, sourceFile, line, detailsFormat, arguments);
    va_end(arguments);
    return logged;
}

}  // namespace diag
