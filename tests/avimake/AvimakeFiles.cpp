#include "AvimakeFiles.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace avimaketest {

void MakeAvi(const std::string& path, std::vector<std::string> args) {
    args.insert(args.begin(), path);
    std::string output;
    const int status = RunAvimake(args, &output);
    if (status != 0) {
        throw std::runtime_error("avimake failed with status " + std::to_string(status) + ": " +
                                 output);
    }
}

std::vector<IndexedChunk> ChunksViaSuperIndex(const RiffFile& file, const Chunk& strl,
                                              const std::string& indexCode,
                                              const std::string& chunkCode) {
    const SuperIndex super = ReadSuperIndex(file, ChildOf(file, strl, "indx"));
    EXPECT_EQ(super.longsPerEntry, 4);
    EXPECT_EQ(super.indexType, 0);  // index of indexes
    EXPECT_EQ(super.chunkCode, chunkCode);
    std::vector<IndexedChunk> chunks;
    for (const SuperIndex::Entry& e : super.entries) {
        const Chunk ix = file.ChunkAt(e.offset);
        EXPECT_EQ(ix.code, indexCode) << "at " << e.offset;
        EXPECT_EQ(uint64_t{ix.size} + 8, e.size);
        const StandardIndex standard = ReadStandardIndex(file, ix);
        EXPECT_EQ(standard.longsPerEntry, 2);
        EXPECT_EQ(standard.indexType, 1);  // index of chunks
        EXPECT_EQ(standard.chunkCode, chunkCode);
        for (const StandardIndex::Entry& entry : standard.entries) {
            const uint64_t data = standard.base + entry.offset;
            const Chunk header = file.ChunkAt(data - 8);
            EXPECT_EQ(header.code, chunkCode) << "at " << data - 8;
            EXPECT_EQ(header.size, entry.size) << "at " << data - 8;
            chunks.push_back({data, entry.size});
        }
    }
    return chunks;
}

Chunk ChildOf(const RiffFile& file, const Chunk& list, const std::string& code,
              const std::string& listType) {
    return Find(file.Children(list), code, listType);
}

uint32_t AvihDword(const RiffFile& file, int n) {
    const Chunk hdrl = ChildOf(file, file.ChunkAt(0), "LIST", "hdrl");
    const Chunk avih = ChildOf(file, hdrl, "avih");
    EXPECT_EQ(avih.size, 56u);
    return file.U32(avih.data() + 4 * static_cast<uint64_t>(n));
}

}  // namespace avimaketest
