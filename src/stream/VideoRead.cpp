#include "diag/DebugLog.h"
#include "reader/Mirolan.h"

// One positioning and one read straight into the host's buffer: no copy, no
// allocation. Only a failed positioning is an error; a failed or short read
// leaves the rest of the buffer as it was and the frame is delivered anyway.
bool CMirolan::ReadVideoFrame(uint32_t byteCount, int64_t frameOffset, uint8_t* destination) {
    if (!platform::SeekFromBegin(hFile, frameOffset)) {
        diag::DebugLog("", "Mirolan", 1239, "INVALID_SET_FILE_POINTER File Offset [%lld] ",
                       static_cast<long long>(frameOffset));
        return false;
    }
    if (destination != nullptr) platform::ReadAtPosition(hFile, destination, byteCount);
    return true;
}
