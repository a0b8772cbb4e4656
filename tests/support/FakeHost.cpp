#include "support/FakeHost.h"

#include <cstring>

namespace testsupport {

namespace {

FakeStream& StreamOf(StreamHandle* handle) { return *reinterpret_cast<FakeStream*>(handle); }

// Called with the lock held by every service: the call's time, and a call
// after drv_close returned.
void Called(FakeStream& s) {
    s.lastCall = std::chrono::steady_clock::now();
    if (s.closed) ++s.callsAfterClose;
}

SampleRequest* QX_CALL Acquire(StreamHandle* handle, uint32_t kind) {
    FakeStream& s = StreamOf(handle);
    if (s.prepared != nullptr) {
        const size_t i = s.nextPrepared.fetch_add(1, std::memory_order_relaxed);
        SampleRequest* request = i < s.preparedCount ? &s.prepared[i] : nullptr;
        if (request != nullptr && s.onAcquire != nullptr) s.onAcquire(s, request);
        return request;
    }
    std::unique_lock<std::mutex> hold(s.lock);
    Called(s);
    ++s.acquires;
    s.lastKind = kind;
    if (kind != QX_TAG_EYES && kind != QX_TAG_EARS) ++s.unknownKinds;
    for (;;) {
        SampleRequest* request = nullptr;
        if (!s.woken && !s.queue.empty()) {
            request = s.queue.front();
            s.queue.pop_front();
        } else if (!s.woken && s.produce) {
            request = s.produce();
            if (request == nullptr) s.finished = true;
        }
        if (request != nullptr) {
            s.waitingInAcquire = false;
            s.handedOut.push_back(request);
            auto hook = s.onAcquire;
            hold.unlock();
            if (hook != nullptr) hook(s, request);
            return request;
        }
        if (s.woken || s.finished) {
            s.waitingInAcquire = false;
            s.exhausted = true;
            s.changed.notify_all();
            return nullptr;
        }
        s.waitingInAcquire = true;
        s.changed.notify_all();
        s.changed.wait(hold);
    }
}

int32_t QX_CALL Deliver(StreamHandle* handle, SampleRequest* request) {
    FakeStream& s = StreamOf(handle);
    if (s.prepared != nullptr) {
        if (s.onDeliver != nullptr) s.onDeliver(s, request);
        return 0;
    }
    std::unique_lock<std::mutex> hold(s.lock);
    Called(s);
    s.events.push_back({FakeStream::Event::Deliver, request, 0});
    s.changed.notify_all();
    auto hook = s.onDeliver;
    hold.unlock();
    if (hook != nullptr) hook(s, request);
    return 0;
}

int32_t QX_CALL SetDuration(StreamHandle* handle, SampleRequest* request, int64_t duration) {
    FakeStream& s = StreamOf(handle);
    if (s.prepared == nullptr) {
        std::lock_guard<std::mutex> hold(s.lock);
        Called(s);
        s.events.push_back({FakeStream::Event::SetDuration, request, duration});
    }
    if (s.onSetDuration != nullptr) s.onSetDuration(s, request, duration);
    return 0;
}

int32_t QX_CALL Wake(StreamHandle* handle) {
    FakeStream& s = StreamOf(handle);
    std::lock_guard<std::mutex> hold(s.lock);
    s.woken = true;
    ++s.wakes;
    s.runStateAtWake = handle->runState;
    s.changed.notify_all();
    return 0;
}

void QX_CALL NeverCalled() { std::abort(); }

}  // namespace

FakeStream::FakeStream() {
    handle.hostWord = 0x5EED;
    handle.runState = -1;
    handle.pVideo = &video;
    handle.pAudio = &audio;
    std::memset(video.hostField, 0xAB, sizeof video.hostField);
    audio.hostField = 0x1234;
}

void FakeStream::Push(SampleRequest* request) {
    std::lock_guard<std::mutex> hold(lock);
    queue.push_back(request);
    changed.notify_all();
}

void FakeStream::Finish() {
    std::lock_guard<std::mutex> hold(lock);
    finished = true;
    changed.notify_all();
}

void FakeStream::Prepare(SampleRequest* requests, size_t count) {
    prepared = requests;
    preparedCount = count;
    nextPrepared.store(0);
}

void FakeStream::WaitUntilExhaustedOrQuiet(std::chrono::milliseconds quiet) {
    std::unique_lock<std::mutex> hold(lock);
    while (!exhausted && std::chrono::steady_clock::now() - lastCall < quiet) {
        changed.wait_for(hold, std::chrono::milliseconds(5));
    }
}

void FakeStream::MarkClosed() {
    std::lock_guard<std::mutex> hold(lock);
    closed = true;
}

std::vector<std::string> FakeStream::BrokenPromises() {
    std::lock_guard<std::mutex> hold(lock);
    std::vector<std::string> broken;
    if (unknownKinds > 0) broken.push_back("host_acquire with an unknown kind");
    if (callsAfterClose > 0) broken.push_back("a host call after drv_close returned");
    struct Seen {
        SampleRequest* request;
        bool durationSet;
        bool delivered;
    };
    std::vector<Seen> seen;
    for (SampleRequest* request : handedOut) seen.push_back({request, false, false});
    for (const Event& e : events) {
        Seen* found = nullptr;
        for (Seen& candidate : seen) {
            if (candidate.request == e.request) found = &candidate;
        }
        const char* call = e.kind == Event::Deliver ? "host_deliver" : "host_set_duration";
        if (found == nullptr) {
            broken.push_back(std::string(call) + " with a request the host never handed out");
        } else if (e.kind == Event::SetDuration) {
            if (found->delivered)
                broken.push_back("host_set_duration after the request was delivered");
            found->durationSet = true;
        } else {
            if (found->delivered) broken.push_back("a request delivered twice");
            if (!found->durationSet) broken.push_back("a request delivered without a duration");
            found->delivered = true;
        }
    }
    return broken;
}

bool FakeStream::WaitForDeliveries(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, timeout, [&] {
        size_t delivered = 0;
        for (const Event& e : events) delivered += e.kind == Event::Deliver ? 1 : 0;
        return delivered >= count;
    });
}

bool FakeStream::WaitUntilAcquireWaits(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, timeout, [&] { return waitingInAcquire; });
}

std::vector<FakeStream::Event> FakeStream::Events() {
    std::lock_guard<std::mutex> hold(lock);
    return events;
}

size_t FakeStream::Deliveries() {
    std::lock_guard<std::mutex> hold(lock);
    size_t delivered = 0;
    for (const Event& e : events) delivered += e.kind == Event::Deliver ? 1 : 0;
    return delivered;
}

int FakeStream::WakeCount() {
    std::lock_guard<std::mutex> hold(lock);
    return wakes;
}

int FakeStream::AcquireCount() {
    std::lock_guard<std::mutex> hold(lock);
    return acquires;
}

uint32_t FakeStream::LastKind() {
    std::lock_guard<std::mutex> hold(lock);
    return lastKind;
}

const HostServices& FakeHostServices() {
    static const HostServices services = {NeverCalled, Acquire,     Deliver,
                                          SetDuration, NeverCalled, Wake};
    return services;
}

SampleRequest MakeRequest(int64_t start, int64_t end, int32_t channels, uint8_t* frameBuffer,
                          float** channelBuffers) {
    SampleRequest request;
    std::memset(&request, 0x5A, sizeof request);
    request.start = start;
    request.end = end;
    request.channels = channels;
    request.frameBuffer = frameBuffer;
    request.channelBuffers = channelBuffers;
    return request;
}

}  // namespace testsupport
