// The container's input: the bytes of one file, asked for by offset and
// length. Where the bytes come from (a file's views, a buffer in memory) and
// how a platform's views are aligned is the source's business alone.
#pragma once

#include <cstdint>

namespace avi {

// Bytes lent by a source: `data` holds the `length` bytes that begin at
// offset `start` of the source, until the view is given back with Release.
struct ByteView {
    const uint8_t* data = nullptr;  // none when the bytes cannot be had
    uint64_t start = 0;
    uint32_t length = 0;
};

class ByteSource {
public:
    virtual ~ByteSource() = default;

    // The bytes the source holds.
    virtual uint64_t Size() const = 0;

    // The most bytes one view can hold: larger tables cannot be read as one.
    virtual uint32_t MostViewBytes() const = 0;

    // How far a reader moving through the source asks for past the bytes it
    // needs: about what one view costs anyway, so that a run of small
    // records is read with few views.
    virtual uint32_t ReadAhead() const = 0;

    // A view holding the `length` bytes at `offset`, clipped at the end of the
    // source. It may begin before `offset` and reach further (a platform view
    // is aligned), so the reader checks what it holds. No data when `offset`
    // is at or past the end, or the source cannot give the bytes (a source
    // logs such a failure itself).
    virtual ByteView View(uint64_t offset, uint32_t length) const = 0;

    // Gives back the data of a view, once.
    virtual void Release(const uint8_t* data) const = 0;

    // The first offset at or after `from` that may hold a non-zero byte: a
    // source that knows the holes of a sparse file skips them unread.
    virtual uint64_t NextData(uint64_t from) const { return from; }

protected:
    ByteSource() = default;
    ByteSource(const ByteSource&) = default;
    ByteSource& operator=(const ByteSource&) = default;
};

// A source over bytes in memory that outlive it (tests, the fuzzer). Each
// view holds exactly the bytes asked for, so a read past what was asked for
// is not hidden by a larger view.
class MemorySource final : public ByteSource {
public:
    MemorySource(const uint8_t* bytes, uint64_t size) : bytes_(bytes), size_(size) {}

    uint64_t Size() const override { return size_; }
    uint32_t MostViewBytes() const override { return 0xFFFFFFFFu; }
    uint32_t ReadAhead() const override { return 1u << 16; }
    ByteView View(uint64_t offset, uint32_t length) const override {
        if (offset >= size_) return {};
        const uint64_t held = size_ - offset < length ? size_ - offset : length;
        return {bytes_ + offset, offset, static_cast<uint32_t>(held)};
    }
    void Release(const uint8_t*) const override {}

private:
    const uint8_t* bytes_;
    uint64_t size_;
};

// The medium a stream serves: its video ('eyes') or its audio ('ears').
enum class Medium { Video, Audio };

}  // namespace avi
