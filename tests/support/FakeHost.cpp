#include "support/FakeHost.h"

#include <cstring>

namespace testsupport {

namespace {

FakeStream& StreamOf(StreamHandle* handle) { return *reinterpret_cast<FakeStream*>(handle); }

SampleRequest* QX_CALL Acquire(StreamHandle* handle, uint32_t kind) {
    FakeStream& s = StreamOf(handle);
    std::unique_lock<std::mutex> hold(s.lock);
    ++s.acquires;
    s.lastKind = kind;
    for (;;) {
        if (s.woken) {
            s.waitingInAcquire = false;
            return nullptr;
        }
        if (!s.queue.empty()) {
            SampleRequest* request = s.queue.front();
            s.queue.pop_front();
            s.waitingInAcquire = false;
            auto hook = s.onAcquire;
            hold.unlock();
            if (hook != nullptr) hook(s, request);
            return request;
        }
        if (s.finished) {
            s.waitingInAcquire = false;
            return nullptr;
        }
        s.waitingInAcquire = true;
        s.changed.notify_all();
        s.changed.wait(hold);
    }
}

int32_t QX_CALL Deliver(StreamHandle* handle, SampleRequest* request) {
    FakeStream& s = StreamOf(handle);
    std::unique_lock<std::mutex> hold(s.lock);
    s.events.push_back({FakeStream::Event::Deliver, request, 0});
    s.changed.notify_all();
    auto hook = s.onDeliver;
    hold.unlock();
    if (hook != nullptr) hook(s, request);
    return 0;
}

int32_t QX_CALL SetDuration(StreamHandle* handle, SampleRequest* request, int64_t duration) {
    FakeStream& s = StreamOf(handle);
    std::lock_guard<std::mutex> hold(s.lock);
    s.events.push_back({FakeStream::Event::SetDuration, request, duration});
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
