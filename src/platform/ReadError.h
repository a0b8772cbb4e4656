// The first read failure on each thread, kept by both targets'
// ReadAtPosition and handed out by TakeReadError. Included by the platform
// layer only.
#pragma once

#include <cstdint>

namespace platform {

// Keeps `code` unless a failure is kept already on this thread.
void KeepReadError(uint32_t code);

}  // namespace platform
