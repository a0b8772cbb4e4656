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

#include "format/PictureFormats.h"
#include "format/SoundFormats.h"
#include "platform/TestHooks.h"
#include "reader/Mirolan.h"
#include "support/FakeHost.h"
#include "support/SampleRules.h"

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

// One stream of the shared scripted host (support/FakeHost.h): its requests
// are made as the worker asks for them, each with buffers of its own.
struct Stream {
    testsupport::FakeStream host;
    std::vector<std::unique_ptr<Slot>> slots;
    std::function<void(Slot&)> prepare;  // fills the next request; set before start
    size_t planned = 0;
    std::vector<std::string> problems;
    // The served audio's layout, as the open found it: which values its
    // conversion can give.
    const format::SoundRow* soundRow = nullptr;
    const format::PictureRow* pictureRow = nullptr;

    void Problem(const std::string& text) {
        if (problems.size() < 16) problems.push_back(text);
    }
    Slot* Find(SampleRequest* request) {
        for (auto& slot : slots) {
            if (&slot->request == request) return slot.get();
        }
        return nullptr;
    }
    // Called by the host's acquire, its lock held.
    SampleRequest* Produce() {
        if (slots.size() >= planned || !prepare) return nullptr;
        slots.push_back(std::make_unique<Slot>());
        Slot& slot = *slots.back();
        prepare(slot);
        return &slot.request;
    }
    // After the close: what the worker did with each request, and every
    // promise of the host contract it broke.
    void Collect() {
        for (const testsupport::FakeStream::Event& e : host.Events()) {
            Slot* slot = Find(e.request);
            if (slot == nullptr) continue;  // reported by BrokenPromises
            if (e.kind == testsupport::FakeStream::Event::SetDuration) {
                slot->durationSet = true;
                slot->duration = e.duration;
            } else {
                slot->delivered = true;
            }
        }
        for (const std::string& broken : host.BrokenPromises()) Problem(broken);
    }
};

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

// ---- samples ----

// The served sound layouts' rows (support/SampleRules.h), by the tags the
// plug-in's own table gives them.
static_assert(samplerules::kTagPcm == format::kWaveFormatPcm &&
                  samplerules::kTagFloat == format::kWaveFormatFloat &&
                  samplerules::kTagALaw == format::kWaveFormatALaw &&
                  samplerules::kTagMuLaw == format::kWaveFormatMuLaw,
              "the sample rules' tags are the formats' tags");
using samplerules::SampleRule;

const SampleRule* RuleOf(const format::SoundRow& row) {
    return samplerules::RuleOf(row.tag, row.bits);
}

uint32_t BitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Every value a sample of `rule` stored anywhere in the file gives (a chunk
// may start at any byte), its silence and 0, as sorted float bits.
std::vector<uint32_t> ValuesOfFile(const SampleRule& rule, const format::SoundRow& row,
                                   const uint8_t* data, size_t size) {
    std::vector<uint32_t> values;
    const auto add = [&](const uint8_t* sample) {
        values.push_back(BitsOf(rule.decode(sample)));
        if (rule.decodeOtherwise != nullptr) values.push_back(BitsOf(rule.decodeOtherwise(sample)));
    };
    for (size_t at = 0; at + rule.bytes <= size; ++at) add(data + at);
    uint8_t silence[8];
    std::memset(silence, row.silence, sizeof silence);
    add(silence);
    values.push_back(BitsOf(0.0f));
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

bool BytesOccurIn(const uint8_t* needle, size_t length, const uint8_t* data, size_t size) {
    if (length == 0) return true;
    if (length > size) return false;
    const uint8_t* end = data + size;
    return std::search(
               data, end,
               std::boyer_moore_horspool_searcher<const uint8_t*>(needle, needle + length)) != end;
}

// ---- frames ----

// What the host's frame buffer came back holding: `written` bytes from its
// start (the rest still the sentinel), of a frame `width` pixels wide.
struct FrameSeen {
    const uint8_t* bytes;
    size_t written;
    size_t width;
};

// The file's bytes, and its runs of three, for checks pixel by pixel.
class FileBytes {
public:
    FileBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    bool HasByte(uint8_t value) const {
        Build();
        return bytes_[value];
    }
    // b0 b1 b2 one after another somewhere in the file.
    bool HasRun(uint8_t b0, uint8_t b1, uint8_t b2) const {
        Build();
        const uint32_t key = b0 | (b1 << 8) | (static_cast<uint32_t>(b2) << 16);
        return (runs_[key / 64] >> (key % 64) & 1u) != 0;
    }

private:
    void Build() const {
        if (!runs_.empty()) return;
        runs_.assign((1u << 24) / 64, 0);
        for (size_t i = 0; i < size_; ++i) bytes_[data_[i]] = true;
        for (size_t i = 0; i + 3 <= size_; ++i) {
            const uint32_t key =
                data_[i] | (data_[i + 1] << 8) | (static_cast<uint32_t>(data_[i + 2]) << 16);
            runs_[key / 64] |= uint64_t{1} << (key % 64);
        }
    }
    const uint8_t* data_;
    size_t size_;
    mutable std::vector<uint64_t> runs_;
    mutable bool bytes_[256] = {};
};

// Stored BGRA, copied untouched: the bytes are one run of the file, or a
// run followed by the zeros of a frame cut short by the end of the file.
bool CopiedRun(const FrameSeen& frame, const FileBytes& file) {
    size_t read = frame.written;
    while (read > 0 && frame.bytes[read - 1] == 0) --read;
    return BytesOccurIn(frame.bytes, frame.written, file.data(), file.size()) ||
           BytesOccurIn(frame.bytes, read, file.data(), file.size());
}

// Pixels of an opaque layout: alpha 255 where read; pixels that could not
// be read are zero and come only after all that were. The count read.
bool OpaqueThenZeros(const FrameSeen& frame, size_t* read) {
    *read = 0;
    while (*read < frame.written / 4 && frame.bytes[4 * *read + 3] == 255) ++*read;
    for (size_t i = 4 * *read; i < frame.written; ++i) {
        if (frame.bytes[i] != 0) return false;
    }
    return true;
}

// Stored 24-bit BGR made BGRA: opaque, and without its alpha each row is a
// run of the file (rows are stored apart, with their padding).
bool Bgr24Rows(const FrameSeen& frame, const FileBytes& file) {
    if (frame.width == 0) return frame.written == 0;
    size_t read = 0;
    if (!OpaqueThenZeros(frame, &read)) return false;
    std::vector<uint8_t> row;
    for (size_t first = 0; first < read; first += frame.width) {
        row.clear();
        for (size_t p = first; p < std::min(read, first + frame.width); ++p)
            row.insert(row.end(), frame.bytes + 4 * p, frame.bytes + 4 * p + 3);
        if (!BytesOccurIn(row.data(), row.size(), file.data(), file.size())) return false;
    }
    return true;
}

// Pixel by pixel: opaque layouts are OpaqueThenZeros and each pixel read is
// `fromFile`; layouts that keep their alpha have no tell-tale of a pixel not
// read but zeros, so each pixel is zero or `fromFile`.
template <bool kKeepsAlpha, typename FromFile>
bool EachPixel(const FrameSeen& frame, FromFile fromFile) {
    size_t read = frame.written / 4;
    if (!kKeepsAlpha && !OpaqueThenZeros(frame, &read)) return false;
    for (size_t p = 0; p < read; ++p) {
        const uint8_t* x = frame.bytes + 4 * p;
        if (kKeepsAlpha && (x[0] | x[1] | x[2] | x[3]) == 0) continue;
        if (!fromFile(x)) return false;
    }
    return true;
}
// Stored blue, green, red (in that order, alpha added or a fourth byte dropped).
bool BgrPixels(const FrameSeen& frame, const FileBytes& file) {
    return EachPixel<false>(frame, [&](const uint8_t* x) { return file.HasRun(x[0], x[1], x[2]); });
}
// Stored red, green, blue.
bool RgbPixels(const FrameSeen& frame, const FileBytes& file) {
    return EachPixel<false>(frame, [&](const uint8_t* x) { return file.HasRun(x[2], x[1], x[0]); });
}
// Stored R G B A or A R G B: alpha kept.
bool RgbWithAlphaPixels(const FrameSeen& frame, const FileBytes& file) {
    return EachPixel<true>(frame, [&](const uint8_t* x) { return file.HasRun(x[2], x[1], x[0]); });
}
// Grey: blue, green and red the stored byte.
bool GreyPixels(const FrameSeen& frame, const FileBytes& file) {
    return EachPixel<false>(frame, [&](const uint8_t* x) {
        return x[0] == x[1] && x[1] == x[2] && file.HasByte(x[0]);
    });
}
// A palette's entries are stored blue, green, red, reserved; an index past
// the entries the file holds gives black.
bool PalettePixels(const FrameSeen& frame, const FileBytes& file) {
    return EachPixel<false>(frame, [&](const uint8_t* x) {
        return (x[0] | x[1] | x[2]) == 0 || file.HasRun(x[0], x[1], x[2]);
    });
}
// YUV and 16-bit RGB are converted by formulas the host does not repeat.
bool OpaqueOnly(const FrameSeen& frame, const FileBytes&) {
    size_t read = 0;
    return OpaqueThenZeros(frame, &read);
}

// Every picture layout the plug-in serves, each with what its frames must be
// made of. The stream's row says which applies; a layout added to the
// plug-in gets a row here (an unknown row is a problem the fuzzer reports).
struct FrameLayout {
    const char* name;
    bool (*matches)(const format::PictureRow& row);
    bool (*accepts)(const FrameSeen& frame, const FileBytes& file);
};
constexpr uint32_t Code(const char* c) { return format::CompressionCode(c[0], c[1], c[2], c[3]); }
bool Is(const format::PictureRow& row, uint32_t compression, uint16_t bits = 0) {
    return row.compression == compression && (bits == 0 || row.bitCount == bits);
}
bool Named(const format::PictureRow& row, const char* name) {
    return std::strcmp(row.name, name) == 0;
}
constexpr FrameLayout kFrameLayouts[] = {
    {"32-bit BGRA, copied",
     [](const format::PictureRow& r) { return r.delivery == format::Delivery::Copy; }, CopiedRun},
    {"24-bit BGR, made BGRA", [](const format::PictureRow& r) { return Is(r, format::kBiRgb, 24); },
     Bgr24Rows},
    {"B G R (x), made BGRA",
     [](const format::PictureRow& r) {
         return Is(r, Code("RV24")) || Is(r, Code("RV32")) || Is(r, Code("\x18RGB")) ||
                Is(r, Code(" RGB"));
     },
     BgrPixels},
    {"R G B (x), made BGRA",
     [](const format::PictureRow& r) {
         return Is(r, Code("raw "), 24) ||
                Is(r, Code("\x18"
                           "BGR")) ||
                Is(r, Code(" BGR"));
     },
     RgbPixels},
    {"R G B A or A R G B, alpha kept",
     [](const format::PictureRow& r) { return Is(r, Code("RGBA")) || Is(r, Code("raw "), 32); },
     RgbWithAlphaPixels},
    {"grey", [](const format::PictureRow& r) { return Named(r, "grey"); }, GreyPixels},
    {"palette", [](const format::PictureRow& r) { return Named(r, "palette"); }, PalettePixels},
    {"YUV and 16-bit RGB, converted",
     [](const format::PictureRow& r) {
         return std::strncmp(r.name, "YUV", 3) == 0 || std::strncmp(r.name, "RGB 5-", 6) == 0;
     },
     OpaqueOnly},
};

const FrameLayout* LayoutOf(const format::PictureRow& row) {
    for (const FrameLayout& layout : kFrameLayouts) {
        if (layout.matches(row)) return &layout;
    }
    return nullptr;
}

void CheckSlot(Stream& s, const Slot& slot, bool video, const FileBytes& file,
               const std::vector<uint32_t>& samples) {
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
        const FrameLayout* layout = s.pictureRow != nullptr ? LayoutOf(*s.pictureRow) : nullptr;
        const FrameSeen seen{frame, touched,
                             static_cast<size_t>(std::abs(static_cast<int64_t>(slot.width)))};
        if (layout == nullptr) {
            s.Problem("served picture layout '" +
                      std::string(s.pictureRow != nullptr ? s.pictureRow->name : "?") +
                      "' has no frame rule in the fuzz host");
        } else if (!layout->accepts(seen, file)) {
            s.Problem("frame buffer holds " + std::to_string(touched) + " bytes that " +
                      layout->name + " does not make of the file");
        }
        return;
    }
    // A request holds up to 1 Mi samples: each value is looked up once in a
    // row (silence repeats), and at most kSamplesLookedUp spread over each
    // channel are looked up at all, so that a check stays far below the
    // fuzzer's time per input. A wrong read spoils many samples, not one.
    constexpr size_t kSamplesLookedUp = 4096;
    const size_t stride = slot.span / kSamplesLookedUp + 1;
    for (const auto& channel : slot.channels) {
        uint32_t previous = kFloatSentinelBits;
        for (size_t i = 0; i < channel.size(); ++i) {
            if (i >= slot.span) {
                if (!IsSentinel(channel[i])) {
                    s.Problem("channel buffer written past its end");
                    break;
                }
                continue;
            }
            const uint32_t bits = BitsOf(channel[i]);
            if (i % stride != 0 || bits == previous || bits == kFloatSentinelBits) continue;
            previous = bits;
            if (!std::binary_search(samples.begin(), samples.end(), bits)) {
                s.Problem("channel buffer holds a value no sample of the file converts to");
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
    testsupport::FakeStream& host = s.host;
    std::memset(&host.video, 0x77, sizeof host.video);
    std::memset(&host.audio, 0x66, sizeof host.audio);
    const VideoDesc videoBefore = host.video;
    const AudioDesc audioBefore = host.audio;

    const uint32_t options[] = {video ? QX_TAG_EYES : QX_TAG_EARS,    1, QX_TAG_DINT,
                                static_cast<uint32_t>(random.Next()), 0, 0};
    if (choices.injectReadFailures && random.Below(4) == 0)
        platform::FailReadForTesting(random.Below(24));
    struct Disarm {
        ~Disarm() { platform::FailReadForTesting(platform::kNoReadFailure); }
    } disarm;
    const int32_t opened = driver.drv_open(&host.handle, path.c_str(), options);
    const std::string kind = video ? "video: " : "audio: ";
    if (opened == 0) {
        if (host.handle.pReader != nullptr)
            outcome.problems.push_back(kind + "refused open set pReader");
        if (std::memcmp(&host.video, &videoBefore, sizeof host.video) != 0 ||
            std::memcmp(&host.audio, &audioBefore, sizeof host.audio) != 0) {
            outcome.problems.push_back(kind + "refused open wrote a descriptor");
        }
        return;
    }
    (video ? outcome.videoOpened : outcome.audioOpened) = true;
    if (host.handle.pReader == nullptr)
        outcome.problems.push_back(kind + "open succeeded without a reader");
    else {
        const auto* reader = static_cast<const CMirolan*>(host.handle.pReader);
        s.soundRow = reader->sound.row;
        s.pictureRow = reader->picture.row;
    }

    // The host sizes everything from the descriptors the open filled in.
    const bool usable =
        video
            ? host.video.avgFrameDuration > 0 &&
                  static_cast<uint64_t>(std::abs(static_cast<int64_t>(host.video.width))) *
                          static_cast<uint64_t>(std::abs(static_cast<int64_t>(host.video.height))) *
                          4u <=
                      kLargestFrameBuffer
            : host.audio.channels > 0;
    const uint64_t choice = random.Below(8);
    const Mode mode = choices.alwaysServe ? Mode::ServeAll
                      : choice == 0       ? Mode::CloseUnstarted
                      : choice == 1       ? Mode::CloseAtOnce
                                          : Mode::ServeAll;
    {
        std::lock_guard<std::mutex> hold(host.lock);
        s.planned = usable ? static_cast<size_t>(random.Below(6)) + 1 : 0;
        const uint64_t seed = random.Next();
        auto requests = std::make_shared<Random>(seed);
        if (video) {
            s.prepare = [&host, requests](Slot& slot) {
                PrepareVideo(slot, host.video, *requests);
            };
        } else {
            s.prepare = [&host, requests](Slot& slot) {
                PrepareAudio(slot, host.audio, *requests);
            };
        }
        host.produce = [&s] { return s.Produce(); };
    }

    if (mode != Mode::CloseUnstarted) driver.drv_start(&host.handle);
    if (mode == Mode::ServeAll) {
        // Until the worker asks past the last request. A worker whose read
        // failed ends without asking again, which a host cannot tell from a
        // slow read: after a quiet spell the host closes anyway, and the
        // close must return in either case.
        host.WaitUntilExhaustedOrQuiet(std::chrono::milliseconds(choices.quietMilliseconds));
    }
    if (!CloseWithin(driver, &host.handle, std::chrono::seconds(choices.patienceSeconds))) {
        outcome.problems.push_back(kind + "drv_close did not return");
        owned.release();  // the stuck close still uses the stream
        return;
    }

    host.MarkClosed();
    s.Collect();
    const FileBytes file(data, size);
    std::vector<uint32_t> samples;
    if (!video && !s.slots.empty()) {
        const SampleRule* rule = s.soundRow != nullptr ? RuleOf(*s.soundRow) : nullptr;
        if (rule == nullptr) {
            s.Problem("served sound layout '" +
                      std::string(s.soundRow != nullptr ? s.soundRow->name : "?") +
                      "' has no sample rule in the fuzz host");
        } else {
            samples = ValuesOfFile(*rule, *s.soundRow, data, size);
        }
    }
    for (const auto& slot : s.slots) {
        ++outcome.requestsHandedOut;
        if (slot->delivered) ++outcome.requestsDelivered;
        CheckSlot(s, *slot, video, file, samples);
    }
    for (const std::string& problem : s.problems) outcome.problems.push_back(kind + problem);
}

}  // namespace

bool FrameIsFromFile(const format::PictureRow& row, const uint8_t* frame, size_t written,
                     size_t width, const uint8_t* data, size_t size) {
    const FrameLayout* layout = LayoutOf(row);
    return layout != nullptr &&
           layout->accepts(FrameSeen{frame, written, width}, FileBytes(data, size));
}

bool SampleIsFromFile(const format::SoundRow& row, float value, const uint8_t* data, size_t size) {
    const SampleRule* rule = RuleOf(row);
    if (rule == nullptr) return false;
    const std::vector<uint32_t> values = ValuesOfFile(*rule, row, data, size);
    return std::binary_search(values.begin(), values.end(), BitsOf(value));
}

const HostServices& Services() { return testsupport::FakeHostServices(); }

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
