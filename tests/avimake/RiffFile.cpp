#include "RiffFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

namespace avimaketest {

RiffFile::RiffFile(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    struct stat st;
    ::fstat(fd_, &st);
    size_ = static_cast<uint64_t>(st.st_size);
}

RiffFile::~RiffFile() { ::close(fd_); }

std::vector<uint8_t> RiffFile::Read(uint64_t position, size_t count) const {
    std::vector<uint8_t> bytes(count);
    const ssize_t got = ::pread(fd_, bytes.data(), count, static_cast<off_t>(position));
    if (got != static_cast<ssize_t>(count)) {
        throw std::runtime_error("short read at " + std::to_string(position));
    }
    return bytes;
}

std::string RiffFile::Code(uint64_t position) const {
    const std::vector<uint8_t> b = Read(position, 4);
    return std::string(b.begin(), b.end());
}

uint16_t RiffFile::U16(uint64_t position) const {
    const std::vector<uint8_t> b = Read(position, 2);
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

uint32_t RiffFile::U32(uint64_t position) const {
    const std::vector<uint8_t> b = Read(position, 4);
    return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

uint64_t RiffFile::U64(uint64_t position) const {
    return uint64_t{U32(position)} | uint64_t{U32(position + 4)} << 32;
}

Chunk RiffFile::ChunkAt(uint64_t position) const {
    Chunk c{Code(position), "", position, U32(position + 4)};
    if (c.code == "RIFF" || c.code == "LIST") c.listType = Code(position + 8);
    return c;
}

std::vector<Chunk> RiffFile::Children(uint64_t begin, uint64_t end) const {
    std::vector<Chunk> chunks;
    for (uint64_t at = begin; at + 8 <= end;) {
        chunks.push_back(ChunkAt(at));
        const uint32_t size = chunks.back().size;
        at += 8 + uint64_t{size} + size % 2;
    }
    return chunks;
}

std::vector<Chunk> RiffFile::Children(const Chunk& list) const {
    return Children(list.position + 12, list.data() + list.size);
}

Chunk Find(const std::vector<Chunk>& chunks, const std::string& code, const std::string& listType) {
    for (const Chunk& c : chunks) {
        if (c.code == code && (listType.empty() || c.listType == listType)) return c;
    }
    ADD_FAILURE() << "no chunk " << code << " " << listType;
    throw std::runtime_error("missing chunk " + code);
}

bool Has(const std::vector<Chunk>& chunks, const std::string& code, const std::string& listType) {
    for (const Chunk& c : chunks) {
        if (c.code == code && (listType.empty() || c.listType == listType)) return true;
    }
    return false;
}

StandardIndex ReadStandardIndex(const RiffFile& file, const Chunk& chunk) {
    const uint64_t d = chunk.data();
    StandardIndex ix;
    ix.longsPerEntry = file.U16(d);
    ix.indexType = file.Read(d + 3, 1)[0];
    const uint32_t count = file.U32(d + 4);
    ix.chunkCode = file.Code(d + 8);
    ix.base = file.U64(d + 12);
    for (uint32_t i = 0; i < count; ++i) {
        ix.entries.push_back({file.U32(d + 24 + 8 * i), file.U32(d + 28 + 8 * i)});
    }
    return ix;
}

SuperIndex ReadSuperIndex(const RiffFile& file, const Chunk& indx) {
    const uint64_t d = indx.data();
    SuperIndex s;
    s.longsPerEntry = file.U16(d);
    s.indexType = file.Read(d + 3, 1)[0];
    const uint32_t count = file.U32(d + 4);
    s.chunkCode = file.Code(d + 8);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t e = d + 24 + 16 * uint64_t{i};
        s.entries.push_back({file.U64(e), file.U32(e + 8), file.U32(e + 12)});
    }
    return s;
}

std::vector<Chunk> StreamLists(const RiffFile& file) {
    const Chunk riff = file.ChunkAt(0);
    const Chunk hdrl = Find(file.Children(riff), "LIST", "hdrl");
    std::vector<Chunk> lists;
    for (const Chunk& c : file.Children(hdrl)) {
        if (c.listType == "strl") lists.push_back(c);
    }
    return lists;
}

}  // namespace avimaketest
