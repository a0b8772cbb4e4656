#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes away. Paths use '/' on every target.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }  // ends in '/'
    std::string File(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
bool FileExists(const std::string& path);
void RemoveFile(const std::string& path);
std::u16string ToUtf16(const std::string& text);

// Points the debug folder at a private temporary folder for the life of the
// object (created when `create` is set), and restores the fixed one after.
class DebugFolder {
public:
    explicit DebugFolder(bool create = true);
    ~DebugFolder();
    std::string LogFile() const { return dir_.File("tovraDebug/Log.txt"); }
    std::string FallbackFile() const { return dir_.File("tovraDebug/LoggingError.txt"); }
    std::string Marker() const { return dir_.File("tovraDebug/ShowAssertDialog.txt"); }
    std::string Folder() const { return dir_.File("tovraDebug/"); }
    void CreateLogFile() const;  // switches logging to Log.txt on
    std::string LogText() const { return ReadFileText(LogFile()); }
    std::string FallbackText() const { return ReadFileText(FallbackFile()); }

private:
    TempDir dir_;
};

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
