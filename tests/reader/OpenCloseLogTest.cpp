// What the opening and closing sequences write to the debug log, and what
// they release, driven in-process so the debug folder can be a private one.
// (Describing, refusing and serving through the loaded library:
// integration/OpenCloseTest.cpp.)
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "container/AviLayout.h"
#include "qxdriver.h"
#include "reader/CheckFile.h"
#include "support/AviBuilder.h"
#include "support/DebugFolder.h"
#include "support/FakeHost.h"
#include "support/Files.h"
#include "support/RefusalCases.h"
#include "support/TempDir.h"

using testsupport::AviLayout;
using testsupport::FakeStream;

namespace {

const uint32_t kVideo[] = {QX_TAG_EYES, 1, 0, 0};
const uint32_t kAudio[] = {QX_TAG_EARS, 1, 0, 0};

// The debug log's lines in order, without time stamps and line ends.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t tab = line.find('\t');
        lines.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
        at = end + 1;
    }
    return lines;
}

std::string Location(int line) {
    std::string location = "Mirolan(" + std::to_string(line) + ")";
    return location + std::string(35 - location.size(), ' ') + "\t";
}

class OpenCloseLog : public testing::Test {
protected:
    void SetUp() override {
        folder.CreateLogFile();
        driver = qxVideoDriver_Mirolan(&testsupport::FakeHostServices());
        testing::internal::CaptureStdout();
    }
    // The captured output holds the failure messages too: shown when any.
    void TearDown() override {
        const std::string captured = testing::internal::GetCapturedStdout();
        if (HasFailure()) std::fputs(captured.c_str(), stderr);
    }
    std::u16string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        testsupport::WriteFile(dir.File(name), bytes);
        return testsupport::ToUtf16(dir.File(name));
    }
    std::vector<std::string> Log() { return Lines(folder.LogText()); }

    testsupport::DebugFolder folder;
    testsupport::TempDir dir;
    const DriverTable* driver = nullptr;
};

}  // namespace

TEST_F(OpenCloseLog, VideoOpenLogsSizeAndDescription) {
    AviLayout layout;
    layout.width = 4;
    layout.height = 2;
    layout.frames = 3;
    const testsupport::BuiltAvi built = testsupport::BuildAvi(layout);
    // A name beyond ASCII is written as UTF-8 in both lines (renamed through
    // the system's wide names, which Windows needs for it).
    Write("clip.avi", built.bytes);
    const std::string utf8 = dir.File("clip\xc3\xa9\xe2\x82\xac.avi");
    std::filesystem::rename(std::filesystem::u8path(dir.File("clip.avi")),
                            std::filesystem::u8path(utf8));
    const std::u16string path = testsupport::ToUtf16(dir.path()) + u"clip\u00e9\u20ac.avi";
    FakeStream stream;
    ASSERT_EQ(driver->drv_open(&stream.handle, path.c_str(), kVideo), 1);
    driver->drv_close(&stream.handle);
    const std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], Location(324) + utf8 + " size is " + std::to_string(built.bytes.size()) +
                          " memory granularity is 65536 ");
    EXPECT_EQ(log[1],
              Location(372) + "Video Mirolan:FileName[" + utf8 +
                  "] Width[4] Height[2] avgFrameDuration[400000] Depth[32] Duration[1200000]");
}

// Other writers give the frame rate as rate / scale (here 30000 / 1001):
// the frame duration is 10,000,000 x scale / rate in 100 ns units, rounded.
TEST_F(OpenCloseLog, VideoDescriptionCarriesTheFrameDurationOfScaleAndRate) {
    AviLayout layout;
    layout.frames = 3;
    layout.frameDuration = 1001;
    layout.videoRate = 30000;
    const std::u16string path = Write("clip.avi", testsupport::BuildAvi(layout).bytes);
    const std::string utf8 = dir.File("clip.avi");
    FakeStream stream;
    ASSERT_EQ(driver->drv_open(&stream.handle, path.c_str(), kVideo), 1);
    EXPECT_EQ(stream.video.avgFrameDuration, 333667);
    EXPECT_EQ(stream.video.duration, 3 * 333667);
    EXPECT_EQ(stream.video.timescale, 10000000);
    driver->drv_close(&stream.handle);
    const std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1],
              Location(372) + "Video Mirolan:FileName[" + utf8 +
                  "] Width[4] Height[2] avgFrameDuration[333667] Depth[32] Duration[1001001]");
}

TEST_F(OpenCloseLog, AudioOpenWritesNoDescriptionLine) {
    const std::u16string path = Write("clip.avi", testsupport::BuildAvi(AviLayout{}).bytes);
    FakeStream stream;
    ASSERT_EQ(driver->drv_open(&stream.handle, path.c_str(), kAudio), 1);
    const std::vector<std::string> log = Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind(Location(324), 0), 0u);
    driver->drv_close(&stream.handle);
}

// The three lines of a close, from log[first] on: the call, the worker's
// exit (for `medium`, "video" or "audio"), then the wait for it.
namespace {

void ExpectCloseLines(const std::vector<std::string>& log, size_t first,
                      const std::string& medium) {
    ASSERT_EQ(log.size(), first + 3);
    EXPECT_EQ(log[first], Location(51) + "drv_close");
    EXPECT_EQ(log[first + 1], Location(1081) + "MIROLAN Exit " + medium + " Run Monitor Thread");
    EXPECT_EQ(log[first + 2], Location(991) + "Wait for Exit Run Monitor Thread Completed");
}

}  // namespace

TEST_F(OpenCloseLog, CloseLogsCloseThenWorkerExitThenStop) {
    const std::u16string path = Write("clip.avi", testsupport::BuildAvi(AviLayout{}).bytes);
    FakeStream stream;
    ASSERT_EQ(driver->drv_open(&stream.handle, path.c_str(), kVideo), 1);
    driver->drv_start(&stream.handle);
    ASSERT_TRUE(stream.WaitUntilAcquireWaits());
    driver->drv_close(&stream.handle);
    ExpectCloseLines(Log(), 2, "video");
    EXPECT_EQ(stream.runStateAtWake, 0);
}

TEST_F(OpenCloseLog, NeverStartedStreamClosesPromptlyWithTheSameLines) {
    const std::u16string path = Write("clip.avi", testsupport::BuildAvi(AviLayout{}).bytes);
    FakeStream stream;
    ASSERT_EQ(driver->drv_open(&stream.handle, path.c_str(), kAudio), 1);
    driver->drv_close(&stream.handle);
    ExpectCloseLines(Log(), 1, "audio");
    EXPECT_EQ(stream.AcquireCount(), 0);
    EXPECT_EQ(stream.runStateAtWake, 0);
}

TEST_F(OpenCloseLog, WorkerEndingByItselfClosesTheFileBeforeTheStreamIsClosed) {
    const std::u16string path = Write("clip.avi", testsupport::BuildAvi(AviLayout{}).bytes);
    FakeStream stream;
    ASSERT_EQ(driver->drv_open(&stream.handle, path.c_str(), kVideo), 1);
    stream.Finish();
    driver->drv_start(&stream.handle);
    for (int i = 0; i < 2000 && Log().size() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const std::vector<std::string> log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2], Location(1081) + "MIROLAN Exit video Run Monitor Thread");
    driver->drv_close(&stream.handle);
    EXPECT_EQ(Log().size(), 5u);
    EXPECT_EQ(stream.Deliveries(), 0u);
    // The file is no longer held: it can be replaced.
    testsupport::RemoveFile(dir.File("clip.avi"));
    EXPECT_FALSE(testsupport::FileExists(dir.File("clip.avi")));
}

// An empty file says so, before the mapping (whose failure carries an error
// number of its own on each system).
TEST_F(OpenCloseLog, ZeroLengthFileIsRefusedAsEmptyWithoutASystemError) {
    const std::u16string path = Write("empty.avi", {});
    FakeStream stream;
    EXPECT_EQ(driver->drv_open(&stream.handle, path.c_str(), kVideo), 0);
    EXPECT_EQ(stream.handle.pReader, nullptr);
    const std::vector<std::string> log = Log();
    // Size line and the reason.
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].rfind(Location(324), 0), 0u);
    EXPECT_EQ(log[1], Location(9005) + "Refused: the file is empty") << log[1];
    // The file is no longer held.
    testsupport::RemoveFile(dir.File("empty.avi"));
    EXPECT_FALSE(testsupport::FileExists(dir.File("empty.avi")));
}

// A main header without the has-index flag refuses nothing by itself; a
// file without it that cannot be served (here: no video) logs it.
TEST_F(OpenCloseLog, UnindexedFileIsRefusedWithItsReason) {
    AviLayout layout;
    layout.hasIndexFlag = false;
    layout.withVideo = false;
    const std::u16string path = Write("clip.avi", testsupport::BuildAvi(layout).bytes);
    FakeStream stream;
    EXPECT_EQ(driver->drv_open(&stream.handle, path.c_str(), kVideo), 0);
    const std::vector<std::string> log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], Location(510) + "AVI is not indexed we cann't use this AVI");
    EXPECT_EQ(log[2], Location(9007) + "Refused: no video stream");
}

// Every refused open ends with one line that names its cause, with the
// values found, under an identifier of its own; the lines before it are the
// system's own and a served file logs no such line. The check that tools
// run gives the same reason from the same code.
TEST_F(OpenCloseLog, EveryRefusalEndsWithItsReason) {
    for (const testsupport::RefusalCase& row : testsupport::RefusalCases()) {
        SCOPED_TRACE(row.name);
        testsupport::WriteFile(folder.LogFile(), {});  // a fresh log per row
        std::u16string path = testsupport::ToUtf16(dir.File(row.fileName));
        if (!row.missing) path = Write(row.fileName, row.bytes);
        const uint32_t both[] = {QX_TAG_EYES, 1, QX_TAG_EARS, 1, 0, 0};
        const uint32_t neither[] = {QX_TAG_DINT, 1, 0, 0};
        const uint32_t* options = row.bothMedia  ? both
                                  : row.noMedium ? neither
                                  : row.video    ? kVideo
                                                 : kAudio;
        FakeStream stream;
        const int32_t opened = driver->drv_open(&stream.handle, path.c_str(), options);
        const std::vector<std::string> log = Log();
        if (row.logLine == 0) {
            EXPECT_EQ(opened, 1);
            driver->drv_close(&stream.handle);
            for (const std::string& line : log) EXPECT_EQ(line.find("Refused"), std::string::npos);
        } else {
            EXPECT_EQ(opened, 0);
            ASSERT_FALSE(log.empty());
            EXPECT_EQ(log.back().rfind(Location(row.logLine) + "Refused: ", 0), 0u) << log.back();
            EXPECT_TRUE(row.ReasonMatches(log.back().substr(Location(row.logLine).size() + 9)))
                << log.back();
            int reasons = 0;
            for (const std::string& line : log)
                reasons += line.find("Refused: ") != std::string::npos;
            EXPECT_EQ(reasons, 1);
        }
        if (!row.Checkable()) continue;
        const avi::Refusal checked =
            mirolan::CheckFile(path.c_str(), row.video ? avi::Medium::Video : avi::Medium::Audio);
        EXPECT_EQ(checked.Refused(), row.logLine != 0);
        if (row.logLine != 0) {
            EXPECT_TRUE(row.ReasonMatches(checked.text)) << checked.text;
        }
    }
}

// A host's record that cannot take the stream is refused before the file is
// opened, with the reason as the one line.
TEST_F(OpenCloseLog, NullRecordPathOrWantedDescriptorIsRefusedWithItsReason) {
    const std::u16string path = Write("clip.avi", testsupport::BuildAvi(AviLayout{}).bytes);
    FakeStream noVideo;
    noVideo.handle.pVideo = nullptr;
    FakeStream noAudio;
    noAudio.handle.pAudio = nullptr;
    FakeStream stream;
    const struct {
        StreamHandle* handle;
        const char16_t* path;
        const uint32_t* options;
        const char* reason;
    } cases[] = {
        {nullptr, path.c_str(), kVideo, "the host gave no stream record (the stream is null)"},
        {&stream.handle, nullptr, kVideo, "the host gave no file name (the path is null)"},
        {&noVideo.handle, path.c_str(), kVideo,
         "the host asked for video but its stream record has no video descriptor (pVideo is "
         "null)"},
        {&noAudio.handle, path.c_str(), kAudio,
         "the host asked for audio but its stream record has no audio descriptor (pAudio is "
         "null)"},
    };
    for (const auto& c : cases) {
        testsupport::WriteFile(folder.LogFile(), {});
        EXPECT_EQ(driver->drv_open(c.handle, c.path, c.options), 0) << c.reason;
        const std::vector<std::string> log = Log();
        ASSERT_EQ(log.size(), 1u) << c.reason;
        const int id = c.path == nullptr ? 9001 : 9002;
        EXPECT_EQ(log[0], Location(id) + "Refused: " + c.reason);
    }
}

// 24-bit video is described as a 32-bit frame of the same size: the host's
// buffer is width x |height| x 4, and the description line gives the depth.
TEST_F(OpenCloseLog, Bgr24VideoIsDescribedLikeA32BitFrame) {
    AviLayout layout;
    layout.width = 5;
    layout.height = -3;
    layout.bitCount = 24;
    layout.sizeImage = 16 * 3;  // rows of 15 bytes padded to 16
    const std::u16string path = Write("clip.avi", testsupport::BuildAvi(layout).bytes);
    FakeStream stream;
    ASSERT_EQ(driver->drv_open(&stream.handle, path.c_str(), kVideo), 1);
    EXPECT_EQ(stream.video.width, 5);
    EXPECT_EQ(stream.video.height, -3);
    EXPECT_EQ(stream.video.duration, 3 * 400000);
    driver->drv_close(&stream.handle);
    const std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1], Location(372) + "Video Mirolan:FileName[" + dir.File("clip.avi") +
                          "] Width[5] Height[-3] avgFrameDuration[400000] Depth[24] "
                          "Duration[1200000]");
}
