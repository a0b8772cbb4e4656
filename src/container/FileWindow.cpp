#include "container/FileWindow.h"

#include <algorithm>

#include "container/AviRecords.h"
#include "diag/DebugLog.h"
#include "diag/LogLines.h"
#include "platform/platform.h"

namespace avi {

namespace {
constexpr uint32_t kZeroSearchView = 1u << 20;  // bytes looked at per view in a run of zeros
}  // namespace

void FileWindow::Release() {
    if (view != nullptr) {
        platform::UnmapView(view);
        view = nullptr;
    }
}

uint64_t PlaceWindow(const FileSource& source, FileWindow& window, uint32_t requested) {
    const uint64_t end = source.End();
    if (window.position >= end || source.granularity == 0) return 0;
    const uint64_t start = window.position / source.granularity * source.granularity;
    const uint64_t intoView = window.position - start;  // below the granularity
    uint64_t length = static_cast<uint64_t>(requested) + intoView;
    // start < end here, so end - start cannot wrap.
    if (length > end - start) length = end - start;
    // A view is a 32-bit length; requested + granularity stays far below that
    // for every caller, so this clip only guards an impossible input.
    if (length > 0xFFFFFFFFu) length = 0xFFFFFFFFu;
    window.length = static_cast<uint32_t>(length);
    window.offsetInView = intoView;
    return start;
}

bool MapWindow(const FileSource& source, FileWindow& window, uint32_t requested) {
    window.Release();
    if (window.position >= source.End() || source.granularity == 0) return false;
    const uint64_t start = PlaceWindow(source, window, requested);
    window.view = platform::MapView(source.mapping, start, window.length,
                                    static_cast<uint32_t>(window.offsetInView));
    if (window.view != nullptr) return true;
    diag::DebugLog("", diag::kSourceName, diag::kLogViewNotMapped,
                   "Unable to map the File View offsetLow[%d] offsetHigh[%d] mapSize[%d]",
                   static_cast<int>(static_cast<uint32_t>(start & 0xFFFFFFFFu)),
                   static_cast<int>(static_cast<uint32_t>(start >> 32)),
                   static_cast<int>(window.length));
    return false;
}

const uint8_t* BytesAt(const FileSource& source, FileWindow& window, uint64_t offset, uint32_t n,
                       uint32_t requested) {
    if (window.view != nullptr) {
        const uint64_t viewStart = window.position - window.offsetInView;
        if (offset >= viewStart && offset - viewStart <= window.length) {
            window.position = offset;
            window.offsetInView = offset - viewStart;
            if (window.Holds(n)) return window.Cursor();
        }
    }
    window.position = offset;
    if (!MapWindow(source, window, requested > n ? requested : n) || !window.Holds(n)) {
        window.Release();
        return nullptr;
    }
    return window.Cursor();
}

// The first non-zero byte at or after `from`, or the end of the file. Holes
// of a sparse file are skipped without being read, so the work is bounded by
// what the file holds on disk.
uint64_t NextNonZeroByte(const FileSource& source, uint64_t from) {
    const uint64_t end = source.End();
    FileWindow probe;
    uint64_t at = from;
    while (at < end) {
        at = std::max(at, platform::NextDataOffset(source.mapping, at));
        if (at >= end) break;
        probe.position = at;
        if (!MapWindow(source, probe, kZeroSearchView) || !probe.Holds(1)) return end;
        const uint8_t* first = probe.Cursor();
        const uint8_t* last = probe.view + probe.length;
        const uint8_t* hit = std::find_if(first, last, [](uint8_t b) { return b != 0; });
        at += static_cast<uint64_t>(hit - first);
        if (hit != last) return at;
    }
    return end;
}

void SkipPadByte(const FileSource& source, FileWindow& window, uint32_t requested) {
    // Two codes: at the position and one byte on. Near the end of the file
    // there is no room for a chunk after a pad byte, so the position stands.
    if (!EnsureReadable(source, window, 5, requested)) return;
    const uint8_t* p = window.Cursor();
    if (!LooksLikeChunkCode(ReadFourCC(p)) && LooksLikeChunkCode(ReadFourCC(p + 1))) {
        StepWindow(source, window, 1);
    }
}

}  // namespace avi
