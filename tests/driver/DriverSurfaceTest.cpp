// The export, the operation table and the small driver operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "diag/DebugLog.h"
#include "host/HostServices.h"
#include "qxdriver.h"
#include "reader/Mirolan.h"
#include "support/AllocationCounter.h"
#include "support/AviBuilder.h"
#include "support/DebugFolder.h"
#include "support/FakeHost.h"
#include "support/Files.h"
#include "support/TempDir.h"

using testsupport::DebugFolder;

namespace {

int wakesSeenByA = 0;
int wakesSeenByB = 0;
int32_t QX_CALL WakeA(StreamHandle*) { return ++wakesSeenByA; }
int32_t QX_CALL WakeB(StreamHandle*) { return ++wakesSeenByB; }

const DriverTable* Table() { return qxVideoDriver_Mirolan(&testsupport::FakeHostServices()); }

}  // namespace

TEST(DriverEntry, ReturnsTheSameTableOnEveryCall) {
    HostServices a{};
    HostServices b{};
    const DriverTable* first = qxVideoDriver_Mirolan(&a);
    const DriverTable* second = qxVideoDriver_Mirolan(&b);
    EXPECT_EQ(first, second);
}

TEST(DriverEntry, LaterServicesReplaceEarlierOnes) {
    HostServices a{};
    a.host_wake = WakeA;
    HostServices b{};
    b.host_wake = WakeB;
    qxVideoDriver_Mirolan(&a);
    qxVideoDriver_Mirolan(&b);
    StreamHandle stream{};
    host::Wake(host::Current(), &stream);
    EXPECT_EQ(wakesSeenByA, 0);
    EXPECT_EQ(wakesSeenByB, 1);
}

TEST(DriverEntry, CopiesTheServicesSoTheHostTableNeedNotOutliveTheCall) {
    {
        HostServices temporary{};
        temporary.host_wake = WakeA;
        qxVideoDriver_Mirolan(&temporary);
        temporary.host_wake = nullptr;
    }
    const int before = wakesSeenByA;
    StreamHandle stream{};
    host::Wake(host::Current(), &stream);
    EXPECT_EQ(wakesSeenByA, before + 1);
}

TEST(DriverTable, HoldsVersionThenOpenCloseStartNopNopZero) {
    const DriverTable* table = Table();
    EXPECT_EQ(table->version, 1);
    EXPECT_NE(table->drv_open, nullptr);
    EXPECT_NE(table->drv_close, nullptr);
    EXPECT_NE(table->drv_start, nullptr);
    EXPECT_EQ(table->drv_nop, table->drv_nop2);
    EXPECT_EQ(table->drv_zero(), 0);
    table->drv_nop();
    // Hosts may pass anything to the place-holders.
    auto zeroWithArguments = reinterpret_cast<int32_t(QX_CALL*)(int, void*, int)>(
        reinterpret_cast<void(QX_CALL*)(void)>(table->drv_zero));
    EXPECT_EQ(zeroWithArguments(7, nullptr, -1), 0);
}

TEST(DriverOpen, RefusesPathsWhoseExtensionIsNotExactlyAvi) {
    DebugFolder folder;
    const DriverTable* table = Table();
    const uint32_t options[] = {QX_TAG_EYES, 1, 0, 0};
    for (const char16_t* path : {u"C:\\media\\clip.AVI", u"C:\\media\\clip.avi2",
                                 u"C:\\media\\clip", u"C:\\media.avi\\clip", u"/media.avi/clip"}) {
        testsupport::FakeStream stream;
        void* sentinel = &stream;
        stream.handle.pReader = sentinel;
        testing::internal::CaptureStdout();
        EXPECT_EQ(table->drv_open(&stream.handle, path, options), 0);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(stream.handle.pReader, sentinel);
        EXPECT_NE(out.find("Mirolan(299)"), std::string::npos);
        EXPECT_NE(out.find("\tNot a avi File\n\n"), std::string::npos);
    }
}

// The system logged nothing for a file it could not open; the one line is
// the reason of the refusal.
TEST(DriverOpen, MissingFileLogsOnlyTheReason) {
    DebugFolder folder;
    testsupport::FakeStream stream;
    const uint32_t options[] = {QX_TAG_EYES, 1, 0, 0};
    testing::internal::CaptureStdout();
    EXPECT_EQ(Table()->drv_open(&stream.handle, u"/no/such/folder/clip.avi", options), 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_NE(out.find("Mirolan(9003)"), std::string::npos) << out;
    EXPECT_NE(out.find("\tRefused: the file cannot be opened for reading (system error "),
              std::string::npos)
        << out;
    EXPECT_EQ(stream.handle.pReader, nullptr);
}

TEST(DriverOpen, RefusesStreamsNamingBothMediaOrNeither) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.File("clip.avi"), std::vector<uint8_t>(64, 0));
    const std::u16string path = testsupport::ToUtf16(dir.File("clip.avi"));
    const uint32_t both[] = {QX_TAG_EYES, 1, QX_TAG_EARS, 1, 0, 0};
    const uint32_t neither[] = {QX_TAG_DINT, 3, 0, 0};
    for (const uint32_t* options : {both, neither, static_cast<const uint32_t*>(nullptr)}) {
        testsupport::FakeStream stream;
        const VideoDesc videoBefore = stream.video;
        EXPECT_EQ(Table()->drv_open(&stream.handle, path.c_str(), options), 0);
        EXPECT_EQ(stream.handle.pReader, nullptr);
        EXPECT_EQ(std::memcmp(&videoBefore, &stream.video, sizeof videoBefore), 0);
    }
}

TEST(DriverClose, EmptySlotOnlyWritesTheCloseLine) {
    DebugFolder folder;
    folder.CreateLogFile();
    testsupport::FakeStream stream;
    testing::internal::CaptureStdout();
    Table()->drv_close(&stream.handle);
    testing::internal::GetCapturedStdout();
    const std::string log = folder.LogText();
    EXPECT_NE(log.find("\tMirolan(51)" + std::string(24, ' ') + "\tdrv_close"), std::string::npos)
        << log;
}

TEST(DriverStart, EmptySlotDoesNothing) {
    testsupport::FakeStream stream;
    Table()->drv_start(&stream.handle);
    EXPECT_EQ(stream.handle.runState, -1);
}

// Out of memory inside a start, a close or the export (with the log on, which
// builds paths), nothing crosses the C boundary and the stream is still
// closed: every allocation of the host's thread from the n-th on fails, for
// each n up to the first round that needs none.
TEST(DriverBoundary, NoExceptionLeavesAnEntryPointWhenMemoryRunsOut) {
    DebugFolder folder;
    folder.CreateLogFile();
    testsupport::TempDir dir;
    testsupport::AviLayout layout;
    layout.frames = 2;
    testsupport::WriteFile(dir.File("clip.avi"), testsupport::BuildAvi(layout).bytes);
    const std::u16string path = testsupport::ToUtf16(dir.File("clip.avi"));
    const uint32_t video[] = {QX_TAG_EYES, 1, 0, 0};
    testing::internal::CaptureStdout();
    size_t failed = 1;
    for (size_t n = 0; failed > 0 && n < 200; ++n) {
        testsupport::FakeStream stream;
        ASSERT_EQ(Table()->drv_open(&stream.handle, path.c_str(), video), 1);
        bool threw = false;
        allocation::FailOnThisThreadAfter(n);
        try {
            Table()->drv_start(&stream.handle);
            diag::PrintNotice("notice %zu\n", n);
            diag::DebugLog("", "Mirolan", 1, "line %zu", n);
            Table()->drv_close(&stream.handle);
        } catch (...) {
            threw = true;
        }
        failed = allocation::StopFailing();
        EXPECT_FALSE(threw) << "allocation " << n;
        EXPECT_EQ(stream.handle.pReader, nullptr) << "allocation " << n;
        if (threw) {  // the stream is still open: closed now, and the sweep ends
            Table()->drv_close(&stream.handle);
            break;
        }
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(failed, 0u) << "a round in which no allocation failed was never reached";
    // With memory again, the log goes on.
    EXPECT_TRUE(diag::DebugLog("", "Mirolan", 1, "after"));
}
