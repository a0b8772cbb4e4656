// Frame serving: every frame of a large 32-bit file, already in the page
// cache, served through the loaded plug-in to a host loop, against a plain
// loop of positioned reads of the same frames into one buffer (the limit) and,
// on Linux, ffmpeg demuxing the same file. Also the latency of a video request,
// from the return of host_acquire to the call of host_deliver.
//
// usage: bench_frames PLUGIN FILE.avi [--reps N] [--pool K] [--no-ffmpeg]
// The host hands out K reused frame buffers in turn (default 1, the footprint
// of the reference). With K > 1 a second reference reads into the same K
// buffers in turn, since the destination's footprint in the processor's cache
// weighs on both alike.
// Prints key=value lines (bytes per second as GB/s, 1 GB = 1e9 bytes).
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "bench_common.h"

namespace {

using bench::Clock;

// The frame number avimake's pattern stores in the first four pixels of each
// frame as the file holds it: pixel k carries byte k of the number in B, G, R.
bool CarriesFrameNumber(const uint8_t* frame, size_t number) {
    for (unsigned k = 0; k < 4; ++k) {
        const auto byte = static_cast<uint8_t>(number >> (8 * k));
        if (frame[4 * k] != byte || frame[4 * k + 1] != byte || frame[4 * k + 2] != byte)
            return false;
    }
    return true;
}

// One pass of requests, prepared before the worker starts: request i asks for
// frame i and points at one of the host's reused frame buffers.
struct VideoPass : bench::RequestPass {
    std::atomic<size_t> wrongFrames{0};
    int64_t frameDuration = 0;
    void Check(const SampleRequest& request, size_t i) override {
        if (!CarriesFrameNumber(request.frameBuffer, i)) wrongFrames.fetch_add(1);
    }
};

struct Setup {
    std::string plugin;
    std::string file;
    int reps = 5;
    size_t pool = 1;
    bool ffmpeg = true;
};

Setup ParseArgs(int argc, char** argv) {
    Setup s;
    if (argc < 3)
        bench::Fail("usage: bench_frames PLUGIN FILE.avi [--reps N] [--pool K] [--no-ffmpeg]");
    s.plugin = argv[1];
    s.file = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--reps" && i + 1 < argc) {
            s.reps = std::atoi(argv[++i]);
        } else if (a == "--pool" && i + 1 < argc) {
            s.pool = static_cast<size_t>(std::atoi(argv[++i]));
        } else if (a == "--no-ffmpeg") {
            s.ffmpeg = false;
        } else {
            bench::Fail("unknown argument " + a);
        }
    }
    if (s.reps < 1 || s.pool < 1) bench::Fail("--reps and --pool must be at least 1");
    return s;
}

class FrameBench {
public:
    FrameBench(const Setup& setup, const DriverTable& driver, size_t frames, uint32_t frameBytes)
        : setup_(setup), driver_(driver), frames_(frames), frameBytes_(frameBytes) {
        // The host's frame buffers, allocated and touched once, reused by every pass.
        for (size_t b = 0; b < setup.pool; ++b) buffers_.emplace_back(frameBytes, uint8_t{0});
    }

    // One pass through the plug-in: open, start, all frames, close. Seconds
    // from the start to the last delivery.
    double ServePass(bool timestamps, std::vector<double>* latencies) {
        bench::HostStream stream;
        const std::u16string path = bench::ToUtf16(setup_.file);
        if (driver_.drv_open(&stream.handle, path.c_str(), bench::OptionsFor(true)) != 1) {
            bench::Fail("drv_open refused " + setup_.file);
        }
        VideoPass pass;
        pass.frameDuration = stream.video.avgFrameDuration;
        if (pass.frameDuration <= 0 ||
            stream.video.duration / pass.frameDuration != static_cast<int64_t>(frames_)) {
            bench::Fail("the plug-in describes another frame count than the file holds");
        }
        pass.Prepare(frames_, timestamps);
        for (size_t i = 0; i < frames_; ++i) {
            SampleRequest& r = pass.requests[i];
            std::memset(&r, 0, sizeof r);
            r.start = static_cast<int64_t>(i) * pass.frameDuration;
            r.end = r.start + pass.frameDuration;
            r.frameBuffer = buffers_[i % buffers_.size()].data();
        }
        pass.Attach(stream);

        const Clock::time_point start = Clock::now();
        driver_.drv_start(&stream.handle);
        const double seconds = pass.SecondsFrom(start);
        driver_.drv_close(&stream.handle);

        if (pass.wrongFrames.load() != 0)
            bench::Fail("the plug-in served frames with the wrong content");
        if (pass.wrongDurations.load() != 0) bench::Fail("the plug-in set wrong durations");
        if (latencies != nullptr) pass.AppendLatencies(latencies);
        return seconds;
    }

    // The limit: the same frames, one positioned read each, into one buffer
    // (`buffers` 1) or into the host's buffers in turn.
    double ReadPass(bench::PlainFile& file, const std::vector<bench::DataChunk>& chunks,
                    size_t buffers) {
        const Clock::time_point start = Clock::now();
        for (size_t i = 0; i < chunks.size(); ++i) {
            uint8_t* buffer = buffers_[i % buffers].data();
            if (file.ReadAt(chunks[i].offset, buffer, frameBytes_) != frameBytes_)
                bench::Fail("short read");
        }
        const double seconds = bench::SecondsSince(start);
        const size_t last = chunks.size() - 1;
        if (!CarriesFrameNumber(buffers_[last % buffers].data(), last))
            bench::Fail("plain read got the wrong frame");
        return seconds;
    }

private:
    const Setup& setup_;
    const DriverTable& driver_;
    size_t frames_;
    uint32_t frameBytes_;
    std::vector<std::vector<uint8_t>> buffers_;
};

}  // namespace

int main(int argc, char** argv) {
    const Setup setup = ParseArgs(argc, argv);
    bench::PlainFile file(setup.file);
    const std::vector<bench::DataChunk> chunks =
        bench::ListDataChunks(file, QX_FOURCC('0', '0', 'd', 'b'));
    if (chunks.empty()) bench::Fail("no frames in " + setup.file);
    const uint32_t frameBytes = chunks.front().size;
    for (const bench::DataChunk& c : chunks) {
        if (c.size != frameBytes) bench::Fail("frames of different sizes");
    }
    const double totalBytes = static_cast<double>(frameBytes) * static_cast<double>(chunks.size());

    const bench::Plugin plugin(setup.plugin);
    const DriverTable& driver = plugin.Connect(testsupport::FakeHostServices());
    FrameBench frameBench(setup, driver, chunks.size(), frameBytes);

    bench::RaiseToWorkerPriority();
    bench::WarmPageCache(file);
    frameBench.ServePass(false, nullptr);  // warm-up: first touch of everything
    // Each repetition times the plug-in and the reference back to back, in
    // alternating order. Time only ever gets added on a shared machine, so the
    // figures are the best pass of each side; the median of the repetitions'
    // own ratios is printed beside them as a check on the spread.
    std::vector<double> served, plain, pooled, ffmpeg, ratios, pooledRatios;
    for (int rep = 0; rep < setup.reps; ++rep) {
        if (rep % 2 == 1) plain.push_back(frameBench.ReadPass(file, chunks, 1));
        served.push_back(frameBench.ServePass(false, nullptr));
        if (rep % 2 == 0) plain.push_back(frameBench.ReadPass(file, chunks, 1));
        ratios.push_back(plain.back() / served.back());
        if (setup.pool > 1) {
            pooled.push_back(frameBench.ReadPass(file, chunks, setup.pool));
            pooledRatios.push_back(pooled.back() / served.back());
        }
#if !defined(_WIN32)
        if (setup.ffmpeg && rep < 3) {
            const double s =
                bench::TimeCommand({"ffmpeg", "-nostdin", "-v", "error", "-i", setup.file, "-map",
                                    "0:v", "-c", "copy", "-f", "null", "-"});
            if (s < 0) bench::Fail("ffmpeg failed");
            ffmpeg.push_back(s);
        }
#endif
    }
    std::vector<double> latencies;
    frameBench.ServePass(true, &latencies);

    const double servedRate = totalBytes / bench::Best(served) / 1e9;
    const double plainRate = totalBytes / bench::Best(plain) / 1e9;
    std::printf("frames.count=%zu\n", chunks.size());
    std::printf("frames.frame_bytes=%u\n", frameBytes);
    std::printf("frames.total_gb=%.3f\n", totalBytes / 1e9);
    std::printf("frames.pool=%zu\n", setup.pool);
    std::printf("frames.reps=%d\n", setup.reps);
    std::printf("frames.served_gbps=%.3f\n", servedRate);
    std::printf("frames.plain_gbps=%.3f\n", plainRate);
    std::printf("frames.ratio_plain=%.3f\n", servedRate / plainRate);
    std::printf("frames.ratio_plain_median=%.3f\n", bench::Median(ratios));
    if (!pooled.empty()) {
        const double pooledRate = totalBytes / bench::Best(pooled) / 1e9;
        std::printf("frames.plain_pool_gbps=%.3f\n", pooledRate);
        std::printf("frames.ratio_plain_pool=%.3f\n", servedRate / pooledRate);
        std::printf("frames.ratio_plain_pool_median=%.3f\n", bench::Median(pooledRatios));
    }
    if (!ffmpeg.empty()) {
        const double ffmpegRate = totalBytes / bench::Best(ffmpeg) / 1e9;
        std::printf("frames.ffmpeg_gbps=%.3f\n", ffmpegRate);
        std::printf("frames.ratio_ffmpeg=%.3f\n", servedRate / ffmpegRate);
    }
    std::printf("latency.video_median_us=%.1f\n", bench::Median(latencies));
    std::printf("latency.video_p99_us=%.1f\n", bench::Quantile(latencies, 0.99));
    return 0;
}
