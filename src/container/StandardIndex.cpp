#include "container/FileWindow.h"
#include "container/IndexSources.h"

namespace avi {

namespace {

constexpr uint64_t kEntriesPerView = 1u << 20;  // 8 MiB of entries per read

}  // namespace

uint64_t AppendStandardEntries(const uint8_t* entries, uint64_t count, uint64_t base,
                               const IndexTarget& target, MediaIndex& index) {
    const AviLayout& layout = *target.layout;
    uint64_t taken = 0;
    for (const uint8_t* entry = entries; taken < count; ++taken, entry += kStandardIndexEntrySize) {
        // An offset of 0 names the index's base itself, where no chunk's
        // data can start: an entry that was never written ends the index.
        if (ReadLe32(entry) == 0) break;
        const uint64_t offset = base + ReadLe32(entry);
        const uint32_t size = ReadLe32(entry + 4) & kIndexEntrySizeMask;
        if (target.medium == Medium::Video) {
            if (size == 0) {
                if (!AppendDropFrame(index)) break;
            } else if (target.IsFrameSize(size)) {
                if (!AppendFrame(index, offset, size)) break;
            } else {
                break;  // not an entry of this stream: the index ends
            }
        } else {
            if (size == 0) break;
            AppendAudioChunk(index, layout.wfx, offset, size);
        }
        index.indexedEnd = offset + size;
    }
    return taken;
}

bool ReadStandardIndex(const ByteSource& source, const IndexTarget& target, MediaIndex& index) {
    const AviLayout& layout = *target.layout;
    const uint64_t first = layout.standardIndexEntries;
    const uint64_t end = source.Size();
    if (first >= end) return false;
    // The entries in use, as far as the chunk (and the file) holds them:
    // spare entries a writer reserved after them are not the stream's.
    const uint64_t entriesEnd = layout.standardIndexEnd < end ? layout.standardIndexEnd : end;
    uint64_t count = entriesEnd > first ? (entriesEnd - first) / kStandardIndexEntrySize : 0;
    if (layout.standardIndexInUse < count) count = layout.standardIndexInUse;
    // Room for every entry at once (they are bytes of the file), rather
    // than a table grown by doubling that briefly holds one and a half times it.
    if (target.medium == Medium::Video &&
        index.frameTable.capacity() - index.frameTable.size() < count) {
        index.frameTable.reserve(index.frameTable.size() + static_cast<size_t>(count));
    }
    // Large views, each a whole number of entries; an index with none still
    // counts as read when its first byte can be.
    FileWindow window;
    uint64_t at = first;
    uint64_t left = count;
    do {
        const uint64_t take = left < kEntriesPerView ? left : kEntriesPerView;
        const auto bytes = static_cast<uint32_t>(take * kStandardIndexEntrySize);
        const uint8_t* entries = BytesAt(source, window, at, bytes, bytes != 0 ? bytes : 1u);
        if (entries == nullptr) return at != first;
        const uint64_t base = static_cast<uint64_t>(layout.baseOffset);
        if (AppendStandardEntries(entries, take, base, target, index) < take) break;
        at += bytes;
        left -= take;
    } while (left > 0);
    return true;
}

}  // namespace avi
