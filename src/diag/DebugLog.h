#pragma once

#include <cstdarg>

// printf's checks of a format and its arguments, for our printf-style calls.
#if defined(__clang__)
#define DIAG_PRINTF(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#elif defined(__GNUC__)
#define DIAG_PRINTF(formatIndex, firstArgument) \
    __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define DIAG_PRINTF(formatIndex, firstArgument)
#endif

namespace diag {

// Writes one line "date time.ms<TAB>file(line)<TAB>text[ DETAILS: ]details\n"
// to standard output and appends it to the debug folder's Log.txt, or to
// LoggingError.txt when Log.txt is missing, not writable or held by another
// opener. Does nothing at all when the debug folder does not exist. Returns
// true only when the line reached Log.txt. Keeps no state, and never throws:
// it runs in destructors and on the way out of the C entry points, so a line
// that cannot be built (no memory for a path) is lost instead.
// `detailsFormat` is printf's; a path is passed as UTF-8.
DIAG_PRINTF(4, 5)
bool DebugLog(const char* text, const char* sourceFile, int line, const char* detailsFormat,
              ...) noexcept;
DIAG_PRINTF(4, 0)
bool DebugLogV(const char* text, const char* sourceFile, int line, const char* detailsFormat,
               va_list arguments) noexcept;

// Prints `format` to standard output as it stands (no time stamp, no log
// file), behind the same gate as DebugLog: nothing at all when the debug
// folder does not exist, since a host's standard output may be a pipe nobody
// reads or a descriptor it reuses for its own data. Never throws.
DIAG_PRINTF(1, 2) void PrintNotice(const char* format, ...) noexcept;

// The pure part of DebugLog: builds the line from its pieces into `out`
// (260 bytes), applying the 259-character cut. Exposed for tests.
void BuildLogLine(char (&out)[260], const char* timeStamp, unsigned short milliseconds,
                  const char* location, const char* text, const char* details);

}  // namespace diag
