#include "container/FileWindow.h"

#include <algorithm>

#include "container/AviRecords.h"

namespace avi {

namespace {
constexpr uint32_t kZeroSearchView = 1u << 20;  // bytes looked at per view in a run of zeros
}  // namespace

void FileWindow::Release() {
    if (view != nullptr) {
        owner->Release(view);
        view = nullptr;
    }
}

bool RefillWindow(const ByteSource& source, FileWindow& window, uint32_t requested) {
    window.Release();
    const ByteView got = source.View(window.position, requested);
    // A view with data begins at or before the position and reaches past it.
    if (got.data == nullptr) return false;
    window.view = got.data;
    window.length = got.length;
    window.offsetInView = window.position - got.start;
    window.owner = &source;
    return true;
}

const uint8_t* BytesAt(const ByteSource& source, FileWindow& window, uint64_t offset, uint32_t n,
                       uint32_t requested) {
    if (const uint8_t* held = window.ViewAt(offset, n)) {
        window.offsetInView = offset - window.ViewStart();
        window.position = offset;
        return held;
    }
    window.position = offset;
    if (!RefillWindow(source, window, requested > n ? requested : n) || !window.Holds(n)) {
        window.Release();
        return nullptr;
    }
    return window.Cursor();
}

// The first non-zero byte at or after `from`, or the end of the file. Holes
// of a sparse file are skipped without being read, so the work is bounded by
// what the file holds on disk.
uint64_t NextNonZeroByte(const ByteSource& source, uint64_t from) {
    const uint64_t end = source.Size();
    FileWindow probe;
    uint64_t at = from;
    while (at < end) {
        at = std::max(at, source.NextData(at));
        if (at >= end) break;
        probe.position = at;
        if (!RefillWindow(source, probe, kZeroSearchView) || !probe.Holds(1)) return end;
        const uint8_t* first = probe.Cursor();
        const uint8_t* last = probe.view + probe.length;
        const uint8_t* hit = std::find_if(first, last, [](uint8_t b) { return b != 0; });
        at += static_cast<uint64_t>(hit - first);
        if (hit != last) return at;
    }
    return end;
}

void SkipPadByte(const ByteSource& source, FileWindow& window, uint32_t requested) {
    // Two codes: at the position and one byte on. Near the end of the file
    // there is no room for a chunk after a pad byte, so the position stands.
    if (!EnsureReadable(source, window, 5, requested)) return;
    const uint8_t* p = window.Cursor();
    if (!LooksLikeChunkCode(ReadFourCC(p)) && LooksLikeChunkCode(ReadFourCC(p + 1))) {
        StepWindow(source, window, 1);
    }
}

}  // namespace avi
