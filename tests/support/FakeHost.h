// The one scripted host of the tests, the fuzz targets and the benchmarks:
// the host's service table, dispatching to FakeStream objects, with its
// request queue and the check of the promises every delivery keeps. What
// the hosts differ in is an option of the stream:
// - the tests push requests and wait on what the worker did (a blocking
//   queue that records every set-duration and delivery);
// - the fuzz host makes each request when it is asked for (`produce`) and
//   checks what came back (BrokenPromises, its own frame and sample checks);
// - the benchmarks hand out requests prepared beforehand without a lock and
//   record nothing (Prepare), timing what the hooks see.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "qxdriver.h"

namespace testsupport {

// One stream of a scripted host. host_acquire hands out a prepared request,
// else the next queued one, else one `produce` makes; it waits while none is
// there, until the script is finished (null from then on) or host_wake was
// called (null). Every set-duration and delivery is recorded, unless the
// requests are prepared.
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
    // Requests handed out in order without a lock, then null; no call is
    // recorded and only the hooks see set-durations and deliveries. For
    // timing: the worker never waits on the host's lock.
    void Prepare(SampleRequest* requests, size_t count);
    // Waits until `count` deliveries were made; false on timeout.
    bool WaitForDeliveries(size_t count,
                           std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits until the worker is blocked inside host_acquire with an empty queue.
    bool WaitUntilAcquireWaits(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits until host_acquire has returned null or the worker made no call
    // for `quiet` (a worker whose read failed ends without asking again).
    void WaitUntilExhaustedOrQuiet(std::chrono::milliseconds quiet);
    // From now on every call of the worker is a broken promise (drv_close returned).
    void MarkClosed();
    // Every promise the worker broke so far: a request set or delivered that
    // was never handed out, delivered twice or without a duration, given a
    // duration after its delivery; an unknown kind asked for; a call after
    // MarkClosed. Empty means clean.
    std::vector<std::string> BrokenPromises();
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
    bool exhausted = false;  // host_acquire has returned null
    bool closed = false;
    int wakes = 0;
    int acquires = 0;
    int unknownKinds = 0;
    int callsAfterClose = 0;
    uint32_t lastKind = 0;
    int runStateAtWake = -1;
    std::chrono::steady_clock::time_point lastCall = std::chrono::steady_clock::now();
    std::vector<Event> events;
    std::vector<SampleRequest*> handedOut;
    // Makes the next request when the queue is empty (called with the lock
    // held); null ends the script.
    std::function<SampleRequest*()> produce;
    // Prepared requests (Prepare): handed out by an atomic index.
    SampleRequest* prepared = nullptr;
    size_t preparedCount = 0;
    std::atomic<size_t> nextPrepared{0};
    // Optional hook run inside host_acquire before it returns a request.
    void (*onAcquire)(FakeStream&, SampleRequest*) = nullptr;
    // Optional hook run inside host_set_duration, after it is recorded.
    void (*onSetDuration)(FakeStream&, SampleRequest*, int64_t) = nullptr;
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
