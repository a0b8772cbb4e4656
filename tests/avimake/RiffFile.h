// Test-side RIFF reader, written separately from avimake so the tests check the file layout
// rather than re-running the writer's own logic. Reads with pread, so it works on sparse files
// far larger than memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace avimaketest {

struct Chunk {
    std::string code;      // chunk code, e.g. "LIST", "00db"
    std::string listType;  // for RIFF and LIST chunks, e.g. "movi"; otherwise empty
    uint64_t position;     // of the 8-byte header
    uint32_t size;         // from the header
    uint64_t data() const { return position + 8; }
};

class RiffFile {
public:
    explicit RiffFile(const std::string& path);
    ~RiffFile();
    RiffFile(const RiffFile&) = delete;
    RiffFile& operator=(const RiffFile&) = delete;

    uint64_t size() const { return size_; }
    std::vector<uint8_t> Read(uint64_t position, size_t count) const;
    std::string Code(uint64_t position) const;
    uint16_t U16(uint64_t position) const;
    uint32_t U32(uint64_t position) const;
    uint64_t U64(uint64_t position) const;
    Chunk ChunkAt(uint64_t position) const;

    // Chunks laid end to end from `begin` to `end`, each followed by its pad byte if odd.
    std::vector<Chunk> Children(uint64_t begin, uint64_t end) const;
    std::vector<Chunk> Children(const Chunk& list) const;
    std::vector<Chunk> TopLevel() const { return Children(0, size_); }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

// First chunk with that code (and list type, if given); fails the test when missing.
Chunk Find(const std::vector<Chunk>& chunks, const std::string& code,
           const std::string& listType = "");
bool Has(const std::vector<Chunk>& chunks, const std::string& code,
         const std::string& listType = "");

struct StandardIndex {
    std::string chunkCode;
    uint16_t longsPerEntry;
    uint8_t indexType;
    uint64_t base;
    struct Entry {
        uint32_t offset;
        uint32_t size;
    };
    std::vector<Entry> entries;
};
StandardIndex ReadStandardIndex(const RiffFile& file, const Chunk& chunk);

struct SuperIndex {
    std::string chunkCode;
    uint16_t longsPerEntry;
    uint8_t indexType;
    struct Entry {
        uint64_t offset;
        uint32_t size;
        uint32_t duration;
    };
    std::vector<Entry> entries;
};
SuperIndex ReadSuperIndex(const RiffFile& file, const Chunk& indx);

// The 'strl' lists of the file's first RIFF, in stream order.
std::vector<Chunk> StreamLists(const RiffFile& file);

}  // namespace avimaketest
