#include "FuzzHost.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "format/SoundFormats.h"
#include "platform/TestHooks.h"
#include "reader/Mirolan.h"

namespace fuzzhost {

namespace {

constexpr uint8_t kFrameSentinel = 0xCD;
constexpr uint32_t kFloatSentinelBits = 0x7FC0DEADu;  // a quiet NaN no conversion yields
constexpr size_t kGuardBytes = 64;                    // after every buffer, checked on return
constexpr uint64_t kLargestFrameBuffer = 16u << 20;   // a host would not give a frame more
constexpr uint64_t kLargestAudioFloats = 1u << 20;    // per request, all channels together

// Small deterministic generator seeded from the input, so that a kept input
// replays the same requests.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed ^ 0x9E3779B97F4A7C15ull) {}
    uint64_t Next() {
        state_ += 0x9E3779B97F4A7C15ull;
        uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t Below(uint64_t bound) { return bound == 0 ? 0 : Next() % bound; }

private:
    uint64_t state_;
};

uint64_t Fnv1a(const uint8_t* data, size_t size) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 0x100000001B3ull;
    return hash;
}

// Wrapping arithmetic on request times: hostile descriptors make any sum
// possible, and the host hands out whatever it computed.
int64_t Wrap(uint64_t value) { return static_cast<int64_t>(value); }
uint64_t U(int64_t value) { return static_cast<uint64_t>(value); }

// One request with the buffers the host gave it, owned by the stream.
struct Slot {
    SampleRequest request{};
    std::vector<uint8_t> frame;                // frame bytes + guard
    std::vector<std::vector<float>> channels;  // span floats + guard floats, per channel
    std::vector<float*> channelPointers;
    size_t frameBytes = 0;
    int32_t width = 0;  // of the video descriptor the request was sized by
    size_t span = 0;
    bool durationSet = false;
    int64_t duration = 0;
    bool delivered = false;
};

struct Stream {
    StreamHandle handle{};  // first member: the driver's StreamHandle* is this object
    VideoDesc video{};
    AudioDesc audio{};

    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::unique_ptr<Slot>> slots;
    std::function<void(Slot&)> prepare;  // fills the next request; set before start
    size_t planned = 0;
    bool woken = false;
    bool exhausted = false;  // acquire has returned null
    bool closed = false;     // drv_close has returned
    std::chrono::steady_clock::time_point lastCall = std::chrono::steady_clock::now();
    std::vector<std::string> problems;
    // The served audio's layout, as the open found it: which values its
    // conversion can give.
    const format::SoundRow* soundRow = nullptr;

    void Problem(const std::string& text) {
        if (problems.size() < 16) problems.push_back(text);
    }
    Slot* Find(SampleRequest* request) {
        for (auto& slot : slots) {
            if (&slot->request == request) return slot.get();
        }
        return nullptr;
    }
};

Stream& StreamOf(StreamHandle* handle) { return *reinterpret_cast<Stream*>(handle); }

SampleRequest* QX_CALL Acquire(StreamHandle* handle, uint32_t kind) {
    Stream& s = StreamOf(handle);
    std::lock_guard<std::mutex> hold(s.lock);
    s.lastCall = std::chrono::steady_clock::now();
    if (s.closed) s.Problem("host_acquire after drv_close returned");
    if (kind != QX_TAG_EYES && kind != QX_TAG_EARS) s.Problem("host_acquire with an unknown kind");
    if (s.woken || s.slots.size() >= s.planned || !s.prepare) {
        s.exhausted = true;
        s.changed.notify_all();
        return nullptr;
    }
    s.slots.push_back(std::make_unique<Slot>());
    Slot& slot = *s.slots.back();
    s.prepare(slot);
    return &slot.request;
}

int32_t QX_CALL SetDuration(StreamHandle* handle, SampleRequest* request, int64_t duration) {
    Stream& s = StreamOf(handle);
    std::lock_guard<std::mutex> hold(s.lock);
    s.lastCall = std::chrono::steady_clock::now();
    Slot* slot = s.Find(request);
    if (slot == nullptr) {
        s.Problem("host_set_duration with a request the host never handed out");
        return 0;
    }
    if (slot->delivered) s.Problem("host_set_duration after the request was delivered");
    slot->durationSet = true;
    slot->duration = duration;
    return 0;
}

int32_t QX_CALL Deliver(StreamHandle* handle, SampleRequest* request) {
    Stream& s = StreamOf(handle);
    std::lock_guard<std::mutex> hold(s.lock);
    s.lastCall = std::chrono::steady_clock::now();
    if (s.closed) s.Problem("host_deliver after drv_close returned");
    Slot* slot = s.Find(request);
    if (slot == nullptr) {
        s.Problem("host_deliver with a request the host never handed out");
        return 0;
    }
    if (slot->delivered) s.Problem("a request delivered twice");
    if (!slot->durationSet) s.Problem("a request delivered without a duration");
    slot->delivered = true;
    return 0;
}

int32_t QX_CALL Wake(StreamHandle* handle) {
    Stream& s = StreamOf(handle);
    std::lock_guard<std::mutex> hold(s.lock);
    s.woken = true;
    s.changed.notify_all();
    return 0;
}

void QX_CALL NeverCalled() { std::abort(); }

// ---- requests ----

void PrepareVideo(Slot& slot, const VideoDesc& video, Random& random) {
    const int64_t d = video.avgFrameDuration;
    const uint64_t frames = d > 0 ? U(video.duration) / U(d) : 0;
    int64_t end = 0;
    switch (random.Below(8)) {
        case 0:
            end = random.Below(2) != 0 ? INT64_MAX : INT64_MIN;
            break;
        case 1:
            end = Wrap(random.Next());
            break;
        default: {  // around a frame boundary, from before the first to past the last
            const uint64_t k = random.Below(frames + 3);
            const uint64_t jitter[] = {0, 1, ~0ull, U(d) / 2};
            end = Wrap((k - 1) * U(d) + jitter[random.Below(4)]);
        }
    }
    int64_t start = Wrap(U(end) - U(d));
    switch (random.Below(8)) {
        case 0:
            start = end;  // empty span: the worker drops it
            break;
        case 1:
            start = Wrap(U(end) + 1);  // reversed span
            break;
        case 2:
            start = 0;
            break;
        default:
            break;
    }
    slot.request.start = start;
    slot.request.end = end;
    slot.frameBytes = static_cast<size_t>(
        static_cast<uint64_t>(std::abs(static_cast<int64_t>(video.width))) *
        static_cast<uint64_t>(std::abs(static_cast<int64_t>(video.height))) * 4u);
    slot.width = video.width;
    slot.frame.assign(slot.frameBytes + kGuardBytes, kFrameSentinel);
    slot.request.frameBuffer = slot.frame.data();
}

void PrepareAudio(Slot& slot, const AudioDesc& audio, Random& random) {
    const uint64_t length = U(audio.duration);
    int32_t channels = audio.channels;
    if (random.Below(16) == 0) {  // a host that got the channel count wrong
        const int32_t wrong[] = {audio.channels + 1, audio.channels - 1, 1};
        channels = wrong[random.Below(3)];
    }
    int64_t span = 0;
    switch (random.Below(8)) {
        case 0:
            span = 0;
            break;
        case 1:
            span = -static_cast<int64_t>(random.Below(100)) - 1;
            break;
        case 2:
            span = 1;
            break;
        default:
            span = static_cast<int64_t>(random.Below(4096)) + 1;
    }
    const uint64_t perChannelCap =
        kLargestAudioFloats / static_cast<uint64_t>(std::max(channels, 1));
    if (span > 0 && U(span) > perChannelCap) span = static_cast<int64_t>(perChannelCap);
    int64_t start = 0;
    switch (random.Below(8)) {
        case 0: {
            const int64_t extremes[] = {INT64_MIN, Wrap(U(INT64_MAX) - U(span)), -5, Wrap(length)};
            start = extremes[random.Below(4)];
            break;
        }
        case 1:
            start = Wrap(length - U(span) / 2);
            break;
        default:
            start = Wrap(random.Below(length + 64));
    }
    slot.request.start = start;
    slot.request.end = Wrap(U(start) + U(span));
    slot.request.channels = channels;
    slot.span = span > 0 ? static_cast<size_t>(span) : 0;
    float sentinel;
    std::memcpy(&sentinel, &kFloatSentinelBits, sizeof sentinel);
    const size_t buffers = channels > 0 ? static_cast<size_t>(channels) : 0;
    slot.channels.assign(buffers,
                         std::vector<float>(slot.span + kGuardBytes / sizeof(float), sentinel));
    for (auto& channel : slot.channels) slot.channelPointers.push_back(channel.data());
    slot.request.channelBuffers =
        slot.channelPointers.empty() ? nullptr : slot.channelPointers.data();
}

// ---- checks on what came back ----

bool IsSentinel(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits == kFloatSentinelBits;
}

// x / scale for an integer x in [lowest, highest] that gives the value,
// computed as the plug-in does (in double, rounded once to float).
bool IsIntegerOver(float value, double scale, double lowest, double highest) {
    const double x = std::nearbyint(static_cast<double>(value) * scale);
    return x >= lowest && x <= highest && static_cast<float>(x / scale) == value;
}
bool IsPcm16(float value) { return IsIntegerOver(value, 32767.0, -32768.0, 32767.0); }
bool IsPcm8(float value) { return IsIntegerOver(value, 127.0, -128.0, 127.0); }

// Every sample layout the plug-in serves, each with the values its rule can
// yield. A sample passes when one rule yields it; a layout added to the
// plug-in gets a row here.
struct SampleRule {
    const char* name;
    bool (*yields)(float value);
};
bool IsPcm24(float value) { return IsIntegerOver(value, 8388607.0, -8388608.0, 8388607.0); }
bool IsPcm32(float value) {
    return IsIntegerOver(value, 2147483647.0, -2147483648.0, 2147483647.0);
}

// Float samples are served as stored (or rounded once): any value; the
// served row tells them apart (Stream::soundRow).
constexpr SampleRule kSampleRules[] = {
    {"16-bit signed, x / 32767 (G.711 too)", IsPcm16},
    {"8-bit unsigned, (x - 128) / 127", IsPcm8},
    {"24-bit signed, x / 8388607", IsPcm24},
    {"32-bit signed, x / 2147483647", IsPcm32},
};

bool IsConvertedSample(float value) {
    for (const SampleRule& rule : kSampleRules) {
        if (rule.yields(value)) return true;
    }
    return false;
}

bool BytesOccurIn(const uint8_t* needle, size_t length, const uint8_t* data, size_t size) {
    if (length == 0) return true;
    if (length > size) return false;
    const uint8_t* end = data + size;
    return std::search(
               data, end,
               std::boyer_moore_horspool_searcher<const uint8_t*>(needle, needle + length)) != end;
}

// What the host's frame buffer came back holding: `written` bytes from its
// start (the rest still the sentinel), of a frame `width` pixels wide.
struct FrameSeen {
    const uint8_t* bytes;
    size_t written;
    size_t width;
};

// Stored BGRA, copied untouched: the bytes are one run of the file, or a
// run followed by the zeros of a frame cut short by the end of the file.
bool CopiedRun(const FrameSeen& frame, const uint8_t* data, size_t size) {
    size_t read = frame.written;
    while (read > 0 && frame.bytes[read - 1] == 0) --read;
    return BytesOccurIn(frame.bytes, frame.written, data, size) ||
           BytesOccurIn(frame.bytes, read, data, size);
}

// Stored 24-bit BGR made BGRA: every pixel has alpha 255 and, without its
// alpha, each row is a run of the file (rows are stored apart, with their
// padding); pixels that could not be read are zero and come only after all
// that were.
bool Bgr24Rows(const FrameSeen& frame, const uint8_t* data, size_t size) {
    if (frame.width == 0) return frame.written == 0;
    const size_t pixels = frame.written / 4;
    size_t read = 0;
    while (read < pixels && frame.bytes[4 * read + 3] == 255) ++read;
    for (size_t i = 4 * read; i < frame.written; ++i) {
        if (frame.bytes[i] != 0) return false;
    }
    std::vector<uint8_t> row;
    for (size_t first = 0; first < read; first += frame.width) {
        row.clear();
        for (size_t p = first; p < std::min(read, first + frame.width); ++p)
            row.insert(row.end(), frame.bytes + 4 * p, frame.bytes + 4 * p + 3);
        if (!BytesOccurIn(row.data(), row.size(), data, size)) return false;
    }
    return true;
}

// Every picture layout the plug-in serves, each with what its frames must
// be made of. The host sees only the descriptor (no bit depth), so a frame
// passes when one layout accepts it. A layout added to the plug-in gets a
// row here, and the fuzzer then checks its frames too.
struct FrameLayout {
    const char* name;
    bool (*accepts)(const FrameSeen& frame, const uint8_t* data, size_t size);
};
// Every other layout (YUV, grey, 16-bit, palette, reordered RGB) is converted
// by a formula the host does not repeat: every pixel read is opaque, the rest
// zeros.
bool OpaqueThenZeros(const FrameSeen& frame, const uint8_t*, size_t) {
    size_t read = 0;
    while (read < frame.written / 4 && frame.bytes[4 * read + 3] == 255) ++read;
    for (size_t i = 4 * read; i < frame.written; ++i) {
        if (frame.bytes[i] != 0) return false;
    }
    return true;
}

constexpr FrameLayout kFrameLayouts[] = {
    {"32-bit BGRA, copied", CopiedRun},
    {"24-bit BGR, made BGRA", Bgr24Rows},
    {"other layouts, converted to BGRA", OpaqueThenZeros},
};

void CheckSlot(Stream& s, const Slot& slot, bool video, const uint8_t* data, size_t size) {
    if (slot.delivered) {
        const int64_t span = Wrap(U(slot.request.end) - U(slot.request.start));
        // A span that is not positive comes back with a duration of 0; video
        // durations equal the span up to 2^53 / 10^7 units; audio ones always.
        const int64_t expected = span <= 0 ? 0 : span;
        if ((!video || span <= 900719925) && slot.duration != expected) {
            s.Problem("duration " + std::to_string(slot.duration) + " for a span of " +
                      std::to_string(span));
        }
    }
    if (video) {
        const uint8_t* frame = slot.frame.data();
        for (size_t i = slot.frameBytes; i < slot.frame.size(); ++i) {
            if (frame[i] != kFrameSentinel) {
                s.Problem("frame buffer written past its end");
                break;
            }
        }
        size_t touched = slot.frameBytes;
        while (touched > 0 && frame[touched - 1] == kFrameSentinel) --touched;
        if (!FrameIsFromFile(frame, touched,
                             static_cast<size_t>(std::abs(static_cast<int64_t>(slot.width))), data,
                             size)) {
            s.Problem("frame buffer holds " + std::to_string(touched) +
                      " bytes that no picture layout makes of the file");
        }
        return;
    }
    for (const auto& channel : slot.channels) {
        for (size_t i = 0; i < channel.size(); ++i) {
            if (i >= slot.span) {
                if (!IsSentinel(channel[i])) {
                    s.Problem("channel buffer written past its end");
                    break;
                }
            } else if (!IsSentinel(channel[i]) &&
                       !(s.soundRow != nullptr &&
                         s.soundRow->family == format::SoundFamily::Float) &&
                       !IsConvertedSample(channel[i])) {
                s.Problem("channel buffer holds a value no sample converts to");
                break;
            }
        }
    }
}

// ---- one stream ----

enum class Mode { CloseUnstarted, ServeAll, CloseAtOnce };

void ExerciseStream(const DriverTable& driver, const std::u16string& path, bool video,
                    const uint8_t* data, size_t size, Random& random, const Options& choices,
                    Outcome& outcome) {
    auto owned = std::make_unique<Stream>();
    Stream& s = *owned;
    s.handle.hostWord = 0x5EED;
    s.handle.runState = -1;
    s.handle.pVideo = &s.video;
    s.handle.pAudio = &s.audio;
    std::memset(&s.video, 0x77, sizeof s.video);
    std::memset(&s.audio, 0x66, sizeof s.audio);
    const VideoDesc videoBefore = s.video;
    const AudioDesc audioBefore = s.audio;

    const uint32_t options[] = {video ? QX_TAG_EYES : QX_TAG_EARS,    1, QX_TAG_DINT,
                                static_cast<uint32_t>(random.Next()), 0, 0};
    if (choices.injectReadFailures && random.Below(4) == 0)
        platform::FailReadForTesting(random.Below(24));
    struct Disarm {
        ~Disarm() { platform::FailReadForTesting(platform::kNoReadFailure); }
    } disarm;
    const int32_t opened = driver.drv_open(&s.handle, path.c_str(), options);
    const std::string kind = video ? "video: " : "audio: ";
    if (opened == 0) {
        if (s.handle.pReader != nullptr)
            outcome.problems.push_back(kind + "refused open set pReader");
        if (std::memcmp(&s.video, &videoBefore, sizeof s.video) != 0 ||
            std::memcmp(&s.audio, &audioBefore, sizeof s.audio) != 0) {
            outcome.problems.push_back(kind + "refused open wrote a descriptor");
        }
        return;
    }
    (video ? outcome.videoOpened : outcome.audioOpened) = true;
    if (s.handle.pReader == nullptr)
        outcome.problems.push_back(kind + "open succeeded without a reader");
    else
        s.soundRow = static_cast<const CMirolan*>(s.handle.pReader)->sound.row;

    // The host sizes everything from the descriptors the open filled in.
    const bool usable =
        video ? s.video.avgFrameDuration > 0 &&
                    static_cast<uint64_t>(std::abs(static_cast<int64_t>(s.video.width))) *
                            static_cast<uint64_t>(std::abs(static_cast<int64_t>(s.video.height))) *
                            4u <=
                        kLargestFrameBuffer
              : s.audio.channels > 0;
    const uint64_t choice = random.Below(8);
    const Mode mode = choices.alwaysServe ? Mode::ServeAll
                      : choice == 0       ? Mode::CloseUnstarted
                      : choice == 1       ? Mode::CloseAtOnce
                                          : Mode::ServeAll;
    {
        std::lock_guard<std::mutex> hold(s.lock);
        s.planned = usable ? static_cast<size_t>(random.Below(6)) + 1 : 0;
        const uint64_t seed = random.Next();
        auto requests = std::make_shared<Random>(seed);
        if (video) {
            s.prepare = [&s, requests](Slot& slot) { PrepareVideo(slot, s.video, *requests); };
        } else {
            s.prepare = [&s, requests](Slot& slot) { PrepareAudio(slot, s.audio, *requests); };
        }
    }

    if (mode != Mode::CloseUnstarted) driver.drv_start(&s.handle);
    if (mode == Mode::ServeAll) {
        // Until the worker asks past the last request. A worker whose read
        // failed ends without asking again, which a host cannot tell from a
        // slow read: after a quiet spell the host closes anyway, and the
        // close must return in either case.
        const auto quiet = std::chrono::milliseconds(choices.quietMilliseconds);
        std::unique_lock<std::mutex> hold(s.lock);
        while (!s.exhausted && std::chrono::steady_clock::now() - s.lastCall < quiet) {
            s.changed.wait_for(hold, std::chrono::milliseconds(5));
        }
    }
    if (!CloseWithin(driver, &s.handle, std::chrono::seconds(choices.patienceSeconds))) {
        outcome.problems.push_back(kind + "drv_close did not return");
        owned.release();  // the stuck close still uses the stream
        return;
    }

    std::lock_guard<std::mutex> hold(s.lock);
    s.closed = true;
    for (const auto& slot : s.slots) {
        ++outcome.requestsHandedOut;
        if (slot->delivered) ++outcome.requestsDelivered;
        CheckSlot(s, *slot, video, data, size);
    }
    for (const std::string& problem : s.problems) outcome.problems.push_back(kind + problem);
}

}  // namespace

bool FrameIsFromFile(const uint8_t* frame, size_t written, size_t width, const uint8_t* data,
                     size_t size) {
    const FrameSeen seen{frame, written, width};
    for (const FrameLayout& layout : kFrameLayouts) {
        if (layout.accepts(seen, data, size)) return true;
    }
    return false;
}

const HostServices& Services() {
    static const HostServices services = {NeverCalled, Acquire,     Deliver,
                                          SetDuration, NeverCalled, Wake};
    return services;
}

Outcome Exercise(const DriverTable& driver, const std::u16string& path, const uint8_t* data,
                 size_t size, const Options& options) {
    Outcome outcome;
    Random random(Fnv1a(data, size));
    ExerciseStream(driver, path, true, data, size, random, options, outcome);
    ExerciseStream(driver, path, false, data, size, random, options, outcome);
    return outcome;
}

bool CloseWithin(const DriverTable& driver, StreamHandle* handle, std::chrono::milliseconds bound) {
    struct Shared {
        std::mutex lock;
        std::condition_variable done;
        bool returned = false;
    };
    auto shared = std::make_shared<Shared>();
    std::thread closer([&driver, handle, shared] {
        driver.drv_close(handle);
        std::lock_guard<std::mutex> hold(shared->lock);
        shared->returned = true;
        shared->done.notify_all();
    });
    std::unique_lock<std::mutex> hold(shared->lock);
    if (!shared->done.wait_for(hold, bound, [&] { return shared->returned; })) {
        hold.unlock();
        closer.detach();
        return false;
    }
    hold.unlock();
    closer.join();
    return true;
}

}  // namespace fuzzhost
