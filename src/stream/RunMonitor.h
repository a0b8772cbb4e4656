// The run monitor's loop: serves the host's requests for one stream until the
// host stops giving requests, a read fails or a stop is asked for. The
// reader runs it on the stream's worker thread.
#pragma once

#include <cstdint>

#include "stream/ServeContext.h"

namespace stream {

// Takes requests until the host has none, a read fails or `context.stop` is
// set, and sets `context.stop` as it returns. The flag is looked at before
// the first request and after each one, never while the host holds the
// worker in its acquire. Does not close the file and writes no log line of
// its own ending: both are the caller's.
void ServeRequests(const ServeContext& context);

// A video request's span (in 100 ns units) converted to the host's
// `timescale`: timescale * span / 10,000,000 in double precision, truncated
// toward zero. INT64_MIN when the quotient is not a number or does not fit in
// 64 bits.
int64_t VideoDurationForHost(int64_t timescale, int64_t span);

}  // namespace stream
