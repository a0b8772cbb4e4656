// The run monitor thread: one per reader, serving the host's requests for the
// reader's stream from its start until the host stops giving requests or the
// reader is destroyed.
#pragma once

#include <cstdint>

namespace stream {

// The thread procedure; `reader` is the CMirolan it serves. Never lets an
// exception out; its exit code is always 0. On its way out it closes the
// reader's mapping and file and logs its end.
uint32_t RunMonitorThreadProc(void* reader);

// A video request's span (in 100 ns units) converted to the host's
// `timescale`: timescale * span / 10,000,000 in double precision, truncated
// toward zero. INT64_MIN when the quotient is not a number or does not fit in
// 64 bits.
int64_t VideoDurationForHost(int64_t timescale, int64_t span);

}  // namespace stream
