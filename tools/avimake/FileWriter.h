// Buffered POSIX output file with absolute positions, back-patching and sparse holes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ByteBuffer.h"

namespace avimake {

class FileWriter {
public:
    explicit FileWriter(const std::string& path);
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    void Write(const void* data, size_t size);
    void Write(const ByteBuffer& bytes) { Write(bytes.data(), bytes.size()); }
    // Advances the position without writing, leaving a hole the file system need not store.
    void Skip(uint64_t count);
    // Overwrites bytes already written (or skipped) at an absolute position.
    void PatchAt(uint64_t position, const void* data, size_t size);
    void PatchU32(uint64_t position, uint32_t value);
    uint64_t Tell() const { return position_; }
    // Flushes, makes the file exactly Tell() bytes long (covers a trailing hole) and closes.
    void Close();

private:
    void Flush();
    void WriteAt(uint64_t position, const uint8_t* data, size_t size);

    std::string path_;
    int fd_ = -1;
    uint64_t position_ = 0;        // logical end of the data written so far
    uint64_t bufferStart_ = 0;     // file position of buffer_[0]
    std::vector<uint8_t> buffer_;  // pending bytes, written out in large blocks
};

// Sets the size of a closed file, cutting or zero-extending it.
void TruncateFile(const std::string& path, uint64_t size);

}  // namespace avimake
