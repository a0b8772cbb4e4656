// Audio serving: a long PCM-family stream (8/16/24/32-bit integer PCM, 32/64-bit
// IEEE float, A-law or mu-law) served through the loaded plug-in in requests
// of a fixed number of samples, against a plain loop of positioned reads of
// the same bytes, one request's span at a time (the limit), and (natively) ffmpeg
// decoding the same audio to 32-bit floats. Also the latency of an audio
// request, from the return of host_acquire to the call of host_deliver.
//
// usage: bench_audio PLUGIN FILE.avi [--reps N] [--request SAMPLES] [--no-ffmpeg]
//                    [--no-check] [--served-only] [--label NAME]
// --no-check skips the comparison of every served sample with the file (done
// in the warm-up pass); --served-only times only the plug-in, for profiling;
// --label prints the figures as audio_NAME.* instead of audio.* (one run per
// sound layout in one results file).
// Prints key=value lines; rates in millions of sample frames per second.
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "bench_common.h"
#include "support/SampleRules.h"

namespace {

using bench::Clock;

constexpr size_t kPoolSets = 4;  // the host's reused sets of channel buffers

// One pass of requests, prepared before the worker starts.
struct AudioPass : bench::RequestPass {
    // Set for the checking pass: called with every delivered request.
    void (*check)(const SampleRequest&) = nullptr;
    void Check(const SampleRequest& request, size_t) override {
        if (check != nullptr) check(request);
    }
};

struct Setup {
    std::string plugin;
    std::string file;
    int reps = 5;
    uint32_t requestSamples = 1024;
    bool ffmpeg = true;
    bool check = true;
    bool servedOnly = false;
    std::string label;
};

Setup ParseArgs(int argc, char** argv) {
    Setup s;
    if (argc < 3)
        bench::Fail(
            "usage: bench_audio PLUGIN FILE.avi [--reps N] [--request SAMPLES] [--no-ffmpeg]");
    s.plugin = argv[1];
    s.file = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--reps" && i + 1 < argc) {
            s.reps = std::atoi(argv[++i]);
        } else if (a == "--request" && i + 1 < argc) {
            s.requestSamples = static_cast<uint32_t>(std::atoi(argv[++i]));
        } else if (a == "--label" && i + 1 < argc) {
            s.label = argv[++i];
        } else if (a == "--no-ffmpeg") {
            s.ffmpeg = false;
        } else if (a == "--no-check") {
            s.check = false;
        } else if (a == "--served-only") {
            s.servedOnly = true;
            s.ffmpeg = false;
        } else {
            bench::Fail("unknown argument " + a);
        }
    }
    if (s.reps < 1 || s.requestSamples < 1) bench::Fail("--reps and --request must be at least 1");
    return s;
}

// A byte range of the file that one request reads, and where it lands in the
// request's staging area.
struct Piece {
    uint64_t offset;
    uint32_t size;
    uint32_t at;
};

// The file's audio as the plain reference sees it: its chunks, and for every
// request the pieces of those chunks that hold the request's samples.
class AudioLayout {
public:
    AudioLayout(bench::PlainFile& file, uint32_t chunkCode, uint32_t frameBytes,
                uint32_t requestSamples)
        : frameBytes_(frameBytes) {
        chunks_ = bench::ListDataChunks(file, chunkCode);
        uint64_t samples = 0;
        for (const bench::DataChunk& c : chunks_) {
            firstSample_.push_back(samples);
            samples += c.size / frameBytes;
        }
        totalSamples_ = samples;
        size_t chunk = 0;
        for (uint64_t start = 0; start < totalSamples_; start += requestSamples) {
            const uint64_t end = std::min<uint64_t>(start + requestSamples, totalSamples_);
            spans_.push_back({start, end});
            firstPiece_.push_back(pieces_.size());
            while (firstSample_[chunk] + chunks_[chunk].size / frameBytes <= start) ++chunk;
            for (size_t c = chunk; c < chunks_.size() && firstSample_[c] < end; ++c) {
                const uint64_t from = std::max(start, firstSample_[c]);
                const uint64_t to = std::min(end, firstSample_[c] + chunks_[c].size / frameBytes);
                pieces_.push_back({chunks_[c].offset + (from - firstSample_[c]) * frameBytes,
                                   static_cast<uint32_t>((to - from) * frameBytes),
                                   static_cast<uint32_t>((from - start) * frameBytes)});
            }
        }
        firstPiece_.push_back(pieces_.size());
    }

    uint64_t totalSamples() const { return totalSamples_; }
    size_t requestCount() const { return spans_.size(); }
    std::pair<uint64_t, uint64_t> span(size_t i) const { return spans_[i]; }

    // Reads request i's bytes into `staging`; the number of bytes read.
    uint64_t ReadRequest(bench::PlainFile& file, size_t i, uint8_t* staging) const {
        uint64_t got = 0;
        for (size_t p = firstPiece_[i]; p < firstPiece_[i + 1]; ++p) {
            got += file.ReadAt(pieces_[p].offset, staging + pieces_[p].at, pieces_[p].size);
        }
        return got;
    }

private:
    uint32_t frameBytes_;
    std::vector<bench::DataChunk> chunks_;
    std::vector<uint64_t> firstSample_;
    uint64_t totalSamples_ = 0;
    std::vector<std::pair<uint64_t, uint64_t>> spans_;
    std::vector<Piece> pieces_;
    std::vector<size_t> firstPiece_;
};

// The stored sample layout: its rule (support/SampleRules.h) gives the float
// the plug-in must serve for each stored sample.
struct SoundInfo {
    const samplerules::SampleRule* rule = nullptr;
    uint32_t bytes = 2;  // stored bytes of one sample of one channel
    uint32_t rate = 0;
    const char* name = "16-bit PCM";
};

// The audio stream's layout from its 'strf' (WAVEFORMATEX, or for an
// extensible record its sub-format's tag), found by a plain walk of the
// header list of the benchmark's own well-formed files. Also the stream's
// number, which names its data chunks.
SoundInfo ReadSoundInfo(bench::PlainFile& file, uint32_t* streamNumber) {
    std::vector<uint8_t> head(1u << 16);
    const uint32_t got = file.ReadAt(0, head.data(), static_cast<uint32_t>(head.size()));
    uint32_t stream = 0;
    bool audio = false;
    for (uint32_t at = 12; at + 8 <= got;) {
        const uint32_t code = bench::FourCC(&head[at]);
        const uint32_t length = bench::Le32(&head[at + 4]);
        if (code == QX_FOURCC('L', 'I', 'S', 'T') && at + 12 <= got) {
            const uint32_t kind = bench::FourCC(&head[at + 8]);
            if (kind == QX_FOURCC('m', 'o', 'v', 'i')) break;
            at += 12;  // enter 'hdrl' and each 'strl'
            continue;
        }
        if (code == QX_FOURCC('s', 't', 'r', 'h') && at + 12 <= got) {
            audio = bench::FourCC(&head[at + 8]) == QX_FOURCC('a', 'u', 'd', 's');
            if (!audio) ++stream;
        } else if (code == QX_FOURCC('s', 't', 'r', 'f') && audio && at + 8 + 16 <= got) {
            const uint8_t* f = &head[at + 8];
            uint16_t tag = static_cast<uint16_t>(f[0] | (f[1] << 8));
            const uint32_t rate = bench::Le32(f + 4);
            const auto bits = static_cast<uint16_t>(f[14] | (f[15] << 8));
            if (tag == 0xFFFE && length >= 40 && at + 8 + 26 <= got) {
                tag = static_cast<uint16_t>(f[24] | (f[25] << 8));
            }
            static const struct {
                uint16_t tag, bits;
                const char* name;
            } known[] = {
                {1, 8, "8-bit PCM"},   {1, 16, "16-bit PCM"},   {1, 24, "24-bit PCM"},
                {1, 32, "32-bit PCM"}, {3, 32, "32-bit float"}, {3, 64, "64-bit float"},
                {6, 8, "A-law"},       {7, 8, "mu-law"},
            };
            const samplerules::SampleRule* rule = samplerules::RuleOf(tag, bits);
            for (const auto& k : known) {
                if (k.tag != tag || k.bits != bits || rule == nullptr) continue;
                *streamNumber = stream;
                return SoundInfo{rule, rule->bytes, rate, k.name};
            }
            bench::Fail("the audio stream's layout is not one the benchmark knows");
        }
        at += 8 + length + (length & 1u);
    }
    bench::Fail("no audio stream header in the first 64 KiB");
}

// What the checking pass compares the served floats with: the file's bytes,
// read the plain way, converted by the conversion rule itself.
struct Checker {
    bench::PlainFile* file = nullptr;
    const AudioLayout* layout = nullptr;
    const SampleRequest* firstRequest = nullptr;
    uint32_t channels = 0;
    SoundInfo sound;
    std::vector<uint8_t> staging;
    size_t mismatches = 0;
};
Checker checker;

void CheckRequest(const SampleRequest& request) {
    const auto i = static_cast<size_t>(&request - checker.firstRequest);
    const uint64_t samples = static_cast<uint64_t>(request.end - request.start);
    checker.layout->ReadRequest(*checker.file, i, checker.staging.data());
    const uint32_t bytes = checker.sound.bytes;
    for (uint64_t j = 0; j < samples; ++j) {
        for (uint32_t ch = 0; ch < checker.channels; ++ch) {
            const uint8_t* p = checker.staging.data() + (j * checker.channels + ch) * bytes;
            const float expected = checker.sound.rule->decode(p);
            const float got = request.channelBuffers[ch][j];
            if (std::memcmp(&expected, &got, sizeof got) != 0) ++checker.mismatches;
        }
    }
}

class AudioBench {
public:
    AudioBench(const Setup& setup, const DriverTable& driver, const AudioLayout& layout,
               uint32_t channels, uint32_t sampleBytes)
        : setup_(setup),
          driver_(driver),
          layout_(layout),
          channels_(channels),
          frameBytes_(channels * sampleBytes) {
        for (size_t set = 0; set < kPoolSets; ++set) {
            std::vector<float*> pointers;
            for (uint32_t ch = 0; ch < channels; ++ch) {
                storage_.emplace_back(setup.requestSamples, 0.0f);
                pointers.push_back(storage_.back().data());
            }
            sets_.push_back(pointers);
        }
        staging_.resize(static_cast<size_t>(setup.requestSamples) * frameBytes_);
    }

    // One pass through the plug-in: open, start, every request, close. Seconds
    // from the start to the last delivery.
    double ServePass(bool timestamps, bool check, std::vector<double>* latencies) {
        bench::HostStream stream;
        const std::u16string path = bench::ToUtf16(setup_.file);
        if (driver_.drv_open(&stream.handle, path.c_str(), bench::OptionsFor(false)) != 1) {
            bench::Fail("drv_open refused the audio of " + setup_.file);
        }
        if (stream.audio.duration != static_cast<int64_t>(layout_.totalSamples()) ||
            stream.audio.channels != static_cast<int32_t>(channels_)) {
            bench::Fail("the plug-in describes other audio than the file holds");
        }
        AudioPass pass;
        const size_t count = layout_.requestCount();
        pass.Prepare(count, timestamps);
        for (size_t i = 0; i < count; ++i) {
            SampleRequest& r = pass.requests[i];
            std::memset(&r, 0, sizeof r);
            r.start = static_cast<int64_t>(layout_.span(i).first);
            r.end = static_cast<int64_t>(layout_.span(i).second);
            r.channels = static_cast<int32_t>(channels_);
            r.channelBuffers = sets_[i % sets_.size()].data();
        }
        if (check) {
            checker.firstRequest = pass.requests.data();
            checker.mismatches = 0;
            pass.check = CheckRequest;
        }
        pass.Attach(stream);

        const Clock::time_point start = Clock::now();
        driver_.drv_start(&stream.handle);
        const double seconds = pass.SecondsFrom(start);
        driver_.drv_close(&stream.handle);

        if (pass.wrongDurations.load() != 0) bench::Fail("the plug-in set wrong durations");
        if (check && checker.mismatches != 0) {
            bench::Fail(std::to_string(checker.mismatches) +
                        " served samples differ from the file");
        }
        if (latencies != nullptr) pass.AppendLatencies(latencies);
        return seconds;
    }

    // The limit: the same bytes, request by request, into one staging buffer.
    double ReadPass(bench::PlainFile& file) {
        uint64_t bytes = 0;
        const Clock::time_point start = Clock::now();
        for (size_t i = 0; i < layout_.requestCount(); ++i)
            bytes += layout_.ReadRequest(file, i, staging_.data());
        const double seconds = bench::SecondsSince(start);
        if (bytes != layout_.totalSamples() * frameBytes_) bench::Fail("short plain read");
        return seconds;
    }

private:
    const Setup& setup_;
    const DriverTable& driver_;
    const AudioLayout& layout_;
    uint32_t channels_;
    uint32_t frameBytes_;
    std::vector<std::vector<float>> storage_;
    std::vector<std::vector<float*>> sets_;
    std::vector<uint8_t> staging_;
};

}  // namespace

int main(int argc, char** argv) {
    const Setup setup = ParseArgs(argc, argv);
    const bench::Plugin plugin(setup.plugin);
    const DriverTable& driver = plugin.Connect(testsupport::FakeHostServices());

    // The channel count as the plug-in describes it; the layout from the file.
    uint32_t channels = 0;
    {
        bench::HostStream probe;
        const std::u16string path = bench::ToUtf16(setup.file);
        if (driver.drv_open(&probe.handle, path.c_str(), bench::OptionsFor(false)) != 1) {
            bench::Fail("drv_open refused the audio of " + setup.file);
        }
        channels = static_cast<uint32_t>(probe.audio.channels);
        driver.drv_close(&probe.handle);
    }
    if (channels == 0) bench::Fail("no channels");

    bench::PlainFile file(setup.file);
    uint32_t stream = 0;
    const SoundInfo sound = ReadSoundInfo(file, &stream);
    if (stream > 99) bench::Fail("stream number out of range");
    const auto chunkCode = static_cast<uint32_t>(QX_FOURCC(
        static_cast<char>('0' + stream / 10), static_cast<char>('0' + stream % 10), 'w', 'b'));
    const AudioLayout layout(file, chunkCode, channels * sound.bytes, setup.requestSamples);
    AudioBench audioBench(setup, driver, layout, channels, sound.bytes);
    bench::RaiseToWorkerPriority();
    bench::WarmPageCache(file);

    // Warm-up that also checks every served sample against the file.
    bench::PlainFile checkFile(setup.file);
    checker.file = &checkFile;
    checker.layout = &layout;
    checker.channels = channels;
    checker.sound = sound;
    checker.staging.resize(static_cast<size_t>(setup.requestSamples) * channels * sound.bytes);
    audioBench.ServePass(false, setup.check, nullptr);

    // Each repetition times the plug-in and the reference back to back, in
    // alternating order. Time only ever gets added on a shared machine, so the
    // figures are the best pass of each side; the median of the repetitions'
    // own ratios is printed beside them as a check on the spread.
    std::vector<double> served, plain, ffmpeg, ratios;
    for (int rep = 0; rep < setup.reps; ++rep) {
        const bool plainFirst = rep % 2 == 1 && !setup.servedOnly;
        if (plainFirst) plain.push_back(audioBench.ReadPass(file));
        served.push_back(audioBench.ServePass(false, false, nullptr));
        if (setup.servedOnly) continue;
        if (!plainFirst) plain.push_back(audioBench.ReadPass(file));
        ratios.push_back(plain.back() / served.back());
#if !defined(_WIN32)
        if (setup.ffmpeg && rep < 3) {
            const double s =
                bench::TimeCommand({"ffmpeg", "-nostdin", "-v", "error", "-i", setup.file, "-map",
                                    "0:a", "-c:a", "pcm_f32le", "-f", "f32le", "-"});
            if (s < 0) bench::Fail("ffmpeg failed");
            ffmpeg.push_back(s);
        }
#endif
    }
    std::vector<double> latencies;
    const double latencyPass = audioBench.ServePass(true, false, &latencies);

    const double samples = static_cast<double>(layout.totalSamples());
    // The 16-bit run keeps its historical keys; a labelled run gets its own.
    const std::string prefix = setup.label.empty() ? "audio" : "audio_" + setup.label;
    const std::string latencyPrefix = setup.label.empty() ? "latency.audio" : prefix + ".latency";
    const char* key = prefix.c_str();
    const char* lk = latencyPrefix.c_str();
    const double servedRate = samples / bench::Best(served) / 1e6;
    const double plainRate = plain.empty() ? 0.0 : samples / bench::Best(plain) / 1e6;
    std::printf("%s.samples=%.0f\n", key, samples);
    std::printf("%s.channels=%u\n", key, channels);
    std::printf("%s.format=%s\n", key, sound.name);
    std::printf("%s.rate=%u\n", key, sound.rate);
    std::printf("%s.requests=%zu\n", key, layout.requestCount());
    std::printf("%s.request_samples=%u\n", key, setup.requestSamples);
    std::printf("%s.reps=%d\n", key, setup.reps);
    std::printf("%s.served_msps=%.2f\n", key, servedRate);
    std::printf("%s.plain_msps=%.2f\n", key, plainRate);
    if (!ratios.empty()) {
        std::printf("%s.ratio_plain=%.3f\n", key, servedRate / plainRate);
        std::printf("%s.ratio_plain_median=%.3f\n", key, bench::Median(ratios));
    }
    if (!ffmpeg.empty()) {
        const double ffmpegRate = samples / bench::Best(ffmpeg) / 1e6;
        std::printf("%s.ffmpeg_msps=%.2f\n", key, ffmpegRate);
        std::printf("%s.ratio_ffmpeg=%.3f\n", key, servedRate / ffmpegRate);
    }
    std::printf("%s.latency_pass_msps=%.2f\n", key,
                static_cast<double>(layout.totalSamples()) / latencyPass / 1e6);
    std::printf("%s_median_us=%.2f\n", lk, bench::Median(latencies));
    std::printf("%s_p99_us=%.2f\n", lk, bench::Quantile(latencies, 0.99));
    return 0;
}
