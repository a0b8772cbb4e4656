// A scripted plug-in for the host's own tests. What it does with a stream
// depends on a word in the file name:
//   refuse      drv_open fails
//   swap        the first two requests are delivered in reverse order
//   noduration  requests are delivered without a duration
//   silent      requests are taken but never delivered
//   (else)      every request is served: each byte of a frame is the frame
//               number, each audio sample the sample number
// A video stream has 10 frames of 400,000 units, 4 x 2 pixels; an audio stream
// 10,000 samples of 2 channels at 8,000 Hz.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "qxdriver.h"

namespace {

HostServices g_services;
std::atomic<int> g_workersEnded{0};

struct FakeReader {
    std::string name;
    bool video = false;
    std::thread worker;
    std::atomic<bool> stop{false};
};

bool Has(const std::string& name, const char* word) { return name.find(word) != std::string::npos; }

void Serve(StreamHandle* stream, FakeReader* reader) {
    const uint32_t kind = reader->video ? QX_TAG_EYES : QX_TAG_EARS;
    std::vector<SampleRequest*> held;
    while (!reader->stop) {
        SampleRequest* request = g_services.host_acquire(stream, kind);
        if (request == nullptr) break;
        if (reader->video) {
            const int64_t frame = request->end / 400000 - 1;
            for (int i = 0; i < 4 * 2 * 4; ++i)
                request->frameBuffer[i] = static_cast<uint8_t>(frame);
        } else {
            for (int32_t c = 0; c < request->channels; ++c) {
                for (int64_t s = request->start; s < request->end; ++s) {
                    request->channelBuffers[c][s - request->start] = static_cast<float>(s);
                }
            }
        }
        if (Has(reader->name, "silent")) continue;
        if (Has(reader->name, "swap") && held.empty()) {
            held.push_back(request);
            continue;
        }
        held.insert(held.begin(), request);
        for (SampleRequest* r : held) {
            if (!Has(reader->name, "noduration")) {
                g_services.host_set_duration(stream, r, r->end - r->start);
            }
            g_services.host_deliver(stream, r);
        }
        held.clear();
    }
    ++g_workersEnded;
}

int32_t QX_CALL Open(StreamHandle* stream, const qx_char16* path, const uint32_t* options) {
    std::string name;
    for (; *path != 0; ++path) name += static_cast<char>(*path);
    if (Has(name, "refuse")) return 0;
    auto* reader = new FakeReader;
    reader->name = name;
    for (; options != nullptr && options[0] != 0; options += 2) {
        if (options[0] == QX_TAG_EYES) reader->video = options[1] != 0;
    }
    if (reader->video) {
        stream->pVideo->timescale = 10000000;
        stream->pVideo->avgFrameDuration = 400000;
        stream->pVideo->duration = 10 * 400000;
        stream->pVideo->width = 4;
        stream->pVideo->height = 2;
        stream->pVideo->streamFlag = 1;
    } else {
        stream->pAudio->timescale = 8000;
        stream->pAudio->sampleRate = 8000;
        stream->pAudio->duration = 10000;
        stream->pAudio->channels = 2;
    }
    stream->pReader = reader;
    return 1;
}

void QX_CALL Start(StreamHandle* stream) {
    auto* reader = static_cast<FakeReader*>(stream->pReader);
    reader->worker = std::thread(Serve, stream, reader);
}

void QX_CALL Close(StreamHandle* stream) {
    auto* reader = static_cast<FakeReader*>(stream->pReader);
    reader->stop = true;
    g_services.host_wake(stream);
    if (reader->worker.joinable()) reader->worker.join();
    delete reader;
}

void QX_CALL Nop() {}
int32_t QX_CALL Zero() { return 0; }

const DriverTable kTable = {1, Open, Close, Start, Nop, Nop, Zero};

}  // namespace

extern "C" __attribute__((visibility("default"))) const DriverTable* QX_CALL
qxVideoDriver_Mirolan(const HostServices* services) {
    g_services = *services;
    return &kTable;
}

extern "C" __attribute__((visibility("default"))) int FakeWorkersEnded() { return g_workersEnded; }
