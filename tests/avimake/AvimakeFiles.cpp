#include "AvimakeFiles.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace avimake_test {

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
                                              const std::string& index_code,
                                              const std::string& chunk_code) {
    const SuperIndex super = ReadSuperIndex(file, ChildOf(file, strl, "indx"));
    EXPECT_EQ(super.longs_per_entry, 4);
    EXPECT_EQ(super.index_type, 0);  // index of indexes
    EXPECT_EQ(super.chunk_code, chunk_code);
    std::vector<IndexedChunk> chunks;
    for (const SuperIndex::Entry& e : super.entries) {
        const Chunk ix = file.ChunkAt(e.offset);
        EXPECT_EQ(ix.code, index_code) << "at " << e.offset;
        EXPECT_EQ(uint64_t{ix.size} + 8, e.size);
        const StandardIndex standard = ReadStandardIndex(file, ix);
        EXPECT_EQ(standard.longs_per_entry, 2);
        EXPECT_EQ(standard.index_type, 1);  // index of chunks
        EXPECT_EQ(standard.chunk_code, chunk_code);
        for (const StandardIndex::Entry& entry : standard.entries) {
            const uint64_t data = standard.base + entry.offset;
            const Chunk header = file.ChunkAt(data - 8);
            EXPECT_EQ(header.code, chunk_code) << "at " << data - 8;
            EXPECT_EQ(header.size, entry.size) << "at " << data - 8;
            chunks.push_back({data, entry.size});
        }
    }
    return chunks;
}

Chunk ChildOf(const RiffFile& file, const Chunk& list, const std::string& code,
              const std::string& list_type) {
    return Find(file.Children(list), code, list_type);
}

uint32_t AvihDword(const RiffFile& file, int n) {
    const Chunk hdrl = ChildOf(file, file.ChunkAt(0), "LIST", "hdrl");
    const Chunk avih = ChildOf(file, hdrl, "avih");
    EXPECT_EQ(avih.size, 56u);
    return file.U32(avih.data() + 4 * static_cast<uint64_t>(n));
}

}  // namespace avimake_test
