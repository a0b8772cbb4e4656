#pragma once

#include <string>

#include "support/Files.h"
#include "support/TempDir.h"

namespace testsupport {

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

}  // namespace testsupport
