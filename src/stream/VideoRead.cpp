#include "stream/VideoRead.h"

#include <algorithm>
#include <cstring>

#include "diag/DebugLog.h"
#include "diag/LogLines.h"
#include "stream/FileRead.h"

namespace stream {

namespace {

// Converts, in place, a band of `rows` stored rows that was read to the start
// of its own output `band` (rows x width x 4 bytes), of which `bytesRead`
// bytes arrived. Pixels read in full (whole groups of them) are converted,
// the rest of the band is zeroed.
//
// Why in place is sound: stored row r lies at r x stride and its output at
// r x 4 x width, and a row converted in place has stride <= 4 x width, so
// every row's source is not below its output, as such a kernel requires.
// The kernel goes last row first: the output of row r starts at r x 4 x
// width >= r x stride, where row r's own source starts, and rows before r
// end at or before r x stride, so converting row r never reaches a source
// still to be read. The partial row after the full ones is converted first,
// and the zeroed tail after the last pixel converted holds nothing still
// needed.
void ConvertBandInPlace(uint8_t* band, const format::PictureFormat& picture, uint32_t rows,
                        uint64_t bytesRead) {
    const format::PictureRow& row = *picture.row;
    const uint32_t width = picture.width;
    // Both below 2^32: the band's output fits 32 bits and stride <= outRow.
    const uint64_t stride = picture.storedStride;
    const uint64_t outRow = static_cast<uint64_t>(width) * 4;
    const auto storedStride = static_cast<size_t>(stride);
    const auto outStride = static_cast<ptrdiff_t>(outRow);
    const uint64_t fullRows = bytesRead / stride < rows ? bytesRead / stride : rows;
    uint64_t partial = 0;
    if (fullRows < rows) {
        partial = bytesRead % stride * 8 / row.bitsPerPixel;
        partial -= partial % row.pixelsPerGroup;
        if (partial > width) partial = width;  // padding bytes of the row
        if (partial > 0) {
            row.convert(band + fullRows * stride, storedStride, band + fullRows * outRow, outStride,
                        static_cast<uint32_t>(partial), 1, picture.context);
        }
    }
    if (fullRows > 0) {
        row.convert(band, storedStride, band, outStride, width, static_cast<uint32_t>(fullRows),
                    picture.context);
    }
    const uint64_t converted = fullRows * outRow + partial * 4;
    std::memset(band + converted, 0, static_cast<size_t>(rows * outRow - converted));
}

// A copied frame: one positioning and one read straight into the host's
// buffer, no copy, no allocation.
bool ReadCopied(platform::FileHandle file, const format::PictureFormat& picture, int64_t offset,
                uint32_t held, uint8_t* destination) {
    if (!platform::SeekFromBegin(file, offset)) return false;
    if (destination == nullptr) return true;
    const uint32_t byteCount = picture.frameSize;
    ReadHereOrFill(file, destination, held < byteCount ? held : byteCount, byteCount, 0);
    return true;
}

// Logs (once per stream) that the staging buffer could not be had and
// serves the frame as zeros.
bool StagingUnavailable(StagingBuffer& staging, uint64_t size, uint8_t* destination,
                        uint64_t outputBytes) {
    if (!staging.failureLogged) {
        staging.failureLogged = true;
        diag::DebugLog("", diag::kSourceName, diag::kLogStagingUnavailable,
                       "Staging buffer of %llu bytes unavailable",
                       static_cast<unsigned long long>(size));
    }
    std::memset(destination, 0, static_cast<size_t>(outputBytes));
    return true;
}

// A staged frame: the stored bytes read into the staging buffer (what the
// file or the chunk lacks is zero), then converted into the host's buffer,
// turned over when the picture says so. A frame of whole rows goes in bands
// of about kStagedBandBytes, each converted while it is still in the cache
// (and the buffer stays small); any other (planar) is read whole. Without
// staging memory (logged once per stream) the frame comes out as zeros.
constexpr uint64_t kStagedBandBytes = 256 * 1024;
bool ReadStaged(platform::FileHandle file, const format::PictureFormat& picture, int64_t offset,
                uint32_t held, uint8_t* destination, StagingBuffer& staging) {
    if (!platform::SeekFromBegin(file, offset)) return false;
    if (destination == nullptr) return true;
    const uint64_t outRow = static_cast<uint64_t>(picture.width) * 4;
    const uint32_t rows = picture.rows;
    const uint32_t size = picture.frameSize;
    const uint64_t stride = picture.storedStride;
    const bool wholeRows = stride > 0 && stride * rows == size;
    const uint32_t rowsPerBand = !wholeRows
                                     ? rows
                                     : static_cast<uint32_t>(std::min<uint64_t>(
                                           rows, std::max<uint64_t>(1, kStagedBandBytes / stride)));
    const uint64_t bandBytes = wholeRows ? rowsPerBand * stride : size;
    if (!staging.Reserve(static_cast<size_t>(bandBytes)))
        return StagingUnavailable(staging, bandBytes, destination, outRow * rows);
    uint8_t* stored = staging.Bytes();
    if (!wholeRows) {
        // The read goes on from the positioning above.
        ReadHereOrFill(file, stored, held < size ? held : size, size, 0);
        const bool turn = picture.turnOver && rows > 0;
        uint8_t* out = turn ? destination + outRow * (rows - 1) : destination;
        const ptrdiff_t outStride =
            turn ? -static_cast<ptrdiff_t>(outRow) : static_cast<ptrdiff_t>(outRow);
        picture.row->convert(stored, static_cast<size_t>(stride), out, outStride, picture.width,
                             rows, picture.context);
        return true;
    }
    const ptrdiff_t outStride =
        picture.turnOver ? -static_cast<ptrdiff_t>(outRow) : static_cast<ptrdiff_t>(outRow);
    for (uint32_t first = 0; first < rows; first += rowsPerBand) {
        const uint32_t count = std::min(rowsPerBand, rows - first);
        // Below the frame size, so below 2^32.
        const uint64_t bandStart = first * stride;
        const uint64_t bytes = count * stride;
        const uint64_t bytesHeld = held > bandStart ? held - bandStart : 0;
        // Unsigned, as in the in-place read: a wrapped position is refused.
        const uint64_t at = static_cast<uint64_t>(offset) + bandStart;
        ReadOrFill(file, static_cast<int64_t>(at), stored,
                   static_cast<uint32_t>(std::min(bytes, bytesHeld)), static_cast<uint32_t>(bytes),
                   0);
        const uint32_t outFirst = picture.turnOver ? rows - 1 - first : first;
        picture.row->convert(stored, static_cast<size_t>(stride), destination + outFirst * outRow,
                             outStride, picture.width, count, picture.context);
    }
    return true;
}

}  // namespace

// The frame is read straight into the host's buffer, which is large enough
// since a stored row converted in place is never longer than its output row;
// bands go from the last to the first so that each band is read to the start
// of its own output range, below which only earlier bands, not yet read, lie.
// (The other way round, the frame read to the end of the buffer and
// converted first row first, fails for some widths: the last row's source
// then starts only 4 x width - stride bytes after its output, fewer than the
// row's own bytes, and a forward conversion overwrites pixels not yet read.)
bool ReadFrameInPlace(platform::FileHandle file, const format::PictureFormat& picture,
                      int64_t offset, uint8_t* destination, uint32_t bandBytes, uint32_t held) {
    const uint32_t width = picture.width;
    const uint32_t rows = picture.rows;
    const uint64_t outRow = static_cast<uint64_t>(width) * 4;
    if (outRow * rows > 0xFFFFFFFFu) return false;
    if (!platform::SeekFromBegin(file, offset)) return false;
    if (width == 0 || rows == 0 || destination == nullptr) return true;
    const uint64_t stride = picture.storedStride;
    const uint32_t rowsPerBand =
        bandBytes / outRow > 0 ? static_cast<uint32_t>(bandBytes / outRow) : 1u;
    for (uint32_t end = rows; end > 0;) {
        const uint32_t first = end > rowsPerBand ? end - rowsPerBand : 0;
        uint8_t* band = destination + first * outRow;
        // <= the band's output, so < 2^32; none of it past the bytes held.
        const uint64_t bandStart = first * stride;
        const uint64_t bandBytesHeld = held > bandStart ? held - bandStart : 0;
        const auto wanted = static_cast<uint32_t>(std::min((end - first) * stride, bandBytesHeld));
        // Unsigned, so that an offset near the top wraps to a position the
        // seek refuses (its band then comes out as zeros) instead of overflowing.
        const uint64_t at = static_cast<uint64_t>(offset) + first * stride;
        // The conversion zeroes what is not read: nothing to fill here.
        const uint32_t got = ReadOrFill(file, static_cast<int64_t>(at), band, wanted, wanted, 0);
        ConvertBandInPlace(band, picture, end - first, got == kUnpositioned ? 0 : got);
        end = first;
    }
    return true;
}

// Only a failed positioning is an error; a failed or short read (a frame cut
// off by the end of a truncated file) leaves zeros where the file ends, so
// the host never shows the previous frame's pixels there, and the frame is
// delivered anyway.
bool ReadVideoFrame(platform::FileHandle file, const format::PictureFormat& picture,
                    int64_t frameOffset, uint32_t held, uint8_t* destination,
                    StagingBuffer& staging) {
    const format::PictureRow& row = *picture.row;
    // Turned over, a row's output lands where other rows' stored bytes still
    // wait: such frames go through the staging buffer.
    const bool inPlace = row.delivery == format::Delivery::InPlace && !picture.turnOver;
    const bool positioned =
        row.delivery == format::Delivery::Copy
            ? ReadCopied(file, picture, frameOffset, held, destination)
        : inPlace
            ? ReadFrameInPlace(file, picture, frameOffset, destination, kInPlaceBandBytes, held)
            : ReadStaged(file, picture, frameOffset, held, destination, staging);
    if (!positioned) {
        diag::DebugLog("", diag::kSourceName, diag::kLogVideoSeekFailed,
                       "INVALID_SET_FILE_POINTER File Offset [%lld] ",
                       static_cast<long long>(frameOffset));
        return false;
    }
    return true;
}

}  // namespace stream
