#pragma once

#include "qxdriver.h"

namespace host {

// The process-wide copy of the host's services, written by every call of the
// export. A reader takes its own copy at open (Current) and calls only that
// one: a later call of the export (a second component of the host loading
// the plug-in) serves the opens made after it and never redirects a stream
// already open to another host's callbacks. Any thread may call both.
void Store(const HostServices& services);
HostServices Current();

// The calls into one copy of the services. A service the host left null is
// treated as having nothing to give.
SampleRequest* Acquire(const HostServices& services, StreamHandle* stream, uint32_t kind);
void Deliver(const HostServices& services, StreamHandle* stream, SampleRequest* request);
void SetDuration(const HostServices& services, StreamHandle* stream, SampleRequest* request,
                 int64_t duration);
void Wake(const HostServices& services, StreamHandle* stream);

}  // namespace host
