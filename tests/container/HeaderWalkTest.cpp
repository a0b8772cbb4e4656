#include <gtest/gtest.h>

#include "AviFixture.h"
#include "container/HeaderWalk.h"

namespace {

using fixture::AviBuilder;
using fixture::ExampleOptions;
using fixture::MappedReader;
using testsupport::DebugFolder;
using testsupport::TempDir;

class HeaderWalk : public ::testing::Test {
protected:
    std::unique_ptr<MappedReader> Open(const AviBuilder& avi, MappedReader::Medium medium) {
        return fixture::Open(dir_, "walk" + std::to_string(files_++) + ".avi", avi.bytes.data(),
                             medium);
    }
    bool LogHas(const std::string& piece) const {
        return debug_.FallbackText().find(piece) != std::string::npos;
    }
    DebugFolder debug_;
    TempDir dir_;
    int files_ = 0;
};

TEST_F(HeaderWalk, VideoReaderCopiesHeadersAndHandsOverAtVideoIndex) {
    const fixture::ExampleFile example = fixture::BuildExample();
    auto file = Open(example.avi, MappedReader::kVideo);
    CMirolan& reader = **file;
    ASSERT_TRUE(reader.ReadContainer());

    EXPECT_EQ(reader.avih.dwFlags, 0x10u);
    EXPECT_EQ(reader.avih.dwStreams, 2u);
    EXPECT_EQ(reader.videoStrh.fccType, avi::kVids);
    EXPECT_EQ(reader.videoStrh.dwScale, 400000u);
    EXPECT_EQ(reader.audioStrh.fccType, avi::kAuds);
    EXPECT_EQ(reader.bih.biSizeImage, 64u);
    EXPECT_EQ(reader.bih.biBitCount, 32u);
    EXPECT_EQ(reader.wfx.nChannels, 2u);
    EXPECT_EQ(reader.wfx.wBitsPerSample, 16u);
    EXPECT_EQ(reader.baseOffset, static_cast<int64_t>(example.videoIndexBase));
    EXPECT_EQ(std::vector<int64_t>(example.frameOffsets.begin(), example.frameOffsets.end()),
              reader.frameTable);
    EXPECT_EQ(reader.avih.dwTotalFrames, 3u);
    EXPECT_TRUE(reader.audioChunks.empty());
}

TEST_F(HeaderWalk, AudioReaderStepsOverVideoIndexAndHandsOverAtAudioIndex) {
    const fixture::ExampleFile example = fixture::BuildExample();
    auto file = Open(example.avi, MappedReader::kAudio);
    CMirolan& reader = **file;
    ASSERT_TRUE(reader.ReadContainer());

    EXPECT_EQ(reader.baseOffset, static_cast<int64_t>(example.audioIndexBase));
    ASSERT_EQ(reader.audioChunks.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const AudioChunk& chunk = reader.audioChunks[i];
        EXPECT_EQ(chunk.offset, static_cast<int64_t>(example.audioChunks[i].first)) << i;
        EXPECT_EQ(chunk.size, 40u);
        EXPECT_EQ(chunk.firstSample, static_cast<int64_t>(10 * i));  // 40 bytes of 16-bit stereo
        EXPECT_EQ(chunk.endSample, static_cast<int64_t>(10 * i + 10));
    }
    EXPECT_TRUE(reader.frameTable.empty());
    EXPECT_EQ(reader.avih.dwTotalFrames, 3u);  // an audio reader leaves the count as read
}

TEST_F(HeaderWalk, StepsOverOddSizedJunkWithoutPad) {
    AviBuilder avi;
    fixture::Headers(avi);
    avi.Chunk("JUNK", 7);  // a pad byte skipped here would misread the next code
    avi.Chunk("JUNK", 1);
    const std::vector<uint64_t> frames = fixture::VideoMovie(avi, 2, 64);
    auto file = Open(avi, MappedReader::kVideo);
    ASSERT_TRUE((*file)->ReadContainer());
    EXPECT_EQ((*file)->frameTable, std::vector<int64_t>(frames.begin(), frames.end()));
}

TEST_F(HeaderWalk, StepsOverOtherListsWholeWithoutVisitingTheirChunks) {
    AviBuilder avi;
    fixture::Headers(avi);
    // Each list hides a video index that would be taken if the walk entered it.
    for (const char* type : {"odml", "INFO"}) {
        const char code[5] = {type[0], type[1], type[2], type[3], 0};
        const size_t list = avi.OpenList("LIST", code);
        const size_t decoy = avi.OpenIndex("ix00", "00db", 0xDEAD);
        avi.IndexEntry(0, 64);
        avi.CloseIndex(decoy);
        avi.CloseList(list);
    }
    const size_t movi = avi.OpenList("LIST", "movi");
    const size_t rec = avi.OpenList("LIST", "rec ");
    const size_t decoy = avi.OpenIndex("ix00", "00db", 0xBEEF);
    avi.IndexEntry(0, 64);
    avi.CloseIndex(decoy);
    avi.CloseList(rec);
    const uint64_t frame = avi.Chunk("00db", 64);
    const size_t ix00 = avi.OpenIndex("ix00", "00db", movi);
    avi.IndexEntry(static_cast<uint32_t>(frame - movi), 64);
    avi.CloseIndex(ix00);
    avi.CloseList(movi);

    auto file = Open(avi, MappedReader::kVideo);
    ASSERT_TRUE((*file)->ReadContainer());
    EXPECT_EQ((*file)->baseOffset, static_cast<int64_t>(movi));
    EXPECT_EQ((*file)->frameTable, std::vector<int64_t>{static_cast<int64_t>(frame)});
}

TEST_F(HeaderWalk, ListSmallerThanItsTypeFieldRunsPastTheEndAndFails) {
    AviBuilder avi;
    fixture::Headers(avi);
    avi.bytes.Code("LIST").U32(2).Code("XXXX");  // size - 4 wraps to just under 4 GiB
    fixture::VideoMovie(avi, 1, 64);
    auto file = Open(avi, MappedReader::kVideo);
    EXPECT_FALSE((*file)->ReadContainer());
}

TEST_F(HeaderWalk, IndexOfTheOtherStreamIsSteppedOverKeepingItsBaseOffset) {
    AviBuilder avi;
    fixture::Headers(avi);
    const size_t movi = avi.OpenList("LIST", "movi");
    const uint64_t audio = avi.Chunk("01wb", 40);
    const size_t ix01 = avi.OpenIndex("ix01", "01wb", 777);
    avi.IndexEntry(static_cast<uint32_t>(audio - 777), 40);
    avi.CloseIndex(ix01);
    avi.CloseList(movi);

    auto onlyAudioIndex = Open(avi, MappedReader::kVideo);
    EXPECT_FALSE((*onlyAudioIndex)->ReadContainer());
    EXPECT_EQ((*onlyAudioIndex)->baseOffset, 777);
    EXPECT_TRUE((*onlyAudioIndex)->frameTable.empty());

    const std::vector<uint64_t> frames = fixture::VideoMovie(avi, 2, 64);
    auto withVideoIndex = Open(avi, MappedReader::kVideo);
    EXPECT_TRUE((*withVideoIndex)->ReadContainer());
    EXPECT_EQ((*withVideoIndex)->frameTable, std::vector<int64_t>(frames.begin(), frames.end()));
}

TEST_F(HeaderWalk, IndexedOnlyByIdx1IsServedFromIt) {
    AviBuilder avi;
    fixture::Headers(avi);
    const size_t movi = avi.OpenList("LIST", "movi");
    const uint64_t frame = avi.Chunk("00db", 64);
    avi.CloseList(movi);
    // Offset 4: from the 'movi' code to the chunk's header.
    avi.bytes.Code("idx1").U32(16).Code("00db").U32(0x10).U32(4).U32(64);
    auto file = Open(avi, MappedReader::kVideo);
    ASSERT_TRUE((*file)->ReadContainer());
    EXPECT_EQ((*file)->indexSource, avi::IndexSource::Idx1);
    EXPECT_EQ((*file)->frameTable, std::vector<int64_t>{static_cast<int64_t>(frame)});
}

// The handler code says nothing about the format: uncompressed video and PCM
// audio are served whatever it holds, for either reader.
TEST_F(HeaderWalk, HandlerCodeIsNoReasonToRefuse) {
    for (bool audioHandler : {false, true}) {
        AviBuilder avi;
        const size_t riff = avi.OpenList("RIFF", "AVI ");
        avi.OpenList("LIST", "hdrl");
        avi.MainHeader(0x10, 1);
        avi.StreamHeader("vids", audioHandler ? "\0\0\0\0" : "DIB ");
        avi.BitmapFormat(64);
        avi.StreamHeader("auds", audioHandler ? "\x01\0\0\0" : "\0\0\0\0");
        avi.WaveFormat(2, 16);
        fixture::VideoMovie(avi, 1, 64);
        avi.CloseList(riff);
        auto file = Open(avi, MappedReader::kVideo);
        EXPECT_TRUE((*file)->ReadContainer()) << "audio handler: " << audioHandler;
        EXPECT_EQ((*file)->frameTable.size(), 1u);
    }
}

TEST_F(HeaderWalk, MainHeaderWithoutIndexFlagIsRefusedAndLogged) {
    AviBuilder avi;
    avi.OpenList("RIFF", "AVI ");
    avi.OpenList("LIST", "hdrl");
    avi.MainHeader(0x00, 1);
    fixture::VideoMovie(avi, 1, 64);
    auto file = Open(avi, MappedReader::kVideo);
    EXPECT_FALSE((*file)->ReadContainer());
    EXPECT_TRUE(LogHas("Mirolan(510)"));
    EXPECT_TRUE(LogHas("AVI is not indexed we cann't use this AVI"));
}

TEST_F(HeaderWalk, IndexBeforeAnyMainHeaderFails) {
    AviBuilder avi;
    avi.OpenList("RIFF", "AVI ");
    fixture::VideoMovie(avi, 1, 64);
    avi.OpenList("LIST", "hdrl");
    avi.MainHeader(0x10, 1);
    auto file = Open(avi, MappedReader::kVideo);
    EXPECT_FALSE((*file)->ReadContainer());
    EXPECT_TRUE((*file)->frameTable.empty());
}

// Outside a 'strl' list a format's size cannot be checked against its list,
// so a short format is read and stepped as 18 bytes, as it always was.
TEST_F(HeaderWalk, ShortAudioFormatOutsideAStreamListIsAssertedAndSteppedAsEighteenBytes) {
    AviBuilder avi;
    avi.OpenList("RIFF", "AVI ");
    avi.OpenList("LIST", "hdrl");
    avi.MainHeader(0x10, 1);
    avi.StreamHeader("vids");
    avi.BitmapFormat(64);
    avi.StreamHeader("auds");
    avi.WaveFormat(2, 16, 17);  // size field 17: no wave format has that size
    avi.bytes.U16(0x1234);      // the two bytes the walk steps over with the 18
    fixture::VideoMovie(avi, 1, 64);
    auto file = Open(avi, MappedReader::kVideo);
    EXPECT_TRUE((*file)->ReadContainer());
    EXPECT_EQ((*file)->wfx.wBitsPerSample, 16u);
    EXPECT_TRUE(LogHas("Mirolan(646)"));
    EXPECT_TRUE(LogHas("ASSERT FAILED: (sizeof(WAVEFORMATEX)==chnk.dwSize)"));
}

TEST_F(HeaderWalk, SizeMismatchesAreAssertedWithTheirTextsAndTheWalkGoesOn) {
    AviBuilder avi;
    avi.OpenList("RIFF", "AVIY");  // form type other than 'AVI ' and 'AVIX'
    avi.OpenList("LIST", "hdrl");
    avi.MainHeader(0x10, 1, 52);   // size field 52, body 56
    avi.StreamHeader("vids", 60);  // size field 60, body 56
    avi.BitmapFormat(64, 44);      // size field 44, body 40
    avi.StreamHeader("txts");      // another stream type: stepped over
    const std::vector<uint64_t> frames = fixture::VideoMovie(avi, 1, 64);
    auto file = Open(avi, MappedReader::kVideo);
    EXPECT_TRUE((*file)->ReadContainer());
    EXPECT_EQ((*file)->frameTable, std::vector<int64_t>(frames.begin(), frames.end()));
    EXPECT_EQ((*file)->bih.biSizeImage, 64u);
    EXPECT_TRUE(LogHas("Mirolan(452)"));
    EXPECT_TRUE(LogHas("ASSERT FAILED: (lst.dwFourCC=='AVI ')"));
    EXPECT_TRUE(LogHas("Mirolan(495)"));
    EXPECT_TRUE(LogHas("ASSERT FAILED: (sizeof(MainAVIHeader)==chnk.dwSize)"));
    EXPECT_TRUE(LogHas("Mirolan(534)"));
    EXPECT_TRUE(LogHas("ASSERT FAILED: (sizeof(AVIStreamHeader)==chnk.dwSize)"));
    EXPECT_TRUE(LogHas("Mirolan(629)"));
    EXPECT_TRUE(LogHas("ASSERT FAILED: (sizeof(BITMAPINFOHEADER)==chnk.dwSize)"));
    EXPECT_FALSE(LogHas("Mirolan(646)"));
}

TEST_F(HeaderWalk, WellFormedFileLogsNoAssertion) {
    auto file = Open(fixture::BuildExample().avi, MappedReader::kAudio);
    EXPECT_TRUE((*file)->ReadContainer());
    EXPECT_FALSE(LogHas("ASSERT FAILED"));
}

// Every prefix of the example file: the walk never reads past the file
// (checked by the sanitizer build, where views are exact heap blocks) and
// fails while the video index header is incomplete. Afterwards an index cut
// before its first entry gives no frame and no scan; one whole entry is
// enough for the scan to find the other frames, which lie before the index.
TEST_F(HeaderWalk, TruncatedFilesFailOrKeepWhatTheyHold) {
    const fixture::ExampleFile example = fixture::BuildExample();
    const std::vector<uint8_t>& whole = example.avi.bytes.data();
    const size_t lastFrameEnd = static_cast<size_t>(example.frameOffsets.back() + 64);
    size_t firstEntry = 0;  // right after the 'ix00' header
    for (size_t at = lastFrameEnd; at + 4 <= whole.size(); ++at) {
        if (whole[at] == 'i' && whole[at + 1] == 'x' && whole[at + 2] == '0' &&
            whole[at + 3] == '0') {
            firstEntry = at + 32;
            break;
        }
    }
    ASSERT_NE(firstEntry, 0u);
    const std::vector<int64_t> allFrames(example.frameOffsets.begin(), example.frameOffsets.end());
    for (size_t cut = 1; cut < whole.size(); ++cut) {
        const std::vector<uint8_t> prefix(whole.begin(), whole.begin() + cut);
        auto file = fixture::Open(dir_, "cut.avi", prefix, MappedReader::kVideo);
        CMirolan& reader = **file;
        const bool served = reader.ReadContainer();
        if (cut <= firstEntry) {
            // No index entry yet: the frames whose headers the prefix holds, found
            // by the scan of 'movi'; nothing before the first of them.
            std::vector<int64_t> present;
            for (int64_t offset : allFrames) {
                if (static_cast<size_t>(offset) <= cut) present.push_back(offset);
            }
            EXPECT_EQ(served, !present.empty()) << cut;
            EXPECT_EQ(reader.frameTable, served ? present : std::vector<int64_t>{}) << cut;
            continue;
        }
        // From the index on, it decides: no whole entry, no frame.
        const bool anyEntry = cut - firstEntry >= 8;
        EXPECT_EQ(served, anyEntry) << cut;
        EXPECT_EQ(reader.frameTable, anyEntry ? allFrames : std::vector<int64_t>{}) << cut;
        if (served) {
            EXPECT_EQ(reader.avih.dwTotalFrames, reader.frameTable.size()) << cut;
        }
    }
}

}  // namespace
