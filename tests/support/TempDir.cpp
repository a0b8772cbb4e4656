#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const fs::path base = fs::temp_directory_path();
    for (;;) {
        const fs::path candidate =
            base / ("mirolan-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate.generic_string() + "/";
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code error;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(path_, error);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool FileExists(const std::string& path) { return fs::exists(path); }

void RemoveFile(const std::string& path) {
    std::error_code error;
    fs::remove(path, error);
}

std::u16string ToUtf16(const std::string& text) {
    std::u16string out;
    for (unsigned char c : text) out += static_cast<char16_t>(c);  // tests use ASCII paths
    return out;
}

DebugFolder::DebugFolder(bool create) {
    if (create) fs::create_directory(dir_.File("tovraDebug"));
    std::string folder = dir_.File("tovraDebug/");
#ifdef _WIN32
    for (char& c : folder) {
        if (c == '/') c = '\\';
    }
#endif
    platform::SetDebugFolderForTesting(folder);
}

DebugFolder::~DebugFolder() { platform::SetDebugFolderForTesting(std::string()); }

void DebugFolder::CreateLogFile() const { WriteFile(LogFile(), {}); }

Bytes& Bytes::U8(uint8_t v) {
    data_.push_back(v);
    return *this;
}
Bytes& Bytes::U16(uint16_t v) { return U8(static_cast<uint8_t>(v)).U8(static_cast<uint8_t>(v >> 8)); }
Bytes& Bytes::U32(uint32_t v) {
    return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16));
}
Bytes& Bytes::U64(uint64_t v) {
    return U32(static_cast<uint32_t>(v)).U32(static_cast<uint32_t>(v >> 32));
}
Bytes& Bytes::Code(const char (&fourcc)[5]) {
    for (int i = 0; i < 4; ++i) U8(static_cast<uint8_t>(fourcc[i]));
    return *this;
}
Bytes& Bytes::Zeros(size_t n) {
    data_.insert(data_.end(), n, 0);
    return *this;
}
Bytes& Bytes::Append(const std::vector<uint8_t>& more) {
    data_.insert(data_.end(), more.begin(), more.end());
    return *this;
}
void Bytes::PatchU32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) data_[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace testsupport
