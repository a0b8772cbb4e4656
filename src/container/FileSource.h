// A file as the open reads it: a byte source over its read-only mapping.
// Views are placed at multiples of the platform's allocation granularity;
// the container never sees that placement, only the bytes it asked for.
#pragma once

#include <cstdint>

#include "container/ByteSource.h"
#include "platform/platform.h"

namespace avi {

class FileSource final : public ByteSource {
public:
    FileSource() = default;
    FileSource(platform::MappingHandle fileMapping, int64_t size, uint32_t viewGranularity)
        : mapping(fileMapping), fileSize(size), granularity(viewGranularity) {}

    platform::MappingHandle mapping = nullptr;  // read-only mapping of the whole file
    int64_t fileSize = 0;                       // bytes; every comparison with it is unsigned
    uint32_t granularity = 0;                   // every view starts at a multiple of it

    // The size as an unsigned bound (a negative size holds nothing).
    uint64_t Size() const override { return fileSize > 0 ? static_cast<uint64_t>(fileSize) : 0; }
    // A view's length is 32 bits and may begin up to a granule early.
    uint32_t MostViewBytes() const override { return 0xFFFFFFFFu - granularity; }
    // One granule: the least a view costs.
    uint32_t ReadAhead() const override { return granularity; }
    // Maps the view placed by PlaceView. A mapping the platform refuses is
    // logged (line 936) and gives no data.
    ByteView View(uint64_t offset, uint32_t length) const override;
    void Release(const uint8_t* data) const override;
    uint64_t NextData(uint64_t from) const override;
};

// Where the view for `length` bytes at `offset` goes: it starts at the
// largest multiple of the granularity not above `offset` and reaches `length`
// bytes past `offset`, clipped at the end of the file. Nothing is mapped; the
// view has no length when `offset` is at or past the end (or the granularity
// is 0).
ByteView PlaceView(const FileSource& source, uint64_t offset, uint32_t length);

}  // namespace avi
