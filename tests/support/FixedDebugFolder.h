#pragma once

#include <string>

namespace testsupport {

// The fixed debug folder of the shipped library on this target, created for
// the life of the object when it did not exist (removed again afterwards);
// `usable` is false when it existed already and so belongs to someone else.
class FixedDebugFolder {
public:
    FixedDebugFolder();
    ~FixedDebugFolder();
    bool usable() const { return created_; }
    std::string File(const std::string& name) const { return folder_ + name; }

private:
    std::string folder_;
    bool created_ = false;
};

}  // namespace testsupport
