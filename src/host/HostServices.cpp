#include "host/HostServices.h"

namespace host {

namespace {
HostServices stored{};
}

void Store(const HostServices& services) { stored = services; }

// A service the host left null is treated as having nothing to give.
SampleRequest* Acquire(StreamHandle* stream, uint32_t kind) {
    return stored.host_acquire != nullptr ? stored.host_acquire(stream, kind) : nullptr;
}

void Deliver(StreamHandle* stream, SampleRequest* request) {
    if (stored.host_deliver != nullptr) stored.host_deliver(stream, request);
}

void SetDuration(StreamHandle* stream, SampleRequest* request, int64_t duration) {
    if (stored.host_set_duration != nullptr) stored.host_set_duration(stream, request, duration);
}

void Wake(StreamHandle* stream) {
    if (stored.host_wake != nullptr) stored.host_wake(stream);
}

}  // namespace host
