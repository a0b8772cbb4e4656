// Checks of the layout avimake writes, read back with the test's own RIFF reader.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "AvimakeFiles.h"
#include "TestPattern.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace avimaketest {
namespace {

constexpr uint32_t kHasIndex = 0x10;
constexpr uint32_t kIsInterleaved = 0x100;
constexpr int kAvihFlags = 3;
constexpr int kAvihTotalFrames = 4;

// 64x48 BGRA frames are 12288 bytes: a 100000-byte limit gives several segments.
const std::vector<std::string> kSmallFrames = {"--width", "64", "--height", "48"};

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

class Structure : public ::testing::Test {
protected:
    std::string Make(const std::vector<std::string>& args) {
        const std::string path = dir_.File("out" + std::to_string(count_++) + ".avi");
        MakeAvi(path, args);
        return path;
    }
    testsupport::TempDir dir_;
    int count_ = 0;
};

TEST_F(Structure, AvihHasIndexAndInterleavedFlagsByDefault) {
    RiffFile file(Make(With(kSmallFrames, {"--frames", "3"})));
    EXPECT_EQ(AvihDword(file, kAvihFlags) & (kHasIndex | kIsInterleaved),
              kHasIndex | kIsInterleaved);
}

TEST_F(Structure, NoIndexFlagClearsOnlyTheIndexFlag) {
    RiffFile file(Make(With(kSmallFrames, {"--frames", "3", "--no-index-flag"})));
    EXPECT_EQ(AvihDword(file, kAvihFlags) & kHasIndex, 0u);
    EXPECT_EQ(AvihDword(file, kAvihFlags) & kIsInterleaved, kIsInterleaved);
}

TEST_F(Structure, VideoStandardIndexesLeadToEveryFrameInOrder) {
    for (const char* limit : {"1073741824", "100000"}) {
        RiffFile file(Make(With(kSmallFrames, {"--frames", "40", "--segment-limit", limit})));
        const auto frames = ChunksViaSuperIndex(file, StreamLists(file)[0], "ix00", "00db");
        ASSERT_EQ(frames.size(), 40u) << "limit " << limit;
        for (uint32_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].size, 64u * 48 * 4);
            const std::vector<uint8_t> pixels = file.Read(frames[i].data, 16);
            EXPECT_EQ(avimake::DecodeFrameNumber(pixels.data(), 4), i) << "limit " << limit;
        }
    }
}

TEST_F(Structure, AudioStandardIndexesCoverAllSamplesAndMatchTheHeaders) {
    RiffFile file(
        Make(With(kSmallFrames, {"--frames", "40", "--segment-limit", "100000", "--audio-rate",
                                 "44100", "--frame-duration", "333667"})));
    const Chunk audioStrl = StreamLists(file)[1];
    const auto chunks = ChunksViaSuperIndex(file, audioStrl, "ix01", "01wb");
    uint64_t bytes = 0;
    for (const IndexedChunk& c : chunks) bytes += c.size;
    const Chunk strh = ChildOf(file, audioStrl, "strh");
    const uint32_t length = file.U32(strh.data() + 32);
    // 40 frames of 1/29.97 s at 44100 Hz, stereo 16-bit.
    EXPECT_EQ(length, 40ull * 333667 * 44100 / 10000000);
    EXPECT_EQ(bytes, uint64_t{length} * 4);

    uint64_t durations = 0;
    for (const auto& e : ReadSuperIndex(file, ChildOf(file, audioStrl, "indx")).entries) {
        durations += e.duration;
    }
    EXPECT_EQ(durations, length);
}

TEST_F(Structure, FurtherSegmentsAreAvixRiffsWithinTheLimit) {
    const uint64_t limit = 100000;
    RiffFile file(
        Make(With(kSmallFrames, {"--frames", "40", "--segment-limit", std::to_string(limit)})));
    const std::vector<Chunk> top = file.TopLevel();
    ASSERT_GT(top.size(), 2u);
    uint64_t end = 0;
    for (size_t i = 0; i < top.size(); ++i) {
        EXPECT_EQ(top[i].code, "RIFF");
        EXPECT_EQ(top[i].listType, i == 0 ? "AVI " : "AVIX");
        EXPECT_LE(top[i].size + 8ull, limit);
        end = top[i].data() + top[i].size;
    }
    EXPECT_EQ(end, file.size());
    // Every segment's 'movi' closes with the video and audio standard indexes.
    for (const Chunk& riff : top) {
        const std::vector<Chunk> movi = file.Children(ChildOf(file, riff, "LIST", "movi"));
        ASSERT_GE(movi.size(), 4u);
        EXPECT_EQ(movi[movi.size() - 2].code, "ix00");
        EXPECT_EQ(movi.back().code, "ix01");
    }
}

TEST_F(Structure, SuperIndexHasOneEntryPerSegmentEvenForManySegments) {
    // Each 12288-byte frame fills a 4096-byte limit on its own: one frame per segment.
    RiffFile file(
        Make(With(kSmallFrames, {"--frames", "300", "--segment-limit", "4096", "--no-audio"})));
    EXPECT_EQ(file.TopLevel().size(), 300u);
    const auto super = ReadSuperIndex(file, ChildOf(file, StreamLists(file)[0], "indx"));
    ASSERT_EQ(super.entries.size(), 300u);
    for (const auto& e : super.entries) EXPECT_EQ(e.duration, 1u);
}

TEST_F(Structure, LegacyIndexListsFirstSegmentChunksFromTheMoviCode) {
    RiffFile file(Make(With(kSmallFrames, {"--frames", "40", "--segment-limit", "100000"})));
    const Chunk riff = file.ChunkAt(0);
    const Chunk movi = ChildOf(file, riff, "LIST", "movi");
    const Chunk idx1 = ChildOf(file, riff, "idx1");
    std::vector<Chunk> dataChunks;
    for (const Chunk& c : file.Children(movi)) {
        if (c.code == "00db" || c.code == "01wb") dataChunks.push_back(c);
    }
    ASSERT_EQ(idx1.size, dataChunks.size() * 16);
    for (size_t i = 0; i < dataChunks.size(); ++i) {
        const uint64_t entry = idx1.data() + 16 * i;
        EXPECT_EQ(file.Code(entry), dataChunks[i].code);
        EXPECT_EQ(file.U32(entry + 4), kHasIndex);  // AVIIF_KEYFRAME has the same value
        EXPECT_EQ(movi.position + 8 + file.U32(entry + 8), dataChunks[i].position);
        EXPECT_EQ(file.U32(entry + 12), dataChunks[i].size);
    }
}

TEST_F(Structure, AvihFrameCountFollowsTheChosenMode) {
    const auto args = With(kSmallFrames, {"--frames", "40", "--segment-limit", "100000"});
    RiffFile first(Make(args));
    const uint64_t firstSegmentFrames =
        ReadStandardIndex(
            first,
            first.ChunkAt(ReadSuperIndex(first, ChildOf(first, StreamLists(first)[0], "indx"))
                              .entries[0]
                              .offset))
            .entries.size();
    ASSERT_LT(firstSegmentFrames, 40u);
    EXPECT_EQ(AvihDword(first, kAvihTotalFrames), firstSegmentFrames);
    // The stream header and 'dmlh' always count every frame.
    EXPECT_EQ(first.U32(ChildOf(first, StreamLists(first)[0], "strh").data() + 32), 40u);
    const Chunk odml =
        ChildOf(first, ChildOf(first, first.ChunkAt(0), "LIST", "hdrl"), "LIST", "odml");
    const Chunk dmlh = ChildOf(first, odml, "dmlh");
    EXPECT_EQ(dmlh.size, 248u);
    EXPECT_EQ(first.U32(dmlh.data()), 40u);

    RiffFile all(Make(With(args, {"--avih-frames", "all"})));
    EXPECT_EQ(AvihDword(all, kAvihTotalFrames), 40u);
    RiffFile fixed(Make(With(args, {"--avih-frames", "7"})));
    EXPECT_EQ(AvihDword(fixed, kAvihTotalFrames), 7u);
}

TEST_F(Structure, TruncateCutsTheFileToTheRequestedSize) {
    const std::string path = Make(With(kSmallFrames, {"--frames", "10", "--truncate", "50001"}));
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 50001);
}

TEST_F(Structure, Bpp24WritesThreeBytePixels) {
    RiffFile file(Make(With(kSmallFrames, {"--frames", "3", "--bpp", "24"})));
    const Chunk strf = ChildOf(file, StreamLists(file)[0], "strf");
    EXPECT_EQ(file.U16(strf.data() + 14), 24);
    EXPECT_EQ(file.U32(strf.data() + 20), 64u * 48 * 3);
    const auto frames = ChunksViaSuperIndex(file, StreamLists(file)[0], "ix00", "00db");
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[2].size, 64u * 48 * 3);
    EXPECT_EQ(avimake::DecodeFrameNumber(file.Read(frames[2].data, 12).data(), 3), 2u);
}

TEST_F(Structure, VideoHeadersDescribeBottomUpBgra) {
    RiffFile file(Make(With(kSmallFrames, {"--frames", "3", "--frame-duration", "333667"})));
    const Chunk strl = StreamLists(file)[0];
    const Chunk strh = ChildOf(file, strl, "strh");
    EXPECT_EQ(file.Code(strh.data()), "vids");
    EXPECT_EQ(file.U32(strh.data() + 4), 0u);  // no handler
    EXPECT_EQ(file.U32(strh.data() + 20), 333667u);
    EXPECT_EQ(file.U32(strh.data() + 24), 10000000u);
    EXPECT_EQ(AvihDword(file, 0), 33366u);
    const Chunk strf = ChildOf(file, strl, "strf");
    ASSERT_EQ(strf.size, 40u);
    EXPECT_EQ(file.U32(strf.data()), 40u);
    EXPECT_EQ(file.U32(strf.data() + 4), 64u);
    EXPECT_EQ(file.U32(strf.data() + 8), 48u);  // positive height: bottom-up
    EXPECT_EQ(file.U16(strf.data() + 14), 32);
    EXPECT_EQ(file.U32(strf.data() + 16), 0u);  // BI_RGB
}

TEST_F(Structure, HandlerOptionSetsTheVideoHandlerCode) {
    RiffFile file(Make(With(kSmallFrames, {"--frames", "2", "--handler", "DIB"})));
    EXPECT_EQ(file.Code(ChildOf(file, StreamLists(file)[0], "strh").data() + 4), "DIB ");
}

TEST_F(Structure, Idx1OnlyWritesAPlainSingleRiffFile) {
    RiffFile file(
        Make(With(kSmallFrames, {"--frames", "20", "--segment-limit", "100000", "--idx1-only"})));
    const std::vector<Chunk> top = file.TopLevel();
    ASSERT_EQ(top.size(), 1u);
    for (const Chunk& strl : StreamLists(file)) EXPECT_FALSE(Has(file.Children(strl), "indx"));
    EXPECT_FALSE(Has(file.Children(ChildOf(file, top[0], "LIST", "hdrl")), "LIST", "odml"));
    for (const Chunk& c : file.Children(ChildOf(file, top[0], "LIST", "movi"))) {
        EXPECT_NE(c.code.substr(0, 2), "ix");
    }
    EXPECT_EQ(ChildOf(file, top[0], "idx1").size, 40u * 16);
}

TEST_F(Structure, OddJunkLeavesMoviRightAfterAnUnpaddedOddChunk) {
    RiffFile file(Make(With(kSmallFrames, {"--frames", "2", "--odd-junk"})));
    const Chunk hdrl = file.ChunkAt(12);
    ASSERT_EQ(hdrl.listType, "hdrl");
    const Chunk junk = file.ChunkAt(hdrl.data() + hdrl.size);
    ASSERT_EQ(junk.code, "JUNK");
    EXPECT_EQ(junk.size % 2, 1u);
    const Chunk movi = file.ChunkAt(junk.data() + junk.size);  // no pad byte
    EXPECT_EQ(movi.listType, "movi");
    // The index still points at the frames, now at odd positions.
    const auto frames = ChunksViaSuperIndex(file, StreamLists(file)[0], "ix00", "00db");
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].data % 2, 1u);
}

TEST_F(Structure, AudioFormatIsPcmWithOrWithoutCbSize) {
    RiffFile full(Make(With(kSmallFrames, {"--frames", "2", "--bits", "8", "--channels", "1"})));
    const Chunk strf = ChildOf(full, StreamLists(full)[1], "strf");
    ASSERT_EQ(strf.size, 18u);
    EXPECT_EQ(full.U16(strf.data()), 1);      // PCM
    EXPECT_EQ(full.U16(strf.data() + 2), 1);  // channels
    EXPECT_EQ(full.U32(strf.data() + 4), 48000u);
    EXPECT_EQ(full.U32(strf.data() + 8), 48000u);  // bytes per second
    EXPECT_EQ(full.U16(strf.data() + 12), 1);      // block align
    EXPECT_EQ(full.U16(strf.data() + 14), 8);
    const Chunk strh = ChildOf(full, StreamLists(full)[1], "strh");
    EXPECT_EQ(full.Code(strh.data()), "auds");
    EXPECT_EQ(full.U32(strh.data() + 20), 1u);      // scale = block align
    EXPECT_EQ(full.U32(strh.data() + 24), 48000u);  // rate = sample rate * block align
    EXPECT_EQ(full.U32(strh.data() + 44), 1u);      // sample size

    RiffFile shortFormat(Make(With(kSmallFrames, {"--frames", "2", "--audio-strf16"})));
    EXPECT_EQ(ChildOf(shortFormat, StreamLists(shortFormat)[1], "strf").size, 16u);
}

TEST_F(Structure, AudioOnlyFileUsesStreamZeroCodes) {
    RiffFile file(Make({"--no-video", "--frames", "10"}));
    const auto lists = StreamLists(file);
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(AvihDword(file, 6), 1u);  // dwStreams
    const auto chunks = ChunksViaSuperIndex(file, lists[0], "ix00", "00wb");
    uint64_t bytes = 0;
    for (const auto& c : chunks) bytes += c.size;
    EXPECT_EQ(bytes, 10u * 1920 * 4);
}

TEST_F(Structure, RawVideoFromStdinIsStoredBottomUp) {
    const uint32_t w = 8, h = 6, frames = 5;
    std::vector<uint8_t> input;
    for (uint32_t f = 0; f < frames; ++f) {
        for (uint32_t y = 0; y < h; ++y)
            input.insert(input.end(), w * 4, static_cast<uint8_t>(f * 16 + y));
    }
    const std::string raw = dir_.File("in.raw");
    testsupport::WriteFile(raw, input);
    const std::string path = dir_.File("raw.avi");
    int status = 0;
    Capture("cat " + ShellQuote(raw) + " | " + ShellQuote(AVIMAKE_PATH) + " " + ShellQuote(path) +
                " --width 8 --height 6 --no-audio --video-raw - 2>&1",
            &status);
    ASSERT_EQ(status, 0);
    RiffFile file(path);
    const auto chunks = ChunksViaSuperIndex(file, StreamLists(file)[0], "ix00", "00db");
    ASSERT_EQ(chunks.size(), frames);
    for (uint32_t f = 0; f < frames; ++f) {
        const std::vector<uint8_t> stored = file.Read(chunks[f].data, chunks[f].size);
        for (uint32_t row = 0; row < h; ++row) {
            EXPECT_EQ(stored[row * w * 4], f * 16 + (h - 1 - row))
                << "frame " << f << " row " << row;
        }
    }
}

TEST_F(Structure, RawAudioIsCopiedVerbatimAndStopsAtItsEnd) {
    std::vector<uint8_t> pcm(1920 * 4 * 2 + 100 * 4);  // 2 frames and 100 samples at 25 fps
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<uint8_t>(i * 31 + i / 256);
    const std::string raw = dir_.File("in.pcm");
    testsupport::WriteFile(raw, pcm);
    RiffFile file(Make(With(kSmallFrames, {"--frames", "5", "--audio-raw", raw})));
    std::vector<uint8_t> stored;
    for (const auto& c : ChunksViaSuperIndex(file, StreamLists(file)[1], "ix01", "01wb")) {
        const std::vector<uint8_t> bytes = file.Read(c.data, c.size);
        stored.insert(stored.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(stored, pcm);
    EXPECT_EQ(file.U32(ChildOf(file, StreamLists(file)[1], "strh").data() + 32), 1920u * 2 + 100);
    EXPECT_EQ(ChunksViaSuperIndex(file, StreamLists(file)[0], "ix00", "00db").size(), 5u);
}

TEST_F(Structure, RecordCountsWhatWasWritten) {
    const std::string record = dir_.File("out.rec");
    Make(With(kSmallFrames, {"--frames", "12", "--record", record, "--audio-rate", "44100"}));
    const Record r = ReadRecord(record);
    ASSERT_EQ(r.frameLines.size(), 12u);
    EXPECT_EQ(r.frameLines[11].substr(0, 47), "0,         11,         11,        1,    12288, ");
    EXPECT_EQ(r.values.at("frames"), "12");
    EXPECT_EQ(r.values.at("audio_samples"), "21168");  // 12 frames * 1764
    EXPECT_EQ(r.values.at("audio_bytes"), "84672");
}

TEST_F(Structure, GapPutsFramesAbove4GiBInASparseFile) {
    const uint64_t gap = 4500ull << 20;  // 4.4 GiB
    const std::string path = Make({"--width", "32", "--height", "16", "--frames", "6", "--gap",
                                   std::to_string(gap), "--segment-limit", "20000"});
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_GT(static_cast<uint64_t>(st.st_size), gap);
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, uint64_t{64} << 20) << "not sparse";
    RiffFile file(path);
    const auto frames = ChunksViaSuperIndex(file, StreamLists(file)[0], "ix00", "00db");
    ASSERT_EQ(frames.size(), 6u);
    for (uint32_t i = 0; i < frames.size(); ++i) {
        EXPECT_GT(frames[i].data, uint64_t{1} << 32);
        EXPECT_EQ(avimake::DecodeFrameNumber(file.Read(frames[i].data, 16).data(), 4), i);
    }
    EXPECT_EQ(ChunksViaSuperIndex(file, StreamLists(file)[1], "ix01", "01wb").size(), 6u);
}

}  // namespace
}  // namespace avimaketest
