#pragma once

#include "qxdriver.h"

namespace host {

// The process-wide copy of the host's services: written by the export before
// any stream is opened, afterwards only read (by the workers and the stop).
void Store(const HostServices& services);

SampleRequest* Acquire(StreamHandle* stream, uint32_t kind);
void Deliver(StreamHandle* stream, SampleRequest* request);
void SetDuration(StreamHandle* stream, SampleRequest* request, int64_t duration);
void Wake(StreamHandle* stream);

}  // namespace host
