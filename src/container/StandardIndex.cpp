#include "container/StandardIndex.h"

#include <algorithm>
#include <new>
#include <vector>

#include "container/FileWindow.h"
#include "reader/Mirolan.h"

namespace avi {

namespace {

constexpr uint64_t kEntrySize = 8;        // offset + size, one per indexed chunk
constexpr uint64_t kChunkHeaderSize = 8;  // code + size
// A 'RIFF' met by the scan opens a further segment: after its 8-byte header
// come the form type (4) and the 'LIST' 'movi' header (12); the scan goes on
// with the first chunk inside that list.
constexpr uint64_t kSegmentHeaderRest = 16;

// Appends one frame offset. False when the table already holds as many frames
// as dwTotalFrames can count; the caller then stops adding.
bool AppendFrame(CMirolan& reader, uint64_t offset) {
    std::vector<FrameEntry>& table = reader.frameTable;
    if (table.size() >= 0xFFFFFFFFu) return false;
    if (table.size() >= table.max_size()) throw std::bad_alloc();
    table.push_back(static_cast<FrameEntry>(offset));
    return true;
}

void AppendAudioChunk(CMirolan& reader, uint64_t& sampleCounter, uint64_t offset, uint32_t size) {
    // 64-bit unsigned sums: a hostile count cannot overflow a signed value.
    const uint64_t end = sampleCounter + SampleCount(size, reader.wfx);
    reader.audioChunks.push_back(AudioChunk{static_cast<int64_t>(sampleCounter),
                                            static_cast<int64_t>(end), static_cast<int64_t>(offset),
                                            size});
    sampleCounter = end;
}

// True while a whole entry lies before the end of the index chunk.
bool EntryFits(const FileWindow& window, uint64_t entriesEnd) {
    return window.position <= entriesEnd && entriesEnd - window.position >= kEntrySize;
}

// Video entries end at the first size that is not biSizeImage.
void ReadVideoEntries(CMirolan& reader, FileWindow& window, uint64_t entriesEnd) {
    const uint32_t requested = reader.granularity;
    reader.frameTable.clear();
    while (EntryFits(window, entriesEnd) && EnsureReadable(reader, window, kEntrySize, requested)) {
        const uint32_t offset = ReadLe32(window.Cursor());
        const uint32_t size = ReadLe32(window.Cursor() + 4);
        if (size != reader.bih.biSizeImage) break;
        if (!AppendFrame(reader, static_cast<uint64_t>(reader.baseOffset) + offset)) break;
        StepWindow(reader, window, kEntrySize);  // the entry's bytes are in the file
    }
    reader.avih.dwTotalFrames = static_cast<uint32_t>(reader.frameTable.size());
}

// Audio entries end at the first size of 0.
void ReadAudioEntries(CMirolan& reader, FileWindow& window, uint64_t entriesEnd) {
    const uint32_t requested = reader.granularity;
    uint64_t sampleCounter = 0;
    while (EntryFits(window, entriesEnd) && EnsureReadable(reader, window, kEntrySize, requested)) {
        const uint32_t offset = ReadLe32(window.Cursor());
        const uint32_t size = ReadLe32(window.Cursor() + 4);
        if (size == 0) break;
        AppendAudioChunk(reader, sampleCounter, static_cast<uint64_t>(reader.baseOffset) + offset,
                         size);
        StepWindow(reader, window, kEntrySize);
    }
}

// Where the scan starts: right after the data of the last indexed chunk.
// False when the index stored nothing.
bool ScanStart(const CMirolan& reader, uint64_t* start, uint64_t* sampleCounter) {
    *sampleCounter = 0;
    if (reader.bAudio) {
        if (reader.audioChunks.empty()) return false;
        const AudioChunk& last = reader.audioChunks.back();
        *start = static_cast<uint64_t>(last.offset) + last.size;
        *sampleCounter = static_cast<uint64_t>(last.endSample);
        return true;
    }
    if (reader.bVideo) {
        if (reader.frameTable.empty()) return false;
        *start = static_cast<uint64_t>(reader.frameTable.back()) + reader.bih.biSizeImage;
        return true;
    }
    return false;
}

// One chunk header of the scan, at the window's position (already readable).
// Returns the number of bytes to step after the header, or false to end.
bool ScanChunk(CMirolan& reader, FileWindow& window, uint64_t& sampleCounter, uint64_t* step) {
    const uint32_t code = ReadFourCC(window.Cursor());
    const uint32_t size = ReadLe32(window.Cursor() + 4);
    StepWindow(reader, window, kChunkHeaderSize);
    if (reader.bVideo && code == k00db) {
        if (!AppendFrame(reader, window.position)) return false;
        // Frames are all biSizeImage long, whatever the chunk's size says.
        *step = reader.bih.biSizeImage;
    } else if (reader.bAudio && code == k01wb) {
        if (size != 0) AppendAudioChunk(reader, sampleCounter, window.position, size);
        *step = size;
    } else if (code == kRIFF) {
        *step = kSegmentHeaderRest;
    } else {
        // The other stream's chunks, index chunks, 'idx1', 'JUNK', whole lists.
        *step = size;
    }
    return true;
}

}  // namespace

uint32_t SampleCount(uint32_t size, const WAVEFORMATEX& format) {
    const uint32_t bitsPerFrame = static_cast<uint32_t>(format.wBitsPerSample) * format.nChannels;
    if (bitsPerFrame == 0) return 0;
    // Deliberately 32-bit: size x 8 wraps modulo 2^32 as the format defines.
    return static_cast<uint32_t>(size * 8u) / bitsPerFrame;
}

void PrepareFrameTable(CMirolan& reader, uint32_t totalFrames) {
    // The same refusal on every target: a table whose byte size passes 32 bits.
    if (static_cast<uint64_t>(totalFrames) * sizeof(FrameEntry) > 0xFFFFFFFFu) {
        throw std::bad_alloc();
    }
    // Every frame costs the file at least an 8-byte entry or chunk header, so
    // the file bounds what is worth reserving; the table grows past it if needed.
    const uint64_t fileCanHold =
        reader.fileSize > 0 ? static_cast<uint64_t>(reader.fileSize) / kEntrySize : 0;
    reader.frameTable.clear();
    // Only a video reader fills the table; an audio reader would hold the room for nothing.
    if (!reader.bVideo) return;
    reader.frameTable.reserve(static_cast<size_t>(std::min<uint64_t>(totalFrames, fileCanHold)));
}

bool ReadStandardIndex(CMirolan& reader, const uint8_t*& viewSlot, uint64_t firstEntry,
                       uint64_t entriesEnd) {
    FileWindow window;
    window.view = viewSlot;  // taken over; the first mapping releases it
    viewSlot = nullptr;
    window.position = firstEntry;
    if (!MapWindow(reader, window, reader.granularity)) return false;

    if (reader.bVideo) {
        ReadVideoEntries(reader, window, entriesEnd);
    } else if (reader.bAudio) {
        ReadAudioEntries(reader, window, entriesEnd);
    }
    window.Release();
    ScanMovieData(reader);
    return true;
}

void ScanMovieData(CMirolan& reader) {
    uint64_t start = 0;
    uint64_t sampleCounter = 0;
    if (!ScanStart(reader, &start, &sampleCounter)) return;

    // Views as large as the index reader's, moved only when the next header
    // lies outside: a run of tiny chunks costs no mapping per chunk.
    const uint32_t requested = reader.granularity;
    FileWindow window;
    window.position = start;
    if (!MapWindow(reader, window, requested)) return;
    while (EnsureReadable(reader, window, kChunkHeaderSize, requested)) {
        uint64_t step = 0;
        if (!ScanChunk(reader, window, sampleCounter, &step)) break;
        if (!StepWindow(reader, window, step)) break;
    }
    if (reader.bVideo) {
        reader.avih.dwTotalFrames = static_cast<uint32_t>(reader.frameTable.size());
        // Frames of later segments grow the table by doubling past the main
        // header's count; the table lives as long as the stream, so give the
        // unused room back (it can be as much as the table itself).
        std::vector<FrameEntry>& table = reader.frameTable;
        if (table.capacity() - table.size() > table.size() / 8) table.shrink_to_fit();
    }
}

}  // namespace avi
