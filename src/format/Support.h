// How far the plug-in reads a stored format: the one answer every row of the
// format tables gives, and what the walk, the rules and the refusals ask.
#pragma once

#include <cstdint>

namespace format {

enum class Support : uint8_t {
    Served,      // read and served
    NotReadYet,  // an uncompressed layout this plug-in does not read yet: refused, named
    Compressed,  // a codec: refused, named; conversion is the user's
};

}  // namespace format
