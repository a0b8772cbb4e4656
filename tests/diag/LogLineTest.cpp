// The line format of the debug log, built from fixed pieces.
#include <gtest/gtest.h>

#include <string>

#include "diag/DebugLog.h"

namespace {

std::string Build(const char* stamp, unsigned short ms, const char* location, const char* text,
                  const char* details) {
    char line[260];
    diag::BuildLogLine(line, stamp, ms, location, text, details);
    return line;
}

const char* kStamp = "2024-03-05 09:07:04";

}  // namespace

TEST(LogLine, PadsTheLocationTo35CharactersBetweenTabs) {
    EXPECT_EQ(Build(kStamp, 45, "Mirolan(991)", "", "Wait for Exit Run Monitor Thread Completed"),
              "2024-03-05 09:07:04.45\tMirolan(991)" + std::string(23, ' ') +
                  "\tWait for Exit Run Monitor Thread Completed\n");
}

TEST(LogLine, AssertionTextAloneHasNoSeparator) {
    EXPECT_EQ(Build(kStamp, 45, "Mirolan(178)", "ASSERT FAILED: (duration > 0)", ""),
              "2024-03-05 09:07:04.45\tMirolan(178)" + std::string(23, ' ') +
                  "\tASSERT FAILED: (duration > 0)\n");
}

TEST(LogLine, TextAndDetailsAreJoinedBySeparator) {
    const std::string line = Build(kStamp, 7, "Mirolan(1)", "T", "D");
    EXPECT_NE(line.find("\tT DETAILS: D\n"), std::string::npos) << line;
}

TEST(LogLine, MillisecondsArePlainDecimalWithoutLeadingZeros) {
    EXPECT_EQ(Build(kStamp, 0, "x", "", "d").substr(19, 3), ".0\t");
    EXPECT_EQ(Build(kStamp, 5, "x", "", "d").substr(19, 3), ".5\t");
    EXPECT_EQ(Build(kStamp, 999, "x", "", "d").substr(19, 5), ".999\t");
}

TEST(LogLine, LongerLocationIsWrittenWholeAndShiftsTheRest) {
    const std::string location(40, 'L');
    const std::string line = Build(kStamp, 1, location.c_str(), "", "d");
    EXPECT_NE(line.find("\t" + location + "\td\n"), std::string::npos);
}

TEST(LogLine, LineOf259CharactersIsKeptWhole) {
    // prefix: 19 stamp + ".1" + tab + 35 location + tab = 58 characters, then details and "\n".
    const std::string details(259 - 58 - 1, 'x');
    const std::string line = Build(kStamp, 1, "Mirolan(1)", "", details.c_str());
    ASSERT_EQ(line.size(), 259u);
    EXPECT_EQ(line.substr(58), details + "\n");
}

TEST(LogLine, LineOf260CharactersIsCutTo253AndMarked) {
    const std::string details(260 - 58 - 1, 'x');
    const std::string line = Build(kStamp, 1, "Mirolan(1)", "", details.c_str());
    ASSERT_EQ(line.size(), 259u);
    EXPECT_EQ(line.substr(253), "[...]\n");
    EXPECT_EQ(line.substr(58, 253 - 58), std::string(253 - 58, 'x'));
}
