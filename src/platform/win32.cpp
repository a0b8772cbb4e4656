// Win32 implementation of the platform layer (the 32-bit DLL).
#include <io.h>
#include <share.h>
#include <sys/timeb.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include "platform/ReadError.h"
#include "platform/Seams.h"
#include "platform/platform.h"

namespace platform {

namespace {
HANDLE AsHandle(const void* object) { return const_cast<HANDLE>(object); }
const wchar_t* AsWide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
}  // namespace

namespace {
bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool StartsWithNoCase(const char16_t* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        const char16_t c = *text >= u'a' && *text <= u'z' ? char16_t(*text - 32) : *text;
        if (c != static_cast<char16_t>(*prefix)) return false;
    }
    return true;
}

// A path in the device namespace ("\\.\" or "\\?\") that names no file on a
// drive, a share or a volume: a pipe, a volume or disk itself, a port. The
// open itself would connect to a pipe's server or reach a raw disk (which
// the file type below calls a disk), so such a path is refused before it.
bool NamesADevice(const char16_t* path) {
    if (!IsSeparator(path[0]) || !IsSeparator(path[1]) || (path[2] != u'.' && path[2] != u'?') ||
        !IsSeparator(path[3])) {
        return false;
    }
    const char16_t* rest = path + 4;
    if (IsLetter(rest[0]) && rest[1] == u':' && IsSeparator(rest[2])) return false;  // C:\...
    if (StartsWithNoCase(rest, "UNC") && IsSeparator(rest[3])) return false;  // UNC\server\...
    if (StartsWithNoCase(rest, "VOLUME{")) {  // Volume{guid}\ and a path on it
        while (*rest != u'\0' && *rest != u'}') ++rest;
        return !(rest[0] == u'}' && IsSeparator(rest[1]) && rest[2] != u'\0');
    }
    return true;
}
}  // namespace

// Only a file on a disk is served: a pipe would block the reads, and a
// console, port or NUL ("NUL.avi" names that device too) holds no file.
FileHandle OpenFileForSharedRead(const char16_t* path) {
    if (NamesADevice(path)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    HANDLE file = CreateFileW(AsWide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return static_cast<FileHandle>(file);
}

void CloseFile(FileHandle file) {
    if (file != nullptr) CloseHandle(AsHandle(file));
}

bool GetFileSize(FileHandle file, int64_t* size) {
    LARGE_INTEGER value;
    if (!GetFileSizeEx(AsHandle(file), &value)) return false;
    *size = value.QuadPart;
    return true;
}

uint32_t AllocationGranularity() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwAllocationGranularity;
}

// The mapping object is kept for what it promises on Windows (while it
// exists the file cannot be cut shorter), but views are positioned reads of
// a handle of our own: under Wine, or on a network file system, the file can
// still shrink, and a mapped page past its new end would raise an access
// violation in the host, where a read simply comes up short.
struct MappingObject {
    HANDLE mapping;
    HANDLE file;    // a duplicate, so the mapping outlives CloseFile
    uint64_t size;  // when the mapping was made
    // The first view that could not read what the file held (see FirstViewFailure).
    bool failed;
    uint64_t failedAt;
    uint32_t failedError;
};

MappingHandle CreateReadOnlyMapping(FileHandle file) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(AsHandle(file), &size)) return nullptr;
    HANDLE mapping = CreateFileMappingW(AsHandle(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) return nullptr;
    HANDLE own = nullptr;
    const HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, AsHandle(file), self, &own, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        const DWORD error = GetLastError();
        CloseHandle(mapping);
        SetLastError(error);
        return nullptr;
    }
    auto* object = new (std::nothrow)
        MappingObject{mapping, own, static_cast<uint64_t>(size.QuadPart), false, 0, 0};
    if (object == nullptr) {
        CloseHandle(own);
        CloseHandle(mapping);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return object;
}

void CloseMapping(MappingHandle mapping) {
    if (mapping == nullptr) return;
    CloseHandle(mapping->file);
    CloseHandle(mapping->mapping);
    delete mapping;
}

uint32_t LastError() { return GetLastError(); }

const uint8_t* MapView(MappingHandle mapping, uint64_t offset, uint32_t length,
                       uint32_t unusedPrefix) {
    if (mapping == nullptr || length == 0 || offset > mapping->size ||
        length > mapping->size - offset) {
        SetLastError(ERROR_INVALID_PARAMETER);  // beyond the mapping
        return nullptr;
    }
    auto* bytes = static_cast<uint8_t*>(std::malloc(length));
    if (bytes == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Only what the caller will read is read: consecutive views of a walk
    // overlap by their alignment prefix, which would otherwise be read twice.
    uint32_t done = unusedPrefix < length ? unusedPrefix : length;
    const bool injected = seams::ReadFails();
    while (done < length) {
        const uint64_t at = offset + done;
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        const BOOL ok =
            !injected && ReadFile(mapping->file, bytes + done, length - done, &got, &position);
        if (!ok || got == 0) {  // an error, or the file shrank under us
            const DWORD error = injected ? ERROR_IO_DEVICE : ok ? ERROR_HANDLE_EOF : GetLastError();
            if (!mapping->failed) {
                mapping->failed = true;
                mapping->failedAt = at;
                mapping->failedError = ok ? 0 : error;
            }
            std::free(bytes);
            SetLastError(error);
            return nullptr;
        }
        done += got;
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

// Holes are not looked for here: every offset may hold data.
uint64_t NextDataOffset(MappingHandle /*mapping*/, uint64_t offset) { return offset; }

void UnmapView(const uint8_t* view) { std::free(const_cast<uint8_t*>(view)); }

bool SeekFromBegin(FileHandle file, int64_t offset) {
    LONG high = static_cast<LONG>(static_cast<uint64_t>(offset) >> 32);
    const DWORD low =
        SetFilePointer(AsHandle(file), static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
    // 0xFFFFFFFF is also the low half of valid positions; it means failure only
    // with an error reported or with a high half of 0xFFFFFFFF as well.
    if (low == INVALID_SET_FILE_POINTER &&
        (GetLastError() != NO_ERROR || static_cast<DWORD>(high) == 0xFFFFFFFFu)) {
        return false;
    }
    return true;
}

uint32_t ReadAtPosition(FileHandle file, void* destination, uint32_t count) {
    if (seams::ReadFails()) {
        KeepReadError(ERROR_IO_DEVICE);
        return 0;
    }
    // A failed read still says how much it read (nothing, or what came
    // before the error), and that part is the caller's.
    DWORD got = 0;
    if (!ReadFile(AsHandle(file), destination, count, &got, nullptr)) KeepReadError(GetLastError());
    return got;
}

namespace {
struct ThreadStart {
    ThreadProcedure procedure;
    void* argument;
};

DWORD WINAPI ThreadEntry(LPVOID raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    return start.procedure(start.argument);
}
}  // namespace

// Windows has no broken-pipe signal: a write to a closed pipe fails by itself.
ThreadHandle CreateSuspendedThread(ThreadProcedure procedure, void* argument, uint32_t stackBytes,
                                   uint32_t* threadId) {
    *threadId = 0;
    if (seams::ThreadCreationFails()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);  // what CreateThread says at the limit
        return nullptr;
    }
    auto* start = new (std::nothrow) ThreadStart{procedure, argument};
    if (start == nullptr) return nullptr;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, stackBytes, ThreadEntry, start, CREATE_SUSPENDED, &id);
    if (thread == nullptr) {
        delete start;
        return nullptr;
    }
    *threadId = id;
    return static_cast<ThreadHandle>(thread);
}

void ResumeThread(ThreadHandle thread) {
    if (thread != nullptr) ::ResumeThread(AsHandle(thread));
}

void RaiseCurrentThreadToTimeCritical() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

bool IsCurrentThread(ThreadHandle thread) {
    return thread != nullptr && GetThreadId(AsHandle(thread)) == GetCurrentThreadId();
}

void WaitForThread(ThreadHandle thread) {
    if (thread != nullptr) WaitForSingleObject(AsHandle(thread), INFINITE);
}

void CloseThread(ThreadHandle thread) {
    if (thread != nullptr) CloseHandle(AsHandle(thread));
}

// Closing a thread's handle never stops the thread; it ends on its own.
void DetachThread(ThreadHandle thread) { CloseThread(thread); }

// ---- debug folder ----

namespace {
std::wstring Utf8ToWide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

std::wstring PathOf(DebugPath which) {
    std::wstring folder = L"C:\\tovraDebug\\";
    const std::string moved = seams::DebugFolder();
    if (!moved.empty()) folder = Utf8ToWide(moved);
    switch (which) {
        case DebugPath::Folder:
            return folder;
        case DebugPath::LogFile:
            return folder + L"Log.txt";
        case DebugPath::FallbackFile:
            return folder + L"LoggingError.txt";
        case DebugPath::AssertMarker:
            return folder + L"ShowAssertDialog.txt";
    }
    return folder;
}
}  // namespace

bool DebugPathExists(DebugPath which) { return _waccess(PathOf(which).c_str(), 0) == 0; }

bool DebugPathWritable(DebugPath which) { return _waccess(PathOf(which).c_str(), 2) == 0; }

namespace {
// Writers of this process take turns here before the file's own exclusion,
// so that two streams logging at once queue instead of refusing each other.
// Built on first use: loading the library runs no constructor of ours.
std::mutex& AppendLock() {
    static std::mutex lock;
    return lock;
}
constexpr DWORD kLockPatienceMs = 200;

// The file opened for writing without sharing; a file another opener holds
// is tried again until kLockPatienceMs have passed.
HANDLE OpenWithinPatience(const std::wstring& path, bool create) {
    const DWORD started = GetTickCount();
    for (;;) {
        HANDLE file =
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                        create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) return file;
        if (GetTickCount() - started >= kLockPatienceMs) return file;
        Sleep(1);
    }
}
}  // namespace

bool AppendLineExclusively(DebugPath which, const char* line, bool create) {
    // Text mode as the C runtime's "a+" writes it: each line feed reaches the
    // disk as a carriage return and a line feed.
    // A line is at most 259 characters; the copy is cut at its buffer all the same.
    char text[1024];
    DWORD length = 0;
    for (const char* c = line; *c != '\0' && length + 2 < sizeof text; ++c) {
        if (*c == '\n') text[length++] = '\r';
        text[length++] = *c;
    }
    std::lock_guard<std::mutex> turn(AppendLock());
    HANDLE file = OpenWithinPatience(PathOf(which), create);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER end;
    end.QuadPart = 0;
    bool whole = false;
    if (SetFilePointerEx(file, end, &end, FILE_END)) {
        // One write of the whole line; a short one (a full disk) is cut back
        // off, so that no reader ever sees half a line.
        DWORD wrote = 0;
        const BOOL ok = WriteFile(file, text, length, &wrote, nullptr);
        whole = ok && wrote == length;
        if (!whole && wrote > 0 && SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) {
            SetEndOfFile(file);
        }
    }
    CloseHandle(file);
    return whole;
}

std::string DebugPathText(DebugPath which) {
    const std::wstring wide = PathOf(which);
    return Utf16ToUtf8(reinterpret_cast<const char16_t*>(wide.c_str()));
}

namespace {
// Standard output is written by one writer thread of ours, never by the
// caller: a pipe whose reader has stopped reading blocks a write for ever,
// and Windows offers no write to an anonymous pipe that gives up when it is
// full. Switching the host's pipe to PIPE_NOWAIT would change its own writes
// too (the mode belongs to the pipe's file object, shared by every duplicate
// of the handle), and on Windows even asking a pipe its type waits while a
// write to it is pending. The caller queues its line and waits for it a
// little, so that the line is normally out before the caller returns, as a
// direct write would be; a writer that is stuck is not waited for, and once
// kQueuedLinesAtMost lines wait behind it, further lines are dropped and
// counted. The log file keeps every line.
constexpr size_t kQueuedLinesAtMost = 64;
constexpr DWORD kLinePatienceMs = 500;
// A writer with nothing to write ends, and gives back its hold on the module:
// the host may then unload the library.
constexpr DWORD kWriterIdleMs = 1000;

struct OutputQueue {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    std::deque<std::string> lines;
    uint64_t queued = 0;   // lines ever queued
    uint64_t written = 0;  // of those, lines the writer has finished
    bool running = false;
    bool busy = false;  // a line is being written, since busySince
    DWORD busySince = 0;
    uint64_t dropped = 0;
};

// Built on first use and never destroyed: a writer may still run while the
// process ends.
OutputQueue& Output() {
    static OutputQueue* queue = new OutputQueue;
    return *queue;
}

DWORD WINAPI WriteQueuedLines(LPVOID module) {
    OutputQueue& out = Output();
    AcquireSRWLockExclusive(&out.lock);
    for (;;) {
        if (out.lines.empty()) {
            const BOOL woken = SleepConditionVariableSRW(&out.changed, &out.lock, kWriterIdleMs, 0);
            if (!woken && out.lines.empty()) break;
            continue;
        }
        const std::string line = std::move(out.lines.front());
        out.lines.pop_front();
        out.busy = true;
        out.busySince = GetTickCount();
        ReleaseSRWLockExclusive(&out.lock);
        // Through the C runtime's stream, as before: the host's own lines
        // buffered there go out first.
        const bool whole = std::fputs(line.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
        AcquireSRWLockExclusive(&out.lock);
        out.busy = false;
        ++out.written;
        if (!whole) ++out.dropped;  // a closed pipe, or no standard output at all
        WakeAllConditionVariable(&out.changed);
    }
    out.running = false;
    ReleaseSRWLockExclusive(&out.lock);
    FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
    return 0;
}

// Called with the lock held. The writer holds the module loaded while it
// runs, so that an unload never pulls its code from under it.
bool WriterRunning(OutputQueue& out) {
    if (out.running) return true;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&WriteQueuedLines), &module)) {
        return false;
    }
    HANDLE thread = CreateThread(nullptr, 256 * 1024, WriteQueuedLines, module,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        FreeLibrary(module);
        return false;
    }
    CloseHandle(thread);
    out.running = true;
    return true;
}

bool Queue(OutputQueue& out, const char* text) {
    try {
        out.lines.emplace_back(text);
    } catch (...) {  // no memory: the line is dropped like one that does not fit
        return false;
    }
    return true;
}
}  // namespace

// Windows raises no signal for a closed pipe: the write simply fails.
void WriteStandardOutput(const char* text) {
    OutputQueue& out = Output();
    AcquireSRWLockExclusive(&out.lock);
    if (out.lines.size() >= kQueuedLinesAtMost || !WriterRunning(out) || !Queue(out, text)) {
        ++out.dropped;
        ReleaseSRWLockExclusive(&out.lock);
        return;
    }
    const uint64_t mine = ++out.queued;
    WakeAllConditionVariable(&out.changed);
    const DWORD started = GetTickCount();
    while (out.written < mine) {
        const DWORD now = GetTickCount();
        if (out.busy && now - out.busySince >= kLinePatienceMs) break;  // stuck
        const DWORD waited = now - started;
        if (waited >= kLinePatienceMs) break;
        SleepConditionVariableSRW(&out.changed, &out.lock, kLinePatienceMs - waited, 0);
    }
    ReleaseSRWLockExclusive(&out.lock);
}

uint64_t StandardOutputLinesDropped() {
    OutputQueue& out = Output();
    AcquireSRWLockShared(&out.lock);
    const uint64_t dropped = out.dropped;
    ReleaseSRWLockShared(&out.lock);
    return dropped;
}

void LocalTimeNow(std::tm* local, unsigned short* milliseconds) {
    __timeb64 now;
    _ftime64_s(&now);
    _localtime64_s(local, &now.time);
    *milliseconds = now.millitm;
}

// ---- assertion prompt ----

PromptAnswer ShowAssertPrompt(const char* caption, const char* message) {
    const seams::PromptHook hook = seams::AssertPrompt();
    if (hook != nullptr) return hook(caption, message);
    switch (MessageBoxA(nullptr, message, caption, MB_ABORTRETRYIGNORE | MB_ICONHAND)) {
        case IDABORT:
            return PromptAnswer::Abort;
        case IDRETRY:
            return PromptAnswer::Retry;
        default:
            return PromptAnswer::Ignore;  // Ignore, or a failed message box
    }
}

void BreakIntoDebugger() { DebugBreak(); }

void ExitProcess(int code) { std::exit(code); }

}  // namespace platform
