// The debug log's switch, its files and its fallback.
#include <gtest/gtest.h>

#include <string>

#include "diag/DebugLog.h"
#include "support/DebugFolder.h"
#include "support/FileHolds.h"
#include "support/Files.h"

using testsupport::DebugFolder;
using testsupport::FileExists;

namespace {

int CountOf(const std::string& haystack, const std::string& needle) {
    int count = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

// What `log` (a DebugLog call) prints to stdout.
template <typename Log>
std::string Printed(Log log) {
    testing::internal::CaptureStdout();
    log();
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(DebugLog, WithoutTheFolderWritesNothingAnywhere) {
    DebugFolder folder(/*create=*/false);
    EXPECT_EQ(Printed([&] { EXPECT_FALSE(diag::DebugLog("", "Mirolan", 51, "drv_close")); }), "");
    EXPECT_FALSE(FileExists(folder.LogFile()));
    EXPECT_FALSE(FileExists(folder.FallbackFile()));
}

TEST(DebugLog, WithoutLogFileWritesStdoutAndCreatesFallback) {
    DebugFolder folder;
    const std::string out =
        Printed([&] { EXPECT_FALSE(diag::DebugLog("", "Mirolan", 51, "drv_close")); });
    EXPECT_NE(out.find("Mirolan(51)"), std::string::npos);
    EXPECT_FALSE(FileExists(folder.LogFile()));  // never created by the log
    const std::string fallback = folder.FallbackText();
    EXPECT_EQ(CountOf(fallback, "\tdrv_close"), 1) << fallback;
}

TEST(DebugLog, WritableLogFileReceivesTheLineAndResultIsTrue) {
    DebugFolder folder;
    folder.CreateLogFile();
    Printed([&] {
        EXPECT_TRUE(
            diag::DebugLog("", "Mirolan", 991, "Wait for Exit Run Monitor Thread Completed"));
    });
    EXPECT_NE(folder.LogText().find("Mirolan(991)"), std::string::npos);
    EXPECT_FALSE(FileExists(folder.FallbackFile()));
}

TEST(DebugLog, LogFileHeldByAnotherOpenerFallsBack) {
    DebugFolder folder;
    folder.CreateLogFile();
    testsupport::ExclusiveHold hold(folder.LogFile());
    ASSERT_TRUE(hold.held());
    Printed([&] { EXPECT_FALSE(diag::DebugLog("", "Mirolan", 7, "held")); });
    EXPECT_NE(folder.FallbackText().find("\theld"), std::string::npos);
}

TEST(DebugLog, ReadOnlyLogFileFallsBack) {
    if (testsupport::RunningAsRoot()) GTEST_SKIP() << "root ignores mode bits";
    DebugFolder folder;
    folder.CreateLogFile();
    testsupport::MakeReadOnly(folder.LogFile());
    Printed([&] { EXPECT_FALSE(diag::DebugLog("", "Mirolan", 8, "read-only")); });
    EXPECT_NE(folder.FallbackText().find("\tread-only"), std::string::npos);
    EXPECT_EQ(folder.LogText(), "");
}

TEST(DebugLog, DetailsEndingInLineFeedLeaveAnEmptyLine) {
    DebugFolder folder;
    const std::string out =
        Printed([&] { diag::DebugLog("", "Mirolan", 299, "Not a avi File\n"); });
    EXPECT_NE(out.find("\tNot a avi File\n\n"), std::string::npos) << out;
}

TEST(DebugLog, SourcePathIsReducedToItsFileName) {
    DebugFolder folder;
    const std::string out = Printed([&] { diag::DebugLog("", "C:\\work\\src/Mirolan", 12, "x"); });
    EXPECT_NE(out.find("\tMirolan(12)"), std::string::npos) << out;
    EXPECT_EQ(out.find("work"), std::string::npos) << out;
}

TEST(DebugLog, LongDetailsAreCutAndTheLineMarked) {
    DebugFolder folder;
    const std::string details(400, 'z');
    const std::string out =
        Printed([&] { diag::DebugLog("T", "Mirolan", 1, "%s", details.c_str()); });
    ASSERT_EQ(out.size(), 259u);
    EXPECT_EQ(out.substr(253), "[...]\n");
}
