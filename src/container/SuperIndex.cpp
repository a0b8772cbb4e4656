#include <cstdio>
#include <vector>

#include "container/FileWindow.h"
#include "container/IndexSources.h"

namespace avi {

namespace {

constexpr uint64_t kChunkHeaderSize = 8;
constexpr uint64_t kSuperHeaderSize = 24;     // after the chunk header: up to the entries
constexpr uint64_t kSuperEntrySize = 16;      // offset (64), size, duration
constexpr uint64_t kStandardHeaderSize = 32;  // with its chunk header: up to the entries
constexpr uint64_t kEntrySize = 8;
constexpr uint8_t kIndexOfIndexes = 0x00;
constexpr uint8_t kIndexOfChunks = 0x01;
constexpr uint32_t kSizeMask = 0x7FFFFFFFu;  // bit 31: the not-a-key-frame flag
constexpr uint64_t kMostIndexes = 1u << 16;
constexpr uint64_t kLargestIndexChunk =
    64u
    << 20;  // 8 M entries; writers keep far below  // far beyond any real file (one per GiB or so)

// One standard index the super index lists, checked and held in memory.
struct ListedIndex {
    uint64_t offset = 0;  // of its chunk header
    uint64_t base = 0;
    uint32_t entriesInUse = 0;
    uint64_t entriesFit = 0;  // whole entries the chunk holds
    std::vector<uint8_t> entries;
};

bool Decline(char (&why)[128], const char* format, unsigned long long a = 0,
             unsigned long long b = 0) {
    std::snprintf(why, sizeof why, format, a, b);
    return false;
}

// The n bytes at `offset` in one view, copied out; false when the file does
// not hold them.
bool ReadBytes(const FileSource& source, uint64_t offset, uint64_t n, std::vector<uint8_t>& out) {
    if (n > 0xFFFFFFFFu - source.granularity || offset > source.End() ||
        n > source.End() - offset) {
        return false;
    }
    FileWindow window;
    window.position = offset;
    if (!MapWindow(source, window, n != 0 ? static_cast<uint32_t>(n) : 1u) || !window.Holds(n)) {
        return false;
    }
    out.assign(window.Cursor(), window.Cursor() + n);
    return true;
}

// True when the chunk whose data starts at `data` has the stream's code and
// the size an entry gives it.
bool ChunkMatches(const FileSource& source, const AviLayout& layout, Medium medium, uint64_t data,
                  uint32_t size) {
    std::vector<uint8_t> header;
    if (data < kChunkHeaderSize || !ReadBytes(source, data - kChunkHeaderSize, 8, header)) {
        return false;
    }
    const uint32_t code = ReadFourCC(header.data());
    const bool ours =
        medium == Medium::Video ? layout.IsVideoChunk(code) : layout.IsAudioChunk(code);
    return ours && ReadLe32(header.data() + 4) == size;
}

bool ReadListedIndex(const FileSource& source, const IndexTarget& target, uint64_t offset,
                     uint32_t listedSize, ListedIndex& listed, char (&why)[128]) {
    const AviLayout& layout = *target.layout;
    const uint64_t end = source.End();
    listed.offset = offset;
    if (offset >= end || end - offset < kStandardHeaderSize) {
        return Decline(why, "index at %llu lies outside the file", offset);
    }
    // One read of what the super index says the chunk takes (a second when
    // its own header says it is longer).
    uint64_t want = listedSize > kStandardHeaderSize ? listedSize : kStandardHeaderSize;
    if (want > kLargestIndexChunk) want = kStandardHeaderSize;
    if (want > end - offset) want = end - offset;
    std::vector<uint8_t>& bytes = listed.entries;
    if (!ReadBytes(source, offset, want, bytes)) {
        return Decline(why, "index at %llu cannot be read", offset);
    }
    const uint8_t* p = bytes.data();
    const uint32_t code = ReadFourCC(p);
    const uint32_t chunkSize = ReadLe32(p + 4);
    const uint32_t chunkId = ReadFourCC(p + 16);
    const bool ours = target.medium == Medium::Video ? layout.IsVideoChunk(chunkId)
                                                     : layout.IsAudioChunk(chunkId);
    if (!IsStandardIndexCode(code) || !ours) {
        return Decline(why, "no standard index of the stream at %llu", offset);
    }
    if (ReadLe16(p + 8) != 2 || p[10] != 0 || p[11] != kIndexOfChunks) {
        return Decline(why, "index at %llu is not a plain index of chunks", offset);
    }
    const uint64_t chunkEnd = offset + kChunkHeaderSize + chunkSize;
    if (chunkSize < kStandardHeaderSize - kChunkHeaderSize || chunkEnd > end ||
        chunkSize > kLargestIndexChunk) {
        return Decline(why, "index at %llu runs past the file (%llu bytes)", offset, chunkSize);
    }
    listed.entriesInUse = ReadLe32(p + 12);
    listed.base = ReadLe64(p + 20);
    listed.entriesFit = (chunkSize - (kStandardHeaderSize - kChunkHeaderSize)) / kEntrySize;
    if (listed.entriesInUse > listed.entriesFit) {
        return Decline(why, "index at %llu counts more entries than it holds (%llu)", offset,
                       listed.entriesInUse);
    }
    if (kChunkHeaderSize + chunkSize > bytes.size() &&
        !ReadBytes(source, offset, kChunkHeaderSize + chunkSize, bytes)) {
        return Decline(why, "index at %llu cannot be read", offset);
    }
    // Keep the entries alone.
    bytes.erase(bytes.begin(), bytes.begin() + kStandardHeaderSize);
    bytes.resize(static_cast<size_t>(listed.entriesFit * kEntrySize));  // below 64 MiB
    return true;
}

// The chunk of entry i of an index: its data offset and masked size.
uint64_t EntryOffset(const ListedIndex& listed, uint64_t i) {
    return listed.base + ReadLe32(listed.entries.data() + i * kEntrySize);
}
uint32_t EntrySize(const ListedIndex& listed, uint64_t i) {
    return ReadLe32(listed.entries.data() + i * kEntrySize + 4) & kSizeMask;
}

// True when a standard index that another stream's super index lists ahead
// of `first` names the served stream: the walk would stop there instead.
bool OtherIndexClaimsStream(const FileSource& source, const IndexTarget& target, uint64_t first) {
    const AviLayout& layout = *target.layout;
    for (int32_t s = 0; s < layout.otherSuperIndexes; ++s) {
        std::vector<uint8_t> super;
        const uint32_t size = layout.otherSuperIndexSize[s];
        if (size < kSuperHeaderSize ||
            !ReadBytes(source, layout.otherSuperIndexData[s], size, super)) {
            continue;
        }
        const uint64_t listed = ReadLe32(super.data() + 4);
        for (uint64_t k = 0; k < listed && kSuperHeaderSize + (k + 1) * kSuperEntrySize <= size;
             ++k) {
            const uint64_t offset = ReadLe64(super.data() + kSuperHeaderSize + k * kSuperEntrySize);
            std::vector<uint8_t> header;
            if (offset >= first || !ReadBytes(source, offset, kStandardHeaderSize, header))
                continue;
            const uint32_t chunkId = ReadFourCC(header.data() + 16);
            const bool ours = target.medium == Medium::Video ? layout.IsVideoChunk(chunkId)
                                                             : layout.IsAudioChunk(chunkId);
            if (IsStandardIndexCode(ReadFourCC(header.data())) && ours) return true;
        }
    }
    return false;
}

}  // namespace

bool ReadSuperIndex(const FileSource& source, const IndexTarget& target, MediaIndex& index,
                    char (&why)[128]) {
    const AviLayout& layout = *target.layout;
    const bool video = target.medium == Medium::Video;
    std::vector<uint8_t> super;
    if (layout.superIndexSize < kSuperHeaderSize ||
        !ReadBytes(source, layout.superIndexData, layout.superIndexSize, super)) {
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
    const uint32_t chunkId = ReadFourCC(p + 8);
    const bool ours = video ? layout.IsVideoChunk(chunkId) : layout.IsAudioChunk(chunkId);
    if (ReadLe16(p) != 4 || p[3] != kIndexOfIndexes || !ours) {
        return Decline(why, "super index is not an index of the stream's indexes");
    }
    if (listedCount > kMostIndexes ||
        kSuperHeaderSize + listedCount * kSuperEntrySize > super.size()) {
        return Decline(why, "super index lists %llu indexes in %llu bytes", listedCount,
                       super.size());
    }

    std::vector<ListedIndex> listed(listedCount);
    uint64_t totalEntries = 0;
    for (uint32_t k = 0; k < listedCount; ++k) {
        const uint8_t* entry = p + kSuperHeaderSize + k * kSuperEntrySize;
        if (!ReadListedIndex(source, target, ReadLe64(entry), ReadLe32(entry + 8), listed[k],
                             why)) {
            return false;
        }
        if (k > 0 && listed[k].offset <= listed[k - 1].offset) {
            return Decline(why, "indexes out of file order at %llu", listed[k].offset);
        }
        totalEntries += listed[k].entriesInUse;
    }

    if (OtherIndexClaimsStream(source, target, listed[0].offset)) {
        return Decline(why, "an index of another stream names this stream before %llu",
                       listed[0].offset);
    }

    MediaIndex built;
    built.frameSize = index.frameSize;
    built.fileEnd = index.fileEnd;
    if (video) {
        const uint64_t fileCanHold = source.End() / kEntrySize;
        built.frameTable.reserve(
            static_cast<size_t>(totalEntries < fileCanHold ? totalEntries : fileCanHold));
    }
    MediaIndex gap;  // what a scan between two indexes' chunks finds: must be nothing
    gap.frameSize = index.frameSize;
    gap.fileEnd = index.fileEnd;
    for (uint32_t k = 0; k < listedCount; ++k) {
        const ListedIndex& ix = listed[k];
        if (k == 0) {
            // The first index is read as the walk's standard index is: every
            // entry the chunk holds, up to one that ends the index. That must
            // be exactly the entries it counts.
            const uint64_t taken =
                AppendStandardEntries(ix.entries.data(), ix.entriesFit, ix.base, target, built);
            if (taken != ix.entriesInUse) {
                return Decline(why, "first index ends after %llu of %llu entries", taken,
                               ix.entriesInUse);
            }
            // With no chunk listed there is no place to go on from.
            if (taken == 0) return Decline(why, "first index lists no chunk");
            continue;
        }
        if (ix.entriesInUse == 0) return Decline(why, "index at %llu is empty", ix.offset);
        // What the scan would meet between the last chunk listed so far and
        // this index's first: none of the stream's chunks, and this one next.
        const uint64_t firstData = EntryOffset(ix, 0);
        const uint64_t lastData = EntryOffset(ix, ix.entriesInUse - 1);
        if (firstData <= built.indexedEnd || firstData < kChunkHeaderSize || lastData < firstData) {
            return Decline(why, "index at %llu lists chunks out of file order", ix.offset);
        }
        if (!ChunkMatches(source, layout, target.medium, firstData, EntrySize(ix, 0)) ||
            !ChunkMatches(source, layout, target.medium, lastData,
                          EntrySize(ix, ix.entriesInUse - 1))) {
            return Decline(why, "index at %llu does not point at the stream's chunks", ix.offset);
        }
        const uint64_t limit = firstData - kChunkHeaderSize;
        const uint64_t reached = ScanMovieRange(source, target, built.indexedEnd, limit, gap);
        if (reached != limit || !gap.frameTable.empty() || gap.pendingDropFrames != 0 ||
            !gap.audioChunks.empty()) {
            return Decline(why, "the movie data between indexes does not lead to index %llu", k);
        }
        const uint64_t taken =
            AppendStandardEntries(ix.entries.data(), ix.entriesInUse, ix.base, target, built);
        if (taken != ix.entriesInUse) {
            return Decline(why, "index %llu ends after %llu entries", k, taken);
        }
    }
    // After the last chunk listed, the scan goes on to the end of the file
    // as it does after the walk's standard index.
    if (built.indexedEnd != 0) ScanMovieData(source, target, built.indexedEnd, built);
    index.frameTable = std::move(built.frameTable);
    index.shortFrames = std::move(built.shortFrames);
    index.nonEmptyChunks = built.nonEmptyChunks;
    index.shortChunks = built.shortChunks;
    index.firstShortSize = built.firstShortSize;
    index.audioChunks = std::move(built.audioChunks);
    index.pendingDropFrames = built.pendingDropFrames;
    index.indexedEnd = built.indexedEnd;
    index.sampleCounter = built.sampleCounter;
    index.baseOffset = static_cast<int64_t>(listed[0].base);  // the index the walk would stop at
    return true;
}

}  // namespace avi
