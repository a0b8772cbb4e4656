#include "container/AviLayout.h"

#include <cstdarg>
#include <cstdio>

#include "diag/LogLines.h"

namespace avi {

Refusal MakeRefusal(RefusalKind kind, const char* format, ...) {
    Refusal refusal;
    refusal.kind = kind;
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(refusal.text, sizeof refusal.text, format, arguments);
    va_end(arguments);
    return refusal;
}

const char* RefusalKindName(RefusalKind kind) {
    switch (kind) {
        case RefusalKind::None:
            return "None";
#define AVI_REFUSAL_NAME(kind, line) \
    case RefusalKind::kind:          \
        return #kind;
            AVI_REFUSAL_KINDS(AVI_REFUSAL_NAME)
#undef AVI_REFUSAL_NAME
    }
    return "?";
}

int RefusalLogLine(RefusalKind kind) {
    switch (kind) {
        case RefusalKind::None:
            return diag::kLogRefusedUnreadable;
#define AVI_REFUSAL_LINE(kind, line) \
    case RefusalKind::kind:          \
        return diag::line;
            AVI_REFUSAL_KINDS(AVI_REFUSAL_LINE)
#undef AVI_REFUSAL_LINE
    }
    return diag::kLogRefusedUnreadable;
}

}  // namespace avi
