#include <algorithm>
#include <cstdio>
#include <vector>

#include "container/FileWindow.h"
#include "container/IndexSources.h"

namespace avi {

namespace {

constexpr uint8_t kIndexOfIndexes = 0x00;
constexpr uint8_t kIndexOfChunks = 0x01;
constexpr uint64_t kMostIndexes = 1u << 16;         // far beyond any real file (one per GiB or so)
constexpr uint64_t kLargestIndexChunk = 64u << 20;  // 8 M entries; writers keep far below
constexpr uint64_t kEntriesPerView = 1u << 20;      // 8 MiB of entries per read
constexpr uint32_t kHeaderView = 4 * 1024;

// One standard index the super index lists: its header, checked. Its
// entries stay in the file until they are taken, so what an open holds is
// the tables, never the indexes.
struct ListedIndex {
    uint64_t offset = 0;    // of its chunk header
    uint64_t chunkEnd = 0;  // past its last byte
    uint64_t base = 0;
    uint32_t entriesInUse = 0;
};

// A 'movi' list: its first chunk header and its end (clipped to the file),
// and the start of the RIFF form that holds it.
struct MovieList {
    uint64_t segment = 0;
    uint64_t start = 0;
    uint64_t end = 0;
    uint64_t segmentEnd = 0;  // declared
};

bool Decline(char (&why)[128], const char* format, unsigned long long a = 0,
             unsigned long long b = 0) {
    std::snprintf(why, sizeof why, format, a, b);
    return false;
}

// The n bytes at `offset` in one view, copied out; false when the file does
// not hold them.
bool ReadBytes(const ByteSource& source, uint64_t offset, uint64_t n, std::vector<uint8_t>& out) {
    if (n > source.MostViewBytes() || offset > source.Size() || n > source.Size() - offset) {
        return false;
    }
    FileWindow window;
    const auto bytes = static_cast<uint32_t>(n);
    const uint8_t* p = BytesAt(source, window, offset, bytes, bytes != 0 ? bytes : 1u);
    if (p == nullptr) return false;
    out.assign(p, p + n);
    return true;
}

bool IsStreamChunk(const AviLayout& layout, Medium medium, uint32_t code) {
    return medium == Medium::Video ? layout.IsVideoChunk(code) : layout.IsAudioChunk(code);
}

// The 'movi' list of each RIFF form, in file order: the first the walk
// found, each later one the list that opens its form ('RIFF' 'AVIX' 'LIST'
// 'movi'). Stops at the end of the file, or where no further form starts;
// false when a form does not open with a 'movi' list.
bool MovieLists(const ByteSource& source, const AviLayout& layout, std::vector<MovieList>& lists) {
    const uint64_t end = source.Size();
    lists.push_back({0, layout.moviType + 4, std::min(layout.moviEnd, end), layout.firstRiffEnd});
    FileWindow window;
    uint64_t next = layout.firstRiffEnd;
    while (next < end && lists.size() <= kMostIndexes) {
        const uint8_t* p = BytesAt(source, window, next, 13, kHeaderView);
        if (p == nullptr) break;
        if (ReadFourCC(p) != kRIFF && (next & 1u) != 0 && ReadFourCC(p + 1) == kRIFF) {
            ++next;  // the pad byte of an odd-sized form
            p = BytesAt(source, window, next, 12, kHeaderView);
            if (p == nullptr) break;
        }
        if (ReadFourCC(p) != kRIFF) break;
        const uint64_t formEnd = next + kChunkHeaderSize + ReadLe32(p + 4);
        p = BytesAt(source, window, next, 24, kHeaderView);
        if (p == nullptr || ReadFourCC(p + 12) != kLIST || ReadFourCC(p + 20) != kMovi) {
            return false;
        }
        const uint64_t listEnd = next + 20 + ReadLe32(p + 16);
        lists.push_back({next, next + 24, std::min(listEnd, end), formEnd});
        next = formEnd;
    }
    return true;
}

// True when the chunk whose data starts at `data` has the stream's code and
// the size an entry gives it.
bool ChunkMatches(const ByteSource& source, FileWindow& window, const IndexTarget& target,
                  uint64_t data, uint32_t size) {
    const uint8_t* header = data >= kChunkHeaderSize
                                ? BytesAt(source, window, data - kChunkHeaderSize, 8, kHeaderView)
                                : nullptr;
    return header != nullptr && IsStreamChunk(*target.layout, target.medium, ReadFourCC(header)) &&
           ReadLe32(header + 4) == size;
}

bool ReadListedIndex(const ByteSource& source, const IndexTarget& target, FileWindow& window,
                     uint64_t offset, ListedIndex& listed, char (&why)[128]) {
    const uint64_t end = source.Size();
    listed.offset = offset;
    const uint8_t* p = offset < end && end - offset >= kStandardIndexHeaderSize
                           ? BytesAt(source, window, offset, kStandardIndexHeaderSize, kHeaderView)
                           : nullptr;
    if (p == nullptr) return Decline(why, "index at %llu lies outside the file", offset);
    const uint32_t code = ReadFourCC(p);
    const uint32_t chunkSize = ReadLe32(p + 4);
    if (!IsStandardIndexCode(code) ||
        !IsStreamChunk(*target.layout, target.medium, ReadFourCC(p + 16))) {
        return Decline(why, "no standard index of the stream at %llu", offset);
    }
    if (ReadLe16(p + 8) != 2 || p[10] != 0 || p[11] != kIndexOfChunks) {
        return Decline(why, "index at %llu is not a plain index of chunks", offset);
    }
    listed.chunkEnd = offset + kChunkHeaderSize + chunkSize;
    if (chunkSize < kStandardIndexHeaderSize - kChunkHeaderSize || listed.chunkEnd > end ||
        chunkSize > kLargestIndexChunk) {
        return Decline(why, "index at %llu runs past the file (%llu bytes)", offset, chunkSize);
    }
    listed.entriesInUse = ReadLe32(p + 12);
    listed.base = ReadLe64(p + 20);
    const uint64_t entriesFit =
        (chunkSize - (kStandardIndexHeaderSize - kChunkHeaderSize)) / kStandardIndexEntrySize;
    if (listed.entriesInUse > entriesFit) {
        return Decline(why, "index at %llu counts more entries than it holds (%llu)", offset,
                       listed.entriesInUse);
    }
    return true;
}

// The chunk of an entry: its data offset and masked size.
struct Entry {
    uint64_t data = 0;
    uint32_t size = 0;
};
Entry EntryAt(const ListedIndex& ix, const uint8_t* entry) {
    return {ix.base + ReadLe32(entry), ReadLe32(entry + 4) & kIndexEntrySizeMask};
}

// Takes the entries of a later index (one after the first), read through
// views of up to 8 MiB and appended by the first index's rules, all of which
// they must pass. Each entry is a chunk of the segment's 'movi' list, after
// the previous one's end (what the scan would step over) and inside the list.
//
// That the scan would have found them there is read at the checked entries
// (CheckedEntry): the chunk header carries the code and size the entry says,
// and the scan from the chunk's end meets none of the stream's chunks before
// the next entry's header, which it lands on.
bool TakeLaterIndex(const ByteSource& source, const IndexTarget& target, const ListedIndex& ix,
                    const MovieList& movie, MediaIndex& built, char (&why)[128]) {
    const uint64_t first = ix.offset + kStandardIndexHeaderSize;
    const uint64_t count = ix.entriesInUse;
    if (ix.base > source.Size())
        return Decline(why, "index at %llu has its base past the file", ix.offset);
    struct Sample {
        uint64_t n;
        uint64_t data;
        uint32_t size;
        uint64_t end;  // where the scan goes on after the chunk
    };
    std::vector<Sample> samples;
    FileWindow window;
    uint64_t floor = built.indexedEnd > movie.start ? built.indexedEnd : movie.start;
    for (uint64_t done = 0; done < count;) {
        const uint64_t take = std::min(count - done, kEntriesPerView);
        const auto bytes = static_cast<uint32_t>(take * kStandardIndexEntrySize);
        const uint8_t* entries =
            BytesAt(source, window, first + done * kStandardIndexEntrySize, bytes, bytes);
        if (entries == nullptr) return Decline(why, "index at %llu cannot be read", ix.offset);
        for (uint64_t i = 0; i < take; ++i) {
            const uint64_t n = done + i;
            const Entry e = EntryAt(ix, entries + i * kStandardIndexEntrySize);
            const uint64_t stepped =
                target.medium == Medium::Video && e.size != 0 ? target.FrameStep(e.size) : e.size;
            if (ReadLe32(entries + i * kStandardIndexEntrySize) == 0 ||
                e.data < floor + kChunkHeaderSize || e.data + stepped > movie.end) {
                return Decline(why,
                               "index at %llu lists a chunk out of order or outside its "
                               "segment (entry %llu)",
                               ix.offset, n);
            }
            floor = e.data + stepped;
            // A checked entry, and the one after it: where its gap ends.
            if (CheckedEntry(n, count) || (n > 0 && CheckedEntry(n - 1, count))) {
                samples.push_back({n, e.data, e.size, floor});
            }
        }
        const uint64_t taken = AppendStandardEntries(entries, take, ix.base, target, built);
        if (taken != take) {
            return Decline(why, "index at %llu ends after %llu entries", ix.offset, done + taken);
        }
        done += take;
    }
    window.Release();
    MediaIndex gap;
    for (size_t i = 0; i < samples.size(); ++i) {
        const Sample& e = samples[i];
        if (!ChunkMatches(source, window, target, e.data, e.size)) {
            return Decline(why, "index at %llu does not point at the stream's chunks", ix.offset);
        }
        if (i + 1 == samples.size() || samples[i + 1].n != e.n + 1) continue;
        const uint64_t next = samples[i + 1].data - kChunkHeaderSize;
        if (e.end == next) continue;  // chunks that follow each other: nothing between
        if (ScanMovieRange(source, target, e.end, next, gap, movie.segmentEnd) != next ||
            !gap.frameTable.empty() || gap.pendingDropFrames != 0 || !gap.audioChunks.empty()) {
            return Decline(why, "index at %llu leaves out a chunk after entry %llu", ix.offset,
                           e.n);
        }
    }
    return true;
}

// True when a standard index that another stream's super index lists ahead
// of `first` names the served stream: the walk would stop there instead.
// Each super index is read in one view, and the headers it lists in file
// order through one moving window.
bool OtherIndexClaimsStream(const ByteSource& source, const IndexTarget& target, uint64_t first) {
    const AviLayout& layout = *target.layout;
    std::vector<uint64_t> ahead;
    for (int32_t s = 0; s < layout.otherSuperIndexes; ++s) {
        std::vector<uint8_t> super;
        const uint64_t size =
            std::min<uint64_t>(layout.otherSuperIndexSize[s],
                               kSuperIndexHeaderSize + kMostIndexes * kSuperIndexEntrySize);
        if (size < kSuperIndexHeaderSize ||
            !ReadBytes(source, layout.otherSuperIndexData[s], size, super))
            continue;
        const uint64_t listed = ReadLe32(super.data() + 4);
        for (uint64_t k = 0;
             k < listed && kSuperIndexHeaderSize + (k + 1) * kSuperIndexEntrySize <= size; ++k) {
            const uint64_t offset =
                ReadLe64(super.data() + kSuperIndexHeaderSize + k * kSuperIndexEntrySize);
            if (offset < first) ahead.push_back(offset);
        }
    }
    std::sort(ahead.begin(), ahead.end());
    ahead.erase(std::unique(ahead.begin(), ahead.end()), ahead.end());
    FileWindow window;
    for (const uint64_t offset : ahead) {
        const uint8_t* header =
            BytesAt(source, window, offset, kStandardIndexHeaderSize, kHeaderView);
        if (header == nullptr) continue;
        if (IsStandardIndexCode(ReadFourCC(header)) &&
            IsStreamChunk(layout, target.medium, ReadFourCC(header + 16))) {
            return true;
        }
    }
    return false;
}

// ReadSuperIndex, with the reason it declines in `why`.
bool TakeSuperIndex(const ByteSource& source, const IndexTarget& target, MediaIndex& index,
                    char (&why)[128]) {
    const AviLayout& layout = *target.layout;
    std::vector<uint8_t> super;
    // What the super index can list, and no more, is read.
    const uint64_t superSize = std::min<uint64_t>(
        layout.superIndexSize, kSuperIndexHeaderSize + kMostIndexes * kSuperIndexEntrySize);
    if (superSize < kSuperIndexHeaderSize ||
        !ReadBytes(source, layout.superIndexData, superSize, super)) {
        return Decline(why, "super index too short or unreadable (%llu bytes)",
                       layout.superIndexSize);
    }
    const uint8_t* p = super.data();
    const uint32_t listedCount = ReadLe32(p + 4);
    // A place kept for a super index that was never filled lists nothing:
    // there is nothing to decline.
    if (listedCount == 0) {
        why[0] = 0;
        return false;
    }
    if (ReadLe16(p) != 4 || p[3] != kIndexOfIndexes ||
        !IsStreamChunk(layout, target.medium, ReadFourCC(p + 8))) {
        return Decline(why, "super index is not an index of the stream's indexes");
    }
    if (listedCount > kMostIndexes ||
        kSuperIndexHeaderSize + listedCount * kSuperIndexEntrySize > super.size()) {
        return Decline(why, "super index lists %llu indexes in %llu bytes", listedCount,
                       layout.superIndexSize);
    }

    // The headers first, in file order: each index a chunk of its own that
    // neither overlaps nor repeats another, so the entries they count
    // together fit in the file.
    std::vector<ListedIndex> listed(listedCount);
    {
        FileWindow window;
        for (uint32_t k = 0; k < listedCount; ++k) {
            const uint8_t* entry = p + kSuperIndexHeaderSize + k * kSuperIndexEntrySize;
            if (!ReadListedIndex(source, target, window, ReadLe64(entry), listed[k], why)) {
                return false;
            }
            if (k > 0 && listed[k].offset < listed[k - 1].chunkEnd) {
                return Decline(why, "indexes out of file order or overlapping at %llu",
                               listed[k].offset);
            }
        }
    }

    // One index per segment, each in its own: a segment no index covers
    // would be met by the walk (before the first) or by the scan (after it).
    std::vector<MovieList> movies;
    if (!MovieLists(source, layout, movies) || movies.size() != listedCount) {
        return Decline(why, "the super index lists %llu indexes for %llu segments", listedCount,
                       movies.size());
    }
    for (uint32_t k = 0; k < listedCount; ++k) {
        const uint64_t segmentEnd = k + 1 < listedCount ? movies[k + 1].segment : source.Size();
        if (listed[k].offset < movies[k].start || listed[k].chunkEnd > segmentEnd) {
            return Decline(why, "index %llu lies outside segment %llu", k, k);
        }
    }

    if (OtherIndexClaimsStream(source, target, listed[0].offset)) {
        return Decline(why, "an index of another stream names this stream before %llu",
                       listed[0].offset);
    }

    MediaIndex built;
    built.frameSize = index.frameSize;
    built.fileEnd = index.fileEnd;
    if (target.medium == Medium::Video) {
        // The table at its final size at once: the indexes neither overlap
        // nor repeat, so their entries are bytes of the file.
        uint64_t totalEntries = 0;
        for (const ListedIndex& ix : listed) totalEntries += ix.entriesInUse;
        built.frameTable.reserve(static_cast<size_t>(totalEntries));
    }
    MediaIndex gap;  // what a scan between two indexes' chunks finds: must be nothing
    gap.frameSize = index.frameSize;
    gap.fileEnd = index.fileEnd;
    for (uint32_t k = 0; k < listedCount; ++k) {
        const ListedIndex& ix = listed[k];
        if (k == 0) {
            // The first index is read as the walk's standard index is: the
            // entries in use, up to one that ends the index. None may end it.
            AviLayout first = layout;
            first.standardIndexEntries = ix.offset + kStandardIndexHeaderSize;
            first.standardIndexEnd = ix.chunkEnd;
            first.standardIndexInUse = ix.entriesInUse;
            first.baseOffset = static_cast<int64_t>(ix.base);
            IndexTarget walked = target;
            walked.layout = &first;
            if (ix.entriesInUse == 0 || !ReadStandardIndex(source, walked, built)) {
                return Decline(why, "first index lists no chunk");
            }
            const uint64_t taken =
                built.frameTable.size() + built.pendingDropFrames + built.audioChunks.size();
            if (taken != ix.entriesInUse) {
                return Decline(why, "first index ends after %llu of %llu entries", taken,
                               ix.entriesInUse);
            }
            continue;
        }
        if (ix.entriesInUse == 0) return Decline(why, "index at %llu is empty", ix.offset);
        // What the scan would meet between the last chunk listed so far and
        // this index's first: none of the stream's chunks, and this one next.
        std::vector<uint8_t> firstEntry;
        if (!ReadBytes(source, ix.offset + kStandardIndexHeaderSize, kStandardIndexEntrySize,
                       firstEntry)) {
            return Decline(why, "index at %llu cannot be read", ix.offset);
        }
        const Entry head = EntryAt(ix, firstEntry.data());
        if (head.data <= built.indexedEnd || head.data < kChunkHeaderSize) {
            return Decline(why, "index at %llu lists chunks out of file order", ix.offset);
        }
        const uint64_t limit = head.data - kChunkHeaderSize;
        const uint64_t reached = ScanMovieRange(source, target, built.indexedEnd, limit, gap);
        if (reached != limit || !gap.frameTable.empty() || gap.pendingDropFrames != 0 ||
            !gap.audioChunks.empty()) {
            return Decline(why, "the movie data between indexes does not lead to index %llu", k);
        }
        if (!TakeLaterIndex(source, target, ix, movies[k], built, why)) return false;
    }
    // After the last chunk listed, the scan goes on to the end of the file
    // as it does after the walk's standard index.
    if (built.indexedEnd != 0) ScanMovieData(source, target, built.indexedEnd, built);
    index.frameTable = std::move(built.frameTable);
    index.shortFrames = std::move(built.shortFrames);
    index.nonEmptyChunks = built.nonEmptyChunks;
    index.shortChunks = built.shortChunks;
    index.firstShortSize = built.firstShortSize;
    index.smallestChunk = built.smallestChunk;
    index.paletteChanges = built.paletteChanges;
    index.audioChunks = std::move(built.audioChunks);
    index.pendingDropFrames = built.pendingDropFrames;
    index.indexedEnd = built.indexedEnd;
    index.sampleCounter = built.sampleCounter;
    index.baseOffset = static_cast<int64_t>(listed[0].base);  // the index the walk would stop at
    return true;
}

}  // namespace

Shortcut ReadSuperIndex(const ByteSource& source, const IndexTarget& target, MediaIndex& index) {
    Shortcut super;
    super.taken = TakeSuperIndex(source, target, index, super.why);
    return super;
}

}  // namespace avi
