#include "stream/VideoRead.h"

#include <cstring>

#include "diag/DebugLog.h"

namespace stream {

// One positioning and one read straight into the host's buffer: no copy, no
// allocation. Only a failed positioning is an error; a failed or short read
// (a frame cut off by the end of a truncated file) has the part it could not
// read zero-filled, so the host never shows the previous frame's pixels in
// it, and the frame is delivered anyway.
bool ReadVideoFrame(platform::FileHandle file, uint32_t byteCount, int64_t frameOffset,
                    uint8_t* destination) {
    if (!platform::SeekFromBegin(file, frameOffset)) {
        diag::DebugLog("", "Mirolan", 1239, "INVALID_SET_FILE_POINTER File Offset [%lld] ",
                       static_cast<long long>(frameOffset));
        return false;
    }
    if (destination == nullptr) return true;
    uint32_t got = platform::ReadAtPosition(file, destination, byteCount);
    if (got > byteCount) got = byteCount;
    if (got < byteCount) std::memset(destination + got, 0, byteCount - got);
    return true;
}

}  // namespace stream
