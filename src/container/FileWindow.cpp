#include "container/FileWindow.h"

#include "diag/DebugLog.h"
#include "platform/platform.h"
#include "reader/Mirolan.h"

namespace avi {

namespace {

// The file size as an unsigned bound; every comparison with it is unsigned.
uint64_t FileEnd(const CMirolan& reader) { return static_cast<uint64_t>(reader.fileSize); }

}  // namespace

void FileWindow::Release() {
    if (view != nullptr) {
        platform::UnmapView(view);
        view = nullptr;
    }
}

uint64_t PlaceWindow(const CMirolan& reader, FileWindow& window, uint32_t requested) {
    const uint64_t end = FileEnd(reader);
    if (window.position >= end || reader.granularity == 0) return 0;
    const uint64_t start = window.position / reader.granularity * reader.granularity;
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

bool MapWindow(const CMirolan& reader, FileWindow& window, uint32_t requested) {
    window.Release();
    if (window.position >= FileEnd(reader) || reader.granularity == 0) return false;
    const uint64_t start = PlaceWindow(reader, window, requested);
    window.view = platform::MapView(reader.hMapFile, start, window.length,
                                    static_cast<uint32_t>(window.offsetInView));
    if (window.view != nullptr) return true;
    diag::DebugLog(
        "", "Mirolan", 936, "Unable to map the File View offsetLow[%d] offsetHigh[%d] mapSize[%d]",
        static_cast<int>(static_cast<uint32_t>(start & 0xFFFFFFFFu)),
        static_cast<int>(static_cast<uint32_t>(start >> 32)), static_cast<int>(window.length));
    return false;
}

}  // namespace avi
