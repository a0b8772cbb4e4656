#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <new>
#include <tuple>

#include "AviFixture.h"
#include "container/HeaderWalk.h"
#include "container/IndexSources.h"
#include "platform/platform.h"
#include "support/AllocationCounter.h"
#include "support/DebugFolder.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace {

using fixture::ExampleOptions;
using fixture::MappedReader;
using testsupport::AviBuilder;
using testsupport::DebugFolder;
using testsupport::TempDir;

std::vector<int64_t> Offsets(const std::vector<uint64_t>& offsets) {
    return std::vector<int64_t>(offsets.begin(), offsets.end());
}

avi::WAVEFORMATEX Format(uint16_t channels, uint16_t bitsPerSample) {
    avi::WAVEFORMATEX format{};
    format.nChannels = channels;
    format.wBitsPerSample = bitsPerSample;
    return format;
}

TEST(AudioSampleCount, DividesBitsByBitsPerSampleFrameIn32Bits) {
    EXPECT_EQ(avi::SampleCount(19200, Format(2, 16)), 4800u);
    EXPECT_EQ(avi::SampleCount(1001, Format(1, 8)), 1001u);
    EXPECT_EQ(avi::SampleCount(3, Format(2, 16)), 0u);  // a partial sample frame counts nothing
    EXPECT_EQ(avi::SampleCount(6, Format(6, 8)), 1u);
    // size x 8 wraps modulo 2^32: 0x20000004 x 8 = 0x100000020 -> 0x20 bits.
    EXPECT_EQ(avi::SampleCount(0x20000004u, Format(1, 8)), 4u);
}

TEST(AudioSampleCount, FormatWithoutBitsOrChannelsCountsNothing) {
    EXPECT_EQ(avi::SampleCount(4000, Format(0, 16)), 0u);
    EXPECT_EQ(avi::SampleCount(4000, Format(2, 0)), 0u);
}

class StandardIndex : public ::testing::Test {
protected:
    std::unique_ptr<MappedReader> Open(const AviBuilder& avi, MappedReader::Medium medium) {
        return fixture::Open(dir_, "index" + std::to_string(files_++) + ".avi", avi.bytes.data(),
                             medium);
    }
    DebugFolder debug_;
    TempDir dir_;
    int files_ = 0;
};

// The headers, then a 'movi' list holding one chunk `code` per size and
// the standard index `ix` listing them, both left open for more.
struct IndexedMovie {
    uint64_t movi;
    uint64_t index;
    std::vector<uint64_t> chunks;
};
IndexedMovie StartIndexedMovie(AviBuilder& avi, const char (&ix)[5], const char (&code)[5],
                               const std::vector<uint32_t>& sizes) {
    fixture::Headers(avi);  // 16-bit stereo
    IndexedMovie m;
    m.movi = avi.OpenList("LIST", "movi");
    for (uint32_t size : sizes) m.chunks.push_back(avi.Chunk(code, size));
    m.index = avi.OpenIndex(ix, code, m.movi);
    for (size_t i = 0; i < sizes.size(); ++i)
        avi.IndexEntry(static_cast<uint32_t>(m.chunks[i] - m.movi), sizes[i]);
    return m;
}

// An audio record as offset, first sample and end sample, to compare whole
// tables at once.
using AudioRow = std::tuple<int64_t, int64_t, int64_t>;
std::vector<AudioRow> AudioRows(const std::deque<AudioChunk>& chunks) {
    std::vector<AudioRow> rows;
    for (const AudioChunk& chunk : chunks)
        rows.emplace_back(chunk.offset, chunk.firstSample, chunk.endSample);
    return rows;
}
int64_t At(uint64_t offset) { return static_cast<int64_t>(offset); }

// Two segments whose main header counts only the first one's frames, each
// 'movi' with interleaved video and audio and its own standard indexes.
struct TwoSegments {
    AviBuilder avi;
    std::vector<uint64_t> frames;
    std::vector<uint64_t> audio;
};
TwoSegments BuildTwoSegments() {
    TwoSegments file;
    AviBuilder& avi = file.avi;
    ExampleOptions options;
    options.totalFramesField = 2;
    const uint64_t riff = fixture::Headers(avi, options);
    for (uint32_t segment = 0; segment < 2; ++segment) {
        const uint64_t movi = avi.OpenList("LIST", "movi");
        const size_t first = file.frames.size();
        for (uint32_t i = 0; i < 2 + segment; ++i) {
            file.frames.push_back(avi.Chunk("00db", 64));
            file.audio.push_back(avi.Chunk("01wb", 40));
        }
        const uint64_t ix00 = avi.OpenIndex("ix00", "00db", movi);
        for (size_t i = first; i < file.frames.size(); ++i) {
            avi.IndexEntry(static_cast<uint32_t>(file.frames[i] - movi), 64);
        }
        avi.Close(ix00);
        const uint64_t ix01 = avi.OpenIndex("ix01", "01wb", movi);
        for (size_t i = first; i < file.audio.size(); ++i) {
            avi.IndexEntry(static_cast<uint32_t>(file.audio[i] - movi), 40);
        }
        avi.Close(ix01);
        avi.Close(movi);
        if (segment == 0) {
            avi.Chunk("idx1", 32);
            avi.Close(riff);
            avi.OpenList("RIFF", "AVIX");
        }
    }
    return file;
}

#ifndef _WIN32
// The packets ffprobe reads from the file's first video stream, or -1 when
// ffprobe is not installed.
long FfprobeVideoPackets(const std::string& path) {
    const std::string command =
        "ffprobe -v error -select_streams v:0 -count_packets -show_entries "
        "stream=nb_read_packets -of csv=p=0 '" +
        path + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    long packets = -1;
    if (std::fscanf(pipe, "%ld", &packets) != 1) packets = -1;
    return pclose(pipe) == 0 ? packets : -1;
}
#endif

// Writers reserve room in a standard index and count the entries they
// filled: what follows them (zeros, or entries left from an earlier pass)
// is no frame, and an entry of offset 0 (the base itself, never a chunk's
// data) was never written. Each file holds six frames, as ffprobe reads it.
TEST_F(StandardIndex, EntriesInUseBoundTheIndexAndUnwrittenEntriesAreNoFrames) {
    struct Case {
        const char* what;
        uint32_t inUse;
        std::vector<std::pair<uint32_t, uint32_t>> after;  // offset, size past the six entries
    };
    const Case cases[] = {
        {"one spare entry of zeros", 6, {{0, 0}}},
        {"spare entries left from an earlier pass", 6, {{12, 64}, {84, 64}}},
        {"entries counted but never written", 8, {{0, 0}, {0, 0}}},
        {"a zero-offset entry with the frame size", 7, {{0, 64}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AviBuilder avi;
        const uint64_t riff = fixture::Headers(avi);
        const uint64_t movi = avi.OpenList("LIST", "movi");
        std::vector<uint64_t> frames;
        for (int i = 0; i < 6; ++i)
            frames.push_back(avi.Chunk("00db", 64, static_cast<uint8_t>(i)));
        const uint64_t ix = avi.OpenIndex("ix00", "00db", movi, c.inUse);
        for (uint64_t frame : frames) avi.IndexEntry(static_cast<uint32_t>(frame - movi), 64);
        for (const auto& [offset, size] : c.after) avi.IndexEntry(offset, size);
        avi.Close(ix);
        avi.Close(movi);
        avi.Close(riff);
        auto file = Open(avi, MappedReader::kVideo);
        ASSERT_TRUE((*file)->ReadContainer());
        EXPECT_EQ((*file)->frameTable, Offsets(frames));
        EXPECT_EQ((*file)->avih.dwTotalFrames, 6u);
#ifndef _WIN32
        const std::string path = dir_.File("probed.avi");
        testsupport::WriteFile(path, avi.bytes.data());
        const long probed = FfprobeVideoPackets(path);
        if (probed >= 0) {
            EXPECT_EQ(static_cast<size_t>(probed), (*file)->frameTable.size());
        }
#endif
    }
}

TEST_F(StandardIndex, ScanEntersTheNextSegmentAndGrowsTheFrameCount) {
    const TwoSegments file = BuildTwoSegments();
    auto video = Open(file.avi, MappedReader::kVideo);
    ASSERT_TRUE((*video)->ReadContainer());
    EXPECT_EQ((*video)->frameTable, Offsets(file.frames));
    EXPECT_EQ((*video)->avih.dwTotalFrames, 5u);
}

TEST_F(StandardIndex, ScanAddsTheNextSegmentsAudioWithContinuousSamples) {
    const TwoSegments file = BuildTwoSegments();
    auto audio = Open(file.avi, MappedReader::kAudio);
    ASSERT_TRUE((*audio)->ReadContainer());
    std::vector<AudioRow> expected;
    for (size_t i = 0; i < 5; ++i)
        expected.emplace_back(At(file.audio[i]), 10 * static_cast<int64_t>(i),
                              10 * static_cast<int64_t>(i) + 10);
    EXPECT_EQ(AudioRows((*audio)->audioChunks), expected);
}

TEST_F(StandardIndex, VideoEntriesEndAtFirstSizeOtherThanTheImageSize) {
    AviBuilder avi;
    const IndexedMovie m = StartIndexedMovie(avi, "ix00", "00db", {64, 64});
    avi.IndexEntry(0, 63);     // ends the entries
    avi.IndexEntry(4000, 64);  // never read
    avi.Close(m.index);
    const uint64_t f2 = avi.Chunk("00db", 64);  // found by the scan after the index
    avi.Close(m.movi);

    auto file = Open(avi, MappedReader::kVideo);
    ASSERT_TRUE((*file)->ReadContainer());
    EXPECT_EQ((*file)->frameTable, Offsets({m.chunks[0], m.chunks[1], f2}));
    EXPECT_EQ((*file)->avih.dwTotalFrames, 3u);
}

TEST_F(StandardIndex, AudioEntriesEndAtTheEndOfTheIndexChunk) {
    AviBuilder avi;
    const IndexedMovie m = StartIndexedMovie(avi, "ix01", "01wb", {40, 40});
    avi.Close(m.index);
    // Read as an entry, this header would give a chunk at movi + '01wb'.
    const uint64_t a2 = avi.Chunk("01wb", 80);
    avi.Close(m.movi);

    auto file = Open(avi, MappedReader::kAudio);
    ASSERT_TRUE((*file)->ReadContainer());
    const std::vector<AudioRow> expected{
        {At(m.chunks[0]), 0, 10}, {At(m.chunks[1]), 10, 20}, {At(a2), 20, 40}};  // a2 from the scan
    EXPECT_EQ(AudioRows((*file)->audioChunks), expected);
    EXPECT_EQ((*file)->audioChunks.back().size, 80u);
}

TEST_F(StandardIndex, AudioRecordsCountSamplesAndScanSkipsEmptyChunks) {
    AviBuilder avi;
    const IndexedMovie m = StartIndexedMovie(avi, "ix01", "01wb", {19200, 3});
    avi.IndexEntry(0, 0);  // a zero size ends the entries
    avi.Close(m.index);
    avi.Chunk("01wb", 0);   // adds no record
    avi.Chunk("00db", 64);  // the other stream: stepped over by its size
    const uint64_t a2 = avi.Chunk("01wb", 40);
    avi.Close(m.movi);

    auto file = Open(avi, MappedReader::kAudio);
    ASSERT_TRUE((*file)->ReadContainer());
    // 3 bytes hold no whole sample frame.
    const std::vector<AudioRow> expected{
        {At(m.chunks[0]), 0, 4800}, {At(m.chunks[1]), 4800, 4800}, {At(a2), 4800, 4810}};
    EXPECT_EQ(AudioRows((*file)->audioChunks), expected);
}

// A crafted audio index of 2 Mi entries all naming one 4-byte chunk (a
// 16 MiB file): its chunk list, a 32-byte record per 8-byte entry, would
// take four times the file. The open is refused as out of memory before
// the list holds more than the file's size.
TEST_F(StandardIndex, AudioIndexOfRepeatedTinyEntriesNeverHoldsMoreThanTheFile) {
    constexpr uint32_t kEntries = 2u << 20;
    AviBuilder avi;
    const IndexedMovie m = StartIndexedMovie(avi, "ix01", "01wb", {4});
    for (uint32_t i = 1; i < kEntries; ++i)
        avi.IndexEntry(static_cast<uint32_t>(m.chunks[0] - m.movi), 4);
    avi.Close(m.index);
    avi.Close(m.movi);
    auto file = Open(avi, MappedReader::kAudio);
    const size_t before = allocation::Current();
    allocation::ResetPeak();
    // Refused as the open refuses a failed allocation (OutOfMemory).
    EXPECT_THROW((*file)->ReadContainer(), std::bad_alloc);
    const size_t peak = allocation::Peak() - before;
    EXPECT_LE(peak, avi.size() + (4u << 20)) << "file of " << avi.size() << " bytes";
}

TEST_F(StandardIndex, AudioFormatWithoutChannelsIsRefused) {
    ExampleOptions options;
    options.channels = 0;
    auto file = Open(fixture::BuildExample(options).avi, MappedReader::kAudio);
    EXPECT_FALSE((*file)->ReadContainer());
    EXPECT_EQ((*file)->refusal.kind, avi::RefusalKind::AudioFormat);
    EXPECT_TRUE((*file)->audioChunks.empty());
}

TEST_F(StandardIndex, ScanStoresEveryVideoChunkAndStepsTheImageSize) {
    AviBuilder avi;
    const IndexedMovie m = StartIndexedMovie(avi, "ix00", "00db", {64});
    const uint64_t f0 = m.chunks[0];
    avi.Close(m.index);
    avi.ChunkHeader("00db", 10);  // size field wrong, 64 data bytes follow
    const uint64_t f1 = avi.size();
    avi.bytes.Zeros(64);
    avi.Chunk("01wb", 40);  // the other stream: stepped over by its size
    const uint64_t f2 = avi.Chunk("00db", 64);
    avi.Close(m.movi);

    auto file = Open(avi, MappedReader::kVideo);
    ASSERT_TRUE((*file)->ReadContainer());
    EXPECT_EQ((*file)->frameTable, Offsets({f0, f1, f2}));
}

TEST_F(StandardIndex, IndexWithoutEntriesStoresNothingAndSkipsTheScan) {
    AviBuilder avi;
    fixture::Headers(avi);
    const uint64_t movi = avi.OpenList("LIST", "movi");
    const uint64_t ix00 = avi.OpenIndex("ix00", "00db", movi);
    avi.IndexEntry(12, 65);  // fails the size test at once
    avi.Close(ix00);
    avi.Chunk("00db", 64);
    avi.Close(movi);

    auto file = Open(avi, MappedReader::kVideo);
    EXPECT_FALSE((*file)->ReadContainer());
    EXPECT_EQ((*file)->refusal.kind, avi::RefusalKind::NoFrames);
    EXPECT_TRUE((*file)->frameTable.empty());
    EXPECT_EQ((*file)->avih.dwTotalFrames, 0u);
}

TEST_F(StandardIndex, IndexHeaderAtTheEndOfTheFileFailsTheWalk) {
    AviBuilder avi;
    fixture::Headers(avi);
    avi.OpenList("LIST", "movi");
    avi.OpenIndex("ix00", "00db", 0);  // nothing after its 32 bytes
    auto file = Open(avi, MappedReader::kVideo);
    EXPECT_FALSE((*file)->ReadContainer());
    EXPECT_TRUE((*file)->frameTable.empty());
}

TEST_F(StandardIndex, FirstViewPastTheEndOfTheFileStoresNothing) {
    auto file = Open(fixture::BuildExample().avi, MappedReader::kAudio);
    MappedReader& reader = **file;
    const uint64_t end = static_cast<uint64_t>(reader.fileSize);
    avi::AviLayout layout;
    layout.audioStream = 1;
    layout.standardIndexEntries = end;
    layout.standardIndexEnd = end + 64;
    avi::MediaIndex index;
    EXPECT_FALSE(avi::ReadStandardIndex(reader.Source(),
                                        avi::IndexTarget{avi::Medium::Audio, 0, &layout}, index));
    EXPECT_TRUE(index.audioChunks.empty());
    EXPECT_EQ(index.indexedEnd, 0u);
}

TEST_F(StandardIndex, HugeFrameCountInASmallFileReservesOnlyWhatTheFileCanHold) {
    ExampleOptions options;
    options.totalFramesField = 0x1FFFFFFF;  // byte size 0xFFFFFFF8: still 32 bits
    auto file = Open(fixture::BuildExample(options).avi, MappedReader::kVideo);
    ASSERT_TRUE((*file)->ReadContainer());
    EXPECT_LE((*file)->frameTable.capacity(), static_cast<size_t>((*file)->fileSize / 8));
    EXPECT_EQ((*file)->frameTable.size(), 3u);
    EXPECT_EQ((*file)->avih.dwTotalFrames, 3u);
}

TEST_F(StandardIndex, FrameCountWhoseByteSizePasses32BitsIsRefusedAsOutOfMemory) {
    for (uint32_t count : {0x20000000u, 0xFFFFFFFFu}) {
        ExampleOptions options;
        options.totalFramesField = count;
        auto file = Open(fixture::BuildExample(options).avi, MappedReader::kVideo);
        EXPECT_FALSE((*file)->ReadContainer()) << count;
        EXPECT_EQ((*file)->refusal.kind, avi::RefusalKind::OutOfMemory) << count;
        EXPECT_STREQ((*file)->refusal.text, ("out of memory for the index of a " +
                                             std::to_string((*file)->fileSize) + "-byte file")
                                                .c_str());
    }
}

// A sparse file of just over 5 GB: headers and indexes at its start, the
// media chunks above 4 GiB, reached through 64-bit base offsets and views.
TEST_F(StandardIndex, FramesAndAudioAbove4GiBAreIndexedAndScanned) {
    constexpr uint64_t kBase = 4999999992ull;  // first chunk header; its data at 5,000,000,000
    AviBuilder low;
    fixture::Headers(low);
    low.OpenList("LIST", "movi");
    // Above kBase: 00db(64) 01wb(40) 00db(64) 01wb(40) 00db(64) 01wb(40).
    const uint32_t stride = 8 + 64 + 8 + 40;
    const uint64_t ix00 = low.OpenIndex("ix00", "00db", kBase);
    low.IndexEntry(8, 64);
    low.IndexEntry(8 + stride, 64);
    low.Close(ix00);
    const uint64_t ix01 = low.OpenIndex("ix01", "01wb", kBase);
    low.IndexEntry(8 + 72, 40);
    low.IndexEntry(8 + 72 + stride, 40);
    low.Close(ix01);

    AviBuilder high;
    std::vector<uint64_t> frames;
    std::vector<uint64_t> audio;
    for (int i = 0; i < 3; ++i) {
        frames.push_back(kBase + high.Chunk("00db", 64));
        audio.push_back(kBase + high.Chunk("01wb", 40));
    }
    const std::string path = dir_.File("large.avi");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(low.bytes.data().data()),
                  static_cast<std::streamsize>(low.size()));
        out.seekp(static_cast<std::streamoff>(kBase));
        out.write(reinterpret_cast<const char*>(high.bytes.data().data()),
                  static_cast<std::streamsize>(high.size()));
        ASSERT_TRUE(out.good());
    }
    ASSERT_EQ(frames[0], 5000000000ull);

    {
        MappedReader video(path, MappedReader::kVideo);
        ASSERT_EQ(video->fileSize, static_cast<int64_t>(kBase + high.size()));
        ASSERT_TRUE(video->ReadContainer());
        EXPECT_EQ(video->frameTable, Offsets(frames));
        EXPECT_EQ(video->avih.dwTotalFrames, 3u);
    }
    {
        MappedReader sound(path, MappedReader::kAudio);
        ASSERT_TRUE(sound->ReadContainer());
        ASSERT_EQ(sound->audioChunks.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(sound->audioChunks[i].offset, static_cast<int64_t>(audio[i])) << i;
            EXPECT_EQ(sound->audioChunks[i].endSample, static_cast<int64_t>(10 * i + 10)) << i;
        }
    }
    testsupport::RemoveFile(path);
}

// A video-only file as other writers lay it out: 'strl' with a 4x4 32-bit
// 'vids' stream, then 'movi' with '00dc' chunks of the given sizes (0: a drop
// frame). Returns each chunk's data offset; `moviType` is where the 'movi'
// code lies.
struct DropFile {
    AviBuilder avi;
    std::vector<uint64_t> chunks;
    uint64_t moviType = 0;
    uint64_t movi = 0;
};
DropFile BuildDropFile(const std::vector<uint32_t>& sizes) {
    DropFile file;
    AviBuilder& avi = file.avi;
    avi.OpenList("RIFF", "AVI ");
    const uint64_t hdrl = avi.OpenList("LIST", "hdrl");
    avi.MainHeader(0x10, static_cast<uint32_t>(sizes.size()));
    const uint64_t strl = avi.OpenList("LIST", "strl");
    avi.TimedStreamHeader("vids", "\0\0\0\0", 1, 25, static_cast<uint32_t>(sizes.size()));
    avi.Bitmap(4, 4, 32, 0, 64);
    avi.Close(strl);
    avi.Close(hdrl);
    file.movi = avi.OpenList("LIST", "movi");
    file.moviType = file.movi + 8;
    for (uint32_t size : sizes) file.chunks.push_back(avi.Chunk("00dc", size, 0x11));
    return file;
}

// Each index source gives the same table: a drop frame shows the picture
// before it, and a leading one the first picture that comes.
TEST_F(StandardIndex, DropFramesShowThePreviousPictureFromEverySource) {
    const std::vector<uint32_t> sizes = {0, 64, 0, 64, 0, 0};
    for (int source = 0; source < 4; ++source) {
        DropFile file = BuildDropFile(sizes);
        AviBuilder& avi = file.avi;
        if (source == 0) {  // standard index at the end of 'movi'
            const uint64_t ix = avi.OpenIndex("ix00", "00dc", file.movi);
            for (size_t i = 0; i < sizes.size(); ++i) {
                avi.IndexEntry(static_cast<uint32_t>(file.chunks[i] - file.movi), sizes[i]);
            }
            avi.Close(ix);
        }
        avi.Close(file.movi);
        if (source == 1 || source == 2) {  // idx1: offsets from 'movi', or absolute
            avi.bytes.Code("idx1").U32(static_cast<uint32_t>(16 * sizes.size()));
            const uint64_t base = source == 1 ? file.moviType : 0;
            for (size_t i = 0; i < sizes.size(); ++i) {
                avi.Idx1Entry("00dc", static_cast<uint32_t>(file.chunks[i] - 8 - base), sizes[i]);
            }
        }
        auto reader = Open(avi, MappedReader::kVideo);
        ASSERT_TRUE((*reader)->ReadContainer()) << source;
        const avi::IndexSource expected[] = {avi::IndexSource::StandardIndex,
                                             avi::IndexSource::Idx1, avi::IndexSource::Idx1,
                                             avi::IndexSource::MovieScan};
        EXPECT_EQ((*reader)->indexSource, expected[source]);
        const auto f1 = static_cast<int64_t>(file.chunks[1]);
        const auto f3 = static_cast<int64_t>(file.chunks[3]);
        EXPECT_EQ((*reader)->frameTable, (std::vector<int64_t>{f1, f1, f1, f3, f3, f3})) << source;
        EXPECT_EQ((*reader)->avih.dwTotalFrames, 6u);
    }
}

// An 'idx1' whose offsets fit neither reading is not trusted: the scan of
// 'movi' finds the frames instead.
TEST_F(StandardIndex, Idx1PointingAtNoChunkGivesWayToTheScan) {
    DropFile file = BuildDropFile({64, 64});
    file.avi.Close(file.movi);
    file.avi.bytes.Code("idx1").U32(32);
    file.avi.Idx1Entry("00dc", 3, 64);  // neither from 'movi' nor from 0 a chunk header
    file.avi.Idx1Entry("00dc", 80, 64);
    auto reader = Open(file.avi, MappedReader::kVideo);
    ASSERT_TRUE((*reader)->ReadContainer());
    EXPECT_EQ((*reader)->indexSource, avi::IndexSource::MovieScan);
    EXPECT_EQ((*reader)->frameTable, Offsets(file.chunks));
}

// Bit 31 of a standard index size marks a frame that is not a key frame;
// it is no part of the size.
TEST_F(StandardIndex, StandardIndexSizesLoseTheirTopBit) {
    AviBuilder avi;
    fixture::Headers(avi);
    const uint64_t movi = avi.OpenList("LIST", "movi");
    const uint64_t f0 = avi.Chunk("00db", 64);
    const uint64_t a0 = avi.Chunk("01wb", 40);
    const uint64_t f1 = avi.Chunk("00db", 64);
    const uint64_t a1 = avi.Chunk("01wb", 40);
    const uint64_t ix00 = avi.OpenIndex("ix00", "00db", movi);
    avi.IndexEntry(static_cast<uint32_t>(f0 - movi), 64);
    avi.IndexEntry(static_cast<uint32_t>(f1 - movi), 0x80000000u | 64);
    avi.Close(ix00);
    const uint64_t ix01 = avi.OpenIndex("ix01", "01wb", movi);
    avi.IndexEntry(static_cast<uint32_t>(a0 - movi), 0x80000000u | 40);
    avi.IndexEntry(static_cast<uint32_t>(a1 - movi), 0x80000000u | 40);
    avi.Close(ix01);
    avi.Close(movi);

    auto video = Open(avi, MappedReader::kVideo);
    ASSERT_TRUE((*video)->ReadContainer());
    EXPECT_EQ((*video)->frameTable, Offsets({f0, f1}));
    auto audio = Open(avi, MappedReader::kAudio);
    ASSERT_TRUE((*audio)->ReadContainer());
    ASSERT_EQ((*audio)->audioChunks.size(), 2u);
    EXPECT_EQ((*audio)->audioChunks[1].size, 40u);
    EXPECT_EQ((*audio)->audioChunks[1].offset, static_cast<int64_t>(a1));
    EXPECT_EQ((*audio)->audioChunks[1].endSample, 20);
}

// A later segment may hold other chunks before its 'movi' list: the scan
// walks the segment's chunks to it. The walk asserts nothing on 'AVIX'.
TEST_F(StandardIndex, SegmentWithJunkBeforeItsMovieListIsScanned) {
    AviBuilder avi;
    ExampleOptions options;
    options.totalFramesField = 1;
    const uint64_t riff = fixture::Headers(avi, options);
    const std::vector<uint64_t> first = fixture::VideoMovie(avi, 1, 64);
    avi.Close(riff);
    const uint64_t avix = avi.OpenList("RIFF", "AVIX");
    avi.Chunk("JUNK", 20);
    const uint64_t movi = avi.OpenList("LIST", "movi");
    const uint64_t f1 = avi.Chunk("00db", 64);
    const uint64_t f2 = avi.Chunk("00dc", 64);
    avi.Close(movi);
    avi.Close(avix);

    auto file = Open(avi, MappedReader::kVideo);
    ASSERT_TRUE((*file)->ReadContainer());
    EXPECT_EQ((*file)->frameTable, Offsets({first[0], f1, f2}));
    EXPECT_EQ((*file)->avih.dwTotalFrames, 3u);
    EXPECT_FALSE(debug_.FallbackText().find("ASSERT FAILED") != std::string::npos);
}

// 8-bit mono chunks of odd size, each with its pad byte: the scan that
// follows the index starts on the pad byte after the last indexed chunk and
// still finds the next segment's chunks.
TEST_F(StandardIndex, ScanAfterAnOddLastIndexedChunkStepsOverItsPadByte) {
    AviBuilder avi;
    ExampleOptions options;
    options.channels = 1;
    options.bitsPerSample = 8;
    const uint64_t riff = fixture::Headers(avi, options);
    const uint64_t movi = avi.OpenList("LIST", "movi");
    std::vector<uint64_t> chunks;
    chunks.push_back(avi.PaddedChunk("01wb", 441, 0x80));
    chunks.push_back(avi.PaddedChunk("01wb", 441, 0x80));
    const uint64_t ix01 = avi.OpenIndex("ix01", "01wb", movi);
    for (uint64_t chunk : chunks) avi.IndexEntry(static_cast<uint32_t>(chunk - movi), 441);
    avi.Close(ix01);
    avi.Close(movi);
    avi.Close(riff);
    const uint64_t avix = avi.OpenList("RIFF", "AVIX");
    const uint64_t movi2 = avi.OpenList("LIST", "movi");
    chunks.push_back(avi.PaddedChunk("01wb", 441, 0x80));
    chunks.push_back(avi.PaddedChunk("01wb", 3, 0x80));
    avi.Close(movi2);
    avi.Close(avix);

    auto file = Open(avi, MappedReader::kAudio);
    ASSERT_TRUE((*file)->ReadContainer());
    const std::deque<AudioChunk>& found = (*file)->audioChunks;
    ASSERT_EQ(found.size(), chunks.size());
    for (size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(found[i].offset, static_cast<int64_t>(chunks[i])) << i;
    }
    EXPECT_EQ(found.back().endSample, 3 * 441 + 3);
}

}  // namespace
