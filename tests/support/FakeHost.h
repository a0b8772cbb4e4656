#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "qxdriver.h"

namespace testsupport {

// One stream of a scripted host: a real request queue. host_acquire waits
// until a request is queued, the script is finished (null from then on) or
// host_wake was called (null). Every set-duration and delivery is recorded.
struct FakeStream {
    StreamHandle handle{};  // first member: the driver's StreamHandle* is this object
    VideoDesc video{};
    AudioDesc audio{};

    struct Event {
        enum Kind { SetDuration, Deliver } kind;
        SampleRequest* request;
        int64_t duration;
    };

    FakeStream();
    void Push(SampleRequest* request);
    void Finish();  // acquire returns null once the queue is empty
    // Waits until `count` deliveries were made; false on timeout.
    bool WaitForDeliveries(size_t count,
                           std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits until the worker is blocked inside host_acquire with an empty queue.
    bool WaitUntilAcquireWaits(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::vector<Event> Events();
    size_t Deliveries();
    int WakeCount();
    int AcquireCount();
    uint32_t LastKind();

    std::mutex lock;
    std::condition_variable changed;
    std::deque<SampleRequest*> queue;
    bool finished = false;
    bool woken = false;
    bool waitingInAcquire = false;
    int wakes = 0;
    int acquires = 0;
    uint32_t lastKind = 0;
    int runStateAtWake = -1;
    std::vector<Event> events;
    // Optional hook run inside host_acquire before it returns a request.
    void (*onAcquire)(FakeStream&, SampleRequest*) = nullptr;
    // Optional hook run inside host_deliver, after the delivery is recorded.
    void (*onDeliver)(FakeStream&, SampleRequest*) = nullptr;
    // Free for hooks: whatever they need to reach.
    void* hookData = nullptr;
};

// The host's service table dispatching to FakeStream objects.
const HostServices& FakeHostServices();

// A SampleRequest with its host fields filled with a recognisable pattern.
SampleRequest MakeRequest(int64_t start, int64_t end, int32_t channels = 0,
                          uint8_t* frameBuffer = nullptr, float** channelBuffers = nullptr);

}  // namespace testsupport
