// The debug folder cannot be turned against the host: a symbolic link planted
// as Log.txt or LoggingError.txt is never followed (nothing is written to its
// target, nothing is created there), a file that cannot be written or that
// someone else holds makes the line fall back, a FIFO never blocks the
// caller, and nothing appears outside the folder.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "diag/DebugLog.h"
#include "support/DebugFolder.h"
#include "support/FileHolds.h"
#include "support/Files.h"

namespace fs = std::filesystem;

namespace {

// Everything under `root`, as relative paths, links not followed.
std::set<std::string> Listing(const std::string& root) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        names.insert(fs::relative(entry.path(), root).generic_string());
    }
    return names;
}

bool IsSymlink(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

class DebugFolderSafety : public testing::Test {
protected:
    // The folder's parent holds the files that planted links point to; the
    // folder itself is "tovraDebug/" in it.
    std::string Parent() const {
        return fs::path(folder.Folder()).parent_path().parent_path().generic_string() + "/";
    }
    std::string Outside(const std::string& name) const { return Parent() + name; }
    void Plant(const std::string& linkPath, const std::string& target) const {
        ASSERT_EQ(::symlink(target.c_str(), linkPath.c_str()), 0) << linkPath;
    }

    testsupport::DebugFolder folder;
};

}  // namespace

TEST_F(DebugFolderSafety, LinkPlantedAsLogFileIsNotFollowedAndTheLineFallsBack) {
    testsupport::WriteFile(Outside("victim.txt"), {'k', 'e', 'e', 'p'});
    Plant(folder.LogFile(), Outside("victim.txt"));
    const std::set<std::string> before = Listing(Parent());

    EXPECT_FALSE(diag::DebugLog("", "Mirolan", 7, "planted link %d", 1));

    EXPECT_EQ(testsupport::ReadFileText(Outside("victim.txt")), "keep");
    EXPECT_TRUE(IsSymlink(folder.LogFile()));
    EXPECT_NE(folder.FallbackText().find("planted link 1"), std::string::npos);
    std::set<std::string> expected = before;
    expected.insert("tovraDebug/LoggingError.txt");
    EXPECT_EQ(Listing(Parent()), expected) << "only the fallback file may appear";
}

TEST_F(DebugFolderSafety, LinkPlantedAsFallbackFileIsNotFollowedNorItsTargetCreated) {
    // Log.txt absent: every line goes to the fallback, which is a dangling link.
    Plant(folder.FallbackFile(), Outside("created-through-link.txt"));
    const std::set<std::string> before = Listing(Parent());

    EXPECT_FALSE(diag::DebugLog("", "Mirolan", 8, "dangling link"));

    EXPECT_FALSE(testsupport::FileExists(Outside("created-through-link.txt")));
    EXPECT_TRUE(IsSymlink(folder.FallbackFile()));
    EXPECT_EQ(Listing(Parent()), before) << "nothing may appear anywhere";
}

TEST_F(DebugFolderSafety, LinksPlantedAsBothFilesLeaveEveryTargetUntouched) {
    testsupport::WriteFile(Outside("log-victim.txt"), {'a'});
    testsupport::WriteFile(Outside("fallback-victim.txt"), {'b'});
    Plant(folder.LogFile(), Outside("log-victim.txt"));
    Plant(folder.FallbackFile(), Outside("fallback-victim.txt"));
    const std::set<std::string> before = Listing(Parent());

    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(diag::DebugLog("ASSERT FAILED: (x)", "Mirolan", 9, "%d", i));

    EXPECT_EQ(testsupport::ReadFileText(Outside("log-victim.txt")), "a");
    EXPECT_EQ(testsupport::ReadFileText(Outside("fallback-victim.txt")), "b");
    EXPECT_EQ(Listing(Parent()), before);
}

TEST_F(DebugFolderSafety, FifoPlantedAsLogFileNeverBlocksTheCaller) {
    ASSERT_EQ(::mkfifo(folder.LogFile().c_str(), 0666), 0);
    struct Shared {
        std::mutex lock;
        std::condition_variable done;
        bool returned = false;
        bool result = true;
    };
    auto shared = std::make_shared<Shared>();
    std::thread logger([shared] {
        const bool result = diag::DebugLog("", "Mirolan", 10, "fifo");
        std::lock_guard<std::mutex> hold(shared->lock);
        shared->result = result;
        shared->returned = true;
        shared->done.notify_all();
    });
    std::unique_lock<std::mutex> hold(shared->lock);
    const bool returned =
        shared->done.wait_for(hold, std::chrono::seconds(10), [&] { return shared->returned; });
    hold.unlock();
    if (!returned) {
        logger.detach();
        FAIL() << "DebugLog blocked on a FIFO named Log.txt";
    }
    logger.join();
    EXPECT_FALSE(shared->result);
    EXPECT_NE(folder.FallbackText().find("fifo"), std::string::npos);
}

TEST_F(DebugFolderSafety, BothFilesHeldElsewhereLeaveTheLineOnStandardOutputOnly) {
    folder.CreateLogFile();
    testsupport::WriteFile(folder.FallbackFile(), {});
    testsupport::ExclusiveHold logHold(folder.LogFile());
    testsupport::ExclusiveHold fallbackHold(folder.FallbackFile());
    ASSERT_TRUE(logHold.held());
    ASSERT_TRUE(fallbackHold.held());

    testing::internal::CaptureStdout();
    const bool logged = diag::DebugLog("", "Mirolan", 11, "held twice");
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_FALSE(logged);
    EXPECT_NE(out.find("held twice"), std::string::npos);
    EXPECT_EQ(folder.LogText(), "");
    EXPECT_EQ(folder.FallbackText(), "");
}

// Root may write a file whatever its mode, so the check runs as 'nobody' in
// a child process when the suite runs as root.
TEST_F(DebugFolderSafety, ReadOnlyLogFileFallsBackForAnOrdinaryUser) {
    folder.CreateLogFile();
    ASSERT_EQ(::chmod(folder.LogFile().c_str(), 0444), 0);
    if (::geteuid() != 0) {
        EXPECT_FALSE(diag::DebugLog("", "Mirolan", 12, "read-only"));
        EXPECT_EQ(folder.LogText(), "");
        EXPECT_NE(folder.FallbackText().find("read-only"), std::string::npos);
        return;
    }
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr) GTEST_SKIP() << "running as root and no user 'nobody' to drop to";
    // The child must be able to reach the folder and create the fallback in it.
    ASSERT_EQ(::chmod(folder.Folder().c_str(), 0777), 0);
    ASSERT_EQ(::chmod(Parent().c_str(), 0755), 0);

    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Exit codes: 0 fell back as expected, 1 wrote to Log.txt, 3 could not drop.
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
            ::setuid(nobody->pw_uid) != 0 || ::geteuid() == 0) {
            ::_exit(3);
        }
        const bool logged = diag::DebugLog("", "Mirolan", 12, "read-only");
        ::_exit(logged ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "running as root and cannot drop to 'nobody'";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "DebugLog reported the line as written to Log.txt";
    EXPECT_EQ(folder.LogText(), "");
    EXPECT_NE(folder.FallbackText().find("read-only"), std::string::npos);
}

#else

TEST(DebugFolderSafety, LinkAndPermissionCasesAreLinuxOnly) {
    GTEST_SKIP() << "symbolic links, FIFOs and flock are the Linux platform's concern";
}

#endif
