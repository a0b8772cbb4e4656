// The moving read-only view through which the open reads headers and index:
// one view of the byte source, reaching a requested number of bytes past the
// byte about to be read. The source decides where the view begins.
#pragma once

#include <cstdint>

#include "container/ByteSource.h"

namespace avi {

// One window over a byte source. Owns its view: the view is given back when
// the window moves to a new one, is released explicitly, or is destroyed.
struct FileWindow {
    const uint8_t* view = nullptr;      // none before the first view and after a failure
    uint64_t position = 0;              // absolute offset of the next byte to read
    uint64_t offsetInView = 0;          // offset of `position` within the view
    uint32_t length = 0;                // bytes in the view
    const ByteSource* owner = nullptr;  // the source the view is given back to

    FileWindow() = default;
    FileWindow(const FileWindow&) = delete;
    FileWindow& operator=(const FileWindow&) = delete;
    ~FileWindow() { Release(); }

    // Releases the view, if any; the window then holds none.
    void Release();

    // True when the view holds the n bytes at `position`: a view near the end
    // of the file can leave them running past it, so this is the test that
    // guards every read.
    bool Holds(uint64_t n) const {
        return view != nullptr && offsetInView <= length && n <= length - offsetInView;
    }
    // The byte at `position`; only valid after Holds() said so.
    const uint8_t* Cursor() const { return view + offsetInView; }
    // Where the view begins in the file (meaningful while there is a view).
    uint64_t ViewStart() const { return position - offsetInView; }
    // The n bytes at absolute `offset` when the view holds them all, else
    // null; the window does not move.
    const uint8_t* ViewAt(uint64_t offset, uint64_t n) const {
        if (view == nullptr || offset < ViewStart()) return nullptr;
        const uint64_t in = offset - ViewStart();
        return in <= length && n <= length - in ? view + in : nullptr;
    }
};

// Gives back the current view and takes a new one for `requested` bytes at
// `position`. False, with no view, when `position` is at or past the end of
// the source or the source cannot give the bytes. Readers call
// EnsureReadable or BytesAt, which ask for the bytes they need.
bool RefillWindow(const ByteSource& source, FileWindow& window, uint32_t requested);

// These run once or more per chunk header of the file, so they are
// inline; only a move of the window leaves the header.

// True only when the n bytes at `position` can be read: they lie in the
// current view, or in a new view of `requested` bytes at `position`.
inline bool EnsureReadable(const ByteSource& source, FileWindow& window, uint64_t n,
                           uint32_t requested) {
    return window.Holds(n) || (RefillWindow(source, window, requested) && window.Holds(n));
}

// Moves `position` and `offsetInView` n bytes on. False, leaving the window
// unchanged, when that would pass the end of the file (a position equal to
// the file size is allowed: the next EnsureReadable then fails).
inline bool StepWindow(const ByteSource& source, FileWindow& window, uint64_t n) {
    const auto end = source.Size();
    if (window.position > end || n > end - window.position) return false;
    window.position += n;
    window.offsetInView += n;  // offsetInView <= position, so this cannot wrap either
    return true;
}

// Moves the window to `offset` and returns the n bytes there: from the view
// it holds when they lie in it, else from a new view of `requested` bytes.
// Null, with no view, when the file does not hold them. Reads that move
// forward through the file thus map one view per `requested` bytes at most.
const uint8_t* BytesAt(const ByteSource& source, FileWindow& window, uint64_t offset, uint32_t n,
                       uint32_t requested);

// The offset of the first non-zero byte at or after `from`, or the end of
// the file. Holes of a sparse file are skipped without being read, where the
// source can tell them, so the work is bounded by what the file holds on disk.
uint64_t NextNonZeroByte(const ByteSource& source, uint64_t from);

// After a chunk of odd size the next chunk starts one pad byte later, but
// some writers leave the pad byte out (this plug-in's own files did): moves
// the window past the pad byte only when a chunk code starts after it and
// none at the position itself. Call it right after stepping over an odd size.
void SkipPadByte(const ByteSource& source, FileWindow& window, uint32_t requested);

// Steps over a chunk body of `size` bytes and its pad byte, if any (above).
// False, as StepWindow, when that would pass the end of the file.
inline bool StepChunkBody(const ByteSource& source, FileWindow& window, uint64_t size,
                          uint32_t requested) {
    if (!StepWindow(source, window, size)) return false;
    if ((size & 1u) != 0) SkipPadByte(source, window, requested);
    return true;
}

}  // namespace avi
