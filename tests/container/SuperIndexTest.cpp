#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "AviFixture.h"
#include "platform/TestHooks.h"
#include "support/AllocationCounter.h"
#include "support/DebugFolder.h"
#include "support/Files.h"

namespace {

using fixture::MappedReader;
using testsupport::AviBuilder;
using testsupport::TempDir;

// A two-segment OpenDML file as real writers lay it out: 'indx' super
// indexes in the headers, each segment's 'movi' list with interleaved frames
// and audio chunks and the segment's 'ix00' and 'ix01' at its end, 'idx1'
// after the first list. Every field a reader may check is filled.
struct TwoSegmentFile {
    AviBuilder avi;
    std::vector<int64_t> frames;
    std::vector<std::pair<int64_t, uint32_t>> audio;  // data offset, size
    size_t videoSuper = 0;                            // offset of the video 'indx' chunk
    size_t audioSuper = 0;
    std::vector<size_t> videoIndexes, audioIndexes;  // offsets of the 'ix' chunks
    uint64_t indexBytes = 0;                         // bytes of every index chunk
};

constexpr uint32_t kFrameSize = 4 * 2 * 4;  // 4x2 pixels of 32 bits
constexpr uint32_t kAudioSize = 40;         // 10 sample frames of 16-bit stereo

size_t SuperIndex(AviBuilder& avi, const char (&chunkId)[5], uint32_t slots) {
    const size_t start = avi.bytes.size();
    avi.bytes.Code("indx").U32(24 + 16 * slots);
    avi.bytes.U16(4).U8(0).U8(0).U32(0).Code(chunkId).U32(0).U32(0).U32(0);
    for (uint32_t i = 0; i < slots; ++i) avi.bytes.U64(0).U32(0).U32(0);
    return start;
}

void ListIndex(AviBuilder& avi, size_t super, uint32_t slot, size_t ix, uint32_t entries) {
    avi.bytes.PatchU32(super + 12, slot + 1);  // entries in use
    const size_t entry = super + 32 + 16 * slot;
    avi.bytes.PatchU32(entry, static_cast<uint32_t>(ix));
    avi.bytes.PatchU32(entry + 4, static_cast<uint32_t>(static_cast<uint64_t>(ix) >> 32));
    avi.bytes.PatchU32(entry + 8, 32 + 8 * entries);
    avi.bytes.PatchU32(entry + 12, entries);
}

size_t StandardIndex(TwoSegmentFile& file, const char (&code)[5], const char (&chunkId)[5],
                     uint64_t base, const std::vector<std::pair<int64_t, uint32_t>>& chunks) {
    AviBuilder& avi = file.avi;
    // The file is built in memory, so its offsets fit size_t.
    const auto ix = static_cast<size_t>(avi.OpenIndex(code, chunkId, base));
    avi.bytes.PatchU32(ix + 12, static_cast<uint32_t>(chunks.size()));
    for (const auto& [offset, size] : chunks) {
        avi.IndexEntry(static_cast<uint32_t>(static_cast<uint64_t>(offset) - base), size);
    }
    avi.Close(ix);
    file.indexBytes += avi.bytes.size() - ix;
    return ix;
}

// The video format: 32-bit RGB of frameSize / 8 x 2 pixels unless given;
// and a palette change ('00pc', listed by no index) after the first frame.
struct Picture {
    int32_t width = 0, height = 2;
    uint16_t bitCount = 32;
    uint32_t compression = 0;
    uint32_t formatSize = 40;  // 40 + 4 x 256 with a palette
    bool paletteChange = false;
};

TwoSegmentFile BuildTwoSegments(uint32_t framesPerSegment, uint32_t frameSize = kFrameSize,
                                Picture picture = {}) {
    TwoSegmentFile file;
    AviBuilder& avi = file.avi;
    const uint64_t riff = avi.OpenList("RIFF", "AVI ");
    const uint64_t hdrl = avi.OpenList("LIST", "hdrl");
    avi.MainHeader(0x10, framesPerSegment);
    const uint64_t videoStrl = avi.OpenList("LIST", "strl");
    avi.StreamHeader("vids");
    avi.Bitmap(picture.width != 0 ? picture.width : static_cast<int32_t>(frameSize / 8),
               picture.height, picture.bitCount, picture.compression, frameSize,
               picture.formatSize);
    file.videoSuper = SuperIndex(avi, "00db", 4);
    avi.Close(videoStrl);
    const uint64_t audioStrl = avi.OpenList("LIST", "strl");
    avi.StreamHeader("auds");
    avi.WaveFormat(2, 16);
    file.audioSuper = SuperIndex(avi, "01wb", 4);
    avi.Close(audioStrl);
    avi.Close(hdrl);
    for (int segment = 0; segment < 2; ++segment) {
        uint64_t form = riff;
        if (segment == 1) form = avi.OpenList("RIFF", "AVIX");
        const uint64_t movi = avi.OpenList("LIST", "movi");
        std::vector<std::pair<int64_t, uint32_t>> frames, audio;
        for (uint32_t i = 0; i < framesPerSegment; ++i) {
            const uint64_t frame =
                avi.Chunk("00db", frameSize, static_cast<uint8_t>(file.frames.size() + 1));
            frames.emplace_back(static_cast<int64_t>(frame), frameSize);
            file.frames.push_back(static_cast<int64_t>(frame));
            if (picture.paletteChange && file.frames.size() == 1) avi.Chunk("00pc", 4 + 4 * 2);
            const uint64_t chunk = avi.Chunk("01wb", kAudioSize);
            audio.emplace_back(static_cast<int64_t>(chunk), kAudioSize);
            file.audio.emplace_back(static_cast<int64_t>(chunk), kAudioSize);
        }
        const size_t ix00 = StandardIndex(file, "ix00", "00db", movi, frames);
        const size_t ix01 = StandardIndex(file, "ix01", "01wb", movi, audio);
        ListIndex(avi, file.videoSuper, static_cast<uint32_t>(segment), ix00, framesPerSegment);
        ListIndex(avi, file.audioSuper, static_cast<uint32_t>(segment), ix01, framesPerSegment);
        file.videoIndexes.push_back(ix00);
        file.audioIndexes.push_back(ix01);
        avi.Close(movi);
        if (segment == 0) {
            const size_t idx1 = avi.bytes.size();
            avi.ChunkHeader("idx1", 32 * framesPerSegment);
            for (uint32_t i = 0; i < framesPerSegment; ++i) {
                avi.Idx1Entry("00db", static_cast<uint32_t>(frames[i].first - 8 - movi), frameSize);
                avi.Idx1Entry("01wb", static_cast<uint32_t>(audio[i].first - 8 - movi), kAudioSize);
            }
            file.indexBytes += avi.bytes.size() - idx1;
        }
        avi.Close(form);
    }
    return file;
}

std::vector<std::pair<int64_t, uint32_t>> Chunks(const avi::StreamTables& reader) {
    std::vector<std::pair<int64_t, uint32_t>> chunks;
    for (const AudioChunk& chunk : reader.audioChunks)
        chunks.emplace_back(chunk.offset, chunk.size);
    return chunks;
}

TEST(SuperIndex, TwoSegmentFileIsReadFromItsIndexesAlone) {
    TempDir dir;
    const TwoSegmentFile file = BuildTwoSegments(5);
    auto video = fixture::Open(dir, "two.avi", file.avi.bytes.data(), MappedReader::kVideo);
    ASSERT_TRUE((*video)->ReadContainer());
    EXPECT_EQ((*video)->indexSource, avi::IndexSource::SuperIndex);
    EXPECT_EQ((*video)->frameTable, file.frames);
    EXPECT_EQ((*video)->avih.dwTotalFrames, 10u);

    auto audio = fixture::Open(dir, "two-audio.avi", file.avi.bytes.data(), MappedReader::kAudio);
    ASSERT_TRUE((*audio)->ReadContainer());
    EXPECT_EQ((*audio)->indexSource, avi::IndexSource::SuperIndex);
    EXPECT_EQ(Chunks(**audio), file.audio);
    EXPECT_EQ((*audio)->audioChunks.back().endSample, 100);
}

// Frames whose rows the writer padded (GStreamer's grey and I420 at widths
// not a multiple of 4, I420 of an odd height) are frames of every index: the
// super index, the walk's standard index (the super index names another
// stream) and the scan of the next segment after it, which steps each
// padded chunk whole. The stream is read with the padded geometry.
TEST(SuperIndex, FramesOfPaddedRowsAreTakenFromEveryIndex) {
    const struct {
        const char* name;
        Picture picture;
        uint32_t padded;
    } rows[] = {
        {"grey 6x2", {6, 2, 8, avi::MakeFourCC('0', '0', '8', 'Y')}, 8 * 2},
        {"I420 6x3", {6, 3, 12, avi::MakeFourCC('0', '2', '4', 'I')}, 8 * 4 + 2 * 4 * 2},
    };
    TempDir dir;
    for (const auto& row : rows) {
        for (const bool walked : {false, true}) {
            SCOPED_TRACE(testing::Message() << row.name << (walked ? ", walked" : ""));
            TwoSegmentFile file = BuildTwoSegments(5, row.padded, row.picture);
            if (walked) file.avi.bytes.PatchU32(file.videoSuper + 16, 0x62773130u);  // '01wb'
            auto video =
                fixture::Open(dir, "padded.avi", file.avi.bytes.data(), MappedReader::kVideo);
            ASSERT_TRUE((*video)->ReadContainer());
            EXPECT_EQ((*video)->indexSource,
                      walked ? avi::IndexSource::StandardIndex : avi::IndexSource::SuperIndex);
            EXPECT_EQ((*video)->frameTable, file.frames);
            EXPECT_EQ((*video)->picture.frameSize, row.padded);
            EXPECT_EQ((*video)->bih.biSizeImage, row.padded);
            EXPECT_EQ((*video)->picture.storedStride, 8u);
            EXPECT_TRUE((*video)->shortFrames.empty());
        }
    }
}

// A palette stream whose palette changes among the chunks an OpenDML index
// lists (which no standard index names) is refused, named, whether the super
// index or the walk's standard index is read; without a change, and for a
// layout without a palette, it is served from the super index.
TEST(SuperIndex, PaletteChangesAmongIndexedChunksRefuseAPaletteStream) {
    const struct {
        const char* name;
        Picture picture;
        bool served;
    } rows[] = {
        {"palette, no change", {4, 2, 8, 0, 40 + 4 * 256, false}, true},
        {"palette, a change", {4, 2, 8, 0, 40 + 4 * 256, true}, false},
        {"RGB, a stray change", {1, 2, 32, 0, 40, true}, true},
    };
    TempDir dir;
    for (const auto& row : rows) {
        for (const bool walked : {false, true}) {
            SCOPED_TRACE(testing::Message() << row.name << (walked ? ", walked" : ""));
            TwoSegmentFile file = BuildTwoSegments(5, 8, row.picture);
            if (walked) file.avi.bytes.PatchU32(file.videoSuper + 16, 0x62773130u);  // '01wb'
            auto video =
                fixture::Open(dir, "palette.avi", file.avi.bytes.data(), MappedReader::kVideo);
            ASSERT_EQ((*video)->ReadContainer(), row.served) << (*video)->refusal.text;
            if (row.served) {
                EXPECT_EQ((*video)->indexSource,
                          walked ? avi::IndexSource::StandardIndex : avi::IndexSource::SuperIndex);
                EXPECT_EQ((*video)->frameTable, file.frames);
                continue;
            }
            EXPECT_EQ((*video)->refusal.kind, avi::RefusalKind::VideoBitDepth);
            EXPECT_STREQ((*video)->refusal.text,
                         "video is 8-bit palette that changes during the stream (1 '##pc' "
                         "chunks), not read yet");
        }
    }
}

// Super indexes that point at the wrong place, or list what their chunks do
// not hold: the open declines them and walks the file, and serves every
// frame and audio chunk from where they are.
TEST(SuperIndex, DamagedSuperIndexFallsBackToTheWalkAndServesEveryChunk) {
    struct Damage {
        const char* what;
        std::function<void(TwoSegmentFile&)> apply;
    };
    auto pointSecondAt = [](uint64_t target) {
        return [target](TwoSegmentFile& f) {
            for (size_t super : {f.videoSuper, f.audioSuper}) {
                f.avi.bytes.PatchU32(super + 32 + 16, static_cast<uint32_t>(target));
            }
        };
    };
    const Damage damages[] = {
        {"second index listed at a frame", pointSecondAt(8 + 5 * (8 + kFrameSize))},
        {"second index listed past the end", pointSecondAt(1u << 30)},
        {"second index listed at the first",
         [](TwoSegmentFile& f) {
             f.avi.bytes.PatchU32(f.videoSuper + 32 + 16, static_cast<uint32_t>(f.videoIndexes[0]));
             f.avi.bytes.PatchU32(f.audioSuper + 32 + 16, static_cast<uint32_t>(f.audioIndexes[0]));
         }},
        {"indexes listed swapped with the other stream's",
         [](TwoSegmentFile& f) {
             f.avi.bytes.PatchU32(f.videoSuper + 32 + 16, static_cast<uint32_t>(f.audioIndexes[1]));
             f.avi.bytes.PatchU32(f.audioSuper + 32 + 16, static_cast<uint32_t>(f.videoIndexes[1]));
         }},
        {"second indexes count more entries than they hold",
         [](TwoSegmentFile& f) {
             f.avi.bytes.PatchU32(f.videoIndexes[1] + 12, 6);
             f.avi.bytes.PatchU32(f.audioIndexes[1] + 12, 6);
         }},
        {"first indexes count fewer entries than they list",
         [](TwoSegmentFile& f) {
             f.avi.bytes.PatchU32(f.videoIndexes[0] + 12, 4);
             f.avi.bytes.PatchU32(f.audioIndexes[0] + 12, 4);
         }},
        {"second indexes' entries moved by a chunk",
         [](TwoSegmentFile& f) {
             for (size_t ix : {f.videoIndexes[1], f.audioIndexes[1]}) {
                 for (uint32_t i = 0; i < 5; ++i) {
                     const auto& bytes = f.avi.bytes.data();
                     const size_t at = ix + 32 + 8 * i;
                     const uint32_t offset = static_cast<uint32_t>(bytes[at]) |
                                             (static_cast<uint32_t>(bytes[at + 1]) << 8) |
                                             (static_cast<uint32_t>(bytes[at + 2]) << 16) |
                                             (static_cast<uint32_t>(bytes[at + 3]) << 24);
                     f.avi.bytes.PatchU32(at, offset + 8 + kFrameSize);
                 }
             }
         }},
        {"super index lists the segments out of order",
         [](TwoSegmentFile& f) {
             f.avi.bytes.PatchU32(f.videoSuper + 32, static_cast<uint32_t>(f.videoIndexes[1]));
             f.avi.bytes.PatchU32(f.videoSuper + 48, static_cast<uint32_t>(f.videoIndexes[0]));
             f.avi.bytes.PatchU32(f.audioSuper + 32, static_cast<uint32_t>(f.audioIndexes[1]));
             f.avi.bytes.PatchU32(f.audioSuper + 48, static_cast<uint32_t>(f.audioIndexes[0]));
         }},
        {"super index of another stream's chunk id",
         [](TwoSegmentFile& f) {
             f.avi.bytes.PatchU32(f.videoSuper + 16, 0x62773130u);  // '01wb'
             f.avi.bytes.PatchU32(f.audioSuper + 16, 0x62643030u);  // '00db'
         }},
    };
    TempDir dir;
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        TwoSegmentFile file = BuildTwoSegments(5);
        damage.apply(file);
        testsupport::DebugFolder folder;
        folder.CreateLogFile();
        testing::internal::CaptureStdout();
        auto video = fixture::Open(dir, "damaged.avi", file.avi.bytes.data(), MappedReader::kVideo);
        const bool videoRead = (*video)->ReadContainer();
        auto audio =
            fixture::Open(dir, "damaged-audio.avi", file.avi.bytes.data(), MappedReader::kAudio);
        const bool audioRead = (*audio)->ReadContainer();
        testing::internal::GetCapturedStdout();
        ASSERT_TRUE(videoRead);
        EXPECT_NE((*video)->indexSource, avi::IndexSource::SuperIndex);
        EXPECT_EQ((*video)->frameTable, file.frames);
        ASSERT_TRUE(audioRead);
        EXPECT_NE((*audio)->indexSource, avi::IndexSource::SuperIndex);
        EXPECT_EQ(Chunks(**audio), file.audio);
        // Each declined super index says why, in a line of its own.
        const std::string log = folder.LogText();
        size_t lines = 0;
        for (size_t at = log.find("Mirolan(9101)"); at != std::string::npos;
             at = log.find("Mirolan(9101)", at + 1)) {
            ++lines;
        }
        EXPECT_EQ(lines, 2u) << log;
    }
}

// A super index that lists one large standard index many times over, or
// many that overlap: none is held in memory, and the open (which walks to
// the index instead) allocates no more than the file's size and a little.
TEST(SuperIndex, RepeatedOrOverlappingIndexesAreNeverHeld) {
    constexpr uint32_t kEntries = 2u << 20;  // a 16 MiB index
    constexpr uint32_t kListed = 16;
    TempDir dir;
    for (const bool overlapping : {false, true}) {
        SCOPED_TRACE(overlapping ? "overlapping" : "repeated");
        AviBuilder avi;
        const uint64_t riff = avi.OpenList("RIFF", "AVI ");
        const uint64_t hdrl = avi.OpenList("LIST", "hdrl");
        avi.MainHeader(0x10, 1);
        const uint64_t strl = avi.OpenList("LIST", "strl");
        avi.StreamHeader("vids");
        avi.Bitmap(kFrameSize / 8, 2, 32, 0, kFrameSize);
        const size_t super = SuperIndex(avi, "00db", kListed);
        avi.Close(strl);
        avi.Close(hdrl);
        const uint64_t movi = avi.OpenList("LIST", "movi");
        const auto frame = static_cast<uint32_t>(avi.Chunk("00db", kFrameSize, 1) - movi);
        const auto ix = static_cast<size_t>(avi.OpenIndex("ix00", "00db", movi));
        for (uint32_t i = 0; i < kEntries; ++i) avi.IndexEntry(frame, kFrameSize);
        avi.Close(ix);
        avi.Close(movi);
        avi.Close(riff);
        for (uint32_t k = 0; k < kListed; ++k) {
            size_t at = ix;
            if (overlapping && k > 0) {
                // A copy of the index header 4 KiB further on, counting the
                // entries that are left before the chunk's end.
                at = ix + 4096 * k;
                const std::vector<uint8_t>& bytes = avi.bytes.data();
                for (size_t b = 0; b < 32; b += 4) {
                    avi.bytes.PatchU32(at + b,
                                       static_cast<uint32_t>(bytes[ix + b]) |
                                           (static_cast<uint32_t>(bytes[ix + b + 1]) << 8) |
                                           (static_cast<uint32_t>(bytes[ix + b + 2]) << 16) |
                                           (static_cast<uint32_t>(bytes[ix + b + 3]) << 24));
                }
                avi.bytes.PatchU32(at + 4, 24 + 8 * (kEntries - 512 * k));
                avi.bytes.PatchU32(at + 12, kEntries - 512 * k);
            }
            ListIndex(avi, super, k, at, kEntries);
        }
        auto video = fixture::Open(dir, "listed.avi", avi.bytes.data(), MappedReader::kVideo);
        const size_t before = allocation::Current();
        allocation::ResetPeak();
        ASSERT_TRUE((*video)->ReadContainer());
        const size_t peak = allocation::Peak() - before;
        EXPECT_NE((*video)->indexSource, avi::IndexSource::SuperIndex);
        EXPECT_FALSE((*video)->frameTable.empty());
        EXPECT_LE(peak, avi.size() + (4u << 20)) << "file of " << avi.size() << " bytes";
    }
}

// What an open reads: the headers, the index chunks, a few windows around
// the junctions of the segments and around the entries of each later index
// whose chunks are checked (a header and the headers of the gap after it),
// however large the movie data: at most twice the index and 1 MiB.
TEST(SuperIndex, OpenReadsTheIndexesNotTheMovieData) {
    TempDir dir;
    constexpr uint32_t kLargeFrame = 256 * 1024;
    const TwoSegmentFile file = BuildTwoSegments(40, kLargeFrame);
    const uint64_t budget = 2 * file.indexBytes + (1u << 20);
    for (const auto medium : {MappedReader::kVideo, MappedReader::kAudio}) {
        auto reader = fixture::Open(dir, "large.avi", file.avi.bytes.data(), medium);
        platform::ResetViewReadCountersForTesting();
        ASSERT_TRUE((*reader)->ReadContainer());
        const platform::ViewReadCounters read = platform::ViewReadCountersForTesting();
        EXPECT_EQ((*reader)->indexSource, avi::IndexSource::SuperIndex);
        EXPECT_LE(read.bytes, budget) << "file of " << file.avi.size() << " bytes";
        EXPECT_LT(read.views, 64u + 2 * 16u);
    }
}

// An 'idx1' of more entries than one view holds, read a view at a time in
// both passes: groups of six consecutive chunks (three frames, three audio
// chunks) that it lists, each group followed by an unlisted 'JUNK', so that
// its runs are the groups and one of them straddles the seam of the first
// two views. `hiddenAt`: the entry at which a standard index of the video
// stream lies among the chunks, listed as an audio chunk.
struct LongIdx1File {
    AviBuilder avi;
    std::vector<int64_t> frames;
    std::vector<int64_t> audio;
};
constexpr uint64_t kNoHiddenIndex = ~uint64_t{0};
LongIdx1File BuildLongIdx1File(uint64_t hiddenAt = kNoHiddenIndex) {
    LongIdx1File file;
    AviBuilder& avi = file.avi;
    const uint64_t riff = fixture::Headers(avi);
    const uint64_t movi = avi.OpenList("LIST", "movi");
    struct Listed {
        bool audio;
        uint64_t header;
        uint32_t size;
    };
    std::vector<Listed> listed;
    auto add = [&](bool audio, uint8_t fill) {
        if (listed.size() == hiddenAt) {
            const uint64_t ix = avi.OpenIndex("ix00", "00db", movi);
            for (const int64_t frame : file.frames) {
                avi.IndexEntry(static_cast<uint32_t>(frame - static_cast<int64_t>(movi)), 64);
            }
            avi.Close(ix);
            listed.push_back({true, ix, static_cast<uint32_t>(avi.Position() - ix - 8)});
            file.audio.push_back(static_cast<int64_t>(ix + 8));  // what 'idx1' says it is
        }
        const uint64_t data = avi.Chunk(audio ? "01wb" : "00db", audio ? 40 : 64, fill);
        (audio ? file.audio : file.frames).push_back(static_cast<int64_t>(data));
        listed.push_back({audio, data - 8, audio ? 40u : 64u});
    };
    for (uint64_t group = 0; group < avi::kIdx1EntriesPerView / 6 + 8; ++group) {
        for (int i = 0; i < 3; ++i) {
            add(false, static_cast<uint8_t>(group));
            add(true, static_cast<uint8_t>(i));
        }
        avi.Chunk("JUNK", 4);
    }
    avi.Close(movi);
    avi.ChunkHeader("idx1", static_cast<uint32_t>(16 * listed.size()));
    for (const Listed& e : listed) {
        avi.Idx1Entry(e.audio ? "01wb" : "00db", static_cast<uint32_t>(e.header - (movi + 8)),
                      e.size);
    }
    avi.Close(riff);
    return file;
}

// Every entry of every view is read once, the seam between views neither
// losing nor repeating one: the tables list every chunk. The run that
// straddles the seam is checked with its entries on both sides, so a
// standard index among its chunks (first or last before the seam, first or
// last after) is met by the walk, which takes it, as it would without 'idx1'.
TEST(Idx1Runs, IndexOfSeveralViewsIsReadWholeAndItsRunsCheckedAcrossTheSeams) {
    TempDir dir;
    const uint64_t seam = avi::kIdx1EntriesPerView;
    const uint64_t straddling = seam / 6 * 6;  // the first entry of the run across the seam
    ASSERT_LT(straddling, seam);
    for (const uint64_t hiddenAt : {kNoHiddenIndex, straddling, seam - 1, seam, straddling + 6}) {
        SCOPED_TRACE(hiddenAt);
        const LongIdx1File file = BuildLongIdx1File(hiddenAt);
        for (const bool inMemory : {true, false}) {
            for (const auto medium : {MappedReader::kVideo, MappedReader::kAudio}) {
                auto reader = inMemory
                                  ? fixture::InMemory(file.avi.bytes.data(), medium)
                                  : fixture::Open(dir, "idx1.avi", file.avi.bytes.data(), medium);
                ASSERT_TRUE((*reader)->ReadContainer());
                if (medium == MappedReader::kAudio) {
                    EXPECT_EQ((*reader)->indexSource, avi::IndexSource::Idx1);
                    ASSERT_EQ((*reader)->audioChunks.size(), file.audio.size());
                    for (size_t i = 0; i < file.audio.size(); ++i) {
                        ASSERT_EQ((*reader)->audioChunks[i].offset, file.audio[i]) << i;
                    }
                    continue;
                }
                EXPECT_EQ((*reader)->indexSource, hiddenAt == kNoHiddenIndex
                                                      ? avi::IndexSource::Idx1
                                                      : avi::IndexSource::StandardIndex);
                EXPECT_EQ((*reader)->frameTable, file.frames);
            }
        }
    }
}

// Runs that lie close together are checked through a header view that
// grows as the checks move on: a few large reads, not one per 4 KiB of the
// movie data (each a system call, and under some systems a round trip).
TEST(Idx1Runs, DenseRunsAreCheckedInFewReads) {
    TempDir dir;
    const LongIdx1File file = BuildLongIdx1File();
    auto reader = fixture::Open(dir, "idx1.avi", file.avi.bytes.data(), MappedReader::kVideo);
    platform::ResetViewReadCountersForTesting();
    ASSERT_TRUE((*reader)->ReadContainer());
    const platform::ViewReadCounters read = platform::ViewReadCountersForTesting();
    EXPECT_EQ((*reader)->indexSource, avi::IndexSource::Idx1);
    EXPECT_EQ((*reader)->frameTable, file.frames);
    // About 1 MiB of movie data in 2,700 runs, and two views of the index a
    // pass: 274 views with a fixed 4 KiB header view, 34 as built.
    EXPECT_LT(read.views, 64u);
    EXPECT_LE(read.bytes, 3 * file.avi.size());
}

// A read that fails anywhere in the open, in the middle of the 'idx1' among
// them, is left for the open to report (the mapping keeps it), and the
// tables never hold part of the index: what was read is given up, and the
// movie data's own chunks are found instead.
TEST(Idx1Runs, ReadFailureInTheMiddleOfTheIndexNeverLeavesPartOfIt) {
    TempDir dir;
    const LongIdx1File file = BuildLongIdx1File();
    const std::string path = dir.File("idx1.avi");
    testsupport::WriteFile(path, file.avi.bytes.data());
    for (const auto medium : {MappedReader::kVideo, MappedReader::kAudio}) {
        int failures = 0;
        for (uint64_t failing = 0;; ++failing) {
            SCOPED_TRACE(failing);
            MappedReader reader(path, medium);
            platform::FailReadForTesting(failing);
            const bool served = reader->ReadContainer();
            const bool failed =
                platform::ReadsBeforeFailureForTesting() == platform::kNoReadFailure;
            platform::FailReadForTesting(platform::kNoReadFailure);
            if (!failed) break;  // past the open's last read
            ++failures;
            uint64_t at = 0;
            uint32_t error = 0;
            EXPECT_TRUE(platform::FirstViewFailure(reader.MappedSource().mapping, &at, &error));
            if (!served) continue;
            if (medium == MappedReader::kVideo) {
                EXPECT_EQ(reader->frameTable, file.frames);
            } else {
                ASSERT_EQ(reader->audioChunks.size(), file.audio.size());
                for (size_t i = 0; i < file.audio.size(); ++i) {
                    ASSERT_EQ(reader->audioChunks[i].offset, file.audio[i]) << i;
                }
            }
        }
        // The headers, the 'idx1' in views in each of its two passes, the
        // runs' chunk headers.
        EXPECT_GT(failures, 6);
    }
}

// A first segment of 64-byte frames (closed), then a second segment with
// its 'movi' list open: the start of the files the movie scan is tried on.
struct SecondSegment {
    std::vector<uint64_t> firstFrames;
    uint64_t avix;
    uint64_t movi;
};
SecondSegment OpenSecondSegment(AviBuilder& avi, int firstFrames) {
    fixture::Headers(avi);
    SecondSegment segment;
    segment.firstFrames = fixture::VideoMovie(avi, firstFrames, 64);
    avi.Close(0);
    segment.avix = avi.OpenList("RIFF", "AVIX");
    segment.movi = avi.OpenList("LIST", "movi");
    return segment;
}

// A file whose tail is zeros (preallocated by a capture tool, or left by a
// crash) opens without reading them: past the last segment, zeros end the
// scan, and holes are skipped unread.
TEST(MovieScan, ZeroTailPastTheLastSegmentIsNotRead) {
    TempDir dir;
    AviBuilder avi;
    const SecondSegment second = OpenSecondSegment(avi, 3);
    std::vector<int64_t> frames(second.firstFrames.begin(), second.firstFrames.end());
    for (int i = 0; i < 3; ++i) frames.push_back(static_cast<int64_t>(avi.Chunk("00db", 64)));
    avi.Close(second.movi);
    avi.Close(second.avix);
    const std::string path = dir.File("tail.avi");
    testsupport::WriteFile(path, avi.bytes.data());
    constexpr uint64_t kApparent = uint64_t{8} << 30;  // 8 GiB, nearly all of it a hole
    std::filesystem::resize_file(path, kApparent);
    // Without a standard index of its own the audio stream is walked for,
    // and the walk crosses the zeros: unread only where holes can be found.
#ifdef _WIN32
    const auto media = {MappedReader::kVideo};
#else
    const auto media = {MappedReader::kVideo, MappedReader::kAudio};
#endif
    for (const auto medium : media) {
        MappedReader reader(path, medium);
        platform::ResetViewReadCountersForTesting();
        const bool read = reader->ReadContainer();
        EXPECT_LT(platform::ViewReadCountersForTesting().bytes, 4u << 20);
        if (medium == MappedReader::kVideo) {
            ASSERT_TRUE(read);
            EXPECT_EQ(reader->frameTable, frames);
        }
    }
}

// A stretch of zeros inside a 'movi' list is crossed as a whole, landing
// where stepping over its empty chunk headers one by one would: on the
// 8-byte grid from where the zeros start.
TEST(MovieScan, ZerosInsideTheMovieDataAreCrossedOnTheirChunkGrid) {
    TempDir dir;
    for (const uint32_t zeros : {8u * 40000u, 8u * 40000u + 3u}) {
        SCOPED_TRACE(zeros);
        AviBuilder avi;
        const SecondSegment second = OpenSecondSegment(avi, 2);
        avi.bytes.Zeros(zeros);
        // After 8k + 3 zeros the grid lands 5 bytes into the next header,
        // whose bytes then read as a chunk of its own: what the scan has
        // always found there is kept.
        const uint64_t after = avi.Chunk("00db", 64);
        avi.Chunk("00db", 64);
        avi.Close(second.movi);
        avi.Close(second.avix);
        auto reader = fixture::Open(dir, "zeros.avi", avi.bytes.data(), MappedReader::kVideo);
        ASSERT_TRUE((*reader)->ReadContainer());
        std::vector<int64_t> expected(second.firstFrames.begin(), second.firstFrames.end());
        if (zeros % 8 == 0) {
            expected.push_back(static_cast<int64_t>(after));
            expected.push_back(static_cast<int64_t>(after + 64 + 8));
        }
        EXPECT_EQ((*reader)->frameTable, expected);
    }
}

}  // namespace
