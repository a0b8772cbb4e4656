// The assertion check, its dialog text and the answers to it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "diag/Assert.h"
#include "platform/TestHooks.h"
#include "support/DebugFolder.h"
#include "support/Files.h"

using testsupport::DebugFolder;

namespace {

struct Prompt {
    std::string caption;
    std::string message;
};
std::vector<Prompt> prompts;
platform::PromptAnswer nextAnswer = platform::PromptAnswer::Ignore;

platform::PromptAnswer RecordPrompt(const char* caption, const char* message) {
    prompts.push_back({caption, message});
    return nextAnswer;
}

class AssertCheck : public testing::Test {
protected:
    void SetUp() override {
        prompts.clear();
        nextAnswer = platform::PromptAnswer::Ignore;
        platform::SetAssertPromptForTesting(RecordPrompt);
    }
    void TearDown() override { platform::SetAssertPromptForTesting(nullptr); }
    void Fail(int value) {
        testing::internal::CaptureStdout();
        QXASSERT(178, value > 0);
        stdoutText = testing::internal::GetCapturedStdout();
    }
    std::string stdoutText;
};

std::string MessageFor(bool logged, const char* details) {
    char out[1024];
    return [&](const char* format, ...) {
        va_list arguments;
        va_start(arguments, format);
        diag::BuildAssertMessage(out, "duration > 0", "Mirolan", 178, logged, format, arguments);
        va_end(arguments);
        return std::string(out);
    }(details);
}

}  // namespace

TEST_F(AssertCheck, HoldingExpressionLogsAndShowsNothing) {
    DebugFolder folder;
    testsupport::WriteFile(folder.Marker(), {});
    Fail(1);
    EXPECT_EQ(stdoutText, "");
    EXPECT_TRUE(prompts.empty());
}

TEST_F(AssertCheck, FailureWithoutMarkerLogsOnceAndContinues) {
    DebugFolder folder;
    Fail(0);
    EXPECT_NE(stdoutText.find("\tASSERT FAILED: (value > 0)\n"), std::string::npos) << stdoutText;
    EXPECT_TRUE(prompts.empty());
}

TEST_F(AssertCheck, MarkerShowsDialogWithLoggedNotice) {
    DebugFolder folder;
    folder.CreateLogFile();
    testsupport::WriteFile(folder.Marker(), {});
    Fail(0);
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0].caption, "QXASSERT failed!");
    const std::string expected =
        "Debug assertion failed!\n\nFile:\tMirolan\nLine:\t178\nExpr:\tvalue > 0"
        "\n\nFailure has been logged to " +
        platform::DebugPathText(platform::DebugPath::LogFile) +
        "\n\n(Press Retry to debug the application.)";
    EXPECT_EQ(prompts[0].message, expected);
}

TEST_F(AssertCheck, MarkerWithoutLogFileShowsTheHint) {
    DebugFolder folder;
    testsupport::WriteFile(folder.Marker(), {});
    Fail(0);
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_NE(prompts[0].message.find("\n\nCreate " +
                                      platform::DebugPathText(platform::DebugPath::LogFile) +
                                      " to log assert failures."),
              std::string::npos);
    EXPECT_NE(folder.FallbackText().find("ASSERT FAILED: (value > 0)"), std::string::npos);
}

TEST_F(AssertCheck, DetailsComeBetweenExpressionAndLogPiece) {
    DebugFolder folder;
    testsupport::WriteFile(folder.Marker(), {});
    diag::AssertReport("18 == 16", "Mirolan", 646, false, "size %d", 16);
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_NE(prompts[0].message.find("Expr:\t18 == 16\nDetails:\tsize 16\n\nCreate "),
              std::string::npos)
        << prompts[0].message;
}

TEST(AssertMessage, WithoutDetailsHasNoDetailsLine) {
    const std::string message = MessageFor(false, nullptr);
    EXPECT_EQ(message.find("Details"), std::string::npos);
    EXPECT_NE(message.find("Expr:\tduration > 0\n\nCreate "), std::string::npos);
}

TEST(AssertMessage, IsBoundedTo1023Characters) {
    std::string long_details(3000, 'q');
    char out[1024];
    std::memset(out, 'X', sizeof out);
    [&](const char* format, ...) {
        va_list arguments;
        va_start(arguments, format);
        diag::BuildAssertMessage(out, "e", "Mirolan", 1, true, format, arguments);
        va_end(arguments);
    }("%s", long_details.c_str());
    EXPECT_EQ(std::strlen(out), 1023u);
    EXPECT_EQ(out[1023], '\0');
}

TEST_F(AssertCheck, IgnoreAndRetryReturnToTheCaller) {
    DebugFolder folder;
    testsupport::WriteFile(folder.Marker(), {});
    Fail(0);
    EXPECT_EQ(prompts.size(), 1u);  // returned: the check after it runs
}

// Fails a check with the prompt shown (a debug folder with its marker) and
// answered with `answer`; for the death tests, in their child process.
namespace {

void FailAnswering(platform::PromptAnswer answer) {
    static platform::PromptAnswer given;
    given = answer;
    DebugFolder folder;
    testsupport::WriteFile(folder.Marker(), {});
    platform::SetAssertPromptForTesting([](const char*, const char*) { return given; });
    QXASSERT(1, false);
}

}  // namespace

#ifndef _WIN32
TEST(AssertCheckDeathTest, RetryBreaksIntoTheDebugger) {
    EXPECT_EXIT(FailAnswering(platform::PromptAnswer::Retry), testing::KilledBySignal(SIGTRAP), "");
}
#endif

TEST(AssertCheckDeathTest, AbortEndsTheProcessWithExitCodeZero) {
    EXPECT_EXIT(
        {
            FailAnswering(platform::PromptAnswer::Abort);
            std::exit(3);  // not reached when Abort ends the process
        },
        testing::ExitedWithCode(0), "");
}
