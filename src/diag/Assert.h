#pragma once

#include <cstdarg>

#include "diag/DebugLog.h"
#include "diag/LogLines.h"

namespace diag {

// Shows the assertion dialog when the debug folder holds ShowAssertDialog.txt:
// the expression, source file and line, optional details (null for none) and
// whether the failure reached Log.txt. Abort ends the process with exit code 0,
// Retry breaks into the debugger and returns, anything else returns. Never
// throws (out of memory, no dialog is shown).
DIAG_PRINTF(5, 6)
void AssertReport(const char* expressionText, const char* sourceFile, int line, bool logged,
                  const char* detailsFormat, ...) noexcept;

// The dialog's text, bounded to 1,023 characters. `detailsFormat` null means
// no details piece. Exposed for tests.
DIAG_PRINTF(6, 0)
void BuildAssertMessage(char (&out)[1024], const char* expressionText, const char* sourceFile,
                        int line, bool logged, const char* detailsFormat, va_list arguments);

constexpr const char* kAssertCaption = "QXASSERT failed!";

// A failed check: the log line first, then the report with the log's result.
inline void AssertFailed(const char* expressionText, const char* logText, const char* sourceFile,
                         int line) noexcept {
    const bool logged = DebugLog(logText, sourceFile, line, "%s", "");  // no details
    AssertReport(expressionText, sourceFile, line, logged, nullptr);
}

}  // namespace diag

// Checks an invariant at a fixed log line (diag/LogLines.h): on failure
// logs "ASSERT FAILED: (<expression as written>)" and reports it, then
// execution continues after the check unless the user chose Abort. The
// expression text is part of the log's contract, so call sites write it
// exactly as it must appear.
#define QXASSERT(line, expression) QXASSERT_WITH_TEXT(line, expression, #expression)

// QXASSERT whose logged expression is only spelled, not compiled: for a check
// whose test accepts more than the logged expression says (the other sizes a
// format has on disk), or whose text holds what GCC warns about wherever it
// is evaluated (the multi-character literal 'AVI ', which no pragma silences).
#define QXASSERT_SPELLED(line, test, expression) QXASSERT_WITH_TEXT(line, test, #expression)

// The check behind both: `text` is the expression as a string literal.
#define QXASSERT_WITH_TEXT(line, test, text)                                                    \
    do {                                                                                        \
        if (!(test)) {                                                                          \
            ::diag::AssertFailed(text, "ASSERT FAILED: (" text ")", ::diag::kSourceName, line); \
        }                                                                                       \
    } while (0)
