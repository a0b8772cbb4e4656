// MD5 message digest (RFC 1321), written here so the tools need no crypto library:
// frame hashes in ffmpeg's framemd5 layout, and the audio digest of a record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tools {

class Md5 {
public:
    Md5();
    // Adds `size` bytes to the message; may be called any number of times.
    void Update(const void* data, size_t size);
    // Completes the message and returns its 16-byte digest. The object must be
    // Reset before it is used again.
    std::array<uint8_t, 16> Final();
    void Reset();

    // The digest of one buffer, as 32 lowercase hexadecimal digits.
    static std::string Hex(const void* data, size_t size);
    static std::string ToHex(const std::array<uint8_t, 16>& digest);
    // Final() as 32 lowercase hexadecimal digits.
    std::string HexDigest() { return ToHex(Final()); }

private:
    void Block(const uint8_t* block);

    uint32_t state_[4];
    uint64_t length_;  // bytes taken so far
    uint8_t pending_[64];
    size_t pendingSize_;
};

}  // namespace tools
