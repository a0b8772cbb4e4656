// Builds little-endian byte blocks for RIFF headers and index chunks. Values are stored with
// explicit shifts so the output does not depend on the host's byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace avimake {

class ByteBuffer {
public:
    void U8(uint8_t v) { bytes_.push_back(v); }
    void U16(uint16_t v) { Le(v, 2); }
    void U32(uint32_t v) { Le(v, 4); }
    void U64(uint64_t v) { Le(v, 8); }
    // A four-character code: exactly four ASCII letters in file order.
    void FourCC(const char* code) {
        for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(code[i]));
    }
    // resize + memcpy rather than range insert: GCC 12 misreports the insert as an overflow.
    void Bytes(const void* data, size_t size) {
        if (size == 0) return;
        const size_t at = bytes_.size();
        bytes_.resize(at + size);
        std::memcpy(&bytes_[at], data, size);
    }
    void Zeros(size_t count) { bytes_.resize(bytes_.size() + count, 0); }
    void Append(const ByteBuffer& other) { Bytes(other.data(), other.size()); }

    const uint8_t* data() const { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }

private:
    void Le(uint64_t v, int count) {
        for (int i = 0; i < count; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }

    std::vector<uint8_t> bytes_;
};

// Appends a chunk (code, 32-bit size, body) plus the pad byte RIFF requires after an odd body.
inline void AppendChunk(ByteBuffer& out, const char* code, const ByteBuffer& body) {
    out.FourCC(code);
    out.U32(static_cast<uint32_t>(body.size()));
    out.Append(body);
    if (body.size() % 2 != 0) out.U8(0);
}

// Appends a LIST chunk whose size covers the list type and the body.
inline void AppendList(ByteBuffer& out, const char* type, const ByteBuffer& body) {
    out.FourCC("LIST");
    out.U32(static_cast<uint32_t>(body.size() + 4));
    out.FourCC(type);
    out.Append(body);
}

}  // namespace avimake
