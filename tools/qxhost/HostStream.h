// The host side of the plug-in's interface: the loaded driver, the host
// services it calls back, and one stream with its request queue.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "PluginLoader.h"
#include "qxdriver.h"

namespace qxhost {

// A failure that ends the command with a one-line message.
class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The loaded plug-in: its library and the driver table its export returned.
// The export receives this host's services; one Driver per process.
class Driver {
public:
    // Loads the library at `path` and calls its export. Throws HostError when
    // the library cannot be loaded, lacks the export or returns no usable table.
    explicit Driver(const std::string& path);
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    const DriverTable& table() const { return *table_; }

private:
    std::unique_ptr<PluginLibrary> library_;
    const DriverTable* table_ = nullptr;
};

enum class MediaKind { kVideo, kAudio };

// One stream of one file: the host's StreamHandle and descriptors, and the
// queue through which requests go to the plug-in's worker and come back.
// Requests are delivered in the order they were submitted.
class Stream {
public:
    Stream(const Driver& driver, MediaKind kind);
    ~Stream();  // closes the stream when it is still open
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // drv_open with this stream's options; true when the plug-in accepted the file.
    bool Open(const std::u16string& path);
    void Start();
    // No further requests: once the queue is empty the worker's acquire gets null.
    void Finish();
    // drv_close; waits for the worker. Requests may be freed afterwards.
    void Close();

    // Queues a request for the worker. The request must stay valid until it has
    // been collected with NextDelivery or the stream has been closed.
    void Submit(SampleRequest* request);

    struct Delivery {
        SampleRequest* request = nullptr;
        int64_t duration = 0;
    };
    // Waits up to `timeout` for the next delivered request. Throws HostError
    // when none arrives in time or when the plug-in broke the calling rules
    // (deliveries out of order, no duration set before a delivery).
    Delivery NextDelivery(std::chrono::milliseconds timeout);

    MediaKind kind() const { return kind_; }
    const VideoDesc& video() const { return video_; }
    const AudioDesc& audio() const { return audio_; }
    bool isOpen() const { return opened_; }

    // The plug-in's view of this stream. Public only so that the host services,
    // which the plug-in calls with &handle, can find the stream again.
    struct Slot {
        StreamHandle handle;  // first member: the plug-in hands &handle back
        Stream* owner;
    };

private:
    friend struct HostServicesImpl;

    const Driver& driver_;
    const MediaKind kind_;
    Slot slot_;
    VideoDesc video_;
    AudioDesc audio_;
    bool opened_ = false;
    bool started_ = false;
    bool closed_ = false;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<SampleRequest*> queued_;     // submitted, not yet acquired
    std::deque<SampleRequest*> submitted_;  // submitted, not yet collected, in order
    std::deque<Delivery> delivered_;        // handed back, not yet collected
    bool finished_ = false;
    bool woken_ = false;
    SampleRequest* durationFor_ = nullptr;  // request of the last set_duration
    int64_t pendingDuration_ = 0;
    std::string violation_;  // first broken calling rule seen, if any
};

// Drives `count` requests through a started stream in order, keeping up to
// `depth` of them in flight from `pool` (at least one request). `prepare` fills
// request i before it is submitted (and may wait, to pace the run); `consume`
// handles it once it is delivered. Calls Finish when done. Throws HostError on
// a stall or a broken rule.
void ServeInOrder(Stream& stream, uint64_t count, const std::vector<SampleRequest*>& pool,
                  const std::function<void(SampleRequest&, uint64_t)>& prepare,
                  const std::function<void(const Stream::Delivery&, uint64_t)>& consume,
                  std::chrono::milliseconds timeout);

}  // namespace qxhost
