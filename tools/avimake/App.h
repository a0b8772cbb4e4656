// Runs one avimake invocation: sources -> AVI writer (+ record) -> optional truncation.
#pragma once

#include <cstdint>

#include "Options.h"
#include "StreamFormat.h"

namespace avimake {

void Run(const Options& options);

// Upper bound of the segments the file can need, for reserving 'indx' entries;
// 0 when the amount of input is not known in advance.
uint64_t EstimateSegments(const Options& options, const StreamFormat& format, uint64_t units);

}  // namespace avimake
