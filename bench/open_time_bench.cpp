// How long an open can be made to take: large hostile files built sparse
// where they can be (all zeros after valid headers, which the walk and the
// scan cross 8 bytes at a time), random bytes after valid headers, runs of
// empty chunk headers, and indexes of millions of tiny entries. Each file is
// opened as video and as audio through the export in-process; the time of the
// open and the growth of the process's resident memory are printed per GiB.
//
//   open_time_bench [GiB of zeros, default 4] [folder, default the temp folder]
//                   [--rows 1234567, default all]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
// windows.h first: psapi.h relies on its types.
#include <psapi.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "support/AviBuilder.h"
#include "support/FakeHost.h"
#include "support/Files.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kGiB = 1ull << 30;

long ResidentKiB() {
#if defined(_WIN32)
    PROCESS_MEMORY_COUNTERS counters{};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
    return static_cast<long>(counters.WorkingSetSize / 1024);
#else
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
#endif
}

// CPU seconds the process has used, user and system: unlike the wall clock,
// next to nothing another process's load adds to it.
double ProcessCpuSeconds() {
#if defined(_WIN32)
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
#endif
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

size_t Find(const std::vector<uint8_t>& bytes, const char* code) {
    for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
        if (std::memcmp(&bytes[i], code, 4) == 0) return i;
    }
    return bytes.size();
}

// Writes `head`, then `fill` bytes produced by `writeFill` (or a sparse hole
// when it is empty), then `tail`.
void WriteFile(const std::string& path, const std::vector<uint8_t>& head, uint64_t fill,
               const std::function<void(std::ofstream&, uint64_t)>& writeFill,
               const std::vector<uint8_t>& tail) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(head.data()),
              static_cast<std::streamsize>(head.size()));
    if (writeFill) {
        writeFill(out, fill);
    } else {
        out.seekp(static_cast<std::streamoff>(head.size() + fill));
    }
    out.write(reinterpret_cast<const char*>(tail.data()),
              static_cast<std::streamsize>(tail.size()));
    out.close();
    if (tail.empty() && !writeFill) {  // a hole at the very end still needs the size
        fs::resize_file(path, head.size() + fill);
    }
    // Written back before it is opened: the open's time is its own, not the
    // system's writing back of hundreds of MiB just written (which took the
    // first open of a file to 2.5 x the second).
#if defined(_WIN32)
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        FlushFileBuffers(file);
        CloseHandle(file);
    }
#else
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
}

struct Timing {
    double seconds;
    double cpuSeconds;
    bool opened;
    long residentGrowthKiB;  // while the stream is open
};

Timing TimeOpen(const std::string& path, bool video) {
    const DriverTable* driver = qxVideoDriver_Mirolan(&testsupport::FakeHostServices());
    const uint32_t options[] = {video ? QX_TAG_EYES : QX_TAG_EARS, 1, 0, 0};
    testsupport::FakeStream stream;
    const std::u16string wide = testsupport::ToUtf16(path);
    const long before = ResidentKiB();
    const double cpuBefore = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const int32_t opened = driver->drv_open(&stream.handle, wide.c_str(), options);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpuSeconds = std::max(0.0, ProcessCpuSeconds() - cpuBefore);
    const long growth = ResidentKiB() - before;
    if (opened != 0) driver->drv_close(&stream.handle);
    return {seconds, cpuSeconds, opened != 0, growth};
}

// The header list of a file with one video stream of 4x2 32-bit frames and
// one 16-bit stereo audio stream; `inVideo` and `inAudio` add records to the
// end of each stream's list. Leaves the RIFF list open and returns its start.
uint64_t TwoStreamHeaders(testsupport::AviBuilder& avi, uint32_t frameBytes,
                          const std::function<void()>& inVideo,
                          const std::function<void()>& inAudio) {
    const uint64_t riff = avi.OpenList("RIFF", "AVI ");
    const uint64_t hdrl = avi.OpenList("LIST", "hdrl");
    avi.MainHeader(0x10, 1);
    uint64_t strl = avi.OpenList("LIST", "strl");
    avi.StreamHeader("vids");
    avi.Bitmap(4, 2, 32, 0, frameBytes);
    if (inVideo) inVideo();
    avi.Close(strl);
    strl = avi.OpenList("LIST", "strl");
    avi.StreamHeader("auds");
    avi.WaveFormat(2, 16);
    if (inAudio) inAudio();
    avi.Close(strl);
    avi.Close(hdrl);
    return riff;
}

double worstPerGiB = 0;
std::string worstCase;

// Prints the row of each open (video, then audio) of the file at `path`. With
// a `key`, also prints key=value lines for the benchmark report, the time per
// GiB of the file's index (`indexBytes`) among them.
void Report(const std::string& name, const std::string& path, const char* key = nullptr,
            uint64_t indexBytes = 0) {
    const double gib = static_cast<double>(fs::file_size(path)) / static_cast<double>(kGiB);
    std::string keys;
    for (bool video : {true, false}) {
        const Timing t = TimeOpen(path, video);
        const double perGiB = t.seconds / gib;
        std::printf("| %s | %s | %.2f | %s | %.2f | %.2f | %.2f | %ld |\n", name.c_str(),
                    video ? "video" : "audio", gib, t.opened ? "served" : "refused", t.seconds,
                    perGiB, t.cpuSeconds, t.residentGrowthKiB / 1024);
        std::fflush(stdout);
        if (perGiB > worstPerGiB) {
            worstPerGiB = perGiB;
            worstCase = name + (video ? " (video)" : " (audio)");
        }
        if (key && indexBytes) {
            const double indexGiB = static_cast<double>(indexBytes) / static_cast<double>(kGiB);
            char line[256];
            std::snprintf(line, sizeof line,
                          "open_time.%s.%s_s=%.3f\nopen_time.%s.%s_cpu_s=%.3f\n"
                          "open_time.%s.%s_s_per_index_gib=%.2f\nopen_time.%s.%s_served=%d\n",
                          key, video ? "video" : "audio", t.seconds, key, video ? "video" : "audio",
                          t.cpuSeconds, key, video ? "video" : "audio", t.seconds / indexGiB, key,
                          video ? "video" : "audio", t.opened ? 1 : 0);
            keys += line;
        }
    }
    if (key && indexBytes) {
        std::printf("open_time.%s.file_bytes=%llu\nopen_time.%s.index_bytes=%llu\n%s", key,
                    static_cast<unsigned long long>(fs::file_size(path)), key,
                    static_cast<unsigned long long>(indexBytes), keys.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t zeroGiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 4;
    const std::string folder =
        argc > 2 ? std::string(argv[2]) + "/" : fs::temp_directory_path().string() + "/";
    const std::string path = folder + "mirolan-open-bench.avi";
    std::string rows = "1234567";
    for (int i = 3; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--rows") == 0) rows = argv[i + 1];
    }
    const auto runs = [&](char row) { return rows.find(row) != std::string::npos; };

    testsupport::AviLayout layout;
    layout.width = 4;
    layout.height = 2;
    layout.frames = 3;
    const testsupport::BuiltAvi valid = testsupport::BuildAvi(layout);

    std::printf(
        "| file | opened as | GiB | result | open s | s per GiB | CPU s | RSS growth while open, "
        "MiB |\n");
    std::printf("|---|---|---:|---|---:|---:|---:|---:|\n");

    // 1. Valid file, then zeros to the end: the scan after the index crosses
    //    them one empty 8-byte chunk header at a time.
    if (runs('1')) {
        WriteFile(path, valid.bytes, zeroGiB * kGiB, nullptr, {});
        Report("valid file + " + std::to_string(zeroGiB) + " GiB of zeros (scan)", path);
    }

    // 2. Zeros in 'movi' before the frames: the header walk crosses them the
    //    same way before it reaches the index. The builder leaves a 'JUNK'
    //    chunk over a hole; its header is zeroed so the walk cannot skip it.
    if (runs('2')) {
        testsupport::AviLayout holed = layout;
        holed.junkBeforeFrames =
            static_cast<uint32_t>(std::min<uint64_t>(zeroGiB * kGiB, 0xFFFFFFF0u));
        testsupport::BuiltAvi built = testsupport::BuildAvi(holed);
        const size_t junk = Find(built.bytes, "JUNK");
        std::memset(&built.bytes[junk], 0, 8);
        WriteFile(path, built.bytes, built.holeSize, nullptr, built.tail);
        Report("zeros inside 'movi' before the frames (walk)", path);
    }

    // 3. Random bytes after the headers: chunk sizes are random, so the steps
    //    are long; written for real, so 1 GiB.
    if (runs('3')) {
        std::mt19937_64 random(7);
        WriteFile(path, valid.bytes, kGiB,
                  [&](std::ofstream& out, uint64_t n) {
                      std::vector<uint64_t> block(1 << 16);
                      for (uint64_t done = 0; done < n; done += block.size() * 8) {
                          for (auto& word : block) word = random();
                          out.write(reinterpret_cast<const char*>(block.data()),
                                    static_cast<std::streamsize>(block.size() * 8));
                      }
                  },
                  {});
        Report("valid file + 1 GiB of random bytes", path);
    }

    // 4. Runs of empty media chunk headers after the headers: '00db' and
    //    '01wb' with size 0, each costing the scan 8 bytes and the video
    //    reader one frame.
    for (const char* code : {"00db", "01wb"}) {
        if (!runs('4')) break;
        std::vector<uint8_t> header(8, 0);
        std::memcpy(header.data(), code, 4);
        WriteFile(path, valid.bytes, kGiB / 4,
                  [&](std::ofstream& out, uint64_t n) {
                      std::vector<uint8_t> block;
                      for (int i = 0; i < 8192; ++i)
                          block.insert(block.end(), header.begin(), header.end());
                      for (uint64_t done = 0; done < n; done += block.size()) {
                          out.write(reinterpret_cast<const char*>(block.data()),
                                    static_cast<std::streamsize>(block.size()));
                      }
                  },
                  {});
        Report(std::string("valid file + 0.25 GiB of empty '") + code + "' headers", path);
    }

    // 5. Indexes of millions of tiny entries: 16 million 8-byte entries of
    //    1x1 frames (4 bytes) and of 1-byte audio chunks.
    if (runs('5')) {
        testsupport::AviLayout tiny = layout;
        tiny.width = 1;
        tiny.height = 1;
        tiny.frames = 1;
        tiny.channels = 1;
        tiny.bitsPerSample = 8;
        tiny.samplesPerChunk = 1;
        std::vector<uint8_t> head = testsupport::BuildAvi(tiny).bytes;
        const uint32_t entries = 16u << 20;
        // Keep everything before the first index; append one 'ix00' and one
        // 'ix01' of `entries` entries each, all pointing at the first frame.
        const size_t ix00 = Find(head, "ix00");
        std::vector<uint8_t> prefix(head.begin(),
                                    head.begin() + static_cast<std::ptrdiff_t>(ix00 + 32));
        const uint32_t firstEntry = head[ix00 + 32] | (head[ix00 + 33] << 8) |
                                    (head[ix00 + 34] << 16) |
                                    (static_cast<uint32_t>(head[ix00 + 35]) << 24);
        Put32(prefix, ix00 + 4, 24 + 8 * entries);  // chunk size
        Put32(prefix, ix00 + 12, entries);
        const size_t avih = Find(prefix, "avih") + 8;
        Put32(prefix, avih + 16, entries);  // dwTotalFrames
        std::vector<uint8_t> audioIndex(prefix.begin() + static_cast<std::ptrdiff_t>(ix00),
                                        prefix.begin() + static_cast<std::ptrdiff_t>(ix00 + 32));
        std::memcpy(audioIndex.data(), "ix01", 4);
        std::memcpy(audioIndex.data() + 16, "01wb", 4);
        WriteFile(path, prefix, 0,
                  [&](std::ofstream& out, uint64_t) {
                      for (int pass = 0; pass < 2; ++pass) {
                          if (pass == 1) {
                              out.write(reinterpret_cast<const char*>(audioIndex.data()), 32);
                          }
                          const uint32_t size = pass == 0 ? 4u : 1u;
                          std::vector<uint32_t> block;
                          for (int i = 0; i < 65536; ++i) {
                              block.push_back(firstEntry);
                              block.push_back(size);
                          }
                          for (uint32_t done = 0; done < entries; done += 65536) {
                              out.write(reinterpret_cast<const char*>(block.data()),
                                        static_cast<std::streamsize>(block.size() * 4));
                          }
                      }
                  },
                  {});
        Report("'ix00' and 'ix01' of 16 Mi tiny entries each", path);
    }

    // 6. An 'idx1' after the first 'movi' list whose 16 Mi entries list runs
    //    of 4 chunks (4 empty '01wb' chunks, then an empty 'JUNK' it leaves
    //    out): every chunk of every run is checked before the walk may jump it.
    if (runs('6')) {
        constexpr uint32_t kFrame = 32;  // 4x2 pixels of 32 bits
        const uint32_t entries = 16u << 20;
        testsupport::AviBuilder avi;
        const uint64_t riff = TwoStreamHeaders(avi, kFrame, nullptr, nullptr);
        const uint64_t movi = avi.OpenList("LIST", "movi");
        const uint64_t frame = avi.Chunk("00db", kFrame, 1);
        const uint64_t listEnd = avi.Position() + uint64_t{40} * (entries / 4);
        std::vector<uint8_t> head = avi.bytes.data();
        Put32(head, static_cast<size_t>(movi + 4), static_cast<uint32_t>(listEnd - movi - 8));
        const uint64_t fileEnd = listEnd + 8 + 16 * (uint64_t{entries} + 1);
        Put32(head, static_cast<size_t>(riff + 4), static_cast<uint32_t>(fileEnd - 8));
        const uint32_t firstChunk = static_cast<uint32_t>(avi.Position() - (movi + 8));
        WriteFile(path, head, 0,
                  [&](std::ofstream& out, uint64_t) {
                      std::vector<uint32_t> block;
                      for (int i = 0; i < 65536; ++i) {
                          block.insert(block.end(), {0x62773130u, 0u, 0x62773130u, 0u, 0x62773130u,
                                                     0u, 0x62773130u, 0u, 0x4B4E554Au, 0u});
                      }
                      for (uint32_t done = 0; done < entries; done += 4 * 65536) {
                          out.write(reinterpret_cast<const char*>(block.data()),
                                    static_cast<std::streamsize>(block.size() * 4));
                      }
                      const uint32_t idx1[] = {0x31786469u,
                                               16 * (entries + 1),
                                               0x62643030u,
                                               0x10u,
                                               static_cast<uint32_t>(frame - 8 - movi - 8),
                                               kFrame};
                      out.write(reinterpret_cast<const char*>(idx1), sizeof idx1);
                      for (uint32_t done = 0; done < entries; done += 65536) {
                          block.clear();
                          for (uint32_t i = 0; i < 65536; ++i) {
                              const uint32_t k = done + i;
                              block.insert(
                                  block.end(),
                                  {0x62773130u, 0u, firstChunk + 40 * (k / 4) + 8 * (k % 4), 0u});
                          }
                          out.write(reinterpret_cast<const char*>(block.data()),
                                    static_cast<std::streamsize>(block.size() * 4));
                      }
                  },
                  {});
        Report("'idx1' of 16 Mi entries in runs of 4 chunks", path, "idx1_runs",
               16 * (uint64_t{entries} + 1));
    }

    // 7. Another stream's super index of 1 Mi entries (16 MiB), each naming
    //    a place ahead of the served stream's first standard index: every
    //    one could be an index of the served stream that the walk meets first.
    if (runs('7')) {
        constexpr uint32_t kFrame = 32;
        const uint32_t listed = 1u << 20;
        testsupport::AviBuilder avi;
        size_t videoSuper = 0;
        const uint64_t riff = TwoStreamHeaders(
            avi, kFrame,
            [&] {
                videoSuper = static_cast<size_t>(avi.Position());
                avi.bytes.Code("indx").U32(24 + 16);
                avi.bytes.U16(4).U8(0).U8(0).U32(1).Code("00db").U32(0).U32(0).U32(0);
                avi.bytes.U64(0).U32(0).U32(1);
            },
            [&] {
                avi.bytes.Code("indx").U32(24 + 16 * listed);
                avi.bytes.U16(4).U8(0).U8(0).U32(listed).Code("01wb").U32(0).U32(0).U32(0);
                for (uint32_t k = 0; k < listed; ++k) {
                    avi.bytes.U64(16 + 16 * uint64_t{k}).U32(0).U32(0);
                }
            });
        const uint64_t movi = avi.OpenList("LIST", "movi");
        const uint64_t frame = avi.Chunk("00db", kFrame, 1);
        const uint64_t ix = avi.OpenIndex("ix00", "00db", movi);
        avi.IndexEntry(static_cast<uint32_t>(frame - movi), kFrame);
        avi.Close(ix);
        avi.Close(movi);
        avi.Close(riff);
        avi.bytes.PatchU32(videoSuper + 32, static_cast<uint32_t>(ix));
        avi.bytes.PatchU32(videoSuper + 40, 40);
        testsupport::WriteFile(path, avi.bytes.data());
        Report("another stream's super index of 1 Mi entries", path, "other_super",
               16 * uint64_t{listed});
    }

    fs::remove(path);
    std::printf("\nworst open time: %.2f s per GiB (%s)\n", worstPerGiB, worstCase.c_str());
    return 0;
}
