#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "HostStream.h"
#include "PluginLoader.h"

namespace qxhost {
namespace {

using std::chrono::milliseconds;

std::u16string Name(const char* text) {
    std::u16string out;
    for (; *text != 0; ++text) out += static_cast<char16_t>(*text);
    return out;
}

// Frame buffers for the fake plug-in's 4 x 2 frames.
struct VideoRequests {
    explicit VideoRequests(size_t count)
        : buffers(count, std::vector<uint8_t>(32)), records(count) {
        for (size_t i = 0; i < count; ++i) {
            records[i].frameBuffer = buffers[i].data();
            pool.push_back(&records[i]);
        }
    }
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<SampleRequest> records;
    std::vector<SampleRequest*> pool;
};

void FrameSpan(SampleRequest& request, uint64_t k) {
    request.start = static_cast<int64_t>(k) * 400000;
    request.end = request.start + 400000;
}

int WorkersEnded() {
    std::string error;
    auto library = LoadPluginLibrary(FAKE_PLUGIN_PATH, error);
    auto* count = reinterpret_cast<int (*)()>(library->Symbol("FakeWorkersEnded"));
    return count();
}

// The error loading the plug-in at `path` reports ("loaded" when it loads).
std::string LoadError(const char* path) {
    try {
        Driver driver(path);
        return "loaded";
    } catch (const HostError& e) {
        return e.what();
    }
}

TEST(Driver, ReportsALibraryThatCannotBeLoadedOrLacksThePlugInsExport) {
    const std::string missing = LoadError("/nonexistent/libmirolan.so");
    EXPECT_NE(missing.find("cannot load plug-in /nonexistent/libmirolan.so"), std::string::npos)
        << missing;
    const std::string noExport = LoadError(NO_EXPORT_PATH);
    EXPECT_NE(noExport.find("has no qxVideoDriver_Mirolan export"), std::string::npos) << noExport;
}

TEST(Stream, HandsTheOpenOptionsAndDescriptorsToThePlugIn) {
    Driver driver(FAKE_PLUGIN_PATH);
    Stream video(driver, MediaKind::kVideo);
    Stream audio(driver, MediaKind::kAudio);
    ASSERT_TRUE(video.Open(Name("clip.avi")));
    ASSERT_TRUE(audio.Open(Name("clip.avi")));
    EXPECT_EQ(video.video().avgFrameDuration, 400000);  // 'eyes' made it a video stream
    EXPECT_EQ(video.audio().channels, 0);
    EXPECT_EQ(audio.audio().channels, 2);  // 'ears' made it an audio stream
    EXPECT_EQ(audio.video().width, 0);
}

TEST(Stream, ReportsARefusedOpen) {
    Driver driver(FAKE_PLUGIN_PATH);
    Stream video(driver, MediaKind::kVideo);
    EXPECT_FALSE(video.Open(Name("refuse.avi")));
    EXPECT_FALSE(video.isOpen());
}

TEST(ServeInOrder, CollectsEveryRequestInOrderWithItsDuration) {
    Driver driver(FAKE_PLUGIN_PATH);
    VideoRequests requests(4);
    Stream stream(driver, MediaKind::kVideo);
    ASSERT_TRUE(stream.Open(Name("clip.avi")));
    const int endedBefore = WorkersEnded();
    stream.Start();
    std::vector<int> frames;
    ServeInOrder(
        stream, 10, requests.pool, FrameSpan,
        [&](const Stream::Delivery& d, uint64_t k) {
            EXPECT_EQ(d.duration, 400000);
            EXPECT_EQ(d.request->start, static_cast<int64_t>(k) * 400000);
            frames.push_back(d.request->frameBuffer[0]);
        },
        milliseconds(5000));
    EXPECT_EQ(frames, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    stream.Close();
    // After the last request the worker's acquire got null and it ended.
    EXPECT_EQ(WorkersEnded(), endedBefore + 1);
}

TEST(ServeInOrder, WorksWithASingleRequestInFlight) {
    Driver driver(FAKE_PLUGIN_PATH);
    VideoRequests requests(1);
    Stream stream(driver, MediaKind::kVideo);
    ASSERT_TRUE(stream.Open(Name("clip.avi")));
    stream.Start();
    int served = 0;
    ServeInOrder(
        stream, 10, requests.pool, FrameSpan,
        [&](const Stream::Delivery& d, uint64_t k) {
            EXPECT_EQ(d.request->frameBuffer[31], k);
            ++served;
        },
        milliseconds(5000));
    EXPECT_EQ(served, 10);
}

void ExpectServeFails(const char* file, const std::string& fragment, milliseconds timeout) {
    Driver driver(FAKE_PLUGIN_PATH);
    VideoRequests requests(4);
    Stream stream(driver, MediaKind::kVideo);
    ASSERT_TRUE(stream.Open(Name(file)));
    stream.Start();
    try {
        ServeInOrder(
            stream, 10, requests.pool, FrameSpan, [](const Stream::Delivery&, uint64_t) {},
            timeout);
        ADD_FAILURE() << file << ": served without complaint";
    } catch (const HostError& e) {
        EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    }
    stream.Close();  // must return although requests are outstanding
}

TEST(ServeInOrder, RefusesDeliveriesOutOfOrder) {
    ExpectServeFails("swap.avi", "out of order", milliseconds(5000));
}

TEST(ServeInOrder, RefusesADeliveryWithoutADuration) {
    ExpectServeFails("noduration.avi", "without setting its duration", milliseconds(5000));
}

TEST(ServeInOrder, GivesUpOnAPlugInThatStopsDelivering) {
    const auto before = std::chrono::steady_clock::now();
    ExpectServeFails("silent.avi", "served nothing for 200 ms", milliseconds(200));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
}

TEST(Stream, CloseReleasesAWorkerWaitingForRequests) {
    Driver driver(FAKE_PLUGIN_PATH);
    Stream stream(driver, MediaKind::kAudio);
    ASSERT_TRUE(stream.Open(Name("clip.avi")));
    const int endedBefore = WorkersEnded();
    stream.Start();
    stream.Close();  // the worker sits in acquire; the wake lets it go
    EXPECT_EQ(WorkersEnded(), endedBefore + 1);
}

}  // namespace
}  // namespace qxhost
