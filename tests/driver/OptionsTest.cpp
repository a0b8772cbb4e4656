// The option list given to an open.
#include <gtest/gtest.h>

#include <string>

#include "host/HostServices.h"
#include "reader/Mirolan.h"
#include "support/AviBuilder.h"
#include "support/FakeHost.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace {

struct Parsed {
    bool video;
    bool audio;
    int32_t dint;
};

Parsed Parse(const uint32_t* options) {
    const StreamOptions parsed = ParseOptions(options);
    return {parsed.bVideo, parsed.bAudio, parsed.dintValue};
}

}  // namespace

TEST(Options, NullListOrLeadingEndTagSetsNothing) {
    const uint32_t empty[] = {0, QX_TAG_EYES};  // the value after the end tag is never read
    for (const uint32_t* options : {static_cast<const uint32_t*>(nullptr), empty}) {
        const Parsed parsed = Parse(options);
        EXPECT_FALSE(parsed.video);
        EXPECT_FALSE(parsed.audio);
        EXPECT_EQ(parsed.dint, 0);
    }
}

TEST(Options, UnknownTagsAreSkippedWithoutDisturbingTheRest) {
    const uint32_t options[] = {QX_TAG_EYES, 5, 0x7A7A7A7A, 99, QX_TAG_DINT, 7, 0, 0};
    const Parsed parsed = Parse(options);
    EXPECT_TRUE(parsed.video);
    EXPECT_FALSE(parsed.audio);
    EXPECT_EQ(parsed.dint, 7);
}

TEST(Options, LastOccurrenceWins) {
    const uint32_t options[] = {QX_TAG_EYES, 1,           QX_TAG_EARS, 2, QX_TAG_EYES,
                                0,           QX_TAG_DINT, 0xFFFFFFFF,  0, 0};
    const Parsed parsed = Parse(options);
    EXPECT_FALSE(parsed.video);
    EXPECT_TRUE(parsed.audio);
    EXPECT_EQ(parsed.dint, -1);
}

TEST(ReaderState, OpensSuspendedWithoutStopRequestHoldingItsFileAndTables) {
    testsupport::TempDir dir;
    const std::string path = dir.File("state.avi");
    testsupport::WriteAvi(path, testsupport::BuildAvi(testsupport::AviLayout{}));
    host::Store(testsupport::FakeHostServices());
    testsupport::FakeStream stream;
    const uint32_t options[] = {QX_TAG_EYES, 1, QX_TAG_DINT, 7, 0, 0};
    CMirolan reader(&stream.handle, testsupport::ToUtf16(path).c_str(), options);
    EXPECT_TRUE(reader.bVideo);
    EXPECT_FALSE(reader.bAudio);
    EXPECT_EQ(reader.dintValue, 7);
    EXPECT_TRUE(reader.bSuspended);
    EXPECT_FALSE(reader.bExit.load());
    EXPECT_EQ(reader.pStream, &stream.handle);
    EXPECT_NE(reader.hThread.get(), nullptr);
    EXPECT_NE(reader.hFile, nullptr);
    EXPECT_NE(reader.hMapFile, nullptr);
    EXPECT_EQ(reader.frameTable.size(), 3u);
    EXPECT_TRUE(reader.audioChunks.empty());
}
