// A thousand open-start-close cycles through the export, each closed at a
// random moment of the worker's life: never started, waiting in host_acquire,
// in the middle of serving, or after it ended by itself on a null request.
// Every close must return (each is bounded), and after all of them the
// process must hold no more handles or threads than before.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "FuzzHost.h"
#include "ProcessResources.h"
#include "support/AviBuilder.h"
#include "support/FakeHost.h"
#include "support/Files.h"
#include "support/TempDir.h"

using testsupport::FakeStream;

namespace {

constexpr int kCycles = 1000;
// A worker that has ended still has its thread handle open until the close
// waits for it: on Windows that is one more process handle.
#ifdef _WIN32
constexpr long kWorkerThreadHandles = 1;
#else
constexpr long kWorkerThreadHandles = 0;
#endif
constexpr auto kCloseBound = std::chrono::seconds(10);

enum class Moment { NeverStarted, WaitingInAcquire, WhileServing, AfterWorkerEnded };
const char* const kMomentNames[] = {"never started", "waiting in host_acquire", "while serving",
                                    "after the worker ended by itself"};

// One stream with the buffers of its requests; lives on the heap so that a
// close that never returns can be left behind without a dangling stream.
struct Cycle {
    FakeStream stream;
    std::vector<SampleRequest> requests;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<std::vector<float>> samples;
    std::vector<std::vector<float*>> channelPointers;

    void PlanRequests(bool video, int count, uint32_t frameBytes, int32_t channels,
                      uint32_t frameDuration) {
        requests.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            if (video) {
                frames.emplace_back(frameBytes, uint8_t{0});
                const int64_t end = static_cast<int64_t>(i + 1) * frameDuration;
                requests.push_back(
                    testsupport::MakeRequest(end - frameDuration, end, 0, frames.back().data()));
            } else {
                const int64_t span = 64;
                std::vector<float*> pointers;
                for (int32_t c = 0; c < channels; ++c) {
                    samples.emplace_back(static_cast<size_t>(span), 0.0f);
                    pointers.push_back(samples.back().data());
                }
                channelPointers.push_back(pointers);
                requests.push_back(
                    testsupport::MakeRequest(i * span, (i + 1) * span, channels, nullptr, nullptr));
            }
        }
        for (size_t i = 0; i < channelPointers.size(); ++i) {
            requests[i].channelBuffers = channelPointers[i].data();
        }
    }
};

// drv_close within the bound; a cycle whose close is stuck is left to leak:
// waiting longer would only hang the suite.
bool CloseWithinBound(const DriverTable& driver, std::unique_ptr<Cycle>& cycle) {
    if (fuzzhost::CloseWithin(driver, &cycle->stream.handle, kCloseBound)) return true;
    cycle.release();  // still in use by the stuck close
    return false;
}

class LifecycleStress : public testing::Test {
protected:
    void SetUp() override {
        driver = qxVideoDriver_Mirolan(&testsupport::FakeHostServices());
        testsupport::AviLayout layout;
        layout.width = 16;
        layout.height = 8;
        layout.frames = 6;
        layout.channels = 2;
        layout.bitsPerSample = 16;
        layout.samplesPerChunk = 100;
        built = testsupport::BuildAvi(layout);
        frameBytes = 16u * 8u * 4u;
        frameDuration = layout.frameDuration;
        testsupport::WriteFile(dir.File("clip.avi"), built.bytes);
        path = testsupport::ToUtf16(dir.File("clip.avi"));
    }

    const DriverTable* driver = nullptr;
    testsupport::TempDir dir;
    testsupport::BuiltAvi built;
    std::u16string path;
    uint32_t frameBytes = 0;
    uint32_t frameDuration = 0;
};

}  // namespace

TEST_F(LifecycleStress, ThousandCyclesClosedAtRandomMomentsNeverHangNorLeak) {
    const uint32_t kVideo[] = {QX_TAG_EYES, 1, 0, 0};
    const uint32_t kAudio[] = {QX_TAG_EARS, 1, 0, 0};
    std::mt19937 random(20240305u);

    // One cycle first, so that whatever the runtime sets up once (thread
    // pools of the C library, the sanitizers' own threads) is in the baseline.
    {
        auto warmup = std::make_unique<Cycle>();
        ASSERT_EQ(driver->drv_open(&warmup->stream.handle, path.c_str(), kVideo), 1);
        driver->drv_start(&warmup->stream.handle);
        ASSERT_TRUE(CloseWithinBound(*driver, warmup));
    }
    const reliability::ResourceCounts before = reliability::SteadyResources();

    int cyclesPerMoment[4] = {0, 0, 0, 0};
    size_t delivered = 0;
    const auto started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration slowestClose{};
    for (int i = 0; i < kCycles; ++i) {
        const auto moment = static_cast<Moment>(random() % 4);
        const bool video = random() % 2 == 0;
        auto cycle = std::make_unique<Cycle>();
        FakeStream& stream = cycle->stream;
        ASSERT_EQ(driver->drv_open(&stream.handle, path.c_str(), video ? kVideo : kAudio), 1)
            << "cycle " << i;
        const int requestCount = moment == Moment::WhileServing ? 4 : 2;
        cycle->PlanRequests(video, requestCount, frameBytes, stream.audio.channels, frameDuration);

        switch (moment) {
            case Moment::NeverStarted:
                break;
            case Moment::WaitingInAcquire:
                driver->drv_start(&stream.handle);
                ASSERT_TRUE(stream.WaitUntilAcquireWaits()) << "cycle " << i;
                break;
            case Moment::WhileServing: {
                for (SampleRequest& request : cycle->requests) stream.Push(&request);
                driver->drv_start(&stream.handle);
                // A random pause of up to 200 microseconds lands the close
                // before, during or after the reads.
                const auto pause = std::chrono::microseconds(random() % 200);
                const auto until = std::chrono::steady_clock::now() + pause;
                while (std::chrono::steady_clock::now() < until) {
                }
                break;
            }
            case Moment::AfterWorkerEnded:
                for (SampleRequest& request : cycle->requests) stream.Push(&request);
                stream.Finish();
                driver->drv_start(&stream.handle);
                ASSERT_TRUE(stream.WaitForDeliveries(cycle->requests.size())) << "cycle " << i;
                break;
        }

        const auto closeStart = std::chrono::steady_clock::now();
        ASSERT_TRUE(CloseWithinBound(*driver, cycle))
            << "cycle " << i << ": drv_close " << kMomentNames[static_cast<int>(moment)]
            << " did not return within 10 s";
        const auto closeTime = std::chrono::steady_clock::now() - closeStart;
        if (closeTime > slowestClose) slowestClose = closeTime;

        // What the host saw: never more deliveries than requests, each after
        // its duration; a waiting acquire was woken exactly once.
        const size_t deliveries = stream.Deliveries();
        EXPECT_LE(deliveries, cycle->requests.size()) << "cycle " << i;
        if (moment == Moment::AfterWorkerEnded) {
            EXPECT_EQ(deliveries, cycle->requests.size()) << "cycle " << i;
        }
        if (moment == Moment::NeverStarted) {
            EXPECT_EQ(stream.AcquireCount(), 0) << "cycle " << i;
        }
        if (moment == Moment::WaitingInAcquire) {
            EXPECT_EQ(stream.WakeCount(), 1) << "cycle " << i;
        }
        const auto events = stream.Events();
        for (size_t e = 0; e < events.size(); ++e) {
            if (events[e].kind == FakeStream::Event::Deliver) {
                ASSERT_GT(e, 0u);
                EXPECT_EQ(events[e - 1].kind, FakeStream::Event::SetDuration) << "cycle " << i;
                EXPECT_EQ(events[e - 1].request, events[e].request) << "cycle " << i;
            }
        }
        delivered += deliveries;
        ++cyclesPerMoment[static_cast<int>(moment)];
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    const reliability::ResourceCounts after = reliability::WaitForResourcesAt(before);
    std::printf(
        "lifecycle stress: %d cycles in %.2f s (never started %d, waiting %d, serving %d, ended "
        "%d), %zu requests delivered, slowest close %.1f ms; handles %ld -> %ld, threads %ld -> "
        "%ld (%s)\n",
        kCycles, seconds, cyclesPerMoment[0], cyclesPerMoment[1], cyclesPerMoment[2],
        cyclesPerMoment[3], delivered,
        std::chrono::duration<double, std::milli>(slowestClose).count(), before.handles,
        after.handles, before.threads, after.threads, reliability::ResourceSource());
    if (before.handles <= 0) {
        std::printf(
            "note: this system does not count the process's handles (Wine answers 0); "
            "only threads are compared\n");
    }
    for (int m = 0; m < 4; ++m) EXPECT_GT(cyclesPerMoment[m], 100) << kMomentNames[m];
    EXPECT_EQ(after.handles, before.handles) << "handles leaked";
    EXPECT_EQ(after.threads, before.threads) << "threads leaked";
}

// The worker that ends on its own releases the file while the stream is
// still open: the handles are back before the host closes.
TEST_F(LifecycleStress, WorkerEndingByItselfReleasesTheFileBeforeClose) {
    const uint32_t kVideo[] = {QX_TAG_EYES, 1, 0, 0};
    const reliability::ResourceCounts before = reliability::CountResources();
    // Wine answers GetProcessHandleCount with 0 whatever is open.
    if (before.handles <= 0) GTEST_SKIP() << "this system does not count the process's handles";
    auto cycle = std::make_unique<Cycle>();
    ASSERT_EQ(driver->drv_open(&cycle->stream.handle, path.c_str(), kVideo), 1);
    const reliability::ResourceCounts opened = reliability::CountResources();
    EXPECT_GT(opened.handles, before.handles) << "open holds the file";

    cycle->stream.Finish();
    driver->drv_start(&cycle->stream.handle);
    // The worker's thread is still there until close waits for it, so only
    // the file's handles are expected back here.
    const long expected = before.handles + kWorkerThreadHandles;
    reliability::ResourceCounts ended = reliability::CountResources();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ended.handles != expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ended = reliability::CountResources();
    }
    EXPECT_EQ(ended.handles, expected);
    ASSERT_TRUE(CloseWithinBound(*driver, cycle));
    const reliability::ResourceCounts after = reliability::WaitForResourcesAt(before);
    EXPECT_EQ(after.threads, before.threads);
}
