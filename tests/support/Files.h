// Whole-file reads and writes, and the few file facts tests ask for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
bool FileExists(const std::string& path);
void RemoveFile(const std::string& path);
std::u16string ToUtf16(const std::string& text);

// Root ignores file permissions, so tests of unwritable files skip under it.
bool RunningAsRoot();
void MakeReadOnly(const std::string& path);

}  // namespace testsupport
