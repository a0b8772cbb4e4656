// PNG output through libpng (only in builds that have it).
#pragma once

#include <string>

#include "Image.h"

namespace qxhost {

// Whether this build can write PNG files.
bool PngAvailable();

// Writes `picture` (RGB or RGBA, 8 bits per sample) to `path`. Throws
// HostError on failure.
void WritePng(const std::string& path, const Picture& picture);

}  // namespace qxhost
