#include "FileWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace avimake {
namespace {

// Large enough that small chunks coalesce into few syscalls; frames bigger than this go direct.
constexpr size_t kBufferCapacity = 4u << 20;

std::runtime_error IoError(const std::string& what, const std::string& path) {
    return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

FileWriter::FileWriter(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) throw IoError("cannot create", path);
    buffer_.reserve(kBufferCapacity);
}

FileWriter::~FileWriter() {
    if (fd_ >= 0) ::close(fd_);
}

void FileWriter::WriteAt(uint64_t position, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t done = ::pwrite(fd_, data, size, static_cast<off_t>(position));
        if (done < 0) {
            if (errno == EINTR) continue;
            throw IoError("cannot write", path_);
        }
        data += done;
        size -= static_cast<size_t>(done);
        position += static_cast<uint64_t>(done);
    }
}

void FileWriter::Flush() {
    WriteAt(bufferStart_, buffer_.data(), buffer_.size());
    buffer_.clear();
    bufferStart_ = position_;
}

void FileWriter::Write(const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (buffer_.size() + size > kBufferCapacity) Flush();
    if (size >= kBufferCapacity) {
        WriteAt(position_, bytes, size);
        position_ += size;
        bufferStart_ = position_;
        return;
    }
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    position_ += size;
}

void FileWriter::Skip(uint64_t count) {
    Flush();
    position_ += count;
    bufferStart_ = position_;
}

void FileWriter::PatchAt(uint64_t position, const void* data, size_t size) {
    if (position + size > bufferStart_) Flush();
    WriteAt(position, static_cast<const uint8_t*>(data), size);
}

void FileWriter::PatchU32(uint64_t position, uint32_t value) {
    ByteBuffer bytes;
    bytes.U32(value);
    PatchAt(position, bytes.data(), bytes.size());
}

void FileWriter::Close() {
    Flush();
    if (::ftruncate(fd_, static_cast<off_t>(position_)) != 0) throw IoError("cannot size", path_);
    if (::close(fd_) != 0) {
        fd_ = -1;
        throw IoError("cannot close", path_);
    }
    fd_ = -1;
}

void TruncateFile(const std::string& path, uint64_t size) {
    if (::truncate(path.c_str(), static_cast<off_t>(size)) != 0) throw IoError("cannot cut", path);
}

}  // namespace avimake
