#include <algorithm>

#include "container/FileWindow.h"
#include "container/IndexSources.h"
#include "platform/platform.h"

namespace avi {

namespace {

constexpr uint64_t kListTypeSize = 4;
constexpr uint32_t kSmallView = 16 * 1024;
constexpr uint32_t kRangeFirstView = 4 * 1024;

// One scan: the window, the end of the RIFF segment it is in (0 when not
// known) and where it must stop.
struct Scan {
    const ByteSource& source;
    const IndexTarget& target;
    MediaIndex& index;
    FileWindow window;
    uint64_t segmentEnd = 0;
    uint64_t limit = ~uint64_t{0};
};

// A run of all-zero chunk headers (a preallocated or never written stretch):
// each would be stepped over as an empty chunk, 8 bytes at a time. Lands on
// the header, on that same 8-byte grid, that holds the first non-zero byte.
// False when zeros run to the end of the file.
bool CrossZeros(Scan& scan) {
    const uint64_t from = scan.window.position;
    const uint64_t data = NextNonZeroByte(scan.source, from);
    const uint64_t header = from + (data - from) / kChunkHeaderSize * kChunkHeaderSize;
    if (header + kChunkHeaderSize > scan.source.Size()) return false;
    return StepWindow(scan.source, scan.window, header - from);
}

// What the scan does with one chunk. Returns false to end the scan.
bool ScanChunk(Scan& scan) {
    const ByteSource& source = scan.source;
    const IndexTarget& target = scan.target;
    FileWindow& window = scan.window;
    MediaIndex& index = scan.index;
    const uint32_t requested = source.ReadAhead();
    const uint32_t code = ReadFourCC(window.Cursor());
    const uint32_t size = ReadLe32(window.Cursor() + 4);
    if (code == 0 && size == 0) {
        // Zeros past the declared end of a segment are no chunk of any
        // segment: the file's movie data has ended.
        if (scan.segmentEnd != 0 && window.position >= scan.segmentEnd) return false;
        return CrossZeros(scan);
    }
    const uint64_t header = window.position;
    StepWindow(source, window, kChunkHeaderSize);  // EnsureReadable said the header is there
    const AviLayout& layout = *target.layout;
    if (target.medium == Medium::Video && layout.IsVideoChunk(code)) {
        // A size of 0 is a drop frame. Any other size is a frame, stepped by
        // the frame size: a size field written wrong still leaves the next
        // chunk where it is, as this plug-in has always stepped it. A chunk
        // of the padded frame's size is stepped whole. What is read of the
        // frame is its chunk's declared bytes alone.
        if (size == 0) return AppendDropFrame(index);
        return AppendFrame(index, window.position, size) &&
               StepChunkBody(source, window, target.FrameStep(size), requested);
    }
    if (target.medium == Medium::Audio && layout.IsAudioChunk(code)) {
        if (size != 0) AppendAudioChunk(index, layout.wfx, window.position, size);
    } else if (target.medium == Medium::Video && layout.IsPaletteChange(code)) {
        ++index.paletteChanges;
    } else if (code == kRIFF) {
        // A further segment: its form type, then its chunks ('LIST' 'movi' among them).
        scan.segmentEnd = header + kChunkHeaderSize + size;
        return StepWindow(source, window, kListTypeSize);
    } else if (code == kLIST || code == kList) {
        if (!EnsureReadable(source, window, kListTypeSize, requested)) return false;
        const uint32_t type = ReadFourCC(window.Cursor());
        if (type == kMovi || type == kRec) return StepWindow(source, window, kListTypeSize);
    }
    // Everything else, whole lists included, is stepped over by its own size.
    return StepChunkBody(source, window, size, requested);
}

// The length of the next view. A header far past the view (after a large
// chunk, a video frame say) is likely followed by another large chunk: a
// small view there reads the next few headers without a whole window of
// media data. A header just past the view is in a run of small chunks,
// which a whole window serves best.
uint32_t ViewRequest(const FileWindow& window, uint32_t requested) {
    if (window.view == nullptr || window.Holds(kChunkHeaderSize)) return requested;
    const uint64_t viewEnd = window.ViewStart() + window.length;
    const bool farPast = window.position > viewEnd && window.position - viewEnd > kSmallView;
    return farPast && kSmallView < requested ? kSmallView : requested;
}

}  // namespace

uint64_t ScanMovieRange(const ByteSource& source, const IndexTarget& target, uint64_t start,
                        uint64_t limit, MediaIndex& index, uint64_t segmentEnd) {
    // Views as large as the index reader's, moved only when the next header
    // lies outside: a run of tiny chunks costs no mapping per chunk.
    uint32_t requested = source.ReadAhead();
    uint32_t first = requested;
    if (limit != ~uint64_t{0}) {
        // A bounded range (the gaps an index check looks into: mostly one
        // chunk of the other stream) starts with a view of a few headers and
        // never reads past its own end plus one header.
        if (limit > start && limit - start < requested - kChunkHeaderSize) {
            requested = static_cast<uint32_t>(limit - start + kChunkHeaderSize);
        }
        first = std::min(requested, kRangeFirstView);
    }
    if (segmentEnd == kFindSegmentEnd) segmentEnd = SegmentEndAt(source, *target.layout, start);
    Scan scan{source, target, index, {}, segmentEnd, limit};
    FileWindow& window = scan.window;
    window.position = start;
    if (start >= limit || BytesAt(source, window, start, 1, first) == nullptr) return start;
    // The start is often the end of an indexed chunk: after an odd size its
    // pad byte comes first.
    if ((start & 1u) != 0) SkipPadByte(source, window, requested);
    while (window.position < limit &&
           EnsureReadable(source, window, kChunkHeaderSize, ViewRequest(window, requested))) {
        if (!ScanChunk(scan)) break;
    }
    return window.position;
}

void ScanMovieData(const ByteSource& source, const IndexTarget& target, uint64_t start,
                   MediaIndex& index) {
    ScanMovieRange(source, target, start, ~uint64_t{0}, index);
}

uint64_t CountPaletteChanges(const ByteSource& source, const IndexTarget& target, uint64_t start,
                             uint64_t limit) {
    MediaIndex seen;
    seen.frameSize = target.frameSize;
    // No chunk lies before the end of an empty file: no frame is stored
    // (the table would take as much memory as the stream's own).
    seen.fileEnd = 0;
    ScanMovieRange(source, target, start, limit, seen);
    return seen.paletteChanges;
}

uint64_t SegmentEndAt(const ByteSource& source, const AviLayout& layout, uint64_t position) {
    // Segments follow each other, each stepped by its declared size; a few
    // 12-byte reads reach the one that holds `position`.
    constexpr int kMostSegments = 4096;
    const uint64_t end = source.Size();
    uint64_t segmentEnd = layout.firstRiffEnd;
    FileWindow probe;
    for (int i = 0; i < kMostSegments && segmentEnd != 0; ++i) {
        if (position < segmentEnd) return segmentEnd;
        uint64_t next = segmentEnd;
        if (BytesAt(source, probe, next, kListHeaderSize, 16) == nullptr) return 0;
        uint32_t code = ReadFourCC(probe.Cursor());
        if (code != kRIFF && (next & 1u) != 0 && probe.Holds(13)) {
            ++next;  // the pad byte of an odd-sized segment
            code = ReadFourCC(probe.Cursor() + 1);
        }
        if (code != kRIFF) return 0;
        if (BytesAt(source, probe, next, kChunkHeaderSize, 16) == nullptr) return 0;
        const uint64_t size = ReadLe32(probe.Cursor() + 4);
        segmentEnd = next + kChunkHeaderSize + size;
        if (segmentEnd > end) return 0;  // a segment the file does not hold: no bound
    }
    return 0;
}

}  // namespace avi
