#include "support/FileHolds.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace testsupport {

#ifdef _WIN32
namespace {
std::wstring Wide(const std::string& path) {
    std::wstring wide;
    for (char c : path) wide += static_cast<wchar_t>(c == '/' ? '\\' : c);
    return wide;
}
}  // namespace

ExclusiveHold::ExclusiveHold(const std::string& path) {
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    held_ = h != INVALID_HANDLE_VALUE;
    handle_ = held_ ? h : nullptr;
}
ExclusiveHold::~ExclusiveHold() {
    if (handle_ != nullptr) CloseHandle(handle_);
}
WriterHold::WriterHold(const std::string& path) {
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    held_ = h != INVALID_HANDLE_VALUE;
    handle_ = held_ ? h : nullptr;
}
WriterHold::~WriterHold() {
    if (handle_ != nullptr) CloseHandle(handle_);
}
#else
ExclusiveHold::ExclusiveHold(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}
ExclusiveHold::~ExclusiveHold() {
    if (fd_ >= 0) ::close(fd_);
}
WriterHold::WriterHold(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    held_ = fd >= 0;
    handle_ = reinterpret_cast<void*>(static_cast<intptr_t>(fd));
}
WriterHold::~WriterHold() {
    if (held_) ::close(static_cast<int>(reinterpret_cast<intptr_t>(handle_)));
}
#endif

}  // namespace testsupport
