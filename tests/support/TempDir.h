#pragma once

#include <string>

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

}  // namespace testsupport
