#include <gtest/gtest.h>

#include "AviFixture.h"
#include "container/FileWindow.h"
#include "platform/platform.h"
#include "qxdriver.h"
#include "support/DebugFolder.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace {

using avi::FileWindow;
using fixture::MappedReader;
using testsupport::DebugFolder;
using testsupport::TempDir;

constexpr uint32_t kGranularity = 65536;

struct PlacementRow {
    uint64_t position;
    uint32_t requested;
    int64_t fileSize;
    uint64_t start;
    uint32_t length;
    uint64_t offsetInView;
};

// Placement needs only the file's size and granularity: no file is opened.
class WindowPlacement : public ::testing::TestWithParam<PlacementRow> {};

TEST_P(WindowPlacement, StartsAtGranularityAndReachesRequestedBytesClippedAtEnd) {
    const PlacementRow& row = GetParam();
    avi::FileSource source;
    source.fileSize = row.fileSize;
    source.granularity = kGranularity;
    const avi::ByteView view = avi::PlaceView(source, row.position, row.requested);
    EXPECT_EQ(view.start, row.start);
    EXPECT_EQ(view.length, row.length);
    EXPECT_EQ(row.position - view.start, row.offsetInView);
    EXPECT_EQ(view.data, nullptr);  // placing maps nothing
}

INSTANTIATE_TEST_SUITE_P(KnownPlacements, WindowPlacement,
                         ::testing::Values(
                             // A file shorter than the view asked for: one view from 0, clipped.
                             PlacementRow{1000, 65536, 30000, 0, 30000, 1000},
                             // A position on a granularity boundary: exactly the requested length.
                             PlacementRow{131072, 65536, 10000000, 131072, 65536, 0},
                             PlacementRow{200000, 65536, 10000000, 196608, 68928, 3392},
                             PlacementRow{9990000, 65536, 10000000, 9961472, 38528, 28528},
                             PlacementRow{9999992, 8, 10000000, 9961472, 38528, 38520},
                             // Above 4 GiB: 64-bit start and offset.
                             PlacementRow{5000000000ull, 65536, 6000000000ll, 4999938048ull, 127488,
                                          61952}));

TEST(WindowPlacementLimits, PositionAtOrPastEndPlacesNoView) {
    avi::FileSource source;
    source.fileSize = 30000;
    source.granularity = kGranularity;
    for (uint64_t position : {uint64_t{30000}, uint64_t{30001}, ~uint64_t{0}}) {
        const avi::ByteView view = avi::PlaceView(source, position, kGranularity);
        EXPECT_EQ(view.length, 0u) << position;
        EXPECT_EQ(view.data, nullptr);
        // Nor is anything mapped there.
        FileWindow window;
        window.position = position;
        EXPECT_FALSE(avi::RefillWindow(source, window, kGranularity));
    }
}

// Mapping and reading through real files.
class WindowMapping : public ::testing::Test {
protected:
    std::vector<uint8_t> Counting(size_t n) {
        std::vector<uint8_t> bytes(n);
        for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
        return bytes;
    }
    DebugFolder debug_;
    TempDir dir_;
};

TEST_F(WindowMapping, ShortFileIsOneViewFromZeroHoldingTheBytesAtPosition) {
    const std::vector<uint8_t> bytes = Counting(30000);
    auto file = fixture::Open(dir_, "short.avi", bytes, MappedReader::kVideo);
    const avi::FileSource source = (*file)->MappedSource();
    FileWindow window;
    window.position = 1000;
    ASSERT_TRUE(avi::RefillWindow(source, window, kGranularity));
    ASSERT_NE(window.view, nullptr);
    EXPECT_EQ(window.length, 30000u);
    EXPECT_EQ(window.offsetInView, 1000u);
    EXPECT_EQ(window.Cursor()[0], bytes[1000]);
    EXPECT_EQ(window.view[29999], bytes[29999]);
}

TEST_F(WindowMapping, ViewAfterFirstGranuleHoldsTheFileBytes) {
    const std::vector<uint8_t> bytes = Counting(200000);
    auto file = fixture::Open(dir_, "long.avi", bytes, MappedReader::kVideo);
    const avi::FileSource source = (*file)->MappedSource();
    FileWindow window;
    window.position = 150000;
    ASSERT_TRUE(avi::RefillWindow(source, window, 8));
    EXPECT_EQ(window.offsetInView, 150000u - 131072u);
    EXPECT_EQ(window.length, 150000u - 131072u + 8u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(window.Cursor()[i], bytes[150000 + i]);
}

TEST_F(WindowMapping, PositionAtFileSizeReleasesViewAndLogsNothing) {
    auto file = fixture::Open(dir_, "end.avi", Counting(5000), MappedReader::kVideo);
    const avi::FileSource source = (*file)->MappedSource();
    FileWindow window;
    ASSERT_TRUE(avi::RefillWindow(source, window, kGranularity));
    window.position = 5000;
    EXPECT_FALSE(avi::RefillWindow(source, window, kGranularity));
    EXPECT_EQ(window.view, nullptr);
    EXPECT_FALSE(testsupport::FileExists(debug_.FallbackFile()));
}

TEST_F(WindowMapping, RefusedMappingAbove4GiBLogsLowPartThenHighPartThenLength) {
    // The reader claims a larger file than the mapping holds, so the platform
    // refuses the view at 4,999,938,048.
    auto file = fixture::Open(dir_, "small.avi", Counting(5000), MappedReader::kVideo);
    (*file)->fileSize = 6000000000ll;
    const avi::FileSource source = (*file)->MappedSource();
    FileWindow window;
    window.position = 5000000000ull;
    EXPECT_FALSE(avi::RefillWindow(source, window, kGranularity));
    EXPECT_EQ(window.view, nullptr);
    const std::string log = debug_.FallbackText();
    EXPECT_NE(log.find("Mirolan(936)"), std::string::npos) << log;
    EXPECT_NE(log.find("Unable to map the File View offsetLow[704970752] offsetHigh[1] "
                       "mapSize[127488]"),
              std::string::npos)
        << log;
}

TEST_F(WindowMapping, ReadableKeepsTheViewWhileTheBytesLieInIt) {
    auto file = fixture::Open(dir_, "keep.avi", Counting(200000), MappedReader::kVideo);
    const avi::FileSource source = (*file)->MappedSource();
    FileWindow window;
    ASSERT_TRUE(avi::RefillWindow(source, window, kGranularity));
    const uint8_t* first = window.view;
    ASSERT_TRUE(avi::StepWindow(source, window, kGranularity - 8));
    EXPECT_TRUE(avi::EnsureReadable(source, window, 8, kGranularity));
    EXPECT_EQ(window.view, first);
    EXPECT_EQ(window.offsetInView, kGranularity - 8u);
}

TEST_F(WindowMapping, ReadableRemapsAtThePositionWhenTheBytesRunPastTheView) {
    const std::vector<uint8_t> bytes = Counting(200000);
    auto file = fixture::Open(dir_, "move.avi", bytes, MappedReader::kVideo);
    const avi::FileSource source = (*file)->MappedSource();
    FileWindow window;
    ASSERT_TRUE(avi::RefillWindow(source, window, kGranularity));
    ASSERT_TRUE(avi::StepWindow(source, window, kGranularity - 4));
    EXPECT_TRUE(avi::EnsureReadable(source, window, 8, kGranularity));
    // Remapped at the same granule, now reaching a full granularity further.
    EXPECT_EQ(window.offsetInView, kGranularity - 4u);
    EXPECT_EQ(window.length, 2 * kGranularity - 4u);
    EXPECT_EQ(window.Cursor()[7], bytes[kGranularity + 3]);
}

TEST_F(WindowMapping, ReadableRefusesBytesRunningPastTheFileThoughTheViewIsMapped) {
    auto file = fixture::Open(dir_, "tail.avi", Counting(1000), MappedReader::kVideo);
    const avi::FileSource source = (*file)->MappedSource();
    FileWindow window;
    window.position = 996;
    // The remap succeeds, clipped at the end of the file, but the 8 bytes are not all there.
    EXPECT_FALSE(avi::EnsureReadable(source, window, 8, kGranularity));
    ASSERT_NE(window.view, nullptr);
    EXPECT_EQ(window.length, 1000u);
    EXPECT_FALSE(window.Holds(8));
    EXPECT_TRUE(window.Holds(4));
    EXPECT_TRUE(avi::EnsureReadable(source, window, 4, kGranularity));
}

TEST_F(WindowMapping, StepsStopAtTheEndOfTheFileWithoutWrapping) {
    auto file = fixture::Open(dir_, "step.avi", Counting(1000), MappedReader::kVideo);
    const avi::FileSource source = (*file)->MappedSource();
    FileWindow window;
    window.position = 990;
    window.offsetInView = 990;
    EXPECT_FALSE(avi::StepWindow(source, window, 11));
    EXPECT_FALSE(avi::StepWindow(source, window, ~uint64_t{0} - 5));
    EXPECT_EQ(window.position, 990u);
    EXPECT_TRUE(avi::StepWindow(source, window, 10));  // onto the end itself
    EXPECT_EQ(window.position, 1000u);
    EXPECT_EQ(window.offsetInView, 1000u);
    EXPECT_FALSE(avi::EnsureReadable(source, window, 1, kGranularity));
}

}  // namespace

// Bytes from memory: each view holds exactly what was asked for, so a read
// that runs past what it asked for fails here instead of hiding in a larger
// file view.
TEST(MemoryBytes, ViewsHoldWhatWasAskedClippedAtTheEnd) {
    std::vector<uint8_t> bytes(1000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13);
    const avi::MemorySource source(bytes.data(), bytes.size());
    EXPECT_EQ(source.Size(), 1000u);
    const avi::ByteView middle = source.View(100, 8);
    EXPECT_EQ(middle.start, 100u);
    EXPECT_EQ(middle.length, 8u);
    EXPECT_EQ(middle.data, bytes.data() + 100);
    EXPECT_EQ(source.View(996, 8).length, 4u);
    EXPECT_EQ(source.View(1000, 8).data, nullptr);
    EXPECT_EQ(source.View(~uint64_t{0}, 8).data, nullptr);

    FileWindow window;
    window.position = 996;
    EXPECT_FALSE(avi::EnsureReadable(source, window, 8, 64));
    EXPECT_TRUE(avi::EnsureReadable(source, window, 4, 64));
    EXPECT_EQ(window.Cursor()[3], bytes[999]);
    const uint8_t* back = avi::BytesAt(source, window, 10, 8, 8);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back[0], bytes[10]);
    EXPECT_FALSE(window.Holds(9));  // no read-ahead beyond the 8 bytes asked for
}

// The container's result must not depend on where views begin and end.
TEST(MemoryBytes, ContainerReadsTheSameTablesFromMemoryAsFromTheFile) {
    testsupport::DebugFolder debug;
    TempDir dir;
    const fixture::ExampleFile example = fixture::BuildExample();
    for (auto medium : {MappedReader::kVideo, MappedReader::kAudio}) {
        auto file = fixture::Open(dir, "same.avi", example.avi.bytes.data(), medium);
        auto memory = fixture::InMemory(example.avi.bytes.data(), medium);
        ASSERT_TRUE((*file)->ReadContainer());
        ASSERT_TRUE((*memory)->ReadContainer());
        EXPECT_EQ((*memory)->frameTable, (*file)->frameTable);
        ASSERT_EQ((*memory)->audioChunks.size(), (*file)->audioChunks.size());
        for (size_t i = 0; i < (*file)->audioChunks.size(); ++i) {
            EXPECT_EQ((*memory)->audioChunks[i].offset, (*file)->audioChunks[i].offset);
            EXPECT_EQ((*memory)->audioChunks[i].endSample, (*file)->audioChunks[i].endSample);
        }
        EXPECT_FALSE((*memory)->frameTable.empty() && (*memory)->audioChunks.empty());
    }
}
