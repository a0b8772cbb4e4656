// What every benchmark program shares: a clock, order statistics, the host
// (the shared scripted one, support/FakeHost.h) and its passes of requests,
// the loaded plug-in, a plain file reader for the reference loops, a walk over the AVI
// file's data chunks (independent of the plug-in's own parsing), and, on Linux,
// timing of an external command such as ffmpeg.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "qxdriver.h"
#include "support/FakeHost.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace bench {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The value below which `fraction` of the values lie (nearest rank).
inline double Quantile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const double rank = fraction * static_cast<double>(values.size() - 1);
    return values[static_cast<size_t>(rank + 0.5)];
}
inline double Median(const std::vector<double>& values) { return Quantile(values, 0.5); }
inline double Best(const std::vector<double>& seconds) {
    return seconds.empty() ? 0.0 : *std::min_element(seconds.begin(), seconds.end());
}

// One pass of requests, prepared before the worker starts and handed out by
// the shared scripted host (support/FakeHost.h) with an atomic index, never
// blocking and recording nothing; its hooks count the deliveries, and the
// last delivery ends the pass. A benchmark's own check of a delivered
// request is its override of Check.
struct RequestPass {
    std::vector<SampleRequest> requests;
    std::atomic<size_t> delivered{0};
    std::atomic<size_t> wrongDurations{0};
    bool timestamps = false;  // record acquire and deliver times per request
    std::vector<Clock::time_point> acquiredAt;
    std::vector<Clock::time_point> deliveredAt;

    RequestPass() = default;
    RequestPass(const RequestPass&) = delete;
    RequestPass& operator=(const RequestPass&) = delete;
    virtual ~RequestPass() = default;

    void Prepare(size_t count, bool withTimestamps) {
        requests.resize(count);
        timestamps = withTimestamps;
        if (timestamps) {
            acquiredAt.resize(count);
            deliveredAt.resize(count);
        }
    }
    // Hands the prepared requests to `stream`'s host, this pass's hooks on it.
    void Attach(testsupport::FakeStream& stream) {
        stream.Prepare(requests.data(), requests.size());
        stream.hookData = this;
        stream.onAcquire = timestamps ? OnAcquire : nullptr;
        stream.onSetDuration = OnSetDuration;
        stream.onDeliver = OnDeliver;
    }
    // Called with every delivered request, `i` its index in the pass.
    virtual void Check(const SampleRequest& /*request*/, size_t /*i*/) {}

    // Waits for the last delivery and returns the seconds from `start` to it.
    double SecondsFrom(Clock::time_point start) {
        std::unique_lock<std::mutex> hold(lock_);
        finished_.wait(hold, [&] { return done_; });
        return std::chrono::duration<double>(lastDelivery_ - start).count();
    }
    // Microseconds from the return of acquire to the call of deliver.
    void AppendLatencies(std::vector<double>* latencies) const {
        for (size_t i = 0; i < requests.size(); ++i) {
            latencies->push_back(
                std::chrono::duration<double, std::micro>(deliveredAt[i] - acquiredAt[i]).count());
        }
    }

private:
    static RequestPass& Of(testsupport::FakeStream& stream) {
        return *static_cast<RequestPass*>(stream.hookData);
    }
    size_t IndexOf(const SampleRequest* request) const {
        return static_cast<size_t>(request - requests.data());
    }
    static void OnAcquire(testsupport::FakeStream& stream, SampleRequest* request) {
        RequestPass& pass = Of(stream);
        pass.acquiredAt[pass.IndexOf(request)] = Clock::now();
    }
    static void OnSetDuration(testsupport::FakeStream& stream, SampleRequest* request,
                              int64_t duration) {
        if (duration != request->end - request->start) Of(stream).wrongDurations.fetch_add(1);
    }
    static void OnDeliver(testsupport::FakeStream& stream, SampleRequest* request) {
        RequestPass& pass = Of(stream);
        const size_t i = pass.IndexOf(request);
        pass.Check(*request, i);
        if (pass.timestamps) pass.deliveredAt[i] = Clock::now();
        if (pass.delivered.fetch_add(1) + 1 == pass.requests.size()) {
            const Clock::time_point now = Clock::now();  // the end of the pass
            std::lock_guard<std::mutex> hold(pass.lock_);
            pass.lastDelivery_ = now;
            pass.done_ = true;
            pass.finished_.notify_one();
        }
    }

    Clock::time_point lastDelivery_;
    std::mutex lock_;
    std::condition_variable finished_;
    bool done_ = false;
};

[[noreturn]] inline void Fail(const std::string& message) {
    std::fprintf(stderr, "bench: %s\n", message.c_str());
    std::exit(1);
}

inline std::u16string ToUtf16(const std::string& text) {
    // The benchmark's own file names are ASCII.
    std::u16string out;
    for (unsigned char c : text) {
        if (c >= 0x80) Fail("non-ASCII path: " + text);
        out.push_back(static_cast<char16_t>(c));
    }
    return out;
}

// Gives the calling thread the priority the plug-in's worker asks for, so that
// a reference loop competes for the processor on the same terms. A refusal
// (an unprivileged process) leaves both where the system puts them.
inline void RaiseToWorkerPriority() {
#if defined(_WIN32)
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
#else
    const int ignored = setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -20);
    (void)ignored;
#endif
}

// The plug-in loaded by path, as a host loads it.
class Plugin {
public:
    explicit Plugin(const std::string& path) {
#if defined(_WIN32)
        std::wstring wide(path.begin(), path.end());
        HMODULE module = LoadLibraryW(wide.c_str());
        if (module == nullptr) Fail("cannot load " + path);
        entry_ = reinterpret_cast<qx_entry_fn>(
            reinterpret_cast<void*>(GetProcAddress(module, QX_ENTRY_NAME)));
#else
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) Fail(std::string("cannot load plug-in: ") + dlerror());
        entry_ = reinterpret_cast<qx_entry_fn>(dlsym(module, QX_ENTRY_NAME));
#endif
        if (entry_ == nullptr) Fail("the plug-in has no " QX_ENTRY_NAME);
    }
    // Hands the services over and returns the driver's table.
    const DriverTable& Connect(const HostServices& services) const {
        const DriverTable* table = entry_(&services);
        if (table == nullptr || table->drv_open == nullptr) Fail("no driver table");
        return *table;
    }

private:
    qx_entry_fn entry_ = nullptr;
};

// A file read the plain way: positioned reads of a given length.
class PlainFile {
public:
    explicit PlainFile(const std::string& path) {
#if defined(_WIN32)
        std::wstring wide(path.begin(), path.end());
        handle_ = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) Fail("cannot open " + path);
#else
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) Fail("cannot open " + path);
#endif
    }
    ~PlainFile() {
#if defined(_WIN32)
        CloseHandle(handle_);
#else
        ::close(fd_);
#endif
    }
    PlainFile(const PlainFile&) = delete;
    PlainFile& operator=(const PlainFile&) = delete;

    // Reads up to `count` bytes at `offset`; the number read.
    uint32_t ReadAt(uint64_t offset, void* destination, uint32_t count) {
#if defined(_WIN32)
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(offset);
        if (!SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN)) return 0;
        DWORD got = 0;
        if (!ReadFile(handle_, destination, count, &got, nullptr)) return 0;
        return got;
#else
        uint32_t done = 0;
        while (done < count) {
            const ssize_t got = ::pread(fd_, static_cast<uint8_t*>(destination) + done,
                                        count - done, static_cast<off_t>(offset + done));
            if (got <= 0) break;
            done += static_cast<uint32_t>(got);
        }
        return done;
#endif
    }

    uint64_t Size() {
#if defined(_WIN32)
        LARGE_INTEGER size;
        if (!GetFileSizeEx(handle_, &size)) return 0;
        return static_cast<uint64_t>(size.QuadPart);
#else
        const off_t size = ::lseek(fd_, 0, SEEK_END);
        return size < 0 ? 0 : static_cast<uint64_t>(size);
#endif
    }

private:
#if defined(_WIN32)
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
};

// Reads the whole file once so that the timed passes find it in the page cache.
inline void WarmPageCache(PlainFile& file) {
    const uint64_t size = file.Size();
    std::vector<uint8_t> block(8u << 20);
    for (uint64_t at = 0; at < size;) {
        const uint32_t got = file.ReadAt(at, block.data(), static_cast<uint32_t>(block.size()));
        if (got == 0) break;
        at += got;
    }
}

// One data chunk of the file: where its data starts and how long it is.
struct DataChunk {
    uint64_t offset;
    uint32_t size;
};

inline uint32_t FourCC(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
inline uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Every chunk with code `wanted` inside the 'movi' lists of every RIFF
// segment, in file order. A deliberately plain walk of the well-formed files
// the benchmarks write themselves: it reads each chunk header with one
// positioned read and knows nothing of indexes.
inline std::vector<DataChunk> ListDataChunks(PlainFile& file, uint32_t wanted) {
    const uint64_t size = file.Size();
    std::vector<DataChunk> chunks;
    uint64_t at = 0;
    uint8_t header[12];
    while (at + 12 <= size) {
        if (file.ReadAt(at, header, 12) != 12) break;
        const uint32_t code = FourCC(header);
        const uint32_t length = Le32(header + 4);
        const bool list =
            code == QX_FOURCC('R', 'I', 'F', 'F') || code == QX_FOURCC('L', 'I', 'S', 'T');
        if (list && (FourCC(header + 8) == QX_FOURCC('A', 'V', 'I', ' ') ||
                     FourCC(header + 8) == QX_FOURCC('A', 'V', 'I', 'X') ||
                     FourCC(header + 8) == QX_FOURCC('m', 'o', 'v', 'i'))) {
            at += 12;  // enter the segment or the movie list
            continue;
        }
        if (code == wanted) chunks.push_back({at + 8, length});
        at += 8 + uint64_t{length} + (length & 1u);
    }
    return chunks;
}

#if !defined(_WIN32)
// Runs a command (argv[0] looked up in PATH) with its standard output and
// error sent to /dev/null; wall seconds, or a negative value when it failed.
inline double TimeCommand(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child < 0) return -1.0;
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const double seconds = SecondsSince(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1.0;
}
#endif

// The stream the bench host hands the plug-in, with the host's descriptors:
// a stream of the shared scripted host, whose services (FakeHostServices)
// every benchmark connects with. Left without requests, its acquire
// returns null, so a started worker ends at once (the open benchmarks).
struct HostStream : testsupport::FakeStream {
    HostStream() { Finish(); }
};

inline const uint32_t* OptionsFor(bool video) {
    // Tag and value pairs, ended by a tag of 0.
    static const uint32_t videoOptions[] = {QX_TAG_EYES, 1, 0, 0};
    static const uint32_t audioOptions[] = {QX_TAG_EARS, 1, 0, 0};
    return video ? videoOptions : audioOptions;
}

}  // namespace bench
