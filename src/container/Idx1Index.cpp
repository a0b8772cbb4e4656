#include <cstdio>
#include <vector>

#include "container/FileWindow.h"
#include "container/IndexSources.h"

namespace avi {

namespace {

constexpr uint32_t kHeaderView = 4 * 1024;
constexpr uint64_t kShortestRun = 4;  // chunks

// True when a chunk header with `code` and `size` starts at `position`:
// how an entry's offset is checked. A 'rec ' entry points at a 'LIST'.
// Read through `window`, which moves only when the header lies outside it.
bool ChunkHeaderAt(const FileSource& source, FileWindow& window, uint64_t position, uint32_t code,
                   uint32_t size) {
    const uint8_t* header = BytesAt(source, window, position, kChunkHeaderSize, kHeaderView);
    if (header == nullptr) return false;
    const uint32_t found = ReadFourCC(header);
    const uint32_t expected = code == kRec ? kLIST : code;
    return found == expected && (code == kRec || ReadLe32(header + 4) == size);
}
bool ChunkHeaderAt(const FileSource& source, uint64_t position, uint32_t code, uint32_t size) {
    FileWindow probe;
    return ChunkHeaderAt(source, probe, position, code, size);
}

// Codes the header walk acts on: a chunk of the movie data with one of them
// would change what the walk does next.
bool WalkActsOn(uint32_t code) {
    return code == kRIFF || code == kLIST || code == kList || code == kAvih || code == kStrh ||
           code == kStrf || code == kIndx || code == kIdx1 || IsStandardIndexCode(code);
}

}  // namespace

Shortcut Idx1MovieRuns(const FileSource& source, const AviLayout& layout,
                       std::vector<MovieRun>& runs) {
    runs.clear();
    Shortcut tiling;
    const uint64_t end = source.End();
    // The 'idx1' chunk right after the 'movi' list, found from the list's size.
    uint64_t at = layout.moviEnd;
    if (!layout.haveMovie || at >= end || end - at < kChunkHeaderSize + kIdx1EntrySize) {
        return tiling;
    }
    FileWindow window;
    window.position = at;
    if (!MapWindow(source, window, 16) || !window.Holds(kChunkHeaderSize)) {
        return tiling;
    }
    if (ReadFourCC(window.Cursor()) != kIdx1 && (at & 1u) != 0 &&
        window.Holds(kChunkHeaderSize + 1) && ReadFourCC(window.Cursor() + 1) == kIdx1) {
        ++at;  // the pad byte of an odd-sized list
        StepWindow(source, window, 1);
    }
    if (!window.Holds(kChunkHeaderSize) || ReadFourCC(window.Cursor()) != kIdx1) {
        return tiling;
    }
    const uint64_t data = at + kChunkHeaderSize;
    const uint32_t size = ReadLe32(window.Cursor() + 4);
    const uint64_t held = end - data < size ? end - data : size;
    const uint64_t entries = held / kIdx1EntrySize;
    if (entries == 0) return tiling;
    if (entries * kIdx1EntrySize > 0xFFFFFFFFu - source.granularity) {
        std::snprintf(tiling.why, sizeof tiling.why,
                      "'idx1' of %llu entries is too large for one view",
                      static_cast<unsigned long long>(entries));
        return tiling;
    }
    const auto bytes = static_cast<uint32_t>(entries * kIdx1EntrySize);
    window.position = data;
    if (!MapWindow(source, window, bytes) || !window.Holds(bytes)) return tiling;
    const uint8_t* entry = window.Cursor();

    // Offsets count from the 'movi' code or from the file's start, as the
    // index reader takes them.
    const uint32_t firstOffset = ReadLe32(entry + 8);
    uint64_t base = 0;
    if (ChunkHeaderAt(source, layout.moviType + firstOffset, ReadFourCC(entry),
                      ReadLe32(entry + 12))) {
        base = layout.moviType;
    } else if (!ChunkHeaderAt(source, firstOffset, ReadFourCC(entry), ReadLe32(entry + 12))) {
        std::snprintf(tiling.why, sizeof tiling.why, "its first entry points at no chunk");
        return tiling;
    }
    // Runs of entries whose chunks follow each other inside the list, in
    // file order, each a chunk the walk only steps over.
    const uint64_t listStart = layout.moviType + 4;
    const uint64_t listEnd = layout.moviEnd < end ? layout.moviEnd : end;
    MovieRun run{};
    uint64_t chunks = 0;
    const uint8_t* runEntries = nullptr;  // the run's first entry: its entries follow it
    FileWindow headers;
    auto close = [&]() {
        // The run's checked chunks carry the header their entries give. A
        // run of fewer than 4 chunks is left to the walk: its chunks are all
        // checked, which reads what the walk would, and its record would
        // take more memory than its entries take of the file.
        bool matches = chunks >= kShortestRun;
        for (uint64_t n = 0; matches && n < chunks; ++n) {
            if (!CheckedEntry(n, chunks)) continue;
            const uint8_t* e = runEntries + n * kIdx1EntrySize;
            matches = ChunkHeaderAt(source, headers, base + ReadLe32(e + 8), ReadFourCC(e),
                                    ReadLe32(e + 12));
        }
        if (matches) runs.push_back(run);
        chunks = 0;
    };
    for (uint64_t i = 0; i < entries; ++i, entry += kIdx1EntrySize) {
        const uint32_t code = ReadFourCC(entry);
        const uint64_t header = base + ReadLe32(entry + 8);
        const uint32_t chunkSize = ReadLe32(entry + 12);
        const uint64_t chunkEnd = header + kChunkHeaderSize + chunkSize;
        const bool stepped = LooksLikeChunkCode(code) && !WalkActsOn(code) && code != kRec &&
                             header >= listStart && chunkEnd <= listEnd;
        const bool follows =
            chunks > 0 && (header == run.end || (run.afterOddChunk && header == run.end + 1));
        if (!stepped || !follows) close();
        if (!stepped) continue;
        const uint64_t floor = runs.empty() ? listStart : runs.back().end;
        if (chunks == 0) {
            if (header < floor) continue;  // out of file order: left to the walk
            run = MovieRun{header, header, 0, false, code, chunkSize, code};
            runEntries = entry;
        }
        run.lastHeader = header;
        run.lastCode = code;
        run.end = chunkEnd;
        run.afterOddChunk = (chunkSize & 1u) != 0;
        ++chunks;
    }
    close();
    tiling.taken = true;
    return tiling;
}

bool ReadIdx1Index(const FileSource& source, const IndexTarget& target, MediaIndex& index) {
    const AviLayout& layout = *target.layout;
    const uint64_t end = source.End();
    if (!layout.haveIdx1 || layout.idx1Data >= end) return false;
    // The whole chunk in one view, bounded by what the file holds.
    const uint64_t held =
        end - layout.idx1Data < layout.idx1Size ? end - layout.idx1Data : layout.idx1Size;
    const uint64_t entries = held / kIdx1EntrySize;
    if (entries == 0) return false;
    FileWindow window;
    window.position = layout.idx1Data;
    const auto bytes = static_cast<uint32_t>(entries * kIdx1EntrySize);
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

    for (uint64_t i = 0; i < entries; ++i, entry += kIdx1EntrySize) {
        const uint32_t code = ReadFourCC(entry);
        const uint64_t data = base + ReadLe32(entry + 8) + kChunkHeaderSize;
        const uint32_t size = ReadLe32(entry + 12);
        if (target.medium == Medium::Video && layout.IsVideoChunk(code)) {
            const bool stored = size == 0 ? AppendDropFrame(index) : AppendFrame(index, data, size);
            if (!stored) break;
        } else if (target.medium == Medium::Video && layout.IsPaletteChange(code)) {
            ++index.paletteChanges;
        } else if (target.medium == Medium::Audio && layout.IsAudioChunk(code) && size != 0) {
            AppendAudioChunk(index, layout.wfx, data, size);
        }
    }
    return true;
}

}  // namespace avi
