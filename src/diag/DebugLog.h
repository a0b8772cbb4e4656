#pragma once

#include <cstdarg>

namespace diag {

// Writes one line "date time.ms<TAB>file(line)<TAB>text[ DETAILS: ]details\n"
// to standard output and appends it to the debug folder's Log.txt, or to
// LoggingError.txt when Log.txt is missing, not writable or held by another
// opener. Does nothing at all when the debug folder does not exist. Returns
// true only when the line reached Log.txt. Never throws; keeps no state.
// `detailsFormat` is printf-style; "%S" takes a UTF-16 string.
bool DebugLog(const char* text, const char* sourceFile, int line, const char* detailsFormat, ...);
bool DebugLogV(const char* text, const char* sourceFile, int line, const char* detailsFormat,
               va_list arguments);

// Prints `format` to standard output as it stands (no time stamp, no log
// file), behind the same gate as DebugLog: nothing at all when the debug
// folder does not exist, since a host's standard output may be a pipe nobody
// reads or a descriptor it reuses for its own data. Never throws.
void PrintNotice(const char* format, ...);

// The pure part of DebugLog: builds the line from its pieces into `out`
// (260 bytes), applying the 259-character cut. Exposed for tests.
void BuildLogLine(char (&out)[260], const char* timeStamp, unsigned short milliseconds,
                  const char* location, const char* text, const char* details);

}  // namespace diag
