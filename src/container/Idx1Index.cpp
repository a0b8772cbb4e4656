#include "container/FileWindow.h"
#include "container/IndexSources.h"

namespace avi {

namespace {

constexpr uint32_t kEntrySize = 16;       // chunk id, flags, offset, size
constexpr uint64_t kChunkHeaderSize = 8;  // code + size

// True when a chunk header with `code` and `size` starts at `position`:
// how an entry's offset is checked. A 'rec ' entry points at a 'LIST'.
bool ChunkHeaderAt(const FileSource& source, uint64_t position, uint32_t code, uint32_t size) {
    FileWindow probe;
    probe.position = position;
    if (!MapWindow(source, probe, kChunkHeaderSize) || !probe.Holds(kChunkHeaderSize)) return false;
    const uint32_t found = ReadFourCC(probe.Cursor());
    const uint32_t expected = code == kRec ? kLIST : code;
    return found == expected && (code == kRec || ReadLe32(probe.Cursor() + 4) == size);
}

}  // namespace

bool ReadIdx1Index(const FileSource& source, const IndexTarget& target, MediaIndex& index) {
    const AviLayout& layout = *target.layout;
    const uint64_t end = source.End();
    if (!layout.haveIdx1 || layout.idx1Data >= end) return false;
    // The whole chunk in one view, bounded by what the file holds.
    const uint64_t held =
        end - layout.idx1Data < layout.idx1Size ? end - layout.idx1Data : layout.idx1Size;
    const uint64_t entries = held / kEntrySize;
    if (entries == 0) return false;
    FileWindow window;
    window.position = layout.idx1Data;
    const auto bytes = static_cast<uint32_t>(entries * kEntrySize);
    if (!MapWindow(source, window, bytes) || !window.Holds(bytes)) return false;
    const uint8_t* entry = window.Cursor();

    // Offsets count from the 'movi' code (the usual) or from the file's start.
    const uint32_t firstCode = ReadFourCC(entry);
    const uint32_t firstOffset = ReadLe32(entry + 8);
    const uint32_t firstSize = ReadLe32(entry + 12);
    uint64_t base = 0;
    if (layout.haveMovie &&
        ChunkHeaderAt(source, layout.moviType + firstOffset, firstCode, firstSize)) {
        base = layout.moviType;
    } else if (!ChunkHeaderAt(source, firstOffset, firstCode, firstSize)) {
        return false;
    }

    for (uint64_t i = 0; i < entries; ++i, entry += kEntrySize) {
        const uint32_t code = ReadFourCC(entry);
        const uint64_t data = base + ReadLe32(entry + 8) + kChunkHeaderSize;
        const uint32_t size = ReadLe32(entry + 12);
        if (target.medium == Medium::Video && layout.IsVideoChunk(code)) {
            const bool stored = size == 0 ? AppendDropFrame(index) : AppendFrame(index, data);
            if (!stored) break;
        } else if (target.medium == Medium::Audio && layout.IsAudioChunk(code) && size != 0) {
            AppendAudioChunk(index, layout.wfx, data, size);
        }
    }
    return true;
}

}  // namespace avi
