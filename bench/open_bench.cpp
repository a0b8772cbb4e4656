// Open: the time drv_open takes for the video and for the audio of a file with
// many small frames in several RIFF segments, against ffprobe counting the
// same file's frames; and the heap the open leaves behind and needs at its
// peak, counted by this program's own malloc (the plug-in's allocations,
// C++ ones included, all come through it).
//
// usage: bench_open PLUGIN FILE.avi [--reps N]
// Prints key=value lines; times in milliseconds.
#include <malloc.h>

#include <atomic>

#include "bench_common.h"

// ---- counting allocator: glibc's own allocator underneath ----

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

namespace {
std::atomic<int64_t> liveBytes{0};
std::atomic<int64_t> peakBytes{0};
std::atomic<uint64_t> allocations{0};

void Grew(void* block) {
    if (block == nullptr) return;
    allocations.fetch_add(1, std::memory_order_relaxed);
    const int64_t now = liveBytes.fetch_add(static_cast<int64_t>(malloc_usable_size(block)),
                                            std::memory_order_relaxed) +
                        static_cast<int64_t>(malloc_usable_size(block));
    int64_t peak = peakBytes.load(std::memory_order_relaxed);
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}
void Shrank(void* block) {
    if (block != nullptr) {
        liveBytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(block)),
                            std::memory_order_relaxed);
    }
}
}  // namespace

extern "C" {
void* malloc(size_t size) {
    void* block = __libc_malloc(size);
    Grew(block);
    return block;
}
void* calloc(size_t count, size_t size) {
    void* block = __libc_calloc(count, size);
    Grew(block);
    return block;
}
void* realloc(void* block, size_t size) {
    Shrank(block);
    void* moved = __libc_realloc(block, size);
    if (moved != nullptr) {
        Grew(moved);
    } else if (size != 0) {
        Grew(block);  // the old block stays
    }
    return moved;
}
void free(void* block) {
    Shrank(block);
    __libc_free(block);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    void* block = __libc_memalign(alignment, size);
    if (block == nullptr) return 12;  // ENOMEM
    Grew(block);
    *out = block;
    return 0;
}
void* aligned_alloc(size_t alignment, size_t size) {
    void* block = __libc_memalign(alignment, size);
    Grew(block);
    return block;
}
void* memalign(size_t alignment, size_t size) {
    void* block = __libc_memalign(alignment, size);
    Grew(block);
    return block;
}
}

namespace {

struct OpenFigures {
    std::vector<double> milliseconds;
    int64_t retained = 0;  // heap left by the open (the reader and its tables)
    int64_t peak = 0;      // heap above the start at the open's peak
    int64_t leaked = 0;    // heap not given back by the close
    uint64_t allocations = 0;
    int64_t frames = 0;   // video: frames described
    int64_t samples = 0;  // audio: samples described
};

OpenFigures MeasureOpens(const DriverTable& driver, const std::string& file, bool video, int reps) {
    OpenFigures figures;
    const std::u16string path = bench::ToUtf16(file);
    for (int rep = 0; rep < reps; ++rep) {
        bench::HostStream stream;
        const int64_t before = liveBytes.load();
        peakBytes.store(before);
        const uint64_t allocationsBefore = allocations.load();
        const bench::Clock::time_point start = bench::Clock::now();
        const int32_t opened =
            driver.drv_open(&stream.handle, path.c_str(), bench::OptionsFor(video));
        const double seconds = bench::SecondsSince(start);
        if (opened != 1) bench::Fail("drv_open refused " + file);
        figures.milliseconds.push_back(seconds * 1e3);
        figures.retained = liveBytes.load() - before;
        figures.peak = peakBytes.load() - before;
        figures.allocations = allocations.load() - allocationsBefore;
        if (video && stream.video.avgFrameDuration > 0) {
            figures.frames = stream.video.duration / stream.video.avgFrameDuration;
        }
        figures.samples = stream.audio.duration;
        driver.drv_close(&stream.handle);
        figures.leaked = liveBytes.load() - before;
    }
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) bench::Fail("usage: bench_open PLUGIN FILE.avi [--reps N]");
    const std::string file = argv[2];
    int reps = 9;
    for (int i = 3; i < argc; ++i) {
        if (std::string(argv[i]) == "--reps" && i + 1 < argc) {
            reps = std::atoi(argv[++i]);
        } else {
            bench::Fail(std::string("unknown argument ") + argv[i]);
        }
    }
    if (reps < 1) bench::Fail("--reps must be at least 1");

    const HostServices& services = testsupport::FakeHostServices();
    const bench::Plugin plugin(argv[1]);
    const DriverTable& driver = plugin.Connect(services);

    bench::PlainFile plain(file);
    const size_t frameChunks = bench::ListDataChunks(plain, QX_FOURCC('0', '0', 'd', 'b')).size();
    const size_t audioChunks = bench::ListDataChunks(plain, QX_FOURCC('0', '1', 'w', 'b')).size();
    bench::WarmPageCache(plain);

    MeasureOpens(driver, file, true, 1);  // warm-up
    const OpenFigures video = MeasureOpens(driver, file, true, reps);
    const OpenFigures audio = MeasureOpens(driver, file, false, reps);
    std::vector<double> ffprobe;
    for (int rep = 0; rep < reps; ++rep) {
        const double s = bench::TimeCommand(
            {"ffprobe", "-v", "error", "-show_entries", "stream=nb_frames", file});
        if (s < 0) bench::Fail("ffprobe failed");
        ffprobe.push_back(s * 1e3);
    }
    if (video.frames != static_cast<int64_t>(frameChunks)) {
        bench::Fail("the plug-in describes " + std::to_string(video.frames) +
                    " frames, the file holds " + std::to_string(frameChunks));
    }

    const double ffprobeMs = bench::Median(ffprobe);
    std::printf("open.frames=%zu\n", frameChunks);
    std::printf("open.audio_chunks=%zu\n", audioChunks);
    std::printf("open.reps=%d\n", reps);
    std::printf("open.video_ms=%.2f\n", bench::Median(video.milliseconds));
    std::printf("open.audio_ms=%.2f\n", bench::Median(audio.milliseconds));
    std::printf("open.ffprobe_ms=%.2f\n", ffprobeMs);
    std::printf("open.ratio_video=%.3f\n", bench::Median(video.milliseconds) / ffprobeMs);
    std::printf("open.ratio_audio=%.3f\n", bench::Median(audio.milliseconds) / ffprobeMs);
    std::printf("open.video_retained_bytes=%lld\n", static_cast<long long>(video.retained));
    std::printf("open.video_peak_bytes=%lld\n", static_cast<long long>(video.peak));
    std::printf("open.video_retained_per_frame=%.2f\n",
                static_cast<double>(video.retained) / static_cast<double>(frameChunks));
    std::printf("open.video_peak_per_frame=%.2f\n",
                static_cast<double>(video.peak) / static_cast<double>(frameChunks));
    std::printf("open.video_allocations=%llu\n",
                static_cast<unsigned long long>(video.allocations));
    std::printf("open.video_leaked_bytes=%lld\n", static_cast<long long>(video.leaked));
    std::printf("open.audio_retained_bytes=%lld\n", static_cast<long long>(audio.retained));
    std::printf("open.audio_peak_bytes=%lld\n", static_cast<long long>(audio.peak));
    std::printf("open.audio_retained_per_chunk=%.2f\n",
                static_cast<double>(audio.retained) / static_cast<double>(audioChunks));
    std::printf("open.audio_peak_per_chunk=%.2f\n",
                static_cast<double>(audio.peak) / static_cast<double>(audioChunks));
    std::printf("open.audio_allocations=%llu\n",
                static_cast<unsigned long long>(audio.allocations));
    std::printf("open.audio_leaked_bytes=%lld\n", static_cast<long long>(audio.leaked));
    return 0;
}
