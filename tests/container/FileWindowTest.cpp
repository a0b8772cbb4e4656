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
    FileWindow window;
    window.position = row.position;

    EXPECT_EQ(avi::PlaceWindow(source, window, row.requested), row.start);
    EXPECT_EQ(window.length, row.length);
    EXPECT_EQ(window.offsetInView, row.offsetInView);
    EXPECT_EQ(window.position, row.position);
    EXPECT_EQ(window.view, nullptr);  // placing maps nothing
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

TEST(WindowPlacementLimits, PositionAtOrPastEndChangesNothing) {
    avi::FileSource source;
    source.fileSize = 30000;
    source.granularity = kGranularity;
    for (uint64_t position : {uint64_t{30000}, uint64_t{30001}, ~uint64_t{0}}) {
        FileWindow window;
        window.position = position;
        window.offsetInView = 7;
        window.length = 9;
        EXPECT_EQ(avi::PlaceWindow(source, window, kGranularity), 0u) << position;
        EXPECT_EQ(window.offsetInView, 7u);
        EXPECT_EQ(window.length, 9u);
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
    FileWindow window;
    window.position = 1000;
    ASSERT_TRUE(avi::MapWindow((*file)->Source(), window, kGranularity));
    ASSERT_NE(window.view, nullptr);
    EXPECT_EQ(window.length, 30000u);
    EXPECT_EQ(window.offsetInView, 1000u);
    EXPECT_EQ(window.Cursor()[0], bytes[1000]);
    EXPECT_EQ(window.view[29999], bytes[29999]);
}

TEST_F(WindowMapping, ViewAfterFirstGranuleHoldsTheFileBytes) {
    const std::vector<uint8_t> bytes = Counting(200000);
    auto file = fixture::Open(dir_, "long.avi", bytes, MappedReader::kVideo);
    FileWindow window;
    window.position = 150000;
    ASSERT_TRUE(avi::MapWindow((*file)->Source(), window, 8));
    EXPECT_EQ(window.offsetInView, 150000u - 131072u);
    EXPECT_EQ(window.length, 150000u - 131072u + 8u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(window.Cursor()[i], bytes[150000 + i]);
}

TEST_F(WindowMapping, PositionAtFileSizeReleasesViewAndLogsNothing) {
    auto file = fixture::Open(dir_, "end.avi", Counting(5000), MappedReader::kVideo);
    FileWindow window;
    ASSERT_TRUE(avi::MapWindow((*file)->Source(), window, kGranularity));
    window.position = 5000;
    EXPECT_FALSE(avi::MapWindow((*file)->Source(), window, kGranularity));
    EXPECT_EQ(window.view, nullptr);
    EXPECT_FALSE(testsupport::FileExists(debug_.FallbackFile()));
}

TEST_F(WindowMapping, RefusedMappingAbove4GiBLogsLowPartThenHighPartThenLength) {
    // The reader claims a larger file than the mapping holds, so the platform
    // refuses the view at 4,999,938,048.
    auto file = fixture::Open(dir_, "small.avi", Counting(5000), MappedReader::kVideo);
    (*file)->fileSize = 6000000000ll;
    FileWindow window;
    window.position = 5000000000ull;
    EXPECT_FALSE(avi::MapWindow((*file)->Source(), window, kGranularity));
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
    FileWindow window;
    ASSERT_TRUE(avi::MapWindow((*file)->Source(), window, kGranularity));
    const uint8_t* first = window.view;
    ASSERT_TRUE(avi::StepWindow((*file)->Source(), window, kGranularity - 8));
    EXPECT_TRUE(avi::EnsureReadable((*file)->Source(), window, 8, kGranularity));
    EXPECT_EQ(window.view, first);
    EXPECT_EQ(window.offsetInView, kGranularity - 8u);
}

TEST_F(WindowMapping, ReadableRemapsAtThePositionWhenTheBytesRunPastTheView) {
    const std::vector<uint8_t> bytes = Counting(200000);
    auto file = fixture::Open(dir_, "move.avi", bytes, MappedReader::kVideo);
    FileWindow window;
    ASSERT_TRUE(avi::MapWindow((*file)->Source(), window, kGranularity));
    ASSERT_TRUE(avi::StepWindow((*file)->Source(), window, kGranularity - 4));
    EXPECT_TRUE(avi::EnsureReadable((*file)->Source(), window, 8, kGranularity));
    // Remapped at the same granule, now reaching a full granularity further.
    EXPECT_EQ(window.offsetInView, kGranularity - 4u);
    EXPECT_EQ(window.length, 2 * kGranularity - 4u);
    EXPECT_EQ(window.Cursor()[7], bytes[kGranularity + 3]);
}

TEST_F(WindowMapping, ReadableRefusesBytesRunningPastTheFileThoughTheViewIsMapped) {
    auto file = fixture::Open(dir_, "tail.avi", Counting(1000), MappedReader::kVideo);
    FileWindow window;
    window.position = 996;
    // The remap succeeds, clipped at the end of the file, but the 8 bytes are not all there.
    EXPECT_FALSE(avi::EnsureReadable((*file)->Source(), window, 8, kGranularity));
    ASSERT_NE(window.view, nullptr);
    EXPECT_EQ(window.length, 1000u);
    EXPECT_FALSE(window.Holds(8));
    EXPECT_TRUE(window.Holds(4));
    EXPECT_TRUE(avi::EnsureReadable((*file)->Source(), window, 4, kGranularity));
}

TEST_F(WindowMapping, StepsStopAtTheEndOfTheFileWithoutWrapping) {
    auto file = fixture::Open(dir_, "step.avi", Counting(1000), MappedReader::kVideo);
    FileWindow window;
    window.position = 990;
    window.offsetInView = 990;
    EXPECT_FALSE(avi::StepWindow((*file)->Source(), window, 11));
    EXPECT_FALSE(avi::StepWindow((*file)->Source(), window, ~uint64_t{0} - 5));
    EXPECT_EQ(window.position, 990u);
    EXPECT_TRUE(avi::StepWindow((*file)->Source(), window, 10));  // onto the end itself
    EXPECT_EQ(window.position, 1000u);
    EXPECT_EQ(window.offsetInView, 1000u);
    EXPECT_FALSE(avi::EnsureReadable((*file)->Source(), window, 1, kGranularity));
}

}  // namespace
