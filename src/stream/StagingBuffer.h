// The worker's audio staging bytes: one owner, grown on demand without
// throwing, freed with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace stream {

class StagingBuffer {
public:
    StagingBuffer() = default;
    ~StagingBuffer() { std::free(bytes); }
    StagingBuffer(const StagingBuffer&) = delete;
    StagingBuffer& operator=(const StagingBuffer&) = delete;

    // At least `size` bytes from Bytes(); their contents need not survive.
    // False, holding nothing, when the memory cannot be had.
    bool Reserve(size_t size) {
        if (capacity >= size) return true;
        std::free(bytes);
        bytes = static_cast<uint8_t*>(std::malloc(size));
        capacity = bytes != nullptr ? size : 0;
        return bytes != nullptr;
    }

    // Gives the bytes back when more than `keep` are held, so that one large
    // request does not pin memory (and a 32-bit host's address space) until close.
    void TrimTo(size_t keep) {
        if (capacity <= keep) return;
        std::free(bytes);
        bytes = nullptr;
        capacity = 0;
    }

    uint8_t* Bytes() const { return bytes; }
    size_t Capacity() const { return capacity; }

    // Whether a failure to reserve has been logged already: it is logged once
    // per stream.
    bool failureLogged = false;

private:
    uint8_t* bytes = nullptr;
    size_t capacity = 0;
};

}  // namespace stream
