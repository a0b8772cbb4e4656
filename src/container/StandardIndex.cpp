#include "container/FileWindow.h"
#include "container/IndexSources.h"

namespace avi {

namespace {

constexpr uint64_t kEntrySize = 8;           // offset + size, one per indexed chunk
constexpr uint32_t kSizeMask = 0x7FFFFFFFu;  // bit 31: the not-a-key-frame flag

// True while a whole entry lies before the end of the index chunk.
bool EntryFits(const FileWindow& window, uint64_t entriesEnd) {
    return window.position <= entriesEnd && entriesEnd - window.position >= kEntrySize;
}

}  // namespace

bool ReadStandardIndex(const FileSource& source, const IndexTarget& target, MediaIndex& index) {
    const AviLayout& layout = *target.layout;
    const uint32_t requested = source.granularity;
    FileWindow window;
    window.position = layout.standardIndexEntries;
    if (!MapWindow(source, window, requested)) return false;

    const uint64_t base = static_cast<uint64_t>(layout.baseOffset);
    const uint64_t entriesEnd = layout.standardIndexEnd;
    while (EntryFits(window, entriesEnd) && EnsureReadable(source, window, kEntrySize, requested)) {
        const uint64_t offset = base + ReadLe32(window.Cursor());
        const uint32_t size = ReadLe32(window.Cursor() + 4) & kSizeMask;
        if (target.medium == Medium::Video) {
            if (size == 0) {
                if (!AppendDropFrame(index)) break;
            } else if (size == target.frameSize) {
                if (!AppendFrame(index, offset)) break;
            } else {
                break;  // not an entry of this stream: the index ends
            }
        } else {
            if (size == 0) break;
            AppendAudioChunk(index, layout.wfx, offset, size);
        }
        index.indexedEnd = offset + size;
        StepWindow(source, window, kEntrySize);  // the entry's bytes are in the file
    }
    return true;
}

}  // namespace avi
