#include "HostStream.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace qxhost {

static_assert(std::is_standard_layout<Stream::Slot>::value,
              "the StreamHandle must sit at the start of the slot");

// The services handed to the plug-in's export. The plug-in calls them with the
// StreamHandle of one of our streams; the handle is the first member of a Slot.
struct HostServicesImpl {
    static Stream& Owner(StreamHandle* handle) {
        return *reinterpret_cast<Stream::Slot*>(handle)->owner;
    }

    static void QX_CALL Unused() {
        std::fputs("qxhost: the plug-in called a host service it must never call\n", stderr);
        std::abort();
    }

    static SampleRequest* QX_CALL Acquire(StreamHandle* handle, uint32_t kind) {
        Stream& s = Owner(handle);
        std::unique_lock<std::mutex> lock(s.mutex_);
        const uint32_t expected = s.kind_ == MediaKind::kVideo ? QX_TAG_EYES : QX_TAG_EARS;
        if (kind != expected && s.violation_.empty()) {
            char text[96];
            std::snprintf(text, sizeof text, "the plug-in asked for request kind 0x%08X",
                          static_cast<unsigned>(kind));
            s.violation_ = text;
            s.changed_.notify_all();
        }
        s.changed_.wait(lock, [&] { return s.woken_ || !s.queued_.empty() || s.finished_; });
        if (s.woken_ || s.queued_.empty()) return nullptr;
        SampleRequest* request = s.queued_.front();
        s.queued_.pop_front();
        return request;
    }

    static int32_t QX_CALL SetDuration(StreamHandle* handle, SampleRequest* request,
                                       int64_t duration) {
        Stream& s = Owner(handle);
        std::lock_guard<std::mutex> lock(s.mutex_);
        s.durationFor_ = request;
        s.pendingDuration_ = duration;
        return 0;
    }

    static int32_t QX_CALL Deliver(StreamHandle* handle, SampleRequest* request) {
        Stream& s = Owner(handle);
        std::lock_guard<std::mutex> lock(s.mutex_);
        if (s.violation_.empty()) {
            if (s.durationFor_ != request) {
                s.violation_ = "the plug-in delivered a request without setting its duration";
            } else if (s.submitted_.size() <= s.delivered_.size() ||
                       s.submitted_[s.delivered_.size()] != request) {
                s.violation_ = "the plug-in delivered a request out of order";
            }
        }
        s.delivered_.push_back({request, s.pendingDuration_});
        s.durationFor_ = nullptr;
        s.changed_.notify_all();
        return 0;
    }

    static int32_t QX_CALL Wake(StreamHandle* handle) {
        Stream& s = Owner(handle);
        std::lock_guard<std::mutex> lock(s.mutex_);
        s.woken_ = true;
        s.changed_.notify_all();
        return 0;
    }
};

Driver::Driver(const std::string& path) {
    std::string error;
    library_ = LoadPluginLibrary(path, error);
    if (!library_) throw HostError("cannot load plug-in " + path + ": " + error);
    void* entry = library_->Symbol(QX_ENTRY_NAME);
    if (entry == nullptr) throw HostError("plug-in " + path + " has no " QX_ENTRY_NAME " export");
    HostServices services;
    services.reserved0 = &HostServicesImpl::Unused;
    services.host_acquire = &HostServicesImpl::Acquire;
    services.host_deliver = &HostServicesImpl::Deliver;
    services.host_set_duration = &HostServicesImpl::SetDuration;
    services.reserved4 = &HostServicesImpl::Unused;
    services.host_wake = &HostServicesImpl::Wake;
    table_ = reinterpret_cast<qx_entry_fn>(entry)(&services);
    if (table_ == nullptr || table_->version != 1 || table_->drv_open == nullptr ||
        table_->drv_close == nullptr || table_->drv_start == nullptr) {
        throw HostError("plug-in " + path + " returned no usable driver table");
    }
}

Driver::~Driver() = default;

Stream::Stream(const Driver& driver, MediaKind kind) : driver_(driver), kind_(kind) {
    std::memset(&slot_, 0, sizeof slot_);
    std::memset(&video_, 0, sizeof video_);
    std::memset(&audio_, 0, sizeof audio_);
    slot_.owner = this;
    slot_.handle.pVideo = &video_;
    slot_.handle.pAudio = &audio_;
}

Stream::~Stream() { Close(); }

bool Stream::Open(const std::u16string& path) {
    const uint32_t tag = kind_ == MediaKind::kVideo ? QX_TAG_EYES : QX_TAG_EARS;
    const uint32_t options[] = {tag, 1, 0, 0};
    opened_ = driver_.table().drv_open(&slot_.handle, path.c_str(), options) == 1;
    return opened_;
}

void Stream::Start() {
    if (!opened_ || started_) return;
    started_ = true;
    driver_.table().drv_start(&slot_.handle);
}

void Stream::Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

void Stream::Close() {
    if (!opened_ || closed_) return;
    closed_ = true;
    driver_.table().drv_close(&slot_.handle);
}

void Stream::Submit(SampleRequest* request) {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_.push_back(request);
    submitted_.push_back(request);
    changed_.notify_all();
}

Stream::Delivery Stream::NextDelivery(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool arrived = changed_.wait_for(
        lock, timeout, [&] { return !delivered_.empty() || !violation_.empty(); });
    if (!violation_.empty()) throw HostError(violation_);
    if (!arrived) {
        throw HostError("the plug-in served nothing for " + std::to_string(timeout.count()) +
                        " ms (" + std::to_string(submitted_.size()) + " request(s) outstanding)");
    }
    const Delivery delivery = delivered_.front();
    delivered_.pop_front();
    submitted_.pop_front();
    return delivery;
}

void ServeInOrder(Stream& stream, uint64_t count, const std::vector<SampleRequest*>& pool,
                  const std::function<void(SampleRequest&, uint64_t)>& prepare,
                  const std::function<void(const Stream::Delivery&, uint64_t)>& consume,
                  std::chrono::milliseconds timeout) {
    if (pool.empty()) throw HostError("no request buffers");
    std::deque<SampleRequest*> free(pool.begin(), pool.end());
    uint64_t next = 0;
    for (uint64_t done = 0; done < count; ++done) {
        while (next < count && !free.empty()) {
            SampleRequest* request = free.front();
            free.pop_front();
            prepare(*request, next++);
            stream.Submit(request);
        }
        const Stream::Delivery delivery = stream.NextDelivery(timeout);
        consume(delivery, done);
        free.push_back(delivery.request);
    }
    stream.Finish();
}

}  // namespace qxhost
