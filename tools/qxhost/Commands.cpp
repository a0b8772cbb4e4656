#include "Commands.h"

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <numeric>
#include <sstream>
#include <thread>
#include <vector>

#include "Check.h"
#include "FrameMd5.h"
#include "HostStream.h"
#include "Image.h"
#include "PluginLoader.h"
#include "Utf.h"
#include "Wav.h"
#include "common/Md5.h"
#include "reader/CheckFile.h"
#ifdef QXHOST_HAVE_PNG
#include "Png.h"
#endif

namespace qxhost {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kRequestsInFlight = 4;
constexpr int64_t kAudioSpan = 4096;
constexpr int kThumbnailWidth = 320;
constexpr int kSheetColumns = 4;
constexpr uint64_t kSheetMaxFrames = 64;

// A video request with its own frame buffer, sized from the descriptor.
struct VideoRequest {
    SampleRequest request{};
    std::vector<uint8_t> frame;
};

// An audio request with one float buffer per channel.
struct AudioRequest {
    SampleRequest request{};
    std::vector<std::vector<float>> samples;
    std::vector<float*> channels;
};

// What the video descriptor says about frames, checked before any request.
struct VideoLayout {
    int64_t frameDuration;
    uint64_t frames;
    uint64_t frameBytes;
};

VideoLayout CheckVideo(const VideoDesc& video) {
    if (video.avgFrameDuration <= 0) throw HostError("the video descriptor has no frame duration");
    if (video.width <= 0 || video.height == 0)
        throw HostError("the video descriptor has no frame size");
    const uint64_t height = static_cast<uint64_t>(std::llabs(int64_t{video.height}));
    const uint64_t bytes = static_cast<uint64_t>(video.width) * height * 4;
    if (bytes > (uint64_t{1} << 31))
        throw HostError("the video frames are too large for this host");
    const uint64_t frames =
        video.duration > 0 ? static_cast<uint64_t>(video.duration / video.avgFrameDuration) : 0;
    return {video.avgFrameDuration, frames, bytes};
}

std::vector<std::unique_ptr<VideoRequest>> MakeVideoRequests(const VideoLayout& layout) {
    std::vector<std::unique_ptr<VideoRequest>> requests;
    for (size_t i = 0; i < kRequestsInFlight; ++i) {
        auto r = std::make_unique<VideoRequest>();
        r->frame.resize(static_cast<size_t>(layout.frameBytes));
        r->request.frameBuffer = r->frame.data();
        requests.push_back(std::move(r));
    }
    return requests;
}

std::vector<std::unique_ptr<AudioRequest>> MakeAudioRequests(int32_t channels) {
    std::vector<std::unique_ptr<AudioRequest>> requests;
    for (size_t i = 0; i < kRequestsInFlight; ++i) {
        auto r = std::make_unique<AudioRequest>();
        r->samples.assign(static_cast<size_t>(channels), std::vector<float>(kAudioSpan));
        for (auto& channel : r->samples) r->channels.push_back(channel.data());
        r->request.channels = channels;
        r->request.channelBuffers = r->channels.data();
        requests.push_back(std::move(r));
    }
    return requests;
}

template <typename T>
std::vector<SampleRequest*> Pool(const std::vector<std::unique_ptr<T>>& requests) {
    std::vector<SampleRequest*> pool;
    for (const auto& r : requests) pool.push_back(&r->request);
    return pool;
}

void CheckAudio(const AudioDesc& audio) {
    if (audio.channels <= 0 || audio.channels > 64) {
        throw HostError("the audio descriptor gives " + std::to_string(audio.channels) +
                        " channels");
    }
    if (audio.sampleRate <= 0) throw HostError("the audio descriptor has no sample rate");
}

// Audio request i covers [i * span, min((i + 1) * span, duration)).
void SetAudioSpan(SampleRequest& request, uint64_t index, int64_t duration) {
    request.start = static_cast<int64_t>(index) * kAudioSpan;
    request.end = std::min(request.start + kAudioSpan, duration);
}

uint64_t AudioRequestCount(const AudioDesc& audio) {
    return audio.duration > 0
               ? static_cast<uint64_t>((audio.duration + kAudioSpan - 1) / kAudioSpan)
               : 0;
}

// Clears the channel buffers so that samples the plug-in does not convert (at
// the end of the stream) come out as silence.
void ClearChannels(SampleRequest& request) {
    for (int32_t c = 0; c < request.channels; ++c) {
        std::fill(request.channelBuffers[c], request.channelBuffers[c] + kAudioSpan, 0.0f);
    }
}

// The plug-in loaded and the file's streams opened (those the plug-in accepts).
struct Session {
    std::unique_ptr<Driver> driver;
    std::unique_ptr<Stream> video;
    std::unique_ptr<Stream> audio;
};

// Opens the streams named. Throws HostError when the file is missing or when
// every stream asked for is refused.
// With `oneNeeded` false (info) a file whose every stream is refused is not
// an error here.
void OpenSession(Session& session, const Arguments& args, const std::string& builtInPlugin,
                 bool wantVideo, bool wantAudio, bool oneNeeded = true) {
    std::error_code error;
    if (!fs::is_regular_file(fs::u8path(args.file), error)) {
        throw HostError("no such file: " + args.file);
    }
    std::u16string path;
    if (!Utf8ToUtf16(args.file, path)) throw HostError("the file name is not valid UTF-8");
    session.driver = std::make_unique<Driver>(ResolvePluginPath(args.plugin, builtInPlugin));
    if (wantVideo) {
        session.video = std::make_unique<Stream>(*session.driver, MediaKind::kVideo);
        if (!session.video->Open(path)) session.video.reset();
    }
    if (wantAudio) {
        session.audio = std::make_unique<Stream>(*session.driver, MediaKind::kAudio);
        if (!session.audio->Open(path)) session.audio.reset();
    }
    if (oneNeeded && !session.video && !session.audio) {
        const char* what = wantVideo && wantAudio ? "the video and the audio stream"
                           : wantVideo            ? "the video stream"
                                                  : "the audio stream";
        throw HostError(std::string("the plug-in refused ") + what + " of " + args.file);
    }
}

std::chrono::milliseconds Timeout(const Arguments& args) {
    return std::chrono::milliseconds(int64_t{args.timeoutSeconds} * 1000);
}

std::string FormatDouble(double value, const char* format) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Why a medium is not served, read by the plug-in's own code linked in (the
// loaded plug-in says only yes or no): "" when it would be served.
std::string WhyNotServed(const std::string& file, avi::Medium medium) {
    std::u16string path;
    if (!Utf8ToUtf16(file, path)) return "the file name is not valid UTF-8";
    const avi::Refusal refusal = mirolan::CheckFile(path.c_str(), medium);
    if (!refusal.Refused()) return "";
    return refusal.text;
}

int RunInfo(const Arguments& args, const std::string& builtInPlugin) {
    Session session;
    OpenSession(session, args, builtInPlugin, true, true, false);
    const std::string videoReason =
        session.video ? "" : WhyNotServed(args.file, avi::Medium::Video);
    const std::string audioReason =
        session.audio ? "" : WhyNotServed(args.file, avi::Medium::Audio);
    const std::string text = DescribeStreams(
        args.file, session.video ? &session.video->video() : nullptr,
        session.audio ? &session.audio->audio() : nullptr, args.json, videoReason, audioReason);
    std::fputs(text.c_str(), DataOutput());
    // Described either way, with the reasons; a file with nothing served
    // still fails, as every other command fails on it.
    if (!session.video && !session.audio) {
        std::fflush(DataOutput());
        throw HostError("the plug-in refused the video and the audio stream of " + args.file);
    }
    return 0;
}

// Whether progress goes to standard error: always with --progress; by
// default when standard error is a terminal, and then only once the command
// has run for a second. Never on the data output.
bool ProgressWanted(const Arguments& args) {
    return args.progress == 1 || (args.progress == -1 && StderrIsTerminal());
}
std::chrono::milliseconds ProgressDelay(const Arguments& args) {
    return std::chrono::milliseconds(args.progress == 1 ? 0 : 1000);
}

class Progress {
public:
    explicit Progress(const Arguments& args)
        : enabled_(ProgressWanted(args)), delay_(ProgressDelay(args)), start_(Clock::now()) {}
    ~Progress() { Done(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Show(const char* what, uint64_t done, uint64_t total) {
        if (!enabled_) return;
        const Clock::time_point now = Clock::now();
        if (now - start_ < delay_ || (shown_ && now - last_ < std::chrono::milliseconds(100)))
            return;
        last_ = now;
        const double percent =
            total > 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 0.0;
        std::fprintf(stderr, "\r%s %" PRIu64 " of %" PRIu64 " (%5.1f%%)   ", what, done, total,
                     percent);
        std::fflush(stderr);
        shown_ = true;
    }
    void Done() {
        if (shown_) std::fputs("\n", stderr);
        shown_ = false;
    }

private:
    bool enabled_;
    std::chrono::milliseconds delay_;
    Clock::time_point start_;
    Clock::time_point last_{};
    bool shown_ = false;
};

// Requests for audio spans of up to `span` samples.
std::vector<std::unique_ptr<AudioRequest>> MakeAudioRequestsOf(int32_t channels, int64_t span) {
    std::vector<std::unique_ptr<AudioRequest>> requests;
    for (size_t i = 0; i < kRequestsInFlight; ++i) {
        auto r = std::make_unique<AudioRequest>();
        r->samples.assign(static_cast<size_t>(channels),
                          std::vector<float>(static_cast<size_t>(span)));
        for (auto& channel : r->samples) r->channels.push_back(channel.data());
        r->request.channels = channels;
        r->request.channelBuffers = r->channels.data();
        requests.push_back(std::move(r));
    }
    return requests;
}

// The lines of the video stream: frame k at pts k in the stream's own time
// base, hashed as ffmpeg decodes it (BGRA, or BGR for a 24-bit file, rows top
// down) or, stored, as the plug-in hands it over (rows in the stored order).
std::vector<TimedLine> VideoLines(Stream& stream, const Arguments& args, int index,
                                  const Rational& timeBase, bool bgr24, Progress& progress) {
    const VideoDesc& video = stream.video();
    const VideoLayout layout = CheckVideo(video);
    const auto width = static_cast<size_t>(video.width);
    const auto rows = static_cast<size_t>(std::llabs(int64_t{video.height}));
    const bool flip = video.height > 0 && !args.stored;
    const bool dropAlpha = bgr24 && !args.stored;
    std::vector<uint8_t> decoded(dropAlpha ? width * rows * 3
                                           : static_cast<size_t>(layout.frameBytes));
    std::vector<TimedLine> lines;
    const auto requests = MakeVideoRequests(layout);
    stream.Start();
    ServeInOrder(
        stream, layout.frames, Pool(requests),
        [&](SampleRequest& request, uint64_t k) {
            request.start = static_cast<int64_t>(k) * layout.frameDuration;
            request.end = request.start + layout.frameDuration;
        },
        [&](const Stream::Delivery& delivery, uint64_t k) {
            const uint8_t* frame = delivery.request->frameBuffer;
            const uint8_t* hashed = frame;
            if (flip || dropAlpha) {
                const size_t outRow = width * (dropAlpha ? 3 : 4);
                for (size_t y = 0; y < rows; ++y) {
                    const uint8_t* in = frame + (flip ? rows - 1 - y : y) * width * 4;
                    uint8_t* out = decoded.data() + y * outRow;
                    if (!dropAlpha) {
                        std::memcpy(out, in, width * 4);
                        continue;
                    }
                    for (size_t x = 0; x < width; ++x) std::memcpy(out + 3 * x, in + 4 * x, 3);
                }
                hashed = decoded.data();
            }
            const size_t size =
                flip || dropAlpha ? decoded.size() : static_cast<size_t>(layout.frameBytes);
            const auto pts = static_cast<int64_t>(k);
            lines.push_back({index, pts, timeBase,
                             FrameMd5LineOf(index, pts, 1, size, tools::Md5::Hex(hashed, size))});
            progress.Show("framemd5: video frame", k + 1, layout.frames);
        },
        Timeout(args));
    stream.Close();
    return lines;
}

// The lines of the audio stream: one per packet of ffmpeg's AVI reader (the
// file's chunks, cut as it cuts them), at pts = first sample in 1/rate, as
// signed 16-bit samples (ffmpeg's output for 8- and 16-bit PCM) or, stored,
// as the file's own samples.
std::vector<TimedLine> AudioLines(Stream& stream, const Arguments& args, int index,
                                  const mirolan::StreamFacts& facts, bool haveFacts,
                                  Progress& progress) {
    const AudioDesc& audio = stream.audio();
    CheckAudio(audio);
    std::vector<std::pair<int64_t, int64_t>> packets;
    if (haveFacts) {
        for (size_t i = 0; i < facts.audioChunkFirst.size(); ++i) {
            AudioPackets(facts.audioChunkFirst[i], facts.audioChunkEnd[i], facts.strh.dwSampleSize,
                         packets);
        }
    } else {
        AudioPackets(0, std::max<int64_t>(audio.duration, 0), 2, packets);
    }
    int64_t longest = 1;
    for (const auto& packet : packets) longest = std::max(longest, packet.second - packet.first);
    if (longest > (int64_t{1} << 24) || longest * audio.channels > (int64_t{1} << 26)) {
        throw HostError("an audio chunk of " + std::to_string(longest) +
                        " samples is too large for this host");
    }
    const bool stored8 = args.stored && haveFacts && facts.wfx.wBitsPerSample == 8;
    const bool from8 = haveFacts && facts.wfx.wBitsPerSample == 8;
    const Rational timeBase{1, audio.sampleRate};
    const auto channels = static_cast<size_t>(audio.channels);
    std::vector<uint8_t> bytes;
    std::vector<TimedLine> lines;
    const auto requests = MakeAudioRequestsOf(audio.channels, longest);
    stream.Start();
    ServeInOrder(
        stream, packets.size(), Pool(requests),
        [&](SampleRequest& request, uint64_t i) {
            request.start = packets[static_cast<size_t>(i)].first;
            request.end = packets[static_cast<size_t>(i)].second;
            for (int32_t c = 0; c < request.channels; ++c) {
                std::fill(request.channelBuffers[c], request.channelBuffers[c] + longest, 0.0f);
            }
        },
        [&](const Stream::Delivery& delivery, uint64_t i) {
            const SampleRequest& request = *delivery.request;
            const auto samples = static_cast<size_t>(request.end - request.start);
            bytes.clear();
            for (size_t j = 0; j < samples; ++j) {
                for (size_t c = 0; c < channels; ++c) {
                    const float value = request.channelBuffers[c][j];
                    if (stored8) {
                        bytes.push_back(FloatToPcm8(value));
                        continue;
                    }
                    // 8-bit samples become x - 128 in the high byte, as ffmpeg converts them.
                    const auto word = static_cast<uint16_t>(
                        from8 ? static_cast<uint16_t>((FloatToPcm8(value) - 128) * 256)
                              : static_cast<uint16_t>(FloatToPcm16(value)));
                    bytes.push_back(static_cast<uint8_t>(word & 0xFF));
                    bytes.push_back(static_cast<uint8_t>(word >> 8));
                }
            }
            lines.push_back(
                {index, request.start, timeBase,
                 FrameMd5LineOf(index, request.start, static_cast<int64_t>(samples), bytes.size(),
                                tools::Md5::Hex(bytes.data(), bytes.size()))});
            progress.Show("framemd5: audio packet", i + 1, packets.size());
        },
        Timeout(args));
    stream.Close();
    return lines;
}

int RunFrameMd5(const Arguments& args, const std::string& builtInPlugin) {
    Session session;
    OpenSession(session, args, builtInPlugin, true, true);
    std::u16string path;
    Utf8ToUtf16(args.file, path);
    // How ffmpeg sees the file: from the headers and the index, read by the
    // plug-in's own code; a plug-in that serves a file this code refuses (a
    // stand-in) gets the layout its descriptors imply.
    const mirolan::StreamFacts videoFacts =
        mirolan::ReadStreamFacts(path.c_str(), avi::Medium::Video);
    const mirolan::StreamFacts audioFacts =
        mirolan::ReadStreamFacts(path.c_str(), avi::Medium::Audio);
    const HeaderFacts headers = ScanHeaders(ReadFileStart(args.file), videoFacts.streamNumber);
    const bool haveVideoFacts = !videoFacts.refusal.Refused() && videoFacts.streamNumber >= 0;
    const bool haveAudioFacts = !audioFacts.refusal.Refused() && audioFacts.streamNumber >= 0;
    int videoIndex = haveVideoFacts ? videoFacts.streamNumber : 0;
    int audioIndex = haveAudioFacts ? audioFacts.streamNumber : 1;
    if (!session.video) audioIndex = haveAudioFacts ? audioIndex : 0;
    if (videoIndex == audioIndex) audioIndex = videoIndex + 1;

    std::string header = "#format: frame checksums\n#version: 2\n#hash: MD5\n#software: qxhost\n";
    Rational videoBase;
    std::string videoHeader, audioHeader;
    if (session.video) {
        const VideoDesc& video = session.video->video();
        CheckVideo(video);
        videoBase = haveVideoFacts ? Reduce(videoFacts.strh.dwScale, videoFacts.strh.dwRate)
                                   : Reduce(video.avgFrameDuration,
                                            video.timescale > 0 ? video.timescale : 10000000);
        videoHeader = VideoHeader(videoIndex, videoBase, video.width, video.height,
                                  haveVideoFacts ? headers.sampleAspect : Rational{0, 1});
    }
    if (session.audio) {
        const AudioDesc& audio = session.audio->audio();
        CheckAudio(audio);
        const bool u8 = args.stored && haveAudioFacts && audioFacts.wfx.wBitsPerSample == 8;
        audioHeader = AudioHeader(audioIndex, {1, audio.sampleRate}, u8 ? "pcm_u8" : "pcm_s16le",
                                  audio.sampleRate, audio.channels);
    }
    header += videoIndex < audioIndex ? videoHeader + audioHeader : audioHeader + videoHeader;
    header += "#stream#, dts,        pts, duration,     size, hash\n";

    Progress progress(args);
    std::vector<TimedLine> videoLines, audioLines;
    if (session.video) {
        videoLines = VideoLines(*session.video, args, videoIndex, videoBase,
                                haveVideoFacts && videoFacts.bih.biBitCount == 24, progress);
    }
    if (session.audio) {
        audioLines =
            AudioLines(*session.audio, args, audioIndex, audioFacts, haveAudioFacts, progress);
    }
    progress.Done();
    std::fputs(header.c_str(), DataOutput());
    for (const TimedLine& line : Interleave(std::move(videoLines), std::move(audioLines))) {
        std::fputs(line.text.c_str(), DataOutput());
    }
    return std::fflush(DataOutput()) == 0 ? 0 : 1;
}

// One frame's served BGRA bytes, rows top-down, as `path`.
void WriteUprightBgra(const std::string& path, const uint8_t* bgra, int width, int height) {
    const size_t row = static_cast<size_t>(width) * 4;
    const size_t rows = static_cast<size_t>(std::abs(height));
    std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
    for (size_t y = 0; y < rows && out; ++y) {
        const size_t source = height > 0 ? rows - 1 - y : y;
        out.write(reinterpret_cast<const char*>(bgra + source * row),
                  static_cast<std::streamsize>(row));
    }
    out.close();
    const bool written = static_cast<bool>(out);
    if (!written) throw HostError("cannot write " + path);
}

int RunFrames(const Arguments& args, const std::string& builtInPlugin) {
#ifndef QXHOST_HAVE_PNG
    if (!args.raw) throw HostError("frames: PNG output is not available in this build");
#endif
    Session session;
    OpenSession(session, args, builtInPlugin, true, false);
    Stream& stream = *session.video;
    const VideoDesc& video = stream.video();
    const VideoLayout layout = CheckVideo(video);
    std::error_code error;
    fs::create_directories(fs::u8path(args.out), error);
    if (!fs::is_directory(fs::u8path(args.out), error)) {
        throw HostError("cannot create folder " + args.out);
    }
    const uint64_t chosen = (layout.frames + args.every - 1) / args.every;
    const uint64_t sheetFrames = args.raw ? 0 : std::min(chosen, kSheetMaxFrames);
#ifdef QXHOST_HAVE_PNG
    int thumbWidth = 0, thumbHeight = 0;
    ThumbnailSize(video.width, std::abs(video.height), kThumbnailWidth, thumbWidth, thumbHeight);
    ContactSheet sheet(thumbWidth, thumbHeight, kSheetColumns, static_cast<int>(sheetFrames));
    uint64_t nextSheetSlot = 0;
#endif
    Progress progress(args);
    const auto requests = MakeVideoRequests(layout);
    stream.Start();
    ServeInOrder(
        stream, chosen, Pool(requests),
        [&](SampleRequest& request, uint64_t i) {
            request.start = static_cast<int64_t>(i * args.every) * layout.frameDuration;
            request.end = request.start + layout.frameDuration;
        },
        [&](const Stream::Delivery& delivery, uint64_t i) {
            const uint64_t frame = i * args.every;
            char name[32];
            std::snprintf(name, sizeof name, "frame_%06" PRIu64 ".%s", frame,
                          args.raw ? "bgra" : "png");
            const std::string path = (fs::u8path(args.out) / name).u8string();
            progress.Show("frames: frame", i + 1, chosen);
            if (args.raw) {
                WriteUprightBgra(path, delivery.request->frameBuffer, video.width, video.height);
                return;
            }
#ifdef QXHOST_HAVE_PNG
            const Picture picture = UprightFromBgra(delivery.request->frameBuffer, video.width,
                                                    video.height, args.alpha);
            WritePng(path, picture);
            // Sheet slot j shows chosen frame j * chosen / sheetFrames.
            if (nextSheetSlot < sheetFrames && i == nextSheetSlot * chosen / sheetFrames) {
                const double timescale =
                    video.timescale > 0 ? static_cast<double>(video.timescale) : 1e7;
                sheet.Place(static_cast<int>(nextSheetSlot),
                            Downscale(picture, thumbWidth, thumbHeight));
                sheet.Label(
                    static_cast<int>(nextSheetSlot++),
                    TileLabel(frame, static_cast<double>(frame) *
                                         static_cast<double>(layout.frameDuration) / timescale));
            }
#endif
        },
        Timeout(args));
    stream.Close();
    progress.Done();
#ifdef QXHOST_HAVE_PNG
    if (sheetFrames > 0)
        WritePng((fs::u8path(args.out) / "contact_sheet.png").u8string(), sheet.picture());
#endif
    std::fprintf(stderr, "qxhost: wrote %" PRIu64 " frame(s)%s to %s\n", chosen,
                 sheetFrames > 0 ? " and contact_sheet.png" : "", args.out.c_str());
    return 0;
}

int RunAudio(const Arguments& args, const std::string& builtInPlugin) {
    Session session;
    OpenSession(session, args, builtInPlugin, false, true);
    Stream& stream = *session.audio;
    const AudioDesc& audio = stream.audio();
    CheckAudio(audio);
    FloatWavWriter wav(args.out, static_cast<uint32_t>(audio.channels),
                       static_cast<uint32_t>(audio.sampleRate));
    const auto requests = MakeAudioRequests(audio.channels);
    std::vector<float> interleaved;
    Progress progress(args);
    const uint64_t spans = AudioRequestCount(audio);
    stream.Start();
    ServeInOrder(
        stream, AudioRequestCount(audio), Pool(requests),
        [&](SampleRequest& request, uint64_t i) {
            SetAudioSpan(request, i, audio.duration);
            ClearChannels(request);
        },
        [&](const Stream::Delivery& delivery, uint64_t i) {
            const SampleRequest& request = *delivery.request;
            const std::vector<const float*> channels(request.channelBuffers,
                                                     request.channelBuffers + request.channels);
            interleaved.clear();
            Interleave(channels, static_cast<size_t>(request.end - request.start), interleaved);
            wav.Write(interleaved);
            progress.Show("audio: span", i + 1, spans);
        },
        Timeout(args));
    stream.Close();
    progress.Done();
    wav.Close();
    return 0;
}

// Counters of one stream while it is played.
struct PlayProgress {
    std::atomic<uint64_t> done{0};
    std::atomic<uint64_t> total{0};
    std::atomic<bool> finished{false};  // the stream's thread is done
    std::atomic<uint64_t> bytes{0};
    std::string error;
};

void PaceUntil(Clock::time_point start, double seconds) {
    std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(seconds)));
}

void PlayVideo(Stream& stream, const Arguments& args, PlayProgress& progress,
               Clock::time_point t0) {
    try {
        const VideoLayout layout = CheckVideo(stream.video());
        const double timescale =
            stream.video().timescale > 0 ? static_cast<double>(stream.video().timescale) : 1e7;
        const auto requests = MakeVideoRequests(layout);
        progress.total = layout.frames;
        stream.Start();
        ServeInOrder(
            stream, layout.frames, Pool(requests),
            [&](SampleRequest& request, uint64_t k) {
                request.start = static_cast<int64_t>(k) * layout.frameDuration;
                request.end = request.start + layout.frameDuration;
                if (args.realtime) PaceUntil(t0, static_cast<double>(request.start) / timescale);
            },
            [&](const Stream::Delivery&, uint64_t) {
                progress.bytes += layout.frameBytes;
                ++progress.done;
            },
            Timeout(args));
        stream.Close();
    } catch (const std::exception& e) {
        progress.error = std::string("video: ") + e.what();
    }
    progress.finished = true;
}

void PlayAudio(Stream& stream, const Arguments& args, PlayProgress& progress,
               Clock::time_point t0) {
    try {
        const AudioDesc& audio = stream.audio();
        CheckAudio(audio);
        const auto requests = MakeAudioRequests(audio.channels);
        progress.total = static_cast<uint64_t>(std::max<int64_t>(audio.duration, 0));
        stream.Start();
        ServeInOrder(
            stream, AudioRequestCount(audio), Pool(requests),
            [&](SampleRequest& request, uint64_t i) {
                SetAudioSpan(request, i, audio.duration);
                if (args.realtime) {
                    PaceUntil(t0, static_cast<double>(request.start) / audio.sampleRate);
                }
            },
            [&](const Stream::Delivery& delivery, uint64_t) {
                const auto samples =
                    static_cast<uint64_t>(delivery.request->end - delivery.request->start);
                progress.bytes += samples * static_cast<uint64_t>(audio.channels) * sizeof(float);
                progress.done += samples;
            },
            Timeout(args));
        stream.Close();
    } catch (const std::exception& e) {
        progress.error = std::string("audio: ") + e.what();
    }
    progress.finished = true;
}

std::string ProgressBar(const PlayProgress& video, const PlayProgress& audio, bool haveVideo,
                        bool haveAudio) {
    std::string line;
    auto part = [&line](const char* label, const PlayProgress& p) {
        // Nothing known yet is 0 %, not 100 %: the thread may not have set
        // its total when the first line is drawn.
        const uint64_t done = p.done.load();
        const uint64_t total = p.total.load();
        const double fraction =
            p.finished.load() ? 1.0
            : total > 0 ? std::min(1.0, static_cast<double>(done) / static_cast<double>(total))
                        : 0.0;
        const int filled = static_cast<int>(fraction * 20);
        line += label;
        line += " [" + std::string(static_cast<size_t>(filled), '#') +
                std::string(static_cast<size_t>(20 - filled), '.') + "] ";
        line += FormatDouble(fraction * 100, "%5.1f%%  ");
    };
    if (haveVideo) part("video", video);
    if (haveAudio) part("audio", audio);
    return line;
}

int RunPlay(const Arguments& args, const std::string& builtInPlugin) {
    Session session;
    OpenSession(session, args, builtInPlugin, true, true);
    PlayProgress video, audio;
    const Clock::time_point t0 = Clock::now();
    std::vector<std::thread> threads;
    if (session.video) {
        threads.emplace_back(PlayVideo, std::ref(*session.video), std::cref(args), std::ref(video),
                             t0);
    }
    if (session.audio) {
        threads.emplace_back(PlayAudio, std::ref(*session.audio), std::cref(args), std::ref(audio),
                             t0);
    }
    std::atomic<bool> playing{true};
    std::atomic<bool> drawn{false};
    std::thread bar;
    if (ProgressWanted(args)) {
        bar = std::thread([&] {
            const Clock::time_point shownFrom = Clock::now() + ProgressDelay(args);
            while (playing) {
                if (Clock::now() >= shownFrom) {
                    std::fprintf(stderr, "\r%s",
                                 ProgressBar(video, audio, session.video != nullptr,
                                             session.audio != nullptr)
                                     .c_str());
                    std::fflush(stderr);
                    drawn = true;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    }
    for (auto& t : threads) t.join();
    playing = false;
    if (bar.joinable()) bar.join();
    if (drawn) {
        std::fprintf(
            stderr, "\r%s\n",
            ProgressBar(video, audio, session.video != nullptr, session.audio != nullptr).c_str());
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    const uint64_t bytes = video.bytes + audio.bytes;
    std::ostringstream summary;
    if (session.video) {
        summary << "video: " << video.done << " of " << video.total << " frames, " << video.bytes
                << " bytes\n";
    } else {
        summary << "video: none\n";
    }
    if (session.audio) {
        summary << "audio: " << audio.done << " of " << audio.total << " samples, " << audio.bytes
                << " bytes as float\n";
    } else {
        summary << "audio: none\n";
    }
    summary << "total: " << bytes << " bytes in " << FormatDouble(elapsed, "%.3f") << " s, "
            << FormatDouble(elapsed > 0 ? static_cast<double>(bytes) / 1e6 / elapsed : 0, "%.1f")
            << " MB/s\n";
    std::fputs(summary.str().c_str(), DataOutput());
    for (const PlayProgress* p : {&video, &audio}) {
        if (!p->error.empty()) throw HostError(p->error);
    }
    return 0;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string ResolvePluginPath(const std::string& requested, const std::string& builtInPlugin) {
    if (!requested.empty()) return requested;
    const std::string folder = ExecutableFolder();
    const std::string beside = folder + PluginFileName();
    std::error_code error;
    if (!folder.empty() && fs::exists(fs::u8path(beside), error)) return beside;
    if (!builtInPlugin.empty()) return builtInPlugin;
    return beside.empty() ? PluginFileName() : beside;
}

Rational Reduce(int64_t num, int64_t den) {
    if (den < 0) {
        num = -num;
        den = -den;
    }
    const int64_t divisor = std::gcd(num, den);
    if (divisor > 1) {
        num /= divisor;
        den /= divisor;
    }
    return {num, den};
}

std::string DescribeStreams(const std::string& file, const VideoDesc* video, const AudioDesc* audio,
                            bool json, const std::string& videoReason,
                            const std::string& audioReason) {
    std::ostringstream out;
    int64_t frames = 0;
    double fps = 0;
    if (video != nullptr && video->avgFrameDuration > 0) {
        frames = video->duration / video->avgFrameDuration;
        const double timescale = video->timescale > 0 ? static_cast<double>(video->timescale) : 1e7;
        fps = timescale / static_cast<double>(video->avgFrameDuration);
    }
    if (json) {
        out << "{\"file\": " << JsonString(file) << ", \"video\": ";
        if (video != nullptr) {
            out << "{\"timescale\": " << video->timescale << ", \"duration\": " << video->duration
                << ", \"avgFrameDuration\": " << video->avgFrameDuration
                << ", \"width\": " << video->width << ", \"height\": " << video->height
                << ", \"streamFlag\": " << video->streamFlag << ", \"frames\": " << frames
                << ", \"fps\": " << FormatDouble(fps, "%.6g") << "}";
        } else {
            out << "null";
        }
        out << ", \"audio\": ";
        if (audio != nullptr) {
            out << "{\"timescale\": " << audio->timescale << ", \"duration\": " << audio->duration
                << ", \"sampleRate\": " << audio->sampleRate
                << ", \"channels\": " << audio->channels << "}";
        } else {
            out << "null";
        }
        if (video == nullptr || audio == nullptr) {
            out << ", \"refused\": {";
            const char* separator = "";
            if (video == nullptr) {
                out << "\"video\": " << JsonString(videoReason);
                separator = ", ";
            }
            if (audio == nullptr) out << separator << "\"audio\": " << JsonString(audioReason);
            out << "}";
        }
        out << "}\n";
        return out.str();
    }
    out << "file: " << file << '\n';
    if (video != nullptr) {
        out << "video: timescale " << video->timescale << ", duration " << video->duration
            << ", avgFrameDuration " << video->avgFrameDuration << ", width " << video->width
            << ", height " << video->height << ", streamFlag " << video->streamFlag << '\n'
            << "       frames " << frames << ", fps " << FormatDouble(fps, "%.6g")
            << (video->height > 0 ? ", rows bottom-up" : ", rows top-down") << '\n';
    } else {
        out << "video: none (refused by the plug-in"
            << (videoReason.empty() ? "" : ": " + videoReason) << ")\n";
    }
    if (audio != nullptr) {
        out << "audio: timescale " << audio->timescale << ", duration " << audio->duration
            << ", sampleRate " << audio->sampleRate << ", channels " << audio->channels << '\n';
    } else {
        out << "audio: none (refused by the plug-in"
            << (audioReason.empty() ? "" : ": " + audioReason) << ")\n";
    }
    return out.str();
}

namespace {
std::FILE* dataOutput = nullptr;
}  // namespace

std::FILE* DataOutput() { return dataOutput != nullptr ? dataOutput : stdout; }
void SetDataOutput(std::FILE* stream) { dataOutput = stream; }

int RunCommand(const Arguments& args, const std::string& builtInPlugin) {
    switch (args.command) {
        case Command::kInfo:
            return RunInfo(args, builtInPlugin);
        case Command::kFrameMd5:
            return RunFrameMd5(args, builtInPlugin);
        case Command::kFrames:
            return RunFrames(args, builtInPlugin);
        case Command::kAudio:
            return RunAudio(args, builtInPlugin);
        case Command::kPlay:
            return RunPlay(args, builtInPlugin);
        case Command::kCheck:
            return RunCheck(args);
        case Command::kHelp:
            break;
    }
    std::fputs(HelpText().c_str(), DataOutput());
    return 0;
}

}  // namespace qxhost
