#include "container/FileSource.h"

#include "diag/DebugLog.h"
#include "diag/LogLines.h"

namespace avi {

ByteView PlaceView(const FileSource& source, uint64_t offset, uint32_t length) {
    const uint64_t end = source.Size();
    if (offset >= end || source.granularity == 0) return {};
    const uint64_t start = offset / source.granularity * source.granularity;
    uint64_t bytes = static_cast<uint64_t>(length) + (offset - start);
    // start < end here, so end - start cannot wrap.
    if (bytes > end - start) bytes = end - start;
    // A view is a 32-bit length; every read stays below MostViewBytes(), so
    // this clip only guards an impossible input.
    if (bytes > 0xFFFFFFFFu) bytes = 0xFFFFFFFFu;
    return {nullptr, start, static_cast<uint32_t>(bytes)};
}

ByteView FileSource::View(uint64_t offset, uint32_t length) const {
    ByteView view = PlaceView(*this, offset, length);
    if (view.length == 0) return {};
    view.data = platform::MapView(mapping, view.start, view.length,
                                  static_cast<uint32_t>(offset - view.start));
    if (view.data != nullptr) return view;
    diag::DebugLog("", diag::kSourceName, diag::kLogViewNotMapped,
                   "Unable to map the File View offsetLow[%d] offsetHigh[%d] mapSize[%d]",
                   static_cast<int>(static_cast<uint32_t>(view.start & 0xFFFFFFFFu)),
                   static_cast<int>(static_cast<uint32_t>(view.start >> 32)),
                   static_cast<int>(view.length));
    return {};
}

void FileSource::Release(const uint8_t* data) const {
    if (data != nullptr) platform::UnmapView(data);
}

uint64_t FileSource::NextData(uint64_t from) const {
    return platform::NextDataOffset(mapping, from);
}

}  // namespace avi
