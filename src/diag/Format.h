#pragma once

#include <cstdarg>
#include <cstddef>

namespace diag {

// vsnprintf with one difference that holds on every target: "%S" takes a
// UTF-16 string (const char16_t*) and writes it as UTF-8. Writes at most
// capacity - 1 characters and the terminator; returns the length the whole
// output would have had (negative on a format error), like vsnprintf.
int FormatV(char* buffer, size_t capacity, const char* format, va_list arguments);
int Format(char* buffer, size_t capacity, const char* format, ...);

}  // namespace diag
