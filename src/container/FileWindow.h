// The moving read-only view through which the open reads headers and index:
// one view of the file mapping at a multiple of the allocation granularity,
// reaching a requested number of bytes past the byte about to be read.
#pragma once

#include <cstdint>

#include "container/FileSource.h"

namespace avi {

// One window over the source's mapping. Owns its view: the view is released
// when the window is remapped, released explicitly, or destroyed.
struct FileWindow {
    const uint8_t* view = nullptr;  // none before the first mapping and after a failure
    uint64_t position = 0;          // absolute offset of the next byte to read
    uint64_t offsetInView = 0;      // offset of `position` within the view
    uint32_t length = 0;            // bytes in the view

    FileWindow() = default;
    FileWindow(const FileWindow&) = delete;
    FileWindow& operator=(const FileWindow&) = delete;
    ~FileWindow() { Release(); }

    // Releases the view, if any; the window then holds none.
    void Release();

    // True when the view holds the n bytes at `position`: a remap near the end
    // of the file can leave them running past the view, so this is the test
    // that guards every read.
    bool Holds(uint64_t n) const {
        return view != nullptr && offsetInView <= length && n <= length - offsetInView;
    }
    // The byte at `position`; only valid after Holds() said so.
    const uint8_t* Cursor() const { return view + offsetInView; }
};

// Where the next view goes: returns its start (the largest multiple of the
// source's granularity not above `position`) and sets `length` to reach
// `requested` bytes past `position`, clipped at the end of the file, and
// `offsetInView`. Returns 0 and changes nothing when `position` is at or past
// the end of the file (or the granularity is 0).
uint64_t PlaceWindow(const FileSource& source, FileWindow& window, uint32_t requested);

// Releases the current view and maps a new one at `position`. False, with no
// view, when `position` is at or past the end of the file (silently) or the
// platform refuses the mapping (logged, line 936).
bool MapWindow(const FileSource& source, FileWindow& window, uint32_t requested);

// These run once or more per chunk header of the file, so they are
// inline; only a move of the window leaves the header.

// True only when the n bytes at `position` can be read: they lie in the
// current view, or in a new view mapped at `position`.
inline bool EnsureReadable(const FileSource& source, FileWindow& window, uint64_t n,
                           uint32_t requested) {
    return window.Holds(n) || (MapWindow(source, window, requested) && window.Holds(n));
}

// Moves `position` and `offsetInView` n bytes on. False, leaving the window
// unchanged, when that would pass the end of the file (a position equal to
// the file size is allowed: the next EnsureReadable then fails).
inline bool StepWindow(const FileSource& source, FileWindow& window, uint64_t n) {
    const auto end = source.End();
    if (window.position > end || n > end - window.position) return false;
    window.position += n;
    window.offsetInView += n;  // offsetInView <= position, so this cannot wrap either
    return true;
}

// Moves the window to `offset` and returns the n bytes there: from the view
// it holds when they lie in it, else from a new view of `requested` bytes.
// Null, with no view, when the file does not hold them. Reads that move
// forward through the file thus map one view per `requested` bytes at most.
const uint8_t* BytesAt(const FileSource& source, FileWindow& window, uint64_t offset, uint32_t n,
                       uint32_t requested);

// The offset of the first non-zero byte at or after `from`, or the end of
// the file. Holes of a sparse file are skipped without being read, where the
// platform can tell them, so the work is bounded by what the file holds on disk.
uint64_t NextNonZeroByte(const FileSource& source, uint64_t from);

// After a chunk of odd size the next chunk starts one pad byte later, but
// some writers leave the pad byte out (this plug-in's own files did): moves
// the window past the pad byte only when a chunk code starts after it and
// none at the position itself. Call it right after stepping over an odd size.
void SkipPadByte(const FileSource& source, FileWindow& window, uint32_t requested);

// Steps over a chunk body of `size` bytes and its pad byte, if any (above).
// False, as StepWindow, when that would pass the end of the file.
inline bool StepChunkBody(const FileSource& source, FileWindow& window, uint64_t size,
                          uint32_t requested) {
    if (!StepWindow(source, window, size)) return false;
    if ((size & 1u) != 0) SkipPadByte(source, window, requested);
    return true;
}

}  // namespace avi
