#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

// Little-endian byte builder for in-test files.
class Bytes {
public:
    Bytes& U8(uint8_t v);
    Bytes& U16(uint16_t v);
    Bytes& U32(uint32_t v);
    Bytes& U64(uint64_t v);
    Bytes& Code(const char (&fourcc)[5]);  // four letters in file order
    Bytes& Zeros(size_t n);
    Bytes& Append(const std::vector<uint8_t>& more);
    size_t size() const { return data_.size(); }
    void PatchU32(size_t at, uint32_t v);
    const std::vector<uint8_t>& data() const { return data_; }

private:
    std::vector<uint8_t> data_;
};

}  // namespace testsupport
