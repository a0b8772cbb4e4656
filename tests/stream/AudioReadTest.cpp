#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "StreamTestSupport.h"
#include "convert/PcmConvert.h"
#include "stream/AudioRead.h"
#include "stream/SampleBlock.h"
#include "support/DebugFolder.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace {

using streamtest::CountOf;

constexpr float kUntouched = -7.0f;  // what the host's buffers hold before a read
constexpr size_t kGuard = 4;         // extra floats after each buffer, never to be written

// The 16-bit word the test files hold at every even offset: varied enough that
// a sample taken from the wrong place shows.
int16_t WordAt(size_t offset) {
    return static_cast<int16_t>(static_cast<uint16_t>((offset / 2) * 40503u + 12345u));
}
uint8_t ByteOfWords(size_t offset) {
    const auto word = static_cast<uint16_t>(WordAt(offset & ~static_cast<size_t>(1)));
    return static_cast<uint8_t>((offset & 1) != 0 ? word >> 8 : word & 0xFF);
}
float Converted16(int x) { return static_cast<float>(static_cast<double>(x) / 32767.0); }
float Converted8(int x) { return static_cast<float>((static_cast<double>(x) - 128) / 127.0); }

// One float buffer per channel, each `samples` long plus a guard.
struct Channels {
    Channels(size_t count, size_t samples)
        : data(count, std::vector<float>(samples + kGuard, kUntouched)) {
        for (auto& channel : data) pointers.push_back(channel.data());
    }
    std::vector<std::vector<float>> data;
    std::vector<float*> pointers;
};

class AudioRead : public ::testing::Test {
protected:
    void Open(const std::vector<uint8_t>& file, uint16_t channels, uint16_t bits,
              const std::vector<AudioChunk>& chunks) {
        testsupport::WriteFile(dir.File("audio.avi"), file);
        reader = std::make_unique<streamtest::ServeInputs>(stream, false, dir.File("audio.avi"));
        reader->wfx.nChannels = channels;
        reader->wfx.wBitsPerSample = bits;
        reader->audioChunks.assign(chunks.begin(), chunks.end());
    }

    // The two-chunk 16-bit stereo file: samples 0..1000 at 5,000 and
    // 1000..2000 at 9,008 (after record 0's data and an 8-byte chunk header).
    void OpenTwoChunkStereo() {
        Open(streamtest::PatternFile(14000, ByteOfWords), 2, 16,
             {{0, 1000, 5000, 4000}, {1000, 2000, 9008, 4000}});
    }

    bool Read(int64_t start, int64_t end, int32_t channels, float** buffers) {
        SampleRequest request = testsupport::MakeRequest(start, end, channels, nullptr, buffers);
        return stream::ReadAudioSamples(reader->Context(), CopyBlock(request));
    }

    // Checks that channel `ch` holds, from index `from` on, the samples that
    // start at file offset `position` (16-bit stereo frames).
    static void ExpectStereoFrom(const Channels& out, size_t from, size_t count, size_t position) {
        for (size_t j = 0; j < count; ++j) {
            const size_t at = position + 4 * j;
            ASSERT_EQ(out.data[0][from + j], Converted16(WordAt(at))) << "left sample " << from + j;
            ASSERT_EQ(out.data[1][from + j], Converted16(WordAt(at + 2)))
                << "right sample " << from + j;
        }
    }
    static void ExpectValue(const Channels& out, size_t from, size_t count, float value) {
        for (const auto& channel : out.data) {
            for (size_t j = from; j < from + count; ++j)
                ASSERT_EQ(channel[j], value) << "sample " << j;
        }
    }

    testsupport::TempDir dir;
    testsupport::FakeStream stream;
    std::unique_ptr<streamtest::ServeInputs> reader;
};

// A span of the two-chunk stereo file and what it must give, piece by piece:
// `count` samples from file offset `position`, or silence where it is 0.
struct StereoPiece {
    size_t count;
    size_t position;
};
struct StereoSpan {
    const char* name;
    int64_t start;
    int64_t end;
    std::vector<StereoPiece> pieces;
};

class AudioReadSpan : public AudioRead, public ::testing::WithParamInterface<StereoSpan> {};

TEST_P(AudioReadSpan, GivesTheSamplesOfItsChunksAndSilencePastTheEnd) {
    const StereoSpan& span = GetParam();
    OpenTwoChunkStereo();
    const auto samples = static_cast<size_t>(span.end - span.start);
    Channels out(2, samples);
    EXPECT_TRUE(Read(span.start, span.end, 2, out.pointers.data()));
    size_t from = 0;
    for (const StereoPiece& piece : span.pieces) {
        if (piece.position == 0) {
            ExpectValue(out, from, piece.count, 0.0f);
        } else {
            ExpectStereoFrom(out, from, piece.count, piece.position);
        }
        from += piece.count;
    }
    ASSERT_EQ(from, samples);
    ExpectValue(out, samples, kGuard, kUntouched);
}

INSTANTIATE_TEST_SUITE_P(
    TwoChunkStereo, AudioReadSpan,
    ::testing::Values(StereoSpan{"InsideOneChunk", 100, 300, {{200, 5400}}},
                      StereoSpan{"EndingExactlyAtAChunkEnd", 800, 1000, {{200, 8200}}},
                      // 1000 is record 0's endSample, so record 1 holds it.
                      StereoSpan{"StartingAtAChunkStart", 1000, 1010, {{10, 9008}}},
                      // The chunk header between the two chunks is skipped.
                      StereoSpan{"AcrossTwoChunks", 900, 1100, {{100, 8600}, {100, 9008}}},
                      // The part of a span that straddles the end is silence, as a span
                      // wholly past the end is: never what the host's buffer held before.
                      StereoSpan{"PastTheLastChunk", 1900, 2100, {{100, 12608}, {100, 0}}}),
    [](const ::testing::TestParamInfo<StereoSpan>& row) { return std::string(row.param.name); });

TEST_F(AudioRead, SpanWithNoChunkConvertsSilenceNotLeftoverBytes) {
    OpenTwoChunkStereo();
    Channels first(2, 200);
    EXPECT_TRUE(
        Read(100, 300, 2, first.pointers.data()));  // leaves file bytes in the staging buffer
    Channels out(2, 100);
    EXPECT_TRUE(Read(2000, 2100, 2, out.pointers.data()));
    ExpectValue(out, 0, 100, 0.0f);
    ExpectValue(out, 100, kGuard, kUntouched);
}

TEST_F(AudioRead, EmptyChunkListGivesSilence) {
    Open(streamtest::PatternFile(64, ByteOfWords), 2, 16, {});
    Channels out(2, 50);
    EXPECT_TRUE(Read(0, 50, 2, out.pointers.data()));
    ExpectValue(out, 0, 50, 0.0f);
}

TEST_F(AudioRead, EightBitSilenceIsTheMiddleByte) {
    Open(streamtest::PatternFile(4000, [](size_t i) { return static_cast<uint8_t>(i * 7); }), 1, 8,
         {{0, 1000, 1000, 1000}});
    Channels out(1, 20);
    EXPECT_TRUE(Read(990, 1010, 1, out.pointers.data()));
    for (size_t j = 0; j < 10; ++j) {
        EXPECT_EQ(out.data[0][j], Converted8(static_cast<uint8_t>((1990 + j) * 7))) << j;
    }
    // Past the last chunk, and a span with no chunk at all: silence.
    ExpectValue(out, 10, 10, 0.0f);
    Channels none(1, 5);
    EXPECT_TRUE(Read(1000, 1005, 1, none.pointers.data()));
    ExpectValue(none, 0, 5, 0.0f);
}

TEST_F(AudioRead, EmptyOrReversedSpanReadsAndWritesNothing) {
    OpenTwoChunkStereo();
    Channels out(2, 4);
    EXPECT_TRUE(Read(300, 300, 2, out.pointers.data()));
    EXPECT_TRUE(Read(300, 100, 2, out.pointers.data()));
    EXPECT_TRUE(Read(INT64_MAX, INT64_MIN, 2, out.pointers.data()));
    ExpectValue(out, 0, 4 + kGuard, kUntouched);
    EXPECT_EQ(reader->staging.Bytes(), nullptr) << "no staging buffer for an empty span";
    EXPECT_EQ(reader->staging.Capacity(), 0u);
}

TEST_F(AudioRead, FailedPositioningInsideOneChunkIsLoggedAndGivesSilence) {
    testsupport::DebugFolder debug;
    Open(streamtest::PatternFile(64, ByteOfWords), 2, 16, {{0, 1000, -4000, 4000}});
    Channels out(2, 200);
    EXPECT_TRUE(Read(100, 300, 2, out.pointers.data()));
    ExpectValue(out, 0, 200, 0.0f);
    const std::string log = streamtest::LogLines(debug);
    EXPECT_NE(log.find("Mirolan(1139)"), std::string::npos) << log;
    EXPECT_NE(log.find("Seeking to wrong Position -3600\n"), std::string::npos) << log;
}

TEST_F(AudioRead, FailedPositioningOfAMiddleChunkKeepsLaterChunksInPlace) {
    testsupport::DebugFolder debug;
    Open(streamtest::PatternFile(14000, ByteOfWords), 2, 16,
         {{0, 100, 1000, 400}, {100, 200, -1, 400}, {200, 300, 3000, 400}});
    // The last chunk's bytes left in the staging buffer where the failed
    // chunk lands next: it must come out as silence, not as those bytes.
    Channels before(2, 100);
    EXPECT_TRUE(Read(200, 300, 2, before.pointers.data()));
    Channels out(2, 300);
    EXPECT_TRUE(Read(50, 300, 2, out.pointers.data()));
    ExpectStereoFrom(out, 0, 50, 1200);
    ExpectValue(out, 50, 100, 0.0f);
    ExpectStereoFrom(out, 150, 100, 3000);
    EXPECT_EQ(CountOf(streamtest::LogLines(debug), "Seeking to wrong Position"), 0)
        << "only a span inside one chunk reports its positioning";
}

TEST_F(AudioRead, ShortReadKeepsWholeFramesAndLaterChunksInPlace) {
    // The middle chunk claims 400 bytes but the file ends 6 bytes into it:
    // one whole frame arrives, the half frame after it must not be used.
    const size_t fileSize = 2006;
    Open(streamtest::PatternFile(fileSize, ByteOfWords), 2, 16,
         {{0, 100, 1000, 400}, {100, 200, 2000, 400}, {200, 300, 1400, 400}});
    Channels out(2, 300);
    EXPECT_TRUE(Read(0, 300, 2, out.pointers.data()));
    ExpectStereoFrom(out, 0, 100, 1000);
    ExpectStereoFrom(out, 100, 1, 2000);
    ExpectValue(out, 101, 99, 0.0f);
    ExpectStereoFrom(out, 200, 100, 1400);
}

TEST_F(AudioRead, ChunkSmallerThanItsSampleCountUsesOnlyWholeFrames) {
    Open(streamtest::PatternFile(14000, ByteOfWords), 2, 16,
         {{0, 1000, 5000, 402}, {1000, 2000, 9008, 4000}});
    // File bytes left in the staging buffer over the gap that follows.
    Channels before(2, 1000);
    EXPECT_TRUE(Read(1000, 2000, 2, before.pointers.data()));
    Channels out(2, 1010);
    EXPECT_TRUE(Read(0, 1010, 2, out.pointers.data()));
    ExpectStereoFrom(out, 0, 100, 5000);
    ExpectValue(out, 100, 900, 0.0f);
    ExpectStereoFrom(out, 1000, 10, 9008);
}

TEST_F(AudioRead, SampleWidthsNoRowServesAreNotConverted) {
    Open(streamtest::PatternFile(14000, ByteOfWords), 2, 20, {{0, 1000, 5000, 6000}});
    Channels out(2, 100);
    EXPECT_TRUE(Read(0, 100, 2, out.pointers.data()));
    ExpectValue(out, 0, 100 + kGuard, kUntouched);
}

// A wider sample is staged by its row's size (3 bytes for 24-bit) and the
// span past the last chunk is the row's silence: 0 for 24-bit PCM, the
// quietest A-law code (+8) for A-law.
TEST_F(AudioRead, WiderAndCompandedSamplesAreStagedByTheirRowsSizeAndSilence) {
    const std::vector<uint8_t> file = streamtest::PatternFile(14000, ByteOfWords);
    Open(file, 2, 24, {{0, 100, 5000, 600}});
    Channels out(2, 120);
    EXPECT_TRUE(Read(10, 130, 2, out.pointers.data()));
    for (size_t j = 0; j < 90; ++j) {
        for (size_t ch = 0; ch < 2; ++ch) {
            const uint8_t* in = file.data() + 5000 + (10 + j) * 6 + ch * 3;
            const int32_t x = static_cast<int32_t>((in[0] << 8) | (in[1] << 16) |
                                                   (static_cast<uint32_t>(in[2]) << 24)) >>
                              8;
            ASSERT_EQ(out.data[ch][j], static_cast<float>(x / 8388607.0)) << ch << " " << j;
        }
    }
    ExpectValue(out, 90, 30, 0.0f);
    EXPECT_EQ(out.data[0][120], kUntouched);

    reader.reset();  // the file is written again (Windows keeps an open file)
    Open(file, 1, 8, {{0, 100, 5000, 100}});
    reader->wfx.wFormatTag = 6;  // A-law
    Channels alaw(1, 20);
    EXPECT_TRUE(Read(90, 110, 1, alaw.pointers.data()));
    EXPECT_EQ(alaw.data[0][0], static_cast<float>(convert::ALawToLinear(file[5090]) / 32767.0));
    ExpectValue(alaw, 10, 10, static_cast<float>(8 / 32767.0));
}

// A host whose channel count differs from the file's gets the file's channels
// 0 .. min - 1 de-interleaved from their own samples, silence in any further
// buffer, and nothing in a buffer it did not name.
TEST_F(AudioRead, FewerRequestChannelsThanTheFileGetTheFirstChannels) {
    OpenTwoChunkStereo();
    Channels out(1, 100);
    EXPECT_TRUE(Read(100, 200, 1, out.pointers.data()));
    for (size_t j = 0; j < 100; ++j) {
        ASSERT_EQ(out.data[0][j], Converted16(WordAt(5000 + 100 * 4 + 4 * j))) << j;
    }
    ExpectValue(out, 100, kGuard, kUntouched);
}

TEST_F(AudioRead, MoreRequestChannelsThanTheFileGetSilenceInTheFurtherBuffers) {
    OpenTwoChunkStereo();
    Channels out(4, 100);
    EXPECT_TRUE(Read(950, 1050, 4, out.pointers.data()));  // across both chunks
    ExpectStereoFrom(out, 0, 50, 5000 + 950 * 4);
    ExpectStereoFrom(out, 50, 50, 9008);
    for (size_t ch = 2; ch < 4; ++ch) {
        for (size_t j = 0; j < 100; ++j) ASSERT_EQ(out.data[ch][j], 0.0f) << ch << " " << j;
    }
    for (size_t ch = 0; ch < 4; ++ch) {
        for (size_t j = 100; j < 100 + kGuard; ++j) ASSERT_EQ(out.data[ch][j], kUntouched) << ch;
    }
}

TEST_F(AudioRead, NoChannelsOrNoBuffersWriteNothing) {
    OpenTwoChunkStereo();
    Channels out(2, 100);
    EXPECT_TRUE(Read(100, 200, 0, out.pointers.data()));
    EXPECT_TRUE(Read(100, 200, -3, out.pointers.data()));
    EXPECT_TRUE(Read(100, 200, INT32_MIN, out.pointers.data()));
    ExpectValue(out, 0, 100 + kGuard, kUntouched);
    EXPECT_TRUE(Read(100, 200, 2, nullptr));
}

// Logged once per stream: a log file written per request would slow the
// time-critical thread on every request after the first.
TEST_F(AudioRead, SpanTooLargeToStageIsLoggedOnceAndConvertsNothing) {
    testsupport::DebugFolder debug;
    OpenTwoChunkStereo();
    Channels out(2, 4);
    // 2^30 stereo 16-bit frames are 4 GiB: one byte more than a 32-bit size holds.
    EXPECT_TRUE(Read(0, int64_t{1} << 30, 2, out.pointers.data()));
    EXPECT_TRUE(Read(INT64_MIN, INT64_MAX, 2, out.pointers.data()));
    ExpectValue(out, 0, 4 + kGuard, kUntouched);
    EXPECT_EQ(reader->staging.Capacity(), 0u);
    const std::string log = streamtest::LogLines(debug);
    EXPECT_NE(log.find("Mirolan(1140)"), std::string::npos) << log;
    EXPECT_NE(log.find("Staging buffer of 4294967296 bytes unavailable"), std::string::npos) << log;
    EXPECT_EQ(log.find("Mirolan(1140)"), log.rfind("Mirolan(1140)")) << "logged once\n" << log;
}

#if UINTPTR_MAX == 0xFFFFFFFFu
// A 32-bit process cannot have 4 GiB less 16 bytes in one piece.
TEST_F(AudioRead, StagingMemoryTheSystemRefusesIsLoggedAndConvertsNothing) {
    testsupport::DebugFolder debug;
    OpenTwoChunkStereo();
    Channels out(2, 4);
    EXPECT_TRUE(Read(0, 0x3FFFFFFC, 2, out.pointers.data()));
    ExpectValue(out, 0, 4 + kGuard, kUntouched);
    EXPECT_NE(streamtest::LogLines(debug).find("Staging buffer of 4294967280 bytes unavailable"),
              std::string::npos);
    // The reader goes on serving spans it can stage.
    Channels small(2, 200);
    EXPECT_TRUE(Read(100, 300, 2, small.pointers.data()));
    ExpectStereoFrom(small, 0, 200, 5400);
}
#endif

TEST_F(AudioRead, ManyChunksMatchTheSamplesTheChunkListNames) {
    // Chunks of 1 to 300 frames, each after an 8-byte header, and random spans
    // over them: every sample must come from its chunk's place in the file.
    std::mt19937 random(12345);
    std::vector<AudioChunk> chunks;
    int64_t sample = 0;
    int64_t offset = 8;
    for (int i = 0; i < 2000; ++i) {
        const int64_t frames = std::uniform_int_distribution<int64_t>(1, 300)(random);
        chunks.push_back({sample, sample + frames, offset, static_cast<uint32_t>(frames * 4)});
        sample += frames;
        offset += frames * 4 + 8;
    }
    const int64_t total = sample;
    Open(streamtest::PatternFile(static_cast<size_t>(offset), ByteOfWords), 2, 16, chunks);

    // Where every sample's left value lies in the file, chunk by chunk.
    std::vector<size_t> positionOf;
    for (const AudioChunk& c : chunks) {
        for (int64_t k = 0; k < c.endSample - c.firstSample; ++k) {
            positionOf.push_back(static_cast<size_t>(c.offset + k * 4));
        }
    }
    auto expected = [&](int64_t s, int ch) {
        return Converted16(
            WordAt(positionOf[static_cast<size_t>(s)] + 2 * static_cast<size_t>(ch)));
    };
    for (int round = 0; round < 300; ++round) {
        const int64_t start = std::uniform_int_distribution<int64_t>(0, total + 50)(random);
        const int64_t length = std::uniform_int_distribution<int64_t>(1, 2000)(random);
        Channels out(2, static_cast<size_t>(length));
        ASSERT_TRUE(Read(start, start + length, 2, out.pointers.data()));
        for (int64_t j = 0; j < length; ++j) {
            const int64_t s = start + j;
            for (int ch = 0; ch < 2; ++ch) {
                const float got = out.data[static_cast<size_t>(ch)][static_cast<size_t>(j)];
                if (start >= total) {
                    ASSERT_EQ(got, 0.0f) << "span " << start << " sample " << s;
                } else if (s >= total) {
                    ASSERT_EQ(got, kUntouched) << "span " << start << " sample " << s;
                } else {
                    ASSERT_EQ(got, expected(s, ch)) << "span " << start << " sample " << s;
                }
            }
        }
    }
}

TEST_F(AudioRead, ChunksOfUnequalLengthAreFoundWhateverTheFirstChunksLength) {
    // The chunk holding `start` is looked for first at start / (the first
    // chunk's length), which is right only when the chunks are of one length.
    // A short first chunk makes that guess land past the right chunk, a long
    // one before it; either way the samples must come from the right place.
    for (const int64_t firstFrames : {int64_t{10}, int64_t{5000}}) {
        reader.reset();  // closes the previous file, so that it can be written again
        std::vector<AudioChunk> chunks;
        int64_t sample = 0;
        int64_t offset = 8;
        for (int i = 0; i < 40; ++i) {
            const int64_t frames = i == 0 ? firstFrames : 100 + 37 * (i % 5);
            chunks.push_back({sample, sample + frames, offset, static_cast<uint32_t>(frames * 4)});
            sample += frames;
            offset += frames * 4 + 8;
        }
        Open(streamtest::PatternFile(static_cast<size_t>(offset), ByteOfWords), 2, 16, chunks);
        for (const AudioChunk& c : chunks) {
            for (const int64_t into : {int64_t{0}, (c.endSample - c.firstSample) / 2}) {
                const int64_t start = c.firstSample + into;
                const int64_t count = std::min<int64_t>(4, c.endSample - start);
                Channels out(2, static_cast<size_t>(count));
                ASSERT_TRUE(Read(start, start + count, 2, out.pointers.data()));
                ExpectStereoFrom(out, 0, static_cast<size_t>(count),
                                 static_cast<size_t>(c.offset + into * 4));
            }
        }
    }
}

}  // namespace
