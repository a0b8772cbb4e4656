#include "stream/VideoRead.h"

#include <cstring>

#include "diag/DebugLog.h"
#include "diag/LogLines.h"
#include "stream/Bgr24Frame.h"

namespace stream {

// A 32-bit frame: one positioning and one read straight into the host's
// buffer, no copy, no allocation. A 24-bit frame is converted to 32-bit BGRA
// as it is read, inside the host's buffer (width x |height| x 4 bytes, which
// open made sure fits 32 bits). Only a failed positioning is an error; a
// failed or short read (a frame cut off by the end of a truncated file) has
// the part it could not read zero-filled, so the host never shows the
// previous frame's pixels in it, and the frame is delivered anyway.
bool ReadVideoFrame(platform::FileHandle file, const avi::BITMAPINFOHEADER& format,
                    int64_t frameOffset, uint8_t* destination) {
    const bool converted = format.biBitCount == 24;
    const bool positioned =
        converted ? ReadBgr24Frame(file, frameOffset, static_cast<uint32_t>(format.biWidth),
                                   static_cast<uint32_t>(format.biHeight < 0 ? -format.biHeight
                                                                             : format.biHeight),
                                   destination)
                  : platform::SeekFromBegin(file, frameOffset);
    if (!positioned) {
        diag::DebugLog("", diag::kSourceName, diag::kLogVideoSeekFailed,
                       "INVALID_SET_FILE_POINTER File Offset [%lld] ",
                       static_cast<long long>(frameOffset));
        return false;
    }
    if (converted || destination == nullptr) return true;
    const uint32_t byteCount = format.biSizeImage;
    uint32_t got = platform::ReadAtPosition(file, destination, byteCount);
    if (got > byteCount) got = byteCount;
    if (got < byteCount) std::memset(destination + got, 0, byteCount - got);
    return true;
}

}  // namespace stream
