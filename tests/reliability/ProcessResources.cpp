#include "ProcessResources.h"

#include <thread>

#ifdef _WIN32
// tlhelp32.h needs the types of windows.h first.
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on
#else
#include <dirent.h>
#endif

namespace reliability {

namespace {

#ifndef _WIN32
// Entries of a /proc folder, not counting "." and ".."; the descriptor the
// listing itself holds is subtracted by the caller.
long CountEntries(const char* folder) {
    DIR* listing = ::opendir(folder);
    if (listing == nullptr) return -1;
    long count = 0;
    while (const dirent* entry = ::readdir(listing)) {
        if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(listing);
    return count;
}
#endif

}  // namespace

ResourceCounts CountResources() {
    ResourceCounts counts;
#ifdef _WIN32
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles))
        counts.handles = static_cast<long>(handles);
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 entry{};
        entry.dwSize = sizeof entry;
        long threads = 0;
        const DWORD self = GetCurrentProcessId();
        for (BOOL more = Thread32First(snapshot, &entry); more;
             more = Thread32Next(snapshot, &entry)) {
            if (entry.th32OwnerProcessID == self) ++threads;
        }
        CloseHandle(snapshot);
        counts.threads = threads;
        // The snapshot's own handle was counted above if it was still open.
    }
#else
    const long fds = CountEntries("/proc/self/fd");
    counts.handles = fds < 0 ? -1 : fds - 1;  // the listing's own descriptor
    counts.threads = CountEntries("/proc/self/task");
#endif
    return counts;
}

ResourceCounts WaitForResourcesAt(const ResourceCounts& baseline,
                                  std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    ResourceCounts now = CountResources();
    while ((now.handles != baseline.handles || now.threads != baseline.threads) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        now = CountResources();
    }
    return now;
}

ResourceCounts SteadyResources(std::chrono::milliseconds steadyFor,
                               std::chrono::milliseconds patience) {
    const auto start = std::chrono::steady_clock::now();
    ResourceCounts held = CountResources();
    auto heldSince = start;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now - heldSince >= steadyFor || now - start >= patience) return held;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const ResourceCounts seen = CountResources();
        if (seen.handles != held.handles || seen.threads != held.threads) {
            held = seen;
            heldSince = std::chrono::steady_clock::now();
        }
    }
}

const char* ResourceSource() {
#ifdef _WIN32
    return "GetProcessHandleCount and a Toolhelp32 thread snapshot";
#else
    return "/proc/self/fd and /proc/self/task";
#endif
}

}  // namespace reliability
