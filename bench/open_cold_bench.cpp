// Open from disk: the time drv_open takes for the video and for the audio of
// a file that is not in the page cache (the file alone is evicted before each
// open with posix_fadvise), against ffprobe on the same file evicted the same
// way (its own binary and libraries warm); the same from the page cache; and
// what an open reads (bytes and read calls, from the process's I/O counters)
// against the bytes of the file's index chunks.
//
// usage: bench_open_cold PLUGIN FILE.avi --label NAME [--reps N] [--no-ffprobe]
// Prints key=value lines under "cold.NAME."; times in milliseconds.
#include <fstream>

#include "bench_common.h"

namespace {

// Drops the file's pages from the page cache (they are clean: the script
// syncs after writing the files).
void Evict(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) bench::Fail("cannot open " + path);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// The process's read counters: bytes passed by read-like calls, and calls.
struct IoCounters {
    uint64_t bytes = 0;
    uint64_t calls = 0;
};
IoCounters ReadCounters() {
    IoCounters counters;
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") counters.bytes = value;
        if (key == "syscr:") counters.calls = value;
    }
    return counters;
}

// The bytes of the file's index chunks ('indx' in the headers, 'ix##' and
// 'idx1'), headers included, found by a plain walk of the RIFF structure.
uint64_t IndexBytes(bench::PlainFile& file) {
    const uint64_t size = file.Size();
    uint64_t total = 0;
    uint64_t at = 0;
    uint8_t header[12];
    while (at + 8 <= size) {
        if (file.ReadAt(at, header, 12) < 8) break;
        const uint32_t code = bench::FourCC(header);
        const uint32_t length = bench::Le32(header + 4);
        if (code == 0 && length == 0) break;  // a zero tail
        const bool list =
            code == QX_FOURCC('R', 'I', 'F', 'F') || code == QX_FOURCC('L', 'I', 'S', 'T');
        if (list) {
            at += 12;  // every list is entered: 'indx' lies inside 'strl'
            continue;
        }
        const bool standard = (code >> 16) == (QX_FOURCC('i', 'x', 0, 0) >> 16);
        if (standard || code == QX_FOURCC('i', 'd', 'x', '1') ||
            code == QX_FOURCC('i', 'n', 'd', 'x')) {
            total += 8 + uint64_t{length};
        }
        at += 8 + uint64_t{length} + (length & 1u);
    }
    return total;
}

struct Opens {
    std::vector<double> milliseconds;
    IoCounters read;  // of the last open
    int64_t frames = 0;
    int64_t samples = 0;
};

Opens MeasureOpens(const DriverTable& driver, const std::string& file, bool video, int reps,
                   bool cold) {
    Opens opens;
    const std::u16string path = bench::ToUtf16(file);
    for (int rep = 0; rep < reps; ++rep) {
        if (cold) Evict(file);
        bench::HostStream stream;
        const IoCounters before = ReadCounters();
        const bench::Clock::time_point start = bench::Clock::now();
        const int32_t opened =
            driver.drv_open(&stream.handle, path.c_str(), bench::OptionsFor(video));
        const double seconds = bench::SecondsSince(start);
        const IoCounters after = ReadCounters();
        if (opened != 1) bench::Fail("drv_open refused " + file);
        opens.milliseconds.push_back(seconds * 1e3);
        // The counters' own read of /proc/self/io is one call of a few hundred bytes.
        opens.read.bytes = after.bytes - before.bytes;
        opens.read.calls = after.calls - before.calls;
        if (video && stream.video.avgFrameDuration > 0) {
            opens.frames = stream.video.duration / stream.video.avgFrameDuration;
        }
        opens.samples = stream.audio.duration;
        driver.drv_close(&stream.handle);
    }
    return opens;
}

std::vector<double> MeasureFfprobe(const std::string& file, int reps, bool cold) {
    std::vector<double> milliseconds;
    for (int rep = 0; rep < reps; ++rep) {
        if (cold) Evict(file);
        const double s = bench::TimeCommand(
            {"ffprobe", "-v", "error", "-show_entries", "stream=nb_frames", file});
        if (s < 0) bench::Fail("ffprobe failed on " + file);
        milliseconds.push_back(s * 1e3);
    }
    return milliseconds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) bench::Fail("usage: bench_open_cold PLUGIN FILE.avi --label NAME [--reps N]");
    const std::string file = argv[2];
    std::string label = "file";
    int reps = 7;
    bool ffprobe = true;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--reps" && i + 1 < argc) {
            reps = std::atoi(argv[++i]);
        } else if (arg == "--label" && i + 1 < argc) {
            label = argv[++i];
        } else if (arg == "--no-ffprobe") {
            ffprobe = false;
        } else {
            bench::Fail("unknown argument " + arg);
        }
    }
    if (reps < 1) bench::Fail("--reps must be at least 1");

    const HostServices& services = testsupport::FakeHostServices();
    const bench::Plugin plugin(argv[1]);
    const DriverTable& driver = plugin.Connect(services);
    bench::PlainFile plain(file);
    const uint64_t indexBytes = IndexBytes(plain);
    const uint64_t fileBytes = plain.Size();

    // Warm-ups: the plug-in's code and ffprobe's binary and libraries.
    MeasureOpens(driver, file, true, 1, false);
    if (ffprobe) MeasureFfprobe(file, 1, false);

    const Opens coldVideo = MeasureOpens(driver, file, true, reps, true);
    const Opens coldAudio = MeasureOpens(driver, file, false, reps, true);
    const Opens warmVideo = MeasureOpens(driver, file, true, reps, false);
    const Opens warmAudio = MeasureOpens(driver, file, false, reps, false);
    const std::string k = "cold." + label + ".";
    std::printf("%sfile_bytes=%llu\n", k.c_str(), static_cast<unsigned long long>(fileBytes));
    std::printf("%sindex_bytes=%llu\n", k.c_str(), static_cast<unsigned long long>(indexBytes));
    std::printf("%sframes=%lld\n", k.c_str(), static_cast<long long>(coldVideo.frames));
    std::printf("%ssamples=%lld\n", k.c_str(), static_cast<long long>(coldAudio.samples));
    std::printf("%sreps=%d\n", k.c_str(), reps);
    const double budget = 2.0 * static_cast<double>(indexBytes) + 1048576.0;
    const struct {
        const char* name;
        const Opens& cold;
        const Opens& warm;
    } media[] = {{"video", coldVideo, warmVideo}, {"audio", coldAudio, warmAudio}};
    for (const auto& m : media) {
        std::printf("%s%s_cold_ms=%.2f\n", k.c_str(), m.name, bench::Median(m.cold.milliseconds));
        std::printf("%s%s_warm_ms=%.2f\n", k.c_str(), m.name, bench::Median(m.warm.milliseconds));
        std::printf("%s%s_read_bytes=%llu\n", k.c_str(), m.name,
                    static_cast<unsigned long long>(m.cold.read.bytes));
        std::printf("%s%s_read_calls=%llu\n", k.c_str(), m.name,
                    static_cast<unsigned long long>(m.cold.read.calls));
        std::printf("%s%s_read_budget_ratio=%.3f\n", k.c_str(), m.name,
                    static_cast<double>(m.cold.read.bytes) / budget);
    }
    if (ffprobe) {
        const std::vector<double> cold = MeasureFfprobe(file, reps, true);
        const std::vector<double> warm = MeasureFfprobe(file, reps, false);
        const double coldMs = bench::Median(cold);
        const double warmMs = bench::Median(warm);
        std::printf("%sffprobe_cold_ms=%.2f\n", k.c_str(), coldMs);
        std::printf("%sffprobe_warm_ms=%.2f\n", k.c_str(), warmMs);
        for (const auto& m : media) {
            std::printf("%s%s_cold_ratio=%.3f\n", k.c_str(), m.name,
                        bench::Median(m.cold.milliseconds) / coldMs);
            std::printf("%s%s_warm_ratio=%.3f\n", k.c_str(), m.name,
                        bench::Median(m.warm.milliseconds) / warmMs);
        }
    }
    return 0;
}
