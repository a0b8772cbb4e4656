// The operating-system services the core needs, and nothing more. win32.cpp
// implements them with the Win32 API, posix.cpp with POSIX; no other folder
// includes an OS header. Every function says what its caller may rely on.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

struct FileObject;
struct MappingObject;
struct ThreadObject;
using FileHandle = FileObject*;        // null means none
using MappingHandle = MappingObject*;  // null means none
using ThreadHandle = ThreadObject*;    // null means none

// Opens an existing file for reading, letting others read but not write, with
// the sequential-access hint. Null when the file cannot be opened or is not a
// regular file (a FIFO, pipe, socket or device; on Windows also a path in the
// device namespace that names no file, as \\.\pipe\x or \\.\C:): never waits
// for another party.
FileHandle OpenFileForSharedRead(const char16_t* path);
void CloseFile(FileHandle file);

// Size of the open file in bytes; false when the system cannot tell.
bool GetFileSize(FileHandle file, int64_t* size);

// The unit every view offset must be a multiple of: 65,536 on every target.
uint32_t AllocationGranularity();

// A read-only mapping of the whole file. Null when none can be made (an
// empty file is one such case); LastError() then holds the system's code.
MappingHandle CreateReadOnlyMapping(FileHandle file);
void CloseMapping(MappingHandle mapping);
uint32_t LastError();

// A read-only view of `length` bytes at `offset` (a multiple of the
// granularity). Null when the view cannot be made; the bytes of a non-null
// view are all readable. Views are positioned reads into a buffer this
// layer owns, on every target: another process (or, under Wine and on some
// network file systems, a truncation) may shorten the file, and a mapped
// page past its new end would kill the host where a read simply fails. The caller reads nothing of
// the first `unusedPrefix` bytes (the alignment below the position it wants), so a layer that
// copies may leave them unfilled. Release with UnmapView.
const uint8_t* MapView(MappingHandle mapping, uint64_t offset, uint32_t length,
                       uint32_t unusedPrefix = 0);
void UnmapView(const uint8_t* view);

// The first failure of a view of `mapping` to read bytes the file held when
// the mapping was made: false when there was none. `offset` is the first
// byte not read, `systemError` the system's code, or 0 when the file ended
// there (it shrank after it was sized). A view asked for beyond the size is
// no such failure.
bool FirstViewFailure(MappingHandle mapping, uint64_t* offset, uint32_t* systemError);

// The first offset at or after `offset` that may hold data: holes of a sparse
// file are skipped where the system can tell where they are; elsewhere (and
// on any failure) `offset` itself. The file's size when only a hole follows.
// Never less than `offset`; a caller may treat every byte before the result
// as zero.
uint64_t NextDataOffset(MappingHandle mapping, uint64_t offset);

// Moves the file position to `offset` from the beginning. Fails by the Win32
// rule: only when the low half comes back as 0xFFFFFFFF and either an error is
// reported or the high half is 0xFFFFFFFF too. An offset past the end succeeds.
bool SeekFromBegin(FileHandle file, int64_t offset);
// Reads up to `count` bytes at the current position into `destination` and
// advances the position; returns the number of bytes read (0 on failure).
// Fewer than `count` at the end of the file is no failure; a read the
// system fails is also kept for TakeReadError.
uint32_t ReadAtPosition(FileHandle file, void* destination, uint32_t count);
// The system's code of the first ReadAtPosition on the calling thread that
// failed (not merely at the end of the file) since the last call; 0 when
// none did. Clears it.
uint32_t TakeReadError();

// Thread created suspended with `stackBytes` of committed stack and at
// least the stack a Windows thread of the same host reserves (the process
// default, 1 MiB or more): the host's callbacks run on it. It runs
// `procedure(argument)` only after ResumeThread. Null on failure (the system's
// thread limit reached, say), id 0 then and LastError() the system's code.
// The thread runs with the broken-pipe signal blocked, where the system has
// one: a write of ours to a pipe nobody reads fails instead of killing the
// host.
using ThreadProcedure = uint32_t (*)(void* argument);
ThreadHandle CreateSuspendedThread(ThreadProcedure procedure, void* argument, uint32_t stackBytes,
                                   uint32_t* threadId);
void ResumeThread(ThreadHandle thread);
// Asks for time-critical priority for the calling thread; a refusal is ignored.
void RaiseCurrentThreadToTimeCritical();
// True when the caller runs on `thread` itself (false for a null handle).
bool IsCurrentThread(ThreadHandle thread);
// Waits without a time limit until the thread has ended. Never called by the
// thread itself: it would wait for ever.
void WaitForThread(ThreadHandle thread);
void CloseThread(ThreadHandle thread);
// Releases the handle of a thread that is still running, without waiting:
// the system reclaims the thread when it ends. Lets a thread release itself.
void DetachThread(ThreadHandle thread);

// The debug folder and the files in it. The folder is fixed (the test build
// of this layer lets tests move it: TestHooks.h).
enum class DebugPath { Folder, LogFile, FallbackFile, AssertMarker };
bool DebugPathExists(DebugPath which);
// True when the path exists and may be written by this process.
bool DebugPathWritable(DebugPath which);
// Opens the file for appending without sharing it with any other opener (never
// following a symbolic link), creating it only when `create` is set, writes
// `line` in text mode and closes it. False when the open or the write fails.
// A process out of descriptors still gets its line written: the layer holds
// one in reserve for it where descriptors are limited.
// Writers of this process take turns; a file held by another opener is waited
// for, at most about 200 ms, before the call gives up. The line is written
// with one write of the whole line, and a write that comes up short (a full
// disk, a file-size limit) is cut back off the file: never a torn line.
bool AppendLineExclusively(DebugPath which, const char* line, bool create);
// The path as text for messages (UTF-8).
std::string DebugPathText(DebugPath which);

// Writes `text` to the process's standard output and flushes it. Never
// waits for a reader: a standard output that is a full pipe (or socket) whose
// reader does not read drops this copy of the text and counts it, as does a
// pipe nobody reads; it never raises the broken-pipe signal that would end
// the host. (On Windows a writer thread of ours writes, and the caller waits
// for it at most once per stall, briefly: see win32.cpp.)
void WriteStandardOutput(const char* text);
// The texts WriteStandardOutput dropped since the process started.
uint64_t StandardOutputLinesDropped();

// Local time of day with its milliseconds.
void LocalTimeNow(std::tm* local, unsigned short* milliseconds);

// The assertion prompt: caption and message shown modally; the user's answer.
enum class PromptAnswer { Abort, Retry, Ignore };
PromptAnswer ShowAssertPrompt(const char* caption, const char* message);
void BreakIntoDebugger();
[[noreturn]] void ExitProcess(int code);

// Converts UTF-16 to UTF-8 (unpaired surrogates become U+FFFD).
std::string Utf16ToUtf8(const char16_t* text);

}  // namespace platform
