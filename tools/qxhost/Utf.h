// Text conversion for the path that crosses the plug-in's interface.
#pragma once

#include <string>

namespace qxhost {

// Converts UTF-8 to UTF-16. Returns false, with `out` holding a partial result, when the
// input is not well-formed UTF-8 (overlong forms, surrogates and code points
// above U+10FFFF included).
bool Utf8ToUtf16(const std::string& in, std::u16string& out);

}  // namespace qxhost
