#include <algorithm>
#include <cstdio>
#include <vector>

#include "container/FileWindow.h"
#include "container/IndexSources.h"

namespace avi {

namespace {

constexpr uint32_t kHeaderView = 4 * 1024;
// The most a run check's header view grows to: the size of an entries'
// view, which a heap reuses rather than mapping anew.
constexpr uint32_t kMostHeaderView = 256 * 1024;
constexpr uint64_t kShortestRun = 4;  // chunks

// The headers of a run check, read through one window. Where the headers
// lie close together (short runs of small chunks) each new view begins just
// past the last one, and the view doubles, up to kMostHeaderView: a file of
// such runs is read in few large reads instead of one read per 4 KiB (a
// system call each, and on some systems far more). A header far from the
// view starts again from kHeaderView, so checks of runs that lie far apart
// read little more than their headers.
struct HeaderReader {
    FileWindow window;
    uint32_t view = kHeaderView;
};

// True when a chunk header with `code` and `size` starts at `position`:
// how an entry's offset is checked. A 'rec ' entry points at a 'LIST'.
bool ChunkHeaderAt(const ByteSource& source, HeaderReader& reader, uint64_t position, uint32_t code,
                   uint32_t size) {
    // Most headers a run's check reads lie in the view it holds: taken from
    // there without a call (the window's place in the file does not change).
    FileWindow& window = reader.window;
    const uint8_t* header = window.ViewAt(position, kChunkHeaderSize);
    if (header == nullptr) {
        const uint64_t viewEnd = window.ViewStart() + window.length;
        const bool near = window.view != nullptr && position + kChunkHeaderSize > viewEnd &&
                          position < viewEnd + reader.view;
        reader.view = near ? std::min(2 * reader.view, kMostHeaderView) : kHeaderView;
        header = BytesAt(source, window, position, kChunkHeaderSize, reader.view);
        if (header == nullptr) return false;
    }
    const uint32_t found = ReadFourCC(header);
    const uint32_t expected = code == kRec ? kLIST : code;
    return found == expected && (code == kRec || ReadLe32(header + 4) == size);
}
bool ChunkHeaderAt(const ByteSource& source, uint64_t position, uint32_t code, uint32_t size) {
    HeaderReader probe;
    return ChunkHeaderAt(source, probe, position, code, size);
}

// Codes the header walk acts on: a chunk of the movie data with one of them
// would change what the walk does next.
bool WalkActsOn(uint32_t code) {
    return code == kRIFF || code == kLIST || code == kList || code == kAvih || code == kStrh ||
           code == kStrf || code == kIndx || code == kIdx1 || IsStandardIndexCode(code);
}

constexpr uint64_t kEntriesPerView = kIdx1EntriesPerView;
static_assert(kEntriesPerView * kIdx1EntrySize <= 1u << 20, "a view the heap reuses");

// The `count` entries of one 'idx1' chunk whose first entry is at `data`,
// a window of them at a time.
class Idx1Entries {
public:
    Idx1Entries(const ByteSource& source, uint64_t data, uint64_t count)
        : source_(source), data_(data), count_(count) {}

    // Entries [first, first + held) in view, held = what is left up to one
    // window's worth; null when they cannot be read.
    const uint8_t* Load(uint64_t first, uint64_t& held) {
        if (entries_ == nullptr || first != first_) {
            first_ = first;
            held_ = first < count_ ? std::min(count_ - first, kEntriesPerView) : 0;
            const auto bytes = static_cast<uint32_t>(held_ * kIdx1EntrySize);
            entries_ = held_ == 0 ? nullptr
                                  : BytesAt(source_, window_, data_ + first * kIdx1EntrySize, bytes,
                                            bytes);
        }
        held = entries_ == nullptr ? 0 : held_;
        return entries_;
    }

    // Entry i (below count): from the window when it holds it, else read on
    // its own (a run's entries that lie behind the window). Null when it
    // cannot be read.
    const uint8_t* At(uint64_t i) {
        if (entries_ != nullptr && i >= first_ && i - first_ < held_) {
            return entries_ + (i - first_) * kIdx1EntrySize;
        }
        return BytesAt(source_, behind_, data_ + i * kIdx1EntrySize, kIdx1EntrySize, kHeaderView);
    }

private:
    const ByteSource& source_;
    const uint64_t data_;
    const uint64_t count_;
    FileWindow window_;
    uint64_t first_ = 0;
    uint64_t held_ = 0;
    const uint8_t* entries_ = nullptr;
    FileWindow behind_;
};

// A chunk with this code is one the walk only steps over.
bool WalkStepsOver(uint32_t code) {
    return LooksLikeChunkCode(code) && !WalkActsOn(code) && code != kRec;
}

}  // namespace

Shortcut Idx1MovieRuns(const ByteSource& source, const AviLayout& layout,
                       std::vector<MovieRun>& runs) {
    runs.clear();
    Shortcut tiling;
    const uint64_t end = source.Size();
    // The 'idx1' chunk right after the 'movi' list, found from the list's size.
    uint64_t at = layout.moviEnd;
    if (!layout.haveMovie || at >= end || end - at < kChunkHeaderSize + kIdx1EntrySize) {
        return tiling;
    }
    uint64_t data = 0;
    uint32_t size = 0;
    {
        FileWindow window;
        if (BytesAt(source, window, at, kChunkHeaderSize, 16) == nullptr) return tiling;
        if (ReadFourCC(window.Cursor()) != kIdx1 && (at & 1u) != 0 &&
            window.Holds(kChunkHeaderSize + 1) && ReadFourCC(window.Cursor() + 1) == kIdx1) {
            ++at;  // the pad byte of an odd-sized list
            StepWindow(source, window, 1);
        }
        if (!window.Holds(kChunkHeaderSize) || ReadFourCC(window.Cursor()) != kIdx1) {
            return tiling;
        }
        data = at + kChunkHeaderSize;
        size = ReadLe32(window.Cursor() + 4);
    }
    const uint64_t held = end - data < size ? end - data : size;
    const uint64_t entries = held / kIdx1EntrySize;
    if (entries == 0) return tiling;
    Idx1Entries list(source, data, entries);
    uint64_t inView = 0;
    const uint8_t* entry = list.Load(0, inView);
    if (entry == nullptr) return tiling;

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
    uint64_t runFirst = 0;  // the run's first entry: its entries follow it
    bool unread = false;    // an entry could not be read: no run is trusted
    HeaderReader headers;
    auto close = [&]() {
        // The run's checked chunks carry the header their entries give. A
        // run of fewer than 4 chunks is left to the walk: its chunks are all
        // checked, which reads what the walk would, and its record would
        // take more memory than its entries take of the file.
        bool matches = chunks >= kShortestRun;
        for (uint64_t n = 0; matches && n < chunks; ++n) {
            if (!CheckedEntry(n, chunks)) continue;
            const uint8_t* e = list.At(runFirst + n);
            if (e == nullptr) {
                unread = true;
                break;
            }
            matches = ChunkHeaderAt(source, headers, base + ReadLe32(e + 8), ReadFourCC(e),
                                    ReadLe32(e + 12));
        }
        if (matches && !unread) runs.push_back(run);
        chunks = 0;
    };
    // Most entries repeat the code before them: its test is kept.
    uint32_t knownCode = 0;
    bool knownSteps = WalkStepsOver(knownCode);
    for (uint64_t first = 0; first < entries && !unread; first += inView) {
        entry = list.Load(first, inView);
        if (entry == nullptr) {
            unread = true;
            break;
        }
        for (uint64_t k = 0; k < inView; ++k, entry += kIdx1EntrySize) {
            const uint32_t code = ReadFourCC(entry);
            if (code != knownCode) {
                knownCode = code;
                knownSteps = WalkStepsOver(code);
            }
            const uint64_t header = base + ReadLe32(entry + 8);
            const uint32_t chunkSize = ReadLe32(entry + 12);
            const uint64_t chunkEnd = header + kChunkHeaderSize + chunkSize;
            const bool stepped = knownSteps && header >= listStart && chunkEnd <= listEnd;
            const bool follows =
                chunks > 0 && (header == run.end || (run.afterOddChunk && header == run.end + 1));
            if (!stepped || !follows) close();
            if (unread) break;
            if (!stepped) continue;
            const uint64_t floor = runs.empty() ? listStart : runs.back().end;
            if (chunks == 0) {
                if (header < floor) continue;  // out of file order: left to the walk
                run = MovieRun{header, header, 0, false, code, chunkSize, code};
                runFirst = first + k;
            }
            run.lastHeader = header;
            run.lastCode = code;
            run.end = chunkEnd;
            run.afterOddChunk = (chunkSize & 1u) != 0;
            ++chunks;
        }
    }
    if (!unread) close();
    if (unread) {
        // A read that failed is the open's to report; runs gathered from
        // part of the index are not kept.
        runs.clear();
        return tiling;
    }
    tiling.taken = true;
    return tiling;
}

bool ReadIdx1Index(const ByteSource& source, const IndexTarget& target, MediaIndex& index) {
    const AviLayout& layout = *target.layout;
    const uint64_t end = source.Size();
    if (!layout.haveIdx1 || layout.idx1Data >= end) return false;
    // The chunk, bounded by what the file holds, a window at a time.
    const uint64_t held =
        end - layout.idx1Data < layout.idx1Size ? end - layout.idx1Data : layout.idx1Size;
    const uint64_t entries = held / kIdx1EntrySize;
    if (entries == 0) return false;
    Idx1Entries list(source, layout.idx1Data, entries);
    uint64_t inView = 0;
    const uint8_t* entry = list.Load(0, inView);
    if (entry == nullptr) return false;

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

    // What an entry's code makes of it, kept for the code before (most
    // entries repeat it).
    enum class Kind : uint8_t { Other, Frame, PaletteChange, Audio };
    const bool video = target.medium == Medium::Video;
    const auto kindOf = [&](uint32_t code) {
        if (video && layout.IsVideoChunk(code)) return Kind::Frame;
        if (video && layout.IsPaletteChange(code)) return Kind::PaletteChange;
        if (!video && layout.IsAudioChunk(code)) return Kind::Audio;
        return Kind::Other;
    };
    uint32_t knownCode = 0;
    Kind known = kindOf(knownCode);
    // A read that fails part way leaves the tables as they were: the open
    // reports the failure, and no table is built from part of the index.
    const MediaIndex before = index;
    for (uint64_t first = 0; first < entries; first += inView) {
        entry = list.Load(first, inView);
        if (entry == nullptr) {
            index = before;
            return false;
        }
        for (uint64_t k = 0; k < inView; ++k, entry += kIdx1EntrySize) {
            const uint32_t code = ReadFourCC(entry);
            if (code != knownCode) {
                knownCode = code;
                known = kindOf(code);
            }
            if (known == Kind::Other) continue;
            const uint64_t data = base + ReadLe32(entry + 8) + kChunkHeaderSize;
            const uint32_t size = ReadLe32(entry + 12);
            if (known == Kind::Frame) {
                const bool stored =
                    size == 0 ? AppendDropFrame(index) : AppendFrame(index, data, size);
                if (!stored) return true;
            } else if (known == Kind::PaletteChange) {
                ++index.paletteChanges;
            } else if (size != 0) {
                AppendAudioChunk(index, layout.wfx, data, size);
            }
        }
    }
    return true;
}

}  // namespace avi
