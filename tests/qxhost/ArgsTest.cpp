#include <gtest/gtest.h>

#include "Args.h"

namespace qxhost {
namespace {

Arguments Parse(const std::vector<std::string>& args) { return ParseArguments(args); }

void ExpectUsageError(const std::vector<std::string>& args, const std::string& fragment) {
    try {
        Parse(args);
        ADD_FAILURE() << "accepted: " << ::testing::PrintToString(args);
    } catch (const UsageError& e) {
        EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos)
            << "message '" << e.what() << "' lacks '" << fragment << "'";
    }
}

TEST(ParseArguments, ReadsACommandItsFileAndItsOptions) {
    const Arguments a = Parse({"frames", "in.avi", "--out", "dir", "--every", "5", "--alpha"});
    EXPECT_EQ(a.command, Command::kFrames);
    EXPECT_EQ(a.file, "in.avi");
    EXPECT_EQ(a.out, "dir");
    EXPECT_EQ(a.every, 5u);
    EXPECT_TRUE(a.alpha);
    EXPECT_FALSE(a.raw);
    EXPECT_TRUE(Parse({"frames", "in.avi", "--out", "dir", "--raw"}).raw);
}

TEST(ParseArguments, AcceptsValuesAfterAnEqualsSignAndOptionsBeforeTheCommand) {
    const Arguments a = Parse({"--plugin=/x/libmirolan.so", "audio", "--out=o.wav", "in.avi"});
    EXPECT_EQ(a.command, Command::kAudio);
    EXPECT_EQ(a.plugin, "/x/libmirolan.so");
    EXPECT_EQ(a.out, "o.wav");
    EXPECT_EQ(a.file, "in.avi");
}

TEST(ParseArguments, CheckTakesEveryFileGivenAndJson) {
    const Arguments a = Parse({"check", "a.avi", "--json", "b.avi", "c.mp4"});
    EXPECT_EQ(a.command, Command::kCheck);
    EXPECT_EQ(a.files, (std::vector<std::string>{"a.avi", "b.avi", "c.mp4"}));
    EXPECT_TRUE(a.json);
    ExpectUsageError({"check"}, "no input file");
    ExpectUsageError({"check", "a.avi", "--out", "d"}, "--out does not apply to check");
    ExpectUsageError({"framemd5", "a.avi", "--raw"}, "--raw does not apply to framemd5");
    // check loads no plug-in: a plug-in named for it would be silently ignored.
    ExpectUsageError({"check", "a.avi", "--plugin", "x.so"}, "--plugin does not apply to check");
    ExpectUsageError({"check", "a.avi", "--timeout", "3"}, "--timeout does not apply to check");
}

TEST(ParseArguments, ProgressAndStoredHashes) {
    EXPECT_EQ(Parse({"framemd5", "a.avi"}).progress, -1);
    EXPECT_EQ(Parse({"play", "a.avi", "--progress"}).progress, 1);
    EXPECT_EQ(Parse({"frames", "a.avi", "--out", "d", "--no-progress"}).progress, 0);
    EXPECT_TRUE(Parse({"framemd5", "a.avi", "--stored"}).stored);
    ExpectUsageError({"info", "a.avi", "--progress"}, "--progress does not apply to info");
    ExpectUsageError({"audio", "a.avi", "--out", "o", "--stored"},
                     "--stored does not apply to audio");
}

TEST(ParseArguments, HelpWinsOverEverythingElse) {
    EXPECT_EQ(Parse({"info", "--help"}).command, Command::kHelp);
    EXPECT_EQ(Parse({"-h"}).command, Command::kHelp);
}

TEST(ParseArguments, RefusesMissingOrUnknownCommandsAndFiles) {
    ExpectUsageError({}, "no command");
    ExpectUsageError({"decode", "in.avi"}, "unknown command 'decode'");
    ExpectUsageError({"info"}, "no input file");
    ExpectUsageError({"info", "a.avi", "b.avi"}, "unexpected argument 'b.avi'");
}

TEST(ParseArguments, RefusesUnknownOptionsAndMissingValues) {
    ExpectUsageError({"info", "a.avi", "--verbose"}, "unknown option --verbose");
    ExpectUsageError({"frames", "a.avi", "--out"}, "--out needs a value");
    ExpectUsageError({"frames", "a.avi", "--out="}, "--out needs a non-empty value");
    ExpectUsageError({"info", "a.avi", "--json=yes"}, "--json takes no value");
}

TEST(ParseArguments, RefusesBadNumbers) {
    ExpectUsageError({"frames", "a.avi", "--out", "d", "--every", "0"}, "--every");
    ExpectUsageError({"frames", "a.avi", "--out", "d", "--every", "-3"}, "--every needs a number");
    ExpectUsageError({"frames", "a.avi", "--out", "d", "--every", "2x"}, "--every");
    ExpectUsageError({"frames", "a.avi", "--out", "d", "--every", "99999999999"}, "--every");
    ExpectUsageError({"play", "a.avi", "--timeout", "0"}, "--timeout");
}

TEST(ParseArguments, RefusesOptionsOfAnotherCommand) {
    ExpectUsageError({"audio", "a.avi", "--out", "o.wav", "--json"},
                     "--json does not apply to audio");
    ExpectUsageError({"framemd5", "a.avi", "--realtime"}, "--realtime does not apply to framemd5");
    ExpectUsageError({"info", "a.avi", "--every", "2"}, "--every does not apply to info");
}

TEST(ParseArguments, RequiresAnOutputForFramesAndAudio) {
    ExpectUsageError({"frames", "a.avi"}, "frames needs --out");
    ExpectUsageError({"audio", "a.avi"}, "audio needs --out");
}

}  // namespace
}  // namespace qxhost
