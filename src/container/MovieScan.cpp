#include "container/FileWindow.h"
#include "container/IndexSources.h"

namespace avi {

namespace {

constexpr uint64_t kChunkHeaderSize = 8;  // code + size
constexpr uint64_t kListTypeSize = 4;

// What the scan does with one chunk. Returns false to end the scan.
bool ScanChunk(const FileSource& source, const IndexTarget& target, FileWindow& window,
               MediaIndex& index) {
    const uint32_t requested = source.granularity;
    const uint32_t code = ReadFourCC(window.Cursor());
    const uint32_t size = ReadLe32(window.Cursor() + 4);
    StepWindow(source, window, kChunkHeaderSize);  // EnsureReadable said the header is there
    const AviLayout& layout = *target.layout;
    if (target.medium == Medium::Video && layout.IsVideoChunk(code)) {
        // A size of 0 is a drop frame. Any other size is a frame, stepped by
        // the frame size: a size field written wrong still leaves the frame's
        // bytes where they are, as this plug-in has always read them.
        if (size == 0) return AppendDropFrame(index);
        return AppendFrame(index, window.position) &&
               StepChunkBody(source, window, target.frameSize, requested);
    }
    if (target.medium == Medium::Audio && layout.IsAudioChunk(code)) {
        if (size != 0) AppendAudioChunk(index, layout.wfx, window.position, size);
    } else if (code == kRIFF) {
        // A further segment: its form type, then its chunks ('LIST' 'movi' among them).
        return StepWindow(source, window, kListTypeSize);
    } else if (code == kLIST || code == kList) {
        if (!EnsureReadable(source, window, kListTypeSize, requested)) return false;
        const uint32_t type = ReadFourCC(window.Cursor());
        if (type == kMovi || type == kRec) return StepWindow(source, window, kListTypeSize);
    }
    // Everything else, whole lists included, is stepped over by its own size.
    return StepChunkBody(source, window, size, requested);
}

}  // namespace

void ScanMovieData(const FileSource& source, const IndexTarget& target, uint64_t start,
                   MediaIndex& index) {
    // Views as large as the index reader's, moved only when the next header
    // lies outside: a run of tiny chunks costs no mapping per chunk.
    const uint32_t requested = source.granularity;
    FileWindow window;
    window.position = start;
    if (!MapWindow(source, window, requested)) return;
    // The start is often the end of an indexed chunk: after an odd size its
    // pad byte comes first.
    if ((start & 1u) != 0) SkipPadByte(source, window, requested);
    while (EnsureReadable(source, window, kChunkHeaderSize, requested)) {
        if (!ScanChunk(source, target, window, index)) break;
    }
}

}  // namespace avi
