#include "diag/Assert.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace diag {

namespace {

// Appends formatted text at `position`, never past the buffer's last byte.
class MessageBuffer {
public:
    explicit MessageBuffer(char (&buffer)[1024]) : buffer_(buffer) { buffer_[0] = '\0'; }
    DIAG_PRINTF(2, 3) void Append(const char* format, ...) {
        va_list arguments;
        va_start(arguments, format);
        AppendV(format, arguments);
        va_end(arguments);
    }
    DIAG_PRINTF(2, 0) void AppendV(const char* format, va_list arguments) {
        if (position_ >= sizeof buffer_ - 1) return;
        const int written =
            std::vsnprintf(buffer_ + position_, sizeof buffer_ - position_, format, arguments);
        if (written > 0) {
            const size_t room = sizeof buffer_ - 1 - position_;
            position_ += static_cast<size_t>(written) < room ? static_cast<size_t>(written) : room;
        }
    }
    void Terminate() { buffer_[sizeof buffer_ - 1] = '\0'; }

private:
    char (&buffer_)[1024];
    size_t position_ = 0;
};

void Report(const char* expressionText, const char* sourceFile, int line, bool logged,
            const char* detailsFormat, va_list arguments) {
    if (!platform::DebugPathExists(platform::DebugPath::AssertMarker)) return;
    char message[1024];
    BuildAssertMessage(message, expressionText, sourceFile, line, logged, detailsFormat, arguments);
    switch (platform::ShowAssertPrompt(kAssertCaption, message)) {
        case platform::PromptAnswer::Abort:
            platform::ExitProcess(0);
        case platform::PromptAnswer::Retry:
            platform::BreakIntoDebugger();
            return;
        case platform::PromptAnswer::Ignore:
            return;
    }
}

}  // namespace

void BuildAssertMessage(char (&out)[1024], const char* expressionText, const char* sourceFile,
                        int line, bool logged, const char* detailsFormat, va_list arguments) {
    MessageBuffer message(out);
    message.Append("Debug assertion failed!\n\nFile:\t%s\nLine:\t%d\nExpr:\t%s", sourceFile, line,
                   expressionText);
    if (detailsFormat != nullptr) {
        message.Append("\nDetails:\t");
        message.AppendV(detailsFormat, arguments);
    }
    const std::string logPath = platform::DebugPathText(platform::DebugPath::LogFile);
    if (logged) {
        message.Append("\n\nFailure has been logged to %s", logPath.c_str());
    } else {
        message.Append("\n\nCreate %s to log assert failures.", logPath.c_str());
    }
    message.Append("\n\n(Press Retry to debug the application.)");
    message.Terminate();
}

void AssertReport(const char* expressionText, const char* sourceFile, int line, bool logged,
                  const char* detailsFormat, ...) noexcept {
    va_list arguments;
    va_start(arguments, detailsFormat);
    try {
        Report(expressionText, sourceFile, line, logged, detailsFormat, arguments);
    } catch (...) {  // out of memory for the log's path: no dialog
    }
    va_end(arguments);
}

}  // namespace diag
