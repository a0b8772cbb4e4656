#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "StreamTestSupport.h"
#include "stream/RunMonitor.h"
#include "support/DebugFolder.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace {

using streamtest::CountOf;
using testsupport::FakeStream;
using testsupport::MakeRequest;

constexpr uint32_t kFrameBytes = 16;
constexpr uint32_t kFrames = 10;
constexpr int64_t kFrameDuration = 400000;
constexpr uint8_t kUntouched = 0xEE;

// Frame k's bytes: k * 16 + i + 1, so every frame differs from every other.
uint8_t FrameByte(uint32_t frame, uint32_t i) { return static_cast<uint8_t>(frame * 16 + i + 1); }
size_t FrameOffset(uint32_t frame) { return 200 + frame * (kFrameBytes + 8); }

std::vector<std::string> LinesWith(const std::string& text, const std::string& needle) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.find(needle) != std::string::npos) lines.push_back(line);
    }
    return lines;
}

// A null first request ends the loop after one acquire, asking for the
// stream's own kind, and sets the stop flag.
void ExpectNullFirstRequestEndsTheLoop(FakeStream& stream, streamtest::ServeInputs& inputs,
                                       uint32_t kind) {
    streamtest::ServeQueue(stream, inputs);
    EXPECT_EQ(stream.AcquireCount(), 1);
    EXPECT_EQ(stream.LastKind(), kind);
    EXPECT_TRUE(inputs.stop.load());
}

// Video requests, each with its own frame buffer and a guard after it. They
// belong to the fixture's base, so they outlive the reader that serves them.
class QueuedFrames : public ::testing::Test {
protected:
    SampleRequest* QueueOn(FakeStream& stream, int64_t start, int64_t end) {
        buffers.emplace_back(new std::vector<uint8_t>(kFrameBytes + 4, kUntouched));
        requests.emplace_back(
            new SampleRequest(MakeRequest(start, end, 0, buffers.back()->data())));
        stream.Push(requests.back().get());
        return requests.back().get();
    }
    std::vector<std::unique_ptr<std::vector<uint8_t>>> buffers;
    std::vector<std::unique_ptr<SampleRequest>> requests;
};

class RunMonitorVideo : public QueuedFrames {
protected:
    void SetUp() override {
        std::vector<uint8_t> file(FrameOffset(kFrames) + 64, 0);
        for (uint32_t k = 0; k < kFrames; ++k) {
            for (uint32_t i = 0; i < kFrameBytes; ++i) file[FrameOffset(k) + i] = FrameByte(k, i);
        }
        testsupport::WriteFile(dir.File("video.avi"), file);
        inputs = std::make_unique<streamtest::ServeInputs>(stream, true, dir.File("video.avi"));
        inputs->bih.biSizeImage = kFrameBytes;
        inputs->bih.biWidth = 2;  // 2 x 2 pixels of 32 bits: kFrameBytes
        inputs->bih.biHeight = 2;
        inputs->totalFrames = kFrames;
        for (uint32_t k = 0; k < kFrames; ++k)
            inputs->frameTable.push_back(static_cast<int64_t>(FrameOffset(k)));
        stream.video.timescale = 10000000;
        stream.video.avgFrameDuration = kFrameDuration;
    }

    // A request with its own frame buffer (and a guard after it).
    SampleRequest* Queue(int64_t start, int64_t end) { return QueueOn(stream, start, end); }
    std::vector<uint8_t> Buffer(size_t request) const { return *buffers[request]; }
    static std::vector<uint8_t> FrameBytes(uint32_t frame) {
        std::vector<uint8_t> bytes(kFrameBytes + 4, kUntouched);
        for (uint32_t i = 0; i < kFrameBytes; ++i) bytes[i] = FrameByte(frame, i);
        return bytes;
    }

    testsupport::TempDir dir;
    FakeStream stream;
    std::unique_ptr<streamtest::ServeInputs> inputs;
};

// An end before the end of the first frame gets frame 0 (it lies nearer the
// start than any other frame); one past the last frame keeps the last frame.
TEST_F(RunMonitorVideo, ChoosesLastFrameEndingAtOrBeforeEnd) {
    struct Case {
        int64_t end;
        uint32_t frame;
    };
    const Case cases[] = {{400000, 0},  {799999, 0},  {800000, 1},
                          {4000000, 9}, {4400000, 9}, {399999, 0}};
    for (const Case& c : cases) Queue(c.end >= kFrameDuration ? c.end - kFrameDuration : 0, c.end);

    testsupport::DebugFolder debug;  // the notice is printed only with the debug folder
    testing::internal::CaptureStdout();
    streamtest::ServeQueue(stream, *inputs);
    const std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_EQ(LinesWith(printed, "Wrong Index"),
              (std::vector<std::string>{"Wrong Index 10", "Wrong Index -1"}))
        << printed;
    for (size_t r = 0; r < 6; ++r)
        EXPECT_EQ(Buffer(r), FrameBytes(cases[r].frame)) << "end " << cases[r].end;

    // Each request is given its span as duration, then delivered, in order.
    const std::vector<FakeStream::Event> events = stream.Events();
    ASSERT_EQ(events.size(), 12u);
    for (size_t r = 0; r < 6; ++r) {
        EXPECT_EQ(events[2 * r].kind, FakeStream::Event::SetDuration);
        EXPECT_EQ(events[2 * r].request, requests[r].get());
        EXPECT_EQ(events[2 * r].duration, r == 5 ? 399999 : kFrameDuration);
        EXPECT_EQ(events[2 * r + 1].kind, FakeStream::Event::Deliver);
        EXPECT_EQ(events[2 * r + 1].request, requests[r].get());
    }
    EXPECT_EQ(stream.LastKind(), QX_TAG_EYES);
}

TEST_F(RunMonitorVideo, SingleFrameStreamServesFrameZeroForEveryEnd) {
    inputs->totalFrames = 1;
    Queue(0, 400000);
    Queue(400000, 800000);
    Queue(0, 399999);
    testsupport::DebugFolder debug;
    testing::internal::CaptureStdout();
    streamtest::ServeQueue(stream, *inputs);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(LinesWith(printed, "Wrong Index"),
              (std::vector<std::string>{"Wrong Index 1", "Wrong Index -1"}));
    for (size_t r = 0; r < 3; ++r) EXPECT_EQ(Buffer(r), FrameBytes(0)) << r;
    EXPECT_EQ(stream.Deliveries(), 3u);
}

TEST_F(RunMonitorVideo, NeverChoosesBeyondTheFrameTable) {
    inputs->frameTable.resize(3);  // the header claims 10 frames, the table holds 3
    Queue(1600000, 2000000);       // frame 4
    testsupport::DebugFolder debug;
    testing::internal::CaptureStdout();
    streamtest::ServeQueue(stream, *inputs);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(LinesWith(printed, "Wrong Index"), (std::vector<std::string>{"Wrong Index 4"}));
    EXPECT_EQ(Buffer(0), FrameBytes(2));
    EXPECT_EQ(stream.Deliveries(), 1u);
}

TEST_F(RunMonitorVideo, DurationIsConvertedToTheDescriptorTimescale) {
    stream.video.timescale = 90000;
    Queue(0, 400000);
    Queue(400000, 400000 + 900719925);
    testing::internal::CaptureStdout();  // the second end is past the last frame
    streamtest::ServeQueue(stream, *inputs);
    testing::internal::GetCapturedStdout();
    const std::vector<FakeStream::Event> events = stream.Events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].duration, 3600);
    EXPECT_EQ(events[2].duration, static_cast<int64_t>(90000.0 * 900719925.0 / 10000000.0));
}

TEST_F(RunMonitorVideo, DurationOutOfRangeIsTheSmallestInt64) {
    stream.video.timescale = INT64_MAX;
    stream.video.avgFrameDuration = 20000000;  // one frame spans two seconds
    Queue(0, 20000000);
    streamtest::ServeQueue(stream, *inputs);
    const std::vector<FakeStream::Event> events = stream.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].duration, INT64_MIN);
    EXPECT_EQ(events[1].kind, FakeStream::Event::Deliver);
    EXPECT_EQ(Buffer(0), FrameBytes(0));
}

TEST_F(RunMonitorVideo, EmptyOrReversedSpanIsAssertedAndHandedBackWithDurationZero) {
    testsupport::DebugFolder debug;
    SampleRequest* empty = Queue(400000, 400000);
    SampleRequest* reversed = Queue(800000, 400000);
    SampleRequest* good = Queue(0, 400000);
    streamtest::ServeQueue(stream, *inputs);
    const std::vector<FakeStream::Event> events = stream.Events();
    ASSERT_EQ(events.size(), 6u) << "every request comes back";
    const SampleRequest* order[] = {empty, reversed, good};
    const int64_t durations[] = {0, 0, kFrameDuration};
    for (size_t r = 0; r < 3; ++r) {
        EXPECT_EQ(events[2 * r].kind, FakeStream::Event::SetDuration);
        EXPECT_EQ(events[2 * r].request, order[r]);
        EXPECT_EQ(events[2 * r].duration, durations[r]);
        EXPECT_EQ(events[2 * r + 1].kind, FakeStream::Event::Deliver);
        EXPECT_EQ(events[2 * r + 1].request, order[r]);
    }
    const std::string log = streamtest::LogLines(debug);
    EXPECT_EQ(CountOf(log, "Mirolan(178)"), 2) << log;
    EXPECT_EQ(CountOf(log, "ASSERT FAILED: (duration > 0)\n"), 2) << log;
}

// A frame that cannot be positioned comes back black, and the worker goes on.
TEST_F(RunMonitorVideo, FailedPositioningHandsTheFrameBackBlackAndGoesOn) {
    testsupport::DebugFolder debug;
    inputs->frameTable[0] = -5;
    Queue(0, 400000);
    Queue(400000, 800000);
    streamtest::ServeQueue(stream, *inputs);
    EXPECT_EQ(stream.Deliveries(), 2u);
    EXPECT_EQ(stream.AcquireCount(), 3) << "the worker goes on after the failed read";
    std::vector<uint8_t> black(kFrameBytes, 0);
    black.resize(kFrameBytes + 4, kUntouched);
    EXPECT_EQ(Buffer(0), black) << "only the frame's bytes are cleared";
    EXPECT_EQ(Buffer(1), FrameBytes(1));
    const std::string log = streamtest::LogLines(debug);
    EXPECT_NE(log.find("INVALID_SET_FILE_POINTER File Offset [-5] "), std::string::npos) << log;
}

TEST_F(RunMonitorVideo, NoPositiveFrameDurationOrNoFramesEndsTheWorkerWithoutReading) {
    const int64_t durations[] = {0, -1, -400000, INT64_MIN};
    for (int64_t duration : durations) {
        FakeStream other;
        other.video = stream.video;
        other.video.avgFrameDuration = duration;
        streamtest::ServeInputs bad(other, true, dir.File("video.avi"));
        bad.bih = inputs->bih;
        bad.totalFrames = inputs->totalFrames;
        bad.frameTable = inputs->frameTable;
        std::vector<uint8_t> buffer(kFrameBytes, kUntouched);
        SampleRequest request = MakeRequest(INT64_MIN, INT64_MAX, 0, buffer.data());
        other.Push(&request);
        streamtest::ServeQueue(other, bad);
        EXPECT_EQ(other.Events().size(), 0u) << "avgFrameDuration " << duration;
        EXPECT_EQ(buffer, std::vector<uint8_t>(kFrameBytes, kUntouched)) << duration;
    }

    inputs->totalFrames = 0;
    Queue(0, 400000);
    streamtest::ServeQueue(stream, *inputs);
    EXPECT_EQ(stream.Events().size(), 0u);
    EXPECT_EQ(Buffer(0), std::vector<uint8_t>(kFrameBytes + 4, kUntouched));
}

TEST_F(RunMonitorVideo, MostNegativeEndIsAWrongIndexWithoutOverflow) {
    stream.video.avgFrameDuration = 1;
    Queue(INT64_MIN, INT64_MIN);  // frame -2^63 - 1, shown at the 32-bit end; frame 0
    testsupport::DebugFolder debug;
    testing::internal::CaptureStdout();
    streamtest::ServeQueue(stream, *inputs);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(LinesWith(printed, "Wrong Index"),
              (std::vector<std::string>{"Wrong Index -2147483648"}));
    EXPECT_EQ(Buffer(0), FrameBytes(0));
    ASSERT_EQ(stream.Events().size(), 2u);
    EXPECT_EQ(stream.Events()[0].duration, 0);
}

// The worker serves from the timing the open wrote, whatever the host does to
// its descriptor afterwards.
TEST_F(RunMonitorVideo, DescriptorChangedAfterServingBeganIsNotRead) {
    Queue(800000, 1200000);  // frame 2
    stream.Finish();
    const stream::ServeContext context = inputs->Context();
    stream.video = VideoDesc{};
    stream.video.avgFrameDuration = 1;
    stream.handle.pVideo = nullptr;
    stream::ServeRequests(context);
    EXPECT_EQ(Buffer(0), FrameBytes(2));
    ASSERT_EQ(stream.Events().size(), 2u);
    EXPECT_EQ(stream.Events()[0].duration, kFrameDuration);
}

TEST_F(RunMonitorVideo, NullFirstRequestEndsTheLoopAndSetsTheStopFlag) {
    ExpectNullFirstRequestEndsTheLoop(stream, *inputs, QX_TAG_EYES);
}

TEST_F(RunMonitorVideo, SetStopFlagTakesNoRequest) {
    inputs->stop = true;
    Queue(0, 400000);
    streamtest::ServeQueue(stream, *inputs);
    EXPECT_EQ(stream.AcquireCount(), 0) << "the flag is looked at before the first acquire";
    EXPECT_EQ(Buffer(0), std::vector<uint8_t>(kFrameBytes + 4, kUntouched));
}

// The worker thread of a reader opened over a built file: 2 x 2 pixels of 32
// bits, so that a frame is kFrameBytes long, one frame every kFrameDuration.
class RunMonitorWorker : public QueuedFrames {
protected:
    void SetUp() override {
        testsupport::AviLayout layout;
        layout.width = 2;
        layout.height = 2;
        layout.frames = kFrames;
        layout.frameDuration = static_cast<uint32_t>(kFrameDuration);
        layout.withAudio = false;
        testsupport::WriteAvi(dir.File("video.avi"), testsupport::BuildAvi(layout));
        reader = streamtest::OpenReader(stream, streamtest::kVideoOptions, dir.File("video.avi"));
    }

    SampleRequest* Queue(int64_t start, int64_t end) { return QueueOn(stream, start, end); }
    static std::vector<uint8_t> FrameBytes(uint32_t frame) {
        std::vector<uint8_t> bytes = testsupport::FramePixels(frame, kFrameBytes);
        bytes.resize(kFrameBytes + 4, kUntouched);
        return bytes;
    }

    testsupport::TempDir dir;
    FakeStream stream;
    std::unique_ptr<CMirolan> reader;
};

TEST_F(RunMonitorWorker, NullFirstRequestEndsTheWorkerAndClosesTheFile) {
    testsupport::DebugFolder debug;
    stream.Finish();
    streamtest::StartWorker(stream, *reader);
    reader->hThread.Join();
    EXPECT_EQ(stream.AcquireCount(), 1);
    EXPECT_EQ(stream.LastKind(), QX_TAG_EYES);
    EXPECT_EQ(stream.handle.runState, kRunStateRunning);
    EXPECT_TRUE(reader->bExit.load());
    EXPECT_EQ(reader->hFile, nullptr);
    EXPECT_EQ(reader->hMapFile, nullptr);
    const std::string log = streamtest::LogLines(debug);
    EXPECT_NE(log.find("Mirolan(1081)"), std::string::npos) << log;
    EXPECT_NE(log.find("MIROLAN Exit video Run Monitor Thread\n"), std::string::npos) << log;
}

TEST_F(RunMonitorWorker, FailedReadIsLoggedBeforeTheExitLine) {
    testsupport::DebugFolder debug;
    reader->frameTable[0] = -5;
    Queue(0, 400000);
    stream.Finish();
    streamtest::StartWorker(stream, *reader);
    reader->hThread.Join();
    EXPECT_EQ(stream.Deliveries(), 1u);
    streamtest::ExpectInOrder(streamtest::LogLines(debug),
                              "INVALID_SET_FILE_POINTER File Offset [-5] ",
                              "MIROLAN Exit video Run Monitor Thread");
}

TEST_F(RunMonitorWorker, StopWhileWaitingForARequest) {
    testsupport::DebugFolder debug;
    streamtest::StartWorker(stream, *reader);
    ASSERT_TRUE(stream.WaitUntilAcquireWaits());
    reader.reset();
    EXPECT_EQ(stream.WakeCount(), 1);
    EXPECT_EQ(stream.runStateAtWake, kRunStateStopped);
    EXPECT_EQ(stream.Events().size(), 0u);
    const std::string log = streamtest::LogLines(debug);
    streamtest::ExpectInOrder(log, "MIROLAN Exit video Run Monitor Thread",
                              "Wait for Exit Run Monitor Thread Completed");
    EXPECT_NE(log.find("Mirolan(991)"), std::string::npos) << log;
}

// Holds the worker inside the host's acquire, with a request in hand, until
// the stop has woken the stream.
struct AcquireGate {
    std::mutex lock;
    std::condition_variable changed;
    bool holding = false;
};
AcquireGate gate;

void HoldRequestUntilWoken(FakeStream& s, SampleRequest*) {
    {
        std::lock_guard<std::mutex> hold(gate.lock);
        gate.holding = true;
        gate.changed.notify_all();
    }
    std::unique_lock<std::mutex> hold(s.lock);
    s.changed.wait(hold, [&] { return s.woken; });
}

TEST_F(RunMonitorWorker, StopWhileARequestIsServedStillDeliversIt) {
    testsupport::DebugFolder debug;
    {
        std::lock_guard<std::mutex> hold(gate.lock);
        gate.holding = false;
    }
    stream.onAcquire = HoldRequestUntilWoken;
    SampleRequest* request = Queue(400000, 800000);
    Queue(800000, 1200000);  // never taken: the stop comes first
    streamtest::StartWorker(stream, *reader);
    {
        std::unique_lock<std::mutex> hold(gate.lock);
        gate.changed.wait(hold, [] { return gate.holding; });
    }
    reader.reset();
    const std::vector<FakeStream::Event> events = stream.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, FakeStream::Event::SetDuration);
    EXPECT_EQ(events[0].request, request);
    EXPECT_EQ(events[0].duration, 400000);
    EXPECT_EQ(events[1].kind, FakeStream::Event::Deliver);
    EXPECT_EQ(stream.AcquireCount(), 1) << "the flag is looked at before the next acquire";
    EXPECT_EQ(*buffers[0], FrameBytes(1));
    streamtest::ExpectInOrder(streamtest::LogLines(debug), "MIROLAN Exit video",
                              "Wait for Exit Run Monitor Thread Completed");
}

TEST_F(RunMonitorWorker, CloseWithoutStartEndsTheSuspendedWorker) {
    testsupport::DebugFolder debug;
    ASSERT_NE(reader->hThread.get(), nullptr);
    stream.handle.pReader = reader.release();
    qxVideoDriver_Mirolan(&testsupport::FakeHostServices())->drv_close(&stream.handle);
    EXPECT_EQ(stream.AcquireCount(), 0) << "the flag is looked at before the first acquire";
    EXPECT_EQ(stream.runStateAtWake, kRunStateStopped);
    streamtest::ExpectInOrder(streamtest::LogLines(debug), "MIROLAN Exit video Run Monitor Thread",
                              "Wait for Exit Run Monitor Thread Completed");
}

TEST_F(RunMonitorWorker, StopOfANeverStartedWorkerLeavesTheFileClosedByTheWorker) {
    ASSERT_NE(reader->hThread.get(), nullptr);
    reader->StopRunMonitorThread();
    EXPECT_EQ(reader->hThread.get(), nullptr);
    EXPECT_EQ(reader->hFile, nullptr);
    EXPECT_EQ(reader->hMapFile, nullptr);
    EXPECT_FALSE(reader->bSuspended);
    EXPECT_EQ(stream.AcquireCount(), 0);
}

TEST_F(RunMonitorWorker, OnlyTheFirstStartResumesTheWorker) {
    streamtest::StartWorker(stream, *reader);
    ASSERT_TRUE(stream.WaitUntilAcquireWaits());
    stream.handle.runState = 5;  // a start that ran again would write it back
    streamtest::StartWorker(stream, *reader);
    EXPECT_EQ(stream.handle.runState, 5);
    EXPECT_EQ(stream.AcquireCount(), 1);
}

TEST(VideoDurationForHost, ExactForEverySpanUpToTheDoublePrecisionLimit) {
    const int64_t top = 900719925;
    for (int64_t span = 1; span <= 100000; ++span) {
        ASSERT_EQ(stream::VideoDurationForHost(10000000, span), span);
    }
    for (int64_t span = top - 100000; span <= top; ++span) {
        ASSERT_EQ(stream::VideoDurationForHost(10000000, span), span);
    }
    EXPECT_EQ(stream::VideoDurationForHost(10000000, -400000), -400000);
}

TEST(VideoDurationForHost, TruncatesTowardZero) {
    EXPECT_EQ(stream::VideoDurationForHost(3, 9999999), 2);    // 2.9999997
    EXPECT_EQ(stream::VideoDurationForHost(3, -9999999), -2);  // -2.9999997
    EXPECT_EQ(stream::VideoDurationForHost(0, 400000), 0);
}

TEST(VideoDurationForHost, OutOfRangeGivesTheSmallestInt64) {
    EXPECT_EQ(stream::VideoDurationForHost(INT64_MAX, INT64_MAX), INT64_MIN);
    EXPECT_EQ(stream::VideoDurationForHost(INT64_MIN, INT64_MAX), INT64_MIN);
    EXPECT_EQ(stream::VideoDurationForHost(int64_t{1} << 62, 20000000), INT64_MIN);  // exactly 2^63
    EXPECT_EQ(stream::VideoDurationForHost(int64_t{1} << 62, 10000000), int64_t{1} << 62);
}

// ---- audio ----

class RunMonitorAudio : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<uint8_t> file(14000);
        for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i % 251);
        testsupport::WriteFile(dir.File("audio.avi"), file);
        inputs = std::make_unique<streamtest::ServeInputs>(stream, false, dir.File("audio.avi"));
        inputs->wfx.nChannels = 2;
        inputs->wfx.wBitsPerSample = 16;
        inputs->audioChunks.push_back({0, 1000, 5000, 4000});
        inputs->audioChunks.push_back({1000, 2000, 9008, 4000});
        left.assign(1100, -7.0f);
        right.assign(1100, -7.0f);
        pointers[0] = left.data();
        pointers[1] = right.data();
    }

    testsupport::TempDir dir;
    FakeStream stream;
    std::vector<float> left, right;
    float* pointers[2] = {};
    std::unique_ptr<streamtest::ServeInputs> inputs;
};

float Sample16(const std::vector<uint8_t>& bytes, size_t at) {
    const auto x = static_cast<int16_t>(static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8)));
    return static_cast<float>(static_cast<double>(x) / 32767.0);
}

TEST_F(RunMonitorAudio, DurationIsTheSampleCountUnconverted) {
    SampleRequest request = MakeRequest(1000, 2024, 2, nullptr, pointers);
    stream.Push(&request);
    streamtest::ServeQueue(stream, *inputs);
    const std::vector<FakeStream::Event> events = stream.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, FakeStream::Event::SetDuration);
    EXPECT_EQ(events[0].duration, 1024);
    EXPECT_EQ(events[1].kind, FakeStream::Event::Deliver);
    EXPECT_EQ(events[1].request, &request);
    EXPECT_EQ(stream.LastKind(), QX_TAG_EARS);

    const std::vector<uint8_t> file = testsupport::ReadFileBytes(dir.File("audio.avi"));
    EXPECT_EQ(left[0], Sample16(file, 9008));
    EXPECT_EQ(right[0], Sample16(file, 9010));
    EXPECT_EQ(left[999], Sample16(file, 9008 + 999 * 4));
    EXPECT_EQ(left[1000], 0.0f) << "past the last chunk: silence";
    EXPECT_EQ(right[1023], 0.0f) << "past the last chunk: silence";
    EXPECT_EQ(request.start, 1000) << "the host's record is never written";
    EXPECT_EQ(request.end, 2024);
}

TEST_F(RunMonitorAudio, EmptyOrReversedSpanIsAssertedAndHandedBackWithDurationZero) {
    testsupport::DebugFolder debug;
    SampleRequest empty = MakeRequest(500, 500, 2, nullptr, pointers);
    SampleRequest reversed = MakeRequest(600, 500, 2, nullptr, pointers);
    stream.Push(&empty);
    stream.Push(&reversed);
    streamtest::ServeQueue(stream, *inputs);
    const std::vector<FakeStream::Event> events = stream.Events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].duration, 0);
    EXPECT_EQ(events[1].request, &empty);
    EXPECT_EQ(events[2].duration, 0);
    EXPECT_EQ(events[3].request, &reversed);
    EXPECT_EQ(stream.AcquireCount(), 3) << "the worker goes on after each";
    EXPECT_EQ(left[0], -7.0f);
    EXPECT_EQ(right[0], -7.0f);
    const std::string log = streamtest::LogLines(debug);
    EXPECT_EQ(CountOf(log, "Mirolan(197)"), 2) << log;
    EXPECT_EQ(CountOf(log, "ASSERT FAILED: (duration > 0)\n"), 2) << log;
}

TEST_F(RunMonitorAudio, UnstageableSpanIsStillHandedBack) {
    float small[4] = {-7, -7, -7, -7};
    float* smallPointers[2] = {small, small};
    SampleRequest request = MakeRequest(0, int64_t{1} << 30, 2, nullptr, smallPointers);
    stream.Push(&request);
    streamtest::ServeQueue(stream, *inputs);
    const std::vector<FakeStream::Event> events = stream.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].duration, int64_t{1} << 30);
    EXPECT_EQ(small[0], -7.0f);
}

TEST_F(RunMonitorAudio, NullFirstRequestEndsTheLoopAskingForAudio) {
    ExpectNullFirstRequestEndsTheLoop(stream, *inputs, QX_TAG_EARS);
}

TEST(RunMonitorAudioWorker, NullFirstRequestEndsTheWorkerAndClosesTheFile) {
    testsupport::TempDir dir;
    testsupport::AviLayout layout;
    layout.withVideo = false;
    testsupport::WriteAvi(dir.File("audio.avi"), testsupport::BuildAvi(layout));
    FakeStream stream;
    auto reader = streamtest::OpenReader(stream, streamtest::kAudioOptions, dir.File("audio.avi"));
    testsupport::DebugFolder debug;
    stream.Finish();
    streamtest::StartWorker(stream, *reader);
    reader->hThread.Join();
    EXPECT_EQ(stream.LastKind(), QX_TAG_EARS);
    EXPECT_EQ(reader->hFile, nullptr);
    EXPECT_EQ(reader->hMapFile, nullptr);
    EXPECT_NE(streamtest::LogLines(debug).find("MIROLAN Exit audio Run Monitor Thread\n"),
              std::string::npos);
}

}  // namespace
