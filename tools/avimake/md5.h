// Small MD5 (RFC 1321) used for the --record output; avoids any crypto library dependency.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace avimake {

class Md5 {
public:
    Md5();
    void Update(const void* data, size_t size);
    // Finishes the digest and returns it as 32 lowercase hex digits. Call once.
    std::string HexDigest();

private:
    void Block(const uint8_t* block);

    uint32_t state_[4];
    uint64_t length_ = 0;  // bytes fed so far
    uint8_t pending_[64];
    size_t pending_size_ = 0;
};

std::string Md5Hex(const void* data, size_t size);

}  // namespace avimake
