// POSIX implementation of the platform layer (Linux).
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/ReadError.h"
#include "platform/Seams.h"
#include "platform/platform.h"

namespace platform {

struct FileObject {
    int fd;
    int64_t position;  // remembered offset for the seek-and-read pair
};

struct MappingObject {
    int fd;  // a duplicate, so the mapping outlives CloseFile as on Windows
    int64_t size;
    // The first view that could not read what the file held (see FirstViewFailure).
    bool failed;
    uint64_t failedAt;
    uint32_t failedError;
};

namespace {
thread_local uint32_t lastError = 0;

// The Win32 codes this layer reports where Windows would report them, so that
// a logged "last error" means the same on both targets.
enum Win32Error : uint32_t {
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorHandleEof = 38,
    kErrorInvalidParameter = 87,
    kErrorFileInvalid = 1006,
};

// Closes the descriptor that a file or mapping object holds and frees the object.
template <typename Object>
void CloseObject(Object* object) {
    if (object == nullptr) return;
    ::close(object->fd);
    delete object;
}
}  // namespace

FileHandle OpenFileForSharedRead(const char16_t* path) {
    const std::string utf8 = Utf16ToUtf8(path);
    // Non-blocking first: the open of a FIFO waits for a writer, and anyone
    // who can drop a file named *.avi into a folder could freeze the host.
    const int fd = ::open(utf8.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        lastError = static_cast<uint32_t>(errno);
        return nullptr;
    }
    struct stat info {};
    errno = 0;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        lastError = static_cast<uint32_t>(errno != 0 ? errno : EISDIR);
        ::close(fd);
        return nullptr;
    }
    // A regular file: reads block as reads of a file do.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        lastError = static_cast<uint32_t>(errno);
        ::close(fd);
        return nullptr;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    auto* file = new (std::nothrow) FileObject{fd, 0};
    if (file == nullptr) ::close(fd);
    return file;
}

void CloseFile(FileHandle file) { CloseObject(file); }

bool GetFileSize(FileHandle file, int64_t* size) {
    struct stat info {};
    if (file == nullptr || ::fstat(file->fd, &info) != 0) return false;
    *size = static_cast<int64_t>(info.st_size);
    return true;
}

uint32_t AllocationGranularity() { return 65536; }

MappingHandle CreateReadOnlyMapping(FileHandle file) {
    int64_t size = 0;
    if (file == nullptr || !GetFileSize(file, &size)) {
        lastError = kErrorInvalidHandle;
        return nullptr;
    }
    if (size == 0) {
        lastError = kErrorFileInvalid;  // an empty file cannot be mapped
        return nullptr;
    }
    const int fd = ::fcntl(file->fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        lastError = static_cast<uint32_t>(errno);
        return nullptr;
    }
    auto* mapping = new (std::nothrow) MappingObject{fd, size, false, 0, 0};
    if (mapping == nullptr) ::close(fd);
    return mapping;
}

void CloseMapping(MappingHandle mapping) { CloseObject(mapping); }

uint32_t LastError() { return lastError; }

const uint8_t* MapView(MappingHandle mapping, uint64_t offset, uint32_t length,
                       uint32_t unusedPrefix) {
    if (mapping == nullptr || length == 0 || offset > static_cast<uint64_t>(mapping->size) ||
        length > static_cast<uint64_t>(mapping->size) - offset) {
        lastError = kErrorInvalidParameter;  // beyond the mapping
        return nullptr;
    }
    // A view is a positioned read into a buffer this layer owns, not an mmap:
    // another process may truncate the file, and a mapped page past the new
    // end would raise SIGBUS in the host; a read simply comes up short.
    auto* bytes = static_cast<uint8_t*>(std::malloc(length));
    if (bytes == nullptr) {
        lastError = kErrorNotEnoughMemory;
        return nullptr;
    }
    // Only what the caller will read is copied: consecutive views of a walk
    // overlap by their alignment prefix, which would otherwise be read twice.
    uint32_t done = unusedPrefix < length ? unusedPrefix : length;
    const bool injected = seams::ReadFails();
    while (done < length) {
        const ssize_t got = injected ? (errno = EIO, -1)
                                     : ::pread(mapping->fd, bytes + done, length - done,
                                               static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {  // error, or the file shrank under us
            lastError = got == 0 ? uint32_t{kErrorHandleEof} : static_cast<uint32_t>(errno);
            if (!mapping->failed) {
                mapping->failed = true;
                mapping->failedAt = offset + done;
                mapping->failedError = got == 0 ? 0 : static_cast<uint32_t>(errno);
            }
            std::free(bytes);
            return nullptr;
        }
        done += static_cast<uint32_t>(got);
    }
    seams::CountView(length, unusedPrefix);
    return bytes;
}

bool FirstViewFailure(MappingHandle mapping, uint64_t* offset, uint32_t* systemError) {
    if (mapping == nullptr || !mapping->failed) return false;
    *offset = mapping->failedAt;
    *systemError = mapping->failedError;
    return true;
}

uint64_t NextDataOffset(MappingHandle mapping, uint64_t offset) {
    if (mapping == nullptr || offset >= static_cast<uint64_t>(mapping->size)) return offset;
    const off_t found = ::lseek(mapping->fd, static_cast<off_t>(offset), SEEK_DATA);
    if (found >= 0) {
        return static_cast<uint64_t>(found) > offset ? static_cast<uint64_t>(found) : offset;
    }
    // ENXIO: nothing but a hole up to the end. Any other error (a file system
    // without SEEK_DATA): no knowledge, so no skip.
    return errno == ENXIO ? static_cast<uint64_t>(mapping->size) : offset;
}

void UnmapView(const uint8_t* view) {
    if (view == nullptr) return;
    std::free(const_cast<uint8_t*>(view));
}

bool SeekFromBegin(FileHandle file, int64_t offset) {
    // The low half of -1 with a high half of -1 is the one position the Win32
    // rule reads as a failure; a negative offset fails there with an error too.
    if (file == nullptr || offset < 0) return false;
    file->position = offset;
    return true;
}

uint32_t ReadAtPosition(FileHandle file, void* destination, uint32_t count) {
    if (file == nullptr) return 0;
    uint32_t done = 0;
    auto* bytes = static_cast<uint8_t*>(destination);
    if (seams::ReadFails()) {
        KeepReadError(EIO);
        return 0;
    }
    while (done < count) {
        const size_t chunk = count - done > 0x40000000u ? 0x40000000u : count - done;
        const ssize_t got =
            ::pread(file->fd, bytes + done, chunk, static_cast<off_t>(file->position + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) KeepReadError(static_cast<uint32_t>(errno));
        if (got <= 0) break;
        done += static_cast<uint32_t>(got);
    }
    file->position += done;
    return done;
}

// "Created suspended": the thread waits at a start gate that ResumeThread opens.
struct ThreadObject {
    pthread_t thread;
    ThreadProcedure procedure;
    void* argument;
    pthread_mutex_t gateLock;
    pthread_cond_t gateOpened;
    bool open;
};

namespace {
void* ThreadTrampoline(void* raw) {
    auto* object = static_cast<ThreadObject*>(raw);
    // SIGPIPE would end the whole host for a write to a pipe nobody reads;
    // blocked, the write fails with EPIPE instead.
    sigset_t brokenPipe;
    sigemptyset(&brokenPipe);
    sigaddset(&brokenPipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &brokenPipe, nullptr);
    pthread_mutex_lock(&object->gateLock);
    while (!object->open) pthread_cond_wait(&object->gateOpened, &object->gateLock);
    pthread_mutex_unlock(&object->gateLock);
    // The procedure may release `object` itself (DetachThread): not touched after.
    object->procedure(object->argument);
    return nullptr;
}

// The stack a thread gets. On Windows `stackBytes` is only the commit: the
// thread reserves the process's default (1 MiB for most hosts) and the host's
// callbacks, which run on it, may use all of that. A pthread's size is its
// whole stack, so it gets at least that 1 MiB, and never less than the
// system's default for a thread (the stack limit, usually 8 MiB; address
// space only, pages are touched as they are used).
size_t ReservedStackBytes(const pthread_attr_t& fresh, uint32_t stackBytes) {
    constexpr size_t kWindowsDefaultReserve = size_t{1} << 20;
    size_t stack = stackBytes > kWindowsDefaultReserve ? stackBytes : kWindowsDefaultReserve;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    stack *= 4;  // sanitizer instrumentation needs a larger frame budget
#endif
    size_t systemDefault = 0;
    if (pthread_attr_getstacksize(&fresh, &systemDefault) == 0 && systemDefault > stack)
        stack = systemDefault;
    if (stack < static_cast<size_t>(PTHREAD_STACK_MIN)) stack = PTHREAD_STACK_MIN;
    return stack;
}
}  // namespace

ThreadHandle CreateSuspendedThread(ThreadProcedure procedure, void* argument, uint32_t stackBytes,
                                   uint32_t* threadId) {
    *threadId = 0;
    if (seams::ThreadCreationFails()) {
        lastError = EAGAIN;  // what pthread_create says at the thread limit
        return nullptr;
    }
    auto* object = new (std::nothrow) ThreadObject();
    if (object == nullptr) {
        lastError = ENOMEM;
        return nullptr;
    }
    object->procedure = procedure;
    object->argument = argument;
    object->open = false;
    pthread_mutex_init(&object->gateLock, nullptr);
    pthread_cond_init(&object->gateOpened, nullptr);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, ReservedStackBytes(attributes, stackBytes));
    const int failed = pthread_create(&object->thread, &attributes, ThreadTrampoline, object);
    pthread_attr_destroy(&attributes);
    if (failed != 0) {
        lastError = static_cast<uint32_t>(failed);
        pthread_cond_destroy(&object->gateOpened);
        pthread_mutex_destroy(&object->gateLock);
        delete object;
        return nullptr;
    }
    static std::atomic<uint32_t> nextId{1};
    *threadId = nextId.fetch_add(1);
    return object;
}

void ResumeThread(ThreadHandle thread) {
    if (thread == nullptr) return;
    pthread_mutex_lock(&thread->gateLock);
    thread->open = true;
    pthread_cond_signal(&thread->gateOpened);
    pthread_mutex_unlock(&thread->gateLock);
}

// The highest priority of the normal scheduling class, as time-critical is on
// Windows; an unprivileged process is refused and carries on unchanged.
void RaiseCurrentThreadToTimeCritical() {
    const int ignored = setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -20);
    (void)ignored;
}

bool IsCurrentThread(ThreadHandle thread) {
    return thread != nullptr && pthread_equal(thread->thread, pthread_self()) != 0;
}

void WaitForThread(ThreadHandle thread) {
    if (thread == nullptr) return;
    pthread_join(thread->thread, nullptr);
}

void CloseThread(ThreadHandle thread) {
    if (thread == nullptr) return;
    pthread_cond_destroy(&thread->gateOpened);
    pthread_mutex_destroy(&thread->gateLock);
    delete thread;
}

void DetachThread(ThreadHandle thread) {
    if (thread == nullptr) return;
    pthread_detach(thread->thread);
    CloseThread(thread);
}

// ---- debug folder ----

namespace {
std::string HomeFolder() {
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr) {
        return std::string();
    }
    return found->pw_dir;
}

// The folder is taken from the password database, never from the
// environment: a fixed folder under /tmp would let another user plant links.
std::string FolderPath() {
    std::string moved = seams::DebugFolder();
    if (!moved.empty()) return moved;
    static const std::string fixed = [] {
        const std::string home = HomeFolder();
        return home.empty() ? std::string() : home + "/tovraDebug/";
    }();
    return fixed;
}

std::string PathOf(DebugPath which) {
    const std::string folder = FolderPath();
    if (folder.empty()) return std::string();
    switch (which) {
        case DebugPath::Folder:
            return folder;
        case DebugPath::LogFile:
            return folder + "Log.txt";
        case DebugPath::FallbackFile:
            return folder + "LoggingError.txt";
        case DebugPath::AssertMarker:
            return folder + "ShowAssertDialog.txt";
    }
    return std::string();
}
}  // namespace

bool DebugPathExists(DebugPath which) {
    const std::string path = PathOf(which);
    return !path.empty() && ::access(path.c_str(), F_OK) == 0;
}

bool DebugPathWritable(DebugPath which) {
    const std::string path = PathOf(which);
    return !path.empty() && ::access(path.c_str(), W_OK) == 0;
}

namespace {
// Writers of this process take turns here before the file lock, so that two
// streams logging at once queue instead of refusing each other.
std::mutex appendLock;
constexpr long kLockPatienceNs = 200L * 1000 * 1000;
constexpr long kLockPollNs = 500L * 1000;

long NanosecondsSince(const timespec& start) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec);
}

// The exclusive lock, waited for at most kLockPatienceNs: another process (or
// a program holding the file) gets that long to finish its line.
bool LockWithinPatience(int fd) {
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (NanosecondsSince(start) >= kLockPatienceNs) return false;
        const timespec pause{0, kLockPollNs};
        ::nanosleep(&pause, nullptr);
    }
}

// One descriptor of our own, held for the log: a host that has used up its
// descriptors (or the system's) would otherwise lose every line it most
// needs, the refusals of its opens included. When the log cannot be opened
// for that reason, this one is closed, the open tried once more and the
// descriptor taken back afterwards. Made at the first line; guarded by
// appendLock.
int reservedDescriptor = -1;

void TakeReserve() {
    if (reservedDescriptor < 0) reservedDescriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

int OpenLog(const std::string& path, int flags) {
    TakeReserve();
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0 && (errno == EMFILE || errno == ENFILE) && reservedDescriptor >= 0) {
        ::close(reservedDescriptor);
        reservedDescriptor = -1;
        fd = ::open(path.c_str(), flags, 0644);
    }
    return fd;
}
}  // namespace

bool AppendLineExclusively(DebugPath which, const char* line, bool create) {
    const std::string path = PathOf(which);
    if (path.empty()) return false;
    std::lock_guard<std::mutex> turn(appendLock);
    int flags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    if (create) flags |= O_CREAT;
    const int fd = OpenLog(path, flags);
    if (fd < 0) return false;
    struct stat info {};
    // Without sharing: a second opener (another thread or program) waits.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !LockWithinPatience(fd) ||
        ::fstat(fd, &info) != 0) {
        ::close(fd);
        TakeReserve();
        return false;
    }
    // One write of the whole line; a short one (a full disk, a file-size
    // limit) is cut back off, so that no reader ever sees half a line.
    const size_t length = std::strlen(line);
    ssize_t wrote = -1;
    do {
        wrote = ::write(fd, line, length);
    } while (wrote < 0 && errno == EINTR);
    const bool whole = wrote == static_cast<ssize_t>(length);
    if (!whole && wrote > 0) {
        const int ignored = ::ftruncate(fd, info.st_size);
        (void)ignored;
    }
    ::close(fd);
    TakeReserve();  // back, now that the log's descriptor is free again
    return whole;
}

std::string DebugPathText(DebugPath which) { return PathOf(which); }

namespace {
std::atomic<uint64_t> standardOutputDrops{0};

// Writes the whole line to standard output, a pipe or a socket, or nothing:
// never waits for a reader. A pipe is written through a description of our
// own, opened non-blocking, so that the host's (and its flags) stay as they
// are; a line of at most PIPE_BUF bytes then goes in whole or not at all.
bool WriteToPipeWithoutWaiting(const struct stat& output, const char* text, size_t length) {
    ssize_t wrote = -1;
    if (S_ISSOCK(output.st_mode)) {
        do {
            wrote = ::send(1, text, length, MSG_DONTWAIT | MSG_NOSIGNAL);
        } while (wrote < 0 && errno == EINTR);
        return wrote == static_cast<ssize_t>(length);
    }
    const int own = ::open("/proc/self/fd/1", O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (own >= 0) {
        do {
            wrote = ::write(own, text, length);
        } while (wrote < 0 && errno == EINTR);
        ::close(own);
        return wrote == static_cast<ssize_t>(length);
    }
    if (errno == ENXIO) return false;  // no reader at all
    // No description of our own to be had (no /proc, no descriptor left):
    // written only when the pipe has room for it now.
    pollfd room{1, POLLOUT, 0};
    if (::poll(&room, 1, 0) != 1 || (room.revents & POLLOUT) == 0 || length > PIPE_BUF)
        return false;
    do {
        wrote = ::write(1, text, length);
    } while (wrote < 0 && errno == EINTR);
    return wrote == static_cast<ssize_t>(length);
}
}  // namespace

uint64_t StandardOutputLinesDropped() { return standardOutputDrops.load(); }

void WriteStandardOutput(const char* text) {
    // SIGPIPE blocked around the write, and one that this write raised taken
    // back before the mask is restored: the host's own disposition of the
    // signal never sees it.
    sigset_t brokenPipe;
    sigset_t previous;
    sigset_t pending;
    sigemptyset(&brokenPipe);
    sigaddset(&brokenPipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &brokenPipe, &previous);
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    struct stat output {};
    if (::fstat(1, &output) == 0 && (S_ISFIFO(output.st_mode) || S_ISSOCK(output.st_mode))) {
        // A pipe or socket may be full, its reader gone to sleep: never
        // waited for, and never through stdout's buffer, whose lock a host
        // thread blocked in that same pipe would hold. The host's own lines
        // still buffered there come after ours.
        if (!WriteToPipeWithoutWaiting(output, text, std::strlen(text)))
            standardOutputDrops.fetch_add(1);
    } else {
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
    if (!alreadyPending && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
        const timespec noWait{0, 0};
        ::sigtimedwait(&brokenPipe, nullptr, &noWait);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void LocalTimeNow(std::tm* local, unsigned short* milliseconds) {
    timeval now{};
    gettimeofday(&now, nullptr);
    const time_t seconds = now.tv_sec;
    localtime_r(&seconds, local);
    *milliseconds = static_cast<unsigned short>(now.tv_usec / 1000);
}

// ---- assertion prompt ----

namespace {
// Only a host in the foreground of its terminal is asked; a background
// process reading the terminal would be stopped by SIGTTIN.
PromptAnswer TerminalPrompt(const char* caption, const char* message) {
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0) return PromptAnswer::Ignore;
    PromptAnswer answer = PromptAnswer::Ignore;
    if (tcgetpgrp(tty) == getpgrp()) {
        FILE* terminal = fdopen(tty, "r+");
        if (terminal != nullptr) {
            std::fprintf(terminal, "\n=== %s ===\n%s\n[A]bort, [R]etry, [I]gnore (Enter = Abort)? ",
                         caption, message);
            std::fflush(terminal);
            char reply[32] = {0};
            if (std::fgets(reply, sizeof reply, terminal) != nullptr) {
                const char c = reply[0];
                if (c == '\n' || c == 'a' || c == 'A') answer = PromptAnswer::Abort;
                if (c == 'r' || c == 'R') answer = PromptAnswer::Retry;
            }
            std::fclose(terminal);
            return answer;
        }
    }
    ::close(tty);
    return answer;
}
}  // namespace

PromptAnswer ShowAssertPrompt(const char* caption, const char* message) {
    const seams::PromptHook hook = seams::AssertPrompt();
    if (hook != nullptr) return hook(caption, message);
    return TerminalPrompt(caption, message);
}

void BreakIntoDebugger() { ::raise(SIGTRAP); }

void ExitProcess(int code) { std::exit(code); }

}  // namespace platform
