#include "diag/Format.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace diag {

namespace {

// Appends text to the bounded output, counting what did not fit.
class Output {
public:
    Output(char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}
    void Append(const char* text, size_t length) {
        if (capacity_ > 0 && written_ + 1 < capacity_) {
            const size_t room = capacity_ - 1 - written_;
            const size_t copied = length < room ? length : room;
            std::memcpy(buffer_ + written_, text, copied);
            written_ += copied;
        }
        total_ += length;
    }
    int Finish() {
        if (capacity_ > 0) buffer_[written_] = '\0';
        return total_ > 0x7FFFFFFF ? -1 : static_cast<int>(total_);
    }

private:
    char* buffer_;
    size_t capacity_;
    size_t written_ = 0;
    size_t total_ = 0;
};

// Formats one conversion with the C library and appends it.
template <typename Value>
void AppendConversion(Output& out, const std::string& directive, Value value) {
    char small[128];
    const int needed = std::snprintf(small, sizeof small, directive.c_str(), value);
    if (needed < 0) return;
    if (static_cast<size_t>(needed) < sizeof small) {
        out.Append(small, static_cast<size_t>(needed));
        return;
    }
    std::string large(static_cast<size_t>(needed) + 1, '\0');
    std::snprintf(&large[0], large.size(), directive.c_str(), value);
    out.Append(large.c_str(), static_cast<size_t>(needed));
}

}  // namespace

int FormatV(char* buffer, size_t capacity, const char* format, va_list arguments) {
    Output out(buffer, capacity);
    va_list args;
    va_copy(args, arguments);
    const char* p = format;
    while (*p != '\0') {
        if (*p != '%') {
            const char* next = std::strchr(p, '%');
            const size_t run = next == nullptr ? std::strlen(p) : static_cast<size_t>(next - p);
            out.Append(p, run);
            p += run;
            continue;
        }
        // One conversion: %[flags][width][.precision][length]conversion
        std::string directive = "%";
        ++p;
        while (*p != '\0' && std::strchr("-+ #0'", *p) != nullptr) directive += *p++;
        if (*p == '*') {
            directive += std::to_string(va_arg(args, int));
            ++p;
        }
        while (*p >= '0' && *p <= '9') directive += *p++;
        if (*p == '.') {
            directive += *p++;
            if (*p == '*') {
                directive += std::to_string(va_arg(args, int));
                ++p;
            }
            while (*p >= '0' && *p <= '9') directive += *p++;
        }
        std::string length;
        while (*p != '\0' && std::strchr("hlLjzt", *p) != nullptr) length += *p++;
        const char conversion = *p;
        if (conversion == '\0') break;
        ++p;
        switch (conversion) {
            case '%':
                out.Append("%", 1);
                break;
            case 'd':
            case 'i':
            case 'u':
            case 'x':
            case 'X':
            case 'o':
            case 'c':
                if (length == "ll" || length == "j") {
                    AppendConversion(out, directive + "ll" + conversion, va_arg(args, long long));
                } else if (length == "l" || length == "z" || length == "t") {
                    AppendConversion(out, directive + "l" + conversion, va_arg(args, long));
                } else {  // int, and the promoted h / hh arguments
                    AppendConversion(out, directive + length + conversion, va_arg(args, int));
                }
                break;
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G':
                AppendConversion(out, directive + conversion, va_arg(args, double));
                break;
            case 'p':
                AppendConversion(out, directive + conversion, va_arg(args, void*));
                break;
            case 's':
                if (length == "l") {  // a wide string is taken as UTF-16 here too
                    const std::string text = platform::Utf16ToUtf8(va_arg(args, const char16_t*));
                    AppendConversion(out, directive + 's', text.c_str());
                } else {
                    const char* text = va_arg(args, const char*);
                    AppendConversion(out, directive + 's', text == nullptr ? "(null)" : text);
                }
                break;
            case 'S': {
                const char16_t* wide = va_arg(args, const char16_t*);
                const std::string text = wide == nullptr ? "(null)" : platform::Utf16ToUtf8(wide);
                AppendConversion(out, directive + 's', text.c_str());
                break;
            }
            default:  // unknown conversion: written as it stands
                out.Append(directive.c_str(), directive.size());
                out.Append(length.c_str(), length.size());
                out.Append(&conversion, 1);
                break;
        }
    }
    va_end(args);
    return out.Finish();
}

int Format(char* buffer, size_t capacity, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int result = FormatV(buffer, capacity, format, arguments);
    va_end(arguments);
    return result;
}

}  // namespace diag
