#include "host/HostServices.h"

#include <mutex>

namespace host {

namespace {
// Built on first use, so that loading the library runs no constructor of ours.
struct StoredServices {
    std::mutex lock;
    HostServices services{};
};
StoredServices& Stored() {
    static StoredServices stored;
    return stored;
}
}  // namespace

void Store(const HostServices& services) {
    StoredServices& stored = Stored();
    std::lock_guard<std::mutex> hold(stored.lock);
    stored.services = services;
}

HostServices Current() {
    StoredServices& stored = Stored();
    std::lock_guard<std::mutex> hold(stored.lock);
    return stored.services;
}

SampleRequest* Acquire(const HostServices& services, StreamHandle* stream, uint32_t kind) {
    return services.host_acquire != nullptr ? services.host_acquire(stream, kind) : nullptr;
}

void Deliver(const HostServices& services, StreamHandle* stream, SampleRequest* request) {
    if (services.host_deliver != nullptr) services.host_deliver(stream, request);
}

void SetDuration(const HostServices& services, StreamHandle* stream, SampleRequest* request,
                 int64_t duration) {
    if (services.host_set_duration != nullptr)
        services.host_set_duration(stream, request, duration);
}

void Wake(const HostServices& services, StreamHandle* stream) {
    if (services.host_wake != nullptr) services.host_wake(stream);
}

}  // namespace host
