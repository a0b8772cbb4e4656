#include <gtest/gtest.h>

#include "AviFixture.h"
#include "container/HeaderWalk.h"
#include "container/StreamRules.h"
#include "reader/Mirolan.h"
#include "support/DebugFolder.h"
#include "support/TempDir.h"

namespace {

using fixture::MappedReader;
using testsupport::AviBuilder;

class HeaderWalk : public ::testing::Test {
protected:
    std::unique_ptr<MappedReader> Open(const AviBuilder& avi, MappedReader::Medium medium) {
        return fixture::Open(dir_, "walk" + std::to_string(files_++) + ".avi", avi.bytes.data(),
                             medium);
    }
    bool LogHas(const std::string& piece) const {
        return debug_.FallbackText().find(piece) != std::string::npos;
    }
    testsupport::DebugFolder debug_;
    testsupport::TempDir dir_;
    int files_ = 0;
};

TEST_F(HeaderWalk, VideoReaderCopiesHeadersAndHandsOverAtVideoIndex) {
    const fixture::ExampleFile example = fixture::BuildExample();
    auto file = Open(example.avi, MappedReader::kVideo);
    MappedReader& reader = **file;
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
    MappedReader& reader = **file;
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
        const uint64_t list = avi.OpenList("LIST", code);
        const uint64_t decoy = avi.OpenIndex("ix00", "00db", 0xDEAD);
        avi.IndexEntry(0, 64);
        avi.Close(decoy);
        avi.Close(list);
    }
    const uint64_t movi = avi.OpenList("LIST", "movi");
    const uint64_t rec = avi.OpenList("LIST", "rec ");
    const uint64_t decoy = avi.OpenIndex("ix00", "00db", 0xBEEF);
    avi.IndexEntry(0, 64);
    avi.Close(decoy);
    avi.Close(rec);
    const uint64_t frame = avi.Chunk("00db", 64);
    const uint64_t ix00 = avi.OpenIndex("ix00", "00db", movi);
    avi.IndexEntry(static_cast<uint32_t>(frame - movi), 64);
    avi.Close(ix00);
    avi.Close(movi);

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
    const uint64_t movi = avi.OpenList("LIST", "movi");
    const uint64_t audio = avi.Chunk("01wb", 40);
    const uint64_t ix01 = avi.OpenIndex("ix01", "01wb", 777);
    avi.IndexEntry(static_cast<uint32_t>(audio - 777), 40);
    avi.Close(ix01);
    avi.Close(movi);

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
    const uint64_t movi = avi.OpenList("LIST", "movi");
    const uint64_t frame = avi.Chunk("00db", 64);
    avi.Close(movi);
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
        const uint64_t riff = avi.OpenList("RIFF", "AVI ");
        avi.OpenList("LIST", "hdrl");
        avi.MainHeader(0x10, 1);
        avi.StreamHeader("vids", audioHandler ? "\0\0\0\0" : "DIB ");
        avi.BitmapFormat(64);
        avi.StreamHeader("auds", audioHandler ? "\x01\0\0\0" : "\0\0\0\0");
        avi.WaveFormat(2, 16);
        fixture::VideoMovie(avi, 1, 64);
        avi.Close(riff);
        auto file = Open(avi, MappedReader::kVideo);
        EXPECT_TRUE((*file)->ReadContainer()) << "audio handler: " << audioHandler;
        EXPECT_EQ((*file)->frameTable.size(), 1u);
    }
}

// Writers leave the has-index flag clear on files that serve well (an
// audio-only file with no index at all): the flag refuses nothing, but a
// file without it that cannot be served keeps its log line.
TEST_F(HeaderWalk, MainHeaderWithoutIndexFlagIsServedFromItsDataOrRefusedAndLogged) {
    for (bool withMovie : {true, false}) {
        AviBuilder avi;
        avi.OpenList("RIFF", "AVI ");
        const uint64_t hdrl = avi.OpenList("LIST", "hdrl");
        avi.MainHeader(0x00, 1);
        const uint64_t strl = avi.OpenList("LIST", "strl");
        avi.StreamHeader("vids");
        avi.BitmapFormat(64);
        avi.Close(strl);
        avi.Close(hdrl);
        uint64_t frame = 0;
        if (withMovie) {
            const uint64_t movi = avi.OpenList("LIST", "movi");
            frame = avi.Chunk("00db", 64);
            avi.Close(movi);
        }
        auto file = Open(avi, MappedReader::kVideo);
        EXPECT_EQ((*file)->ReadContainer(), withMovie);
        if (withMovie) {
            EXPECT_EQ((*file)->frameTable, std::vector<int64_t>{static_cast<int64_t>(frame)});
        }
        EXPECT_EQ(LogHas("Mirolan(510)"), !withMovie);
        EXPECT_EQ(LogHas("AVI is not indexed we cann't use this AVI"), !withMovie);
    }
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
        MappedReader& reader = **file;
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

// Files as other writers lay them out: each stream in its own 'strl' list,
// handler codes, 'NNdc' video chunks, an 'idx1' index after 'movi'.
struct WriterStream {
    enum Kind { kRgb, kVideo, kWave, kText } kind = kRgb;
    uint32_t compression = 0;  // video
    uint16_t bitCount = 32;
    uint32_t strfSize = 40;
    uint16_t waveTag = 1;  // audio
    uint16_t channels = 2;
    uint16_t bits = 16;
    uint16_t subFormat = 1;
    uint32_t scale = 1;
    uint32_t rate = 25;
};

// 'RIFF' 'AVI ', 'hdrl' with one 'strl' per stream (4x4 pictures), the
// opened 'movi' list; returns its start.
uint64_t WriterHeaders(AviBuilder& avi, const std::vector<WriterStream>& streams) {
    avi.OpenList("RIFF", "AVI ");
    const uint64_t hdrl = avi.OpenList("LIST", "hdrl");
    avi.MainHeader(0x10, 3);
    for (const WriterStream& s : streams) {
        const uint64_t strl = avi.OpenList("LIST", "strl");
        switch (s.kind) {
            case WriterStream::kRgb:
            case WriterStream::kVideo:
                avi.TimedStreamHeader("vids", "\0\0\0\0", s.scale, s.rate, 3);
                avi.Bitmap(4, 4, s.bitCount, s.compression, 4 * 4 * s.bitCount / 8, s.strfSize);
                break;
            case WriterStream::kWave:
                avi.TimedStreamHeader("auds", "\x01\0\0\0", s.scale, s.rate, 30);
                avi.Wave(s.waveTag, s.channels, s.bits, s.strfSize, s.subFormat);
                break;
            case WriterStream::kText:
                avi.TimedStreamHeader("txts", "\0\0\0\0", 1, 25, 3);
                avi.PaddedChunk("strf", 7, 0x55);  // odd: a pad byte follows
                break;
        }
        avi.Chunk("JUNK", 24);  // room for a super index, as writers leave it
        avi.Close(strl);
    }
    avi.Close(hdrl);
    return avi.OpenList("LIST", "movi");
}

TEST_F(HeaderWalk, FirstUncompressedVideoAndFirstAudioAreServedOthersNeverTouchThem) {
    WriterStream mjpg;
    mjpg.kind = WriterStream::kVideo;
    mjpg.compression = avi::MakeFourCC('G', 'P', 'J', 'M');  // 'MJPG' as stored
    WriterStream audio;
    audio.kind = WriterStream::kWave;
    WriterStream rgb;
    WriterStream laterAudio = audio;
    laterAudio.channels = 7;
    WriterStream text;
    text.kind = WriterStream::kText;
    WriterStream laterRgb = rgb;
    laterRgb.rate = 50;

    AviBuilder avi;
    const uint64_t movi = WriterHeaders(avi, {mjpg, audio, rgb, laterAudio, text, laterRgb});
    std::vector<uint64_t> frames;
    std::vector<uint64_t> chunks;
    for (uint8_t i = 0; i < 3; ++i) {
        avi.Chunk("00dc", 9, 0xEE);  // compressed stream: never a frame
        frames.push_back(avi.Chunk("02dc", 64, i));
        chunks.push_back(avi.Chunk("01wb", 40));
        avi.Chunk("03wb", 70);
        avi.Chunk("05db", 64);
    }
    avi.Close(movi);

    auto video = Open(avi, MappedReader::kVideo);
    ASSERT_TRUE((*video)->ReadContainer()) << (*video)->refusal.text;
    EXPECT_EQ((*video)->frameTable, std::vector<int64_t>(frames.begin(), frames.end()));
    EXPECT_EQ((*video)->videoStrh.dwRate, 25u);
    EXPECT_EQ((*video)->frameDuration, 400000);

    auto sound = Open(avi, MappedReader::kAudio);
    ASSERT_TRUE((*sound)->ReadContainer()) << (*sound)->refusal.text;
    ASSERT_EQ((*sound)->audioChunks.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ((*sound)->audioChunks[i].offset, static_cast<int64_t>(chunks[i]));
    }
    EXPECT_EQ((*sound)->wfx.nChannels, 2u);
    EXPECT_FALSE(LogHas("ASSERT FAILED"));
}

struct FormatRow {
    const char* name;
    WriterStream stream;
    avi::RefusalKind refusal;
    const char* textPiece;
};

WriterStream Video(uint32_t compression, uint16_t bitCount, uint32_t strfSize) {
    WriterStream s;
    s.compression = compression;
    s.bitCount = bitCount;
    s.strfSize = strfSize;
    return s;
}
WriterStream Audio(uint16_t tag, uint16_t bits, uint32_t strfSize, uint16_t subFormat = 1) {
    WriterStream s;
    s.kind = WriterStream::kWave;
    s.waveTag = tag;
    s.bits = bits;
    s.strfSize = strfSize;
    s.subFormat = subFormat;
    s.rate = 8000;
    return s;
}

// Accepted or refused by the format alone, never by the handler code.
TEST_F(HeaderWalk, FormatsDecideWhatIsServed) {
    using K = avi::RefusalKind;
    const FormatRow rows[] = {
        {"BI_RGB 32-bit", Video(0, 32, 40), K::None, ""},
        {"BI_BITFIELDS BGRA", Video(3, 32, 52), K::None, ""},
        {"BI_BITFIELDS without masks", Video(3, 32, 40), K::VideoBitDepth, "masks"},
        {"MJPG", Video(avi::MakeFourCC('G', 'P', 'J', 'M'), 24, 40), K::CompressedVideo,
         "video is compressed (MJPEG, 'MJPG')"},
        {"unknown code", Video(avi::MakeFourCC('Z', 'Y', 'X', 'W'), 24, 40), K::CompressedVideo,
         "video is compressed ('WXYZ'), a format this plug-in does not know"},
        {"BI_RGB 24-bit", Video(0, 24, 40), K::None, ""},
        {"BI_RGB 16-bit", Video(0, 16, 40), K::None, ""},
        {"BI_RGB 8-bit palette", Video(0, 8, 40 + 4 * 256), K::None, ""},
        {"BI_RGB 48-bit", Video(0, 48, 40), K::VideoBitDepth,
         "video is 48-bit RGB with 16 bits a channel, not read yet"},
        {"UYVY", Video(avi::MakeFourCC('Y', 'V', 'Y', 'U'), 16, 40), K::None, ""},
        // One 64-byte chunk is shorter than a 4x4 v210 frame (128-byte rows):
        // not frame-sized, so not uncompressed video.
        {"v210", Video(avi::MakeFourCC('0', '1', '2', 'v'), 20, 40), K::VideoChunkSize,
         "not frame-sized"},
        {"I420", Video(avi::MakeFourCC('0', '2', '4', 'I'), 12, 40), K::None, ""},
        {"Y800", Video(avi::MakeFourCC('0', '0', '8', 'Y'), 8, 40), K::None, ""},
        {"RGBA", Video(avi::MakeFourCC('A', 'B', 'G', 'R'), 32, 40), K::None, ""},
        {"mencoder BGR24", Video(avi::MakeFourCC('B', 'G', 'R', 24), 24, 40), K::None, ""},
        {"YUV 4:4:4 planar", Video(avi::MakeFourCC('4', '4', '4', 'I'), 24, 40), K::CompressedVideo,
         "'I444'"},
        {"PCM 16-bit, 16-byte format", Audio(1, 16, 16), K::None, ""},
        {"PCM 8-bit", Audio(1, 8, 18), K::None, ""},
        {"extensible PCM", Audio(0xFFFE, 16, 40), K::None, ""},
        {"extensible 24-bit PCM", Audio(0xFFFE, 24, 40), K::None, ""},
        {"extensible float", Audio(0xFFFE, 32, 40, 3), K::None, ""},
        {"extensible AC-3", Audio(0xFFFE, 16, 40, 0x2000), K::AudioNotPcm,
         "audio is compressed (AC-3, extensible sub-format 0x2000)"},
        {"extensible cut to a wave format", Audio(0xFFFE, 16, 18), K::AudioNotPcm,
         "audio is extensible with a sub-format this plug-in does not know"},
        {"float", Audio(3, 32, 18), K::None, ""},
        {"double", Audio(3, 64, 18), K::None, ""},
        {"16-bit float", Audio(3, 16, 18), K::AudioSampleSize, "audio is 16-bit float, not read"},
        {"24-bit PCM", Audio(1, 24, 18), K::None, ""},
        {"32-bit PCM", Audio(1, 32, 18), K::None, ""},
        {"12-bit PCM", Audio(1, 12, 18), K::AudioSampleSize, "audio is 12-bit PCM, not read"},
        {"A-law", Audio(6, 8, 18), K::None, ""},
        {"mu-law", Audio(7, 8, 18), K::None, ""},
        {"MP3", Audio(0x55, 0, 30), K::AudioNotPcm, "audio is compressed (MP3, format tag 0x0055)"},
        {"unknown tag", Audio(0x7777, 16, 18), K::AudioNotPcm,
         "audio is compressed (format tag 0x7777), a format this plug-in does not know"},
    };
    for (const FormatRow& row : rows) {
        const bool isAudio = row.stream.kind == WriterStream::kWave;
        AviBuilder avi;
        const uint64_t movi = WriterHeaders(avi, {row.stream});
        avi.Chunk(isAudio ? "00wb" : "00dc", 64);
        avi.Close(movi);
        auto file = Open(avi, isAudio ? MappedReader::kAudio : MappedReader::kVideo);
        const bool served = (*file)->ReadContainer();
        EXPECT_EQ(served, row.refusal == K::None) << row.name;
        EXPECT_EQ((*file)->refusal.kind, row.refusal) << row.name;
        EXPECT_NE(std::string((*file)->refusal.text).find(row.textPiece), std::string::npos)
            << row.name << ": " << (*file)->refusal.text;
    }
    // 16- and 40-byte wave formats are formats of their own, not short ones.
    EXPECT_FALSE(LogHas("ASSERT FAILED"));
}

// A palette stream whose palette changes ('00pc' chunks, met by the scan of
// the movie data or listed in 'idx1', as ffmpeg writes them) is refused and
// named: served with the header's palette its later frames would show wrong
// colours. Without a change, and for a layout without a palette, it is served.
TEST_F(HeaderWalk, PaletteChangesRefuseAPaletteStream) {
    const struct {
        const char* name;
        uint16_t bitCount;
        bool change, idx1;
        bool served;
    } rows[] = {
        {"palette, no change", 8, false, false, true},
        {"palette, a change in the movie data", 8, true, false, false},
        {"palette, a change listed in idx1", 8, true, true, false},
        {"RGB, a stray change", 32, true, true, true},
    };
    for (const auto& row : rows) {
        AviBuilder avi;
        const uint64_t movi = WriterHeaders(avi, {Video(0, row.bitCount, 40 + 4 * 256)});
        const uint32_t frameBytes = 4u * 4u * row.bitCount / 8u;
        const uint64_t first = avi.Chunk("00dc", frameBytes, 1);
        const uint64_t change = row.change ? avi.Chunk("00pc", 4 + 4 * 2, 0) : 0;
        const uint64_t second = avi.Chunk("00dc", frameBytes, 2);
        avi.Close(movi);
        if (row.idx1) {
            const uint64_t idx1 = avi.OpenChunk("idx1");
            const auto at = [movi](uint64_t data) {
                return static_cast<uint32_t>(data - 8 - (movi + 8));
            };
            avi.Idx1Entry("00dc", at(first), frameBytes);
            avi.Idx1Entry("00pc", at(change), 4 + 4 * 2);
            avi.Idx1Entry("00dc", at(second), frameBytes);
            avi.Close(idx1);
        }
        auto file = Open(avi, MappedReader::kVideo);
        EXPECT_EQ((*file)->ReadContainer(), row.served) << row.name;
        if (row.served) continue;
        EXPECT_EQ((*file)->refusal.kind, avi::RefusalKind::VideoBitDepth) << row.name;
        EXPECT_STREQ((*file)->refusal.text,
                     "video is 8-bit palette that changes during the stream (1 '##pc' chunks), "
                     "not read yet")
            << row.name;
    }
}

TEST(FrameDuration, IsTenMillionTimesScaleOverRateRoundedToNearest) {
    struct Row {
        uint32_t scale, rate;
        uint64_t duration;
    };
    const Row rows[] = {
        {400000, 10000000, 400000},  // the rate this plug-in's own files write
        {1, 25, 400000},
        {1001, 30000, 333667},  // 333,666.67
        {1, 30, 333333},
        {3, 7, 4285714},   // 4,285,714.29
        {1, 20000000, 1},  // 0.5 rounds up
        {0, 25, 0},
        {1, 0, 0},
        {0xFFFFFFFFu, 1, 42949672950000000ull},
    };
    for (const Row& row : rows) {
        avi::AVIStreamHeader header{};
        header.dwScale = row.scale;
        header.dwRate = row.rate;
        EXPECT_EQ(avi::FrameDuration(header), row.duration) << row.scale << "/" << row.rate;
    }
}

// Video rates that give no frame time are refused; audio ones are not used
// while the format's nSamplesPerSec gives the rate.
TEST_F(HeaderWalk, RatesThatGiveNoTimeAreRefused) {
    struct Row {
        bool audio;
        uint32_t scale, rate;
    };
    const Row rows[] = {{false, 0, 25},  {false, 1, 0}, {false, 1, 30000000},  // 0.33 x 100 ns
                        {true, 0, 8000}, {true, 1, 0},  {true, 1, 0x80000000u}};
    for (const Row& row : rows) {
        if (row.audio) {
            AviBuilder avi;
            WriterStream s = Audio(1, 16, 16);
            s.scale = row.scale;
            s.rate = row.rate;
            const uint64_t movi = WriterHeaders(avi, {s});
            avi.Chunk("00wb", 64);
            avi.Close(movi);
            auto file = Open(avi, MappedReader::kAudio);
            EXPECT_TRUE((*file)->ReadContainer()) << row.scale << "/" << row.rate;
            bool disagrees = false;
            EXPECT_EQ(avi::AudioSampleRate((*file)->audioStrh, (*file)->wfx, &disagrees),
                      (*file)->wfx.nSamplesPerSec);
            EXPECT_NE((*file)->wfx.nSamplesPerSec, 0u);
            EXPECT_TRUE(disagrees);
            continue;
        }
        WriterStream s = row.audio ? Audio(1, 16, 16) : Video(0, 32, 40);
        s.scale = row.scale;
        s.rate = row.rate;
        AviBuilder avi;
        const uint64_t movi = WriterHeaders(avi, {s});
        avi.Chunk(row.audio ? "00wb" : "00dc", 64);
        avi.Close(movi);
        auto file = Open(avi, row.audio ? MappedReader::kAudio : MappedReader::kVideo);
        EXPECT_FALSE((*file)->ReadContainer()) << row.scale << "/" << row.rate;
        EXPECT_EQ((*file)->refusal.kind, avi::RefusalKind::RateOrScale) << row.scale;
    }
}

// A biSizeImage of 0 or width x height only hints: a frame is width x
// |height| x 4 bytes, and the index entries of that size are the frames.
TEST_F(HeaderWalk, ImageSizeOfZeroOrWidthTimesHeightMeansTheWholeFrame) {
    for (uint32_t sizeImage : {0u, 16u, 64u}) {
        AviBuilder avi;
        avi.OpenList("RIFF", "AVI ");
        const uint64_t hdrl = avi.OpenList("LIST", "hdrl");
        avi.MainHeader(0x10, 2);
        const uint64_t strl = avi.OpenList("LIST", "strl");
        avi.TimedStreamHeader("vids", "\0\0\0\0", 1, 25, 2);
        avi.Bitmap(4, -4, 32, 0, sizeImage);
        avi.Close(strl);
        avi.Close(hdrl);
        const uint64_t movi = avi.OpenList("LIST", "movi");
        const uint64_t f0 = avi.Chunk("00dc", 64);
        const uint64_t f1 = avi.Chunk("00dc", 64);
        avi.Close(movi);
        avi.bytes.Code("idx1").U32(32);
        avi.Idx1Entry("00dc", static_cast<uint32_t>(f0 - 8 - (movi + 8)), 64);
        avi.Idx1Entry("00dc", static_cast<uint32_t>(f1 - 8 - (movi + 8)), 64);
        auto file = Open(avi, MappedReader::kVideo);
        ASSERT_TRUE((*file)->ReadContainer()) << sizeImage;
        EXPECT_EQ((*file)->bih.biSizeImage, 64u) << sizeImage;
        EXPECT_EQ((*file)->frameTable,
                  (std::vector<int64_t>{static_cast<int64_t>(f0), static_cast<int64_t>(f1)}));
    }
}

// Odd chunks: written with their pad byte (every writer) or without it (this
// plug-in's own files did); both are walked and scanned to the same chunks.
TEST_F(HeaderWalk, OddChunksWithOrWithoutPadBytesKeepTheirPlace) {
    for (bool padded : {true, false}) {
        AviBuilder avi;
        WriterStream mono = Audio(1, 8, 16);
        mono.channels = 1;
        const uint64_t movi = WriterHeaders(avi, {mono});
        std::vector<uint64_t> chunks;
        for (uint32_t size : {441u, 441u, 440u, 3u}) {
            chunks.push_back(padded ? avi.PaddedChunk("00wb", size, 0x80)
                                    : avi.Chunk("00wb", size, 0x80));
        }
        avi.Close(movi);
        auto file = Open(avi, MappedReader::kAudio);
        ASSERT_TRUE((*file)->ReadContainer()) << padded;
        EXPECT_EQ((*file)->indexSource, avi::IndexSource::MovieScan);
        const std::deque<AudioChunk>& found = (*file)->audioChunks;
        ASSERT_EQ(found.size(), chunks.size()) << padded;
        for (size_t i = 0; i < chunks.size(); ++i) {
            EXPECT_EQ(found[i].offset, static_cast<int64_t>(chunks[i])) << padded << " " << i;
        }
        EXPECT_EQ(found.back().endSample, 441 + 441 + 440 + 3);
    }
}

// A file without an OpenDML index may count fewer samples in its stream
// header than its chunks hold (GStreamer writes one fewer); the host is told
// of every sample the chunks hold, and a longer header length still stands.
TEST_F(HeaderWalk, AudioLengthWithoutOpenDmlIndexCoversTheChunks) {
    struct Case {
        bool withIdx1;
        uint32_t chunkBytes;  // 16-bit stereo: 4 bytes a sample; the header says 30
        int64_t duration;
    };
    for (const Case& c : {Case{true, 124, 31}, Case{false, 124, 31}, Case{true, 40, 30}}) {
        AviBuilder avi;
        const uint64_t movi = WriterHeaders(avi, {Audio(1, 16, 16)});
        const uint64_t a0 = avi.Chunk("00wb", c.chunkBytes);
        avi.Close(movi);
        if (c.withIdx1) {
            avi.bytes.Code("idx1").U32(16);
            avi.Idx1Entry("00wb", static_cast<uint32_t>(a0 - 8 - (movi + 8)), c.chunkBytes);
        }
        const std::string path = dir_.File("length" + std::to_string(files_++) + ".avi");
        testsupport::WriteFile(path, avi.bytes.data());
        const std::u16string wide(path.begin(), path.end());
        VideoDesc video{};
        AudioDesc audio{};
        StreamHandle stream{};
        stream.pVideo = &video;
        stream.pAudio = &audio;
        const uint32_t options[] = {QX_TAG_EARS, 1, 0, 0};
        CMirolan reader(&stream, wide.c_str(), options);
        EXPECT_EQ(audio.duration, c.duration) << c.withIdx1 << " " << c.chunkBytes;
    }
}

TEST_F(HeaderWalk, AudioOnlyFileServesStreamZero) {
    AviBuilder avi;
    const uint64_t movi = WriterHeaders(avi, {Audio(1, 16, 16)});
    const uint64_t a0 = avi.Chunk("00wb", 40);
    avi.Close(movi);
    avi.bytes.Code("idx1").U32(16);
    avi.Idx1Entry("00wb", static_cast<uint32_t>(a0 - 8 - (movi + 8)), 40);
    auto file = Open(avi, MappedReader::kAudio);
    ASSERT_TRUE((*file)->ReadContainer()) << (*file)->refusal.text;
    EXPECT_EQ((*file)->indexSource, avi::IndexSource::Idx1);
    ASSERT_EQ((*file)->audioChunks.size(), 1u);
    EXPECT_EQ((*file)->audioChunks[0].offset, static_cast<int64_t>(a0));
    EXPECT_EQ((*file)->audioChunks[0].endSample, 10);

    auto video = Open(avi, MappedReader::kVideo);
    EXPECT_FALSE((*video)->ReadContainer());
    EXPECT_EQ((*video)->refusal.kind, avi::RefusalKind::NoStream);
}

TEST_F(HeaderWalk, RefusalsSayWhatTheFileIs) {
    AviBuilder notRiff;
    notRiff.Chunk("JUNK", 16);
    auto file = Open(notRiff, MappedReader::kVideo);
    EXPECT_FALSE((*file)->ReadContainer());
    EXPECT_EQ((*file)->refusal.kind, avi::RefusalKind::NotRiffAvi);
    EXPECT_STREQ((*file)->refusal.text, "not a RIFF AVI file");

    AviBuilder noMovie;
    noMovie.OpenList("RIFF", "AVI ");
    const uint64_t hdrl = noMovie.OpenList("LIST", "hdrl");
    noMovie.MainHeader(0x10, 1);
    noMovie.StreamHeader("vids");
    noMovie.BitmapFormat(64);
    noMovie.Close(hdrl);
    file = Open(noMovie, MappedReader::kVideo);
    EXPECT_FALSE((*file)->ReadContainer());
    EXPECT_EQ((*file)->refusal.kind, avi::RefusalKind::NoIndexNoMovie);
    EXPECT_STREQ((*file)->refusal.text, "no index and no 'movi' list");
}

}  // namespace
