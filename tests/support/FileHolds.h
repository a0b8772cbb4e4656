// Holds that another program keeps on a file, for the tests of opening a
// file someone else has open.
#pragma once

#include <string>

namespace testsupport {

// Holds a file open the way another program would that refuses sharing: a
// Windows open without share modes, an exclusive flock on Linux.
class ExclusiveHold {
public:
    explicit ExclusiveHold(const std::string& path);
    ~ExclusiveHold();
    bool held() const { return held_; }

private:
    bool held_ = false;
    [[maybe_unused]] void* handle_ = nullptr;  // Windows
    [[maybe_unused]] int fd_ = -1;             // POSIX
};

// Holds a file open for writing while letting others read it.
class WriterHold {
public:
    explicit WriterHold(const std::string& path);
    ~WriterHold();
    bool held() const { return held_; }

private:
    bool held_ = false;
    void* handle_ = nullptr;
};

}  // namespace testsupport
