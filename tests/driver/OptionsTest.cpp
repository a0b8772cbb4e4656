// The option list given to an open.
#include <gtest/gtest.h>

#include "reader/Mirolan.h"
#include "support/FakeHost.h"

namespace {

struct Parsed {
    bool video;
    bool audio;
    int32_t dint;
};

Parsed Parse(const uint32_t* options) {
    testsupport::FakeStream stream;
    CMirolan reader(&stream.handle, options, CMirolan::NotOpened{});
    return {reader.bVideo, reader.bAudio, reader.dintValue};
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
    const uint32_t options[] = {QX_TAG_EYES, 1, QX_TAG_EARS, 2, QX_TAG_EYES, 0, QX_TAG_DINT, 0xFFFFFFFF, 0, 0};
    const Parsed parsed = Parse(options);
    EXPECT_FALSE(parsed.video);
    EXPECT_TRUE(parsed.audio);
    EXPECT_EQ(parsed.dint, -1);
}

TEST(ReaderState, StartsSuspendedWithoutStopRequest) {
    testsupport::FakeStream stream;
    const uint32_t options[] = {QX_TAG_EYES, 1, 0, 0};
    CMirolan reader(&stream.handle, options, CMirolan::NotOpened{});
    EXPECT_TRUE(reader.bSuspended);
    EXPECT_FALSE(reader.bExit.load());
    EXPECT_EQ(reader.pStream, &stream.handle);
    EXPECT_EQ(reader.hFile, nullptr);
    EXPECT_EQ(reader.hMapFile, nullptr);
    EXPECT_TRUE(reader.frameTable.empty());
    EXPECT_TRUE(reader.audioChunks.empty());
}
