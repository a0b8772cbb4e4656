#include "stream/RunMonitor.h"

#include <algorithm>

#include "diag/Assert.h"
#include "diag/DebugLog.h"
#include "diag/LogLines.h"
#include "host/HostServices.h"
#include "reader/Mirolan.h"

namespace {

constexpr uint32_t kStackBytes = 0x20000;  // committed: the loop keeps only a few words

// end - start with the wrap of 64-bit two's-complement arithmetic, so that a
// span the host got wrong comes out as what it is instead of overflowing.
int64_t SpanOf(const SampleRequest& request) {
    return static_cast<int64_t>(static_cast<uint64_t>(request.end) -
                                static_cast<uint64_t>(request.start));
}

// Frames that can be served: those the index found, and never more than the
// frame table holds.
uint32_t FramesAvailable(const CMirolan& reader) {
    const size_t tableSize = reader.frameTable.size();
    return tableSize < reader.avih.dwTotalFrames ? static_cast<uint32_t>(tableSize)
                                                 : reader.avih.dwTotalFrames;
}

// The frame number quotient - 1 as the "Wrong Index" notice prints it: a
// 32-bit decimal, numbers beyond that range shown at its ends.
int32_t NoticeNumber(int64_t quotient) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(quotient, int64_t{INT32_MIN} + 1, int64_t{INT32_MAX} + 1) - 1);
}

// The last frame that ends at or before `end`: end / avgFrameDuration - 1, in
// 64 bits, so that a request 2^32 frames on is past the end and not its low
// half. A number outside the table (negative ones included) is printed, when
// the debug folder exists, and replaced by the last frame. False when no frame
// can be chosen: a frame duration that is not positive, or no frames at all.
bool ChooseFrame(const CMirolan& reader, int64_t avgFrameDuration, int64_t end, int64_t* offset) {
    const uint32_t frameCount = FramesAvailable(reader);
    if (avgFrameDuration <= 0 || frameCount == 0) {
        diag::DebugLog("", diag::kSourceName, diag::kLogNoFrameToServe,
                       "No frame to serve: avgFrameDuration %lld, %u frames",
                       static_cast<long long>(avgFrameDuration), frameCount);
        return false;
    }
    // A positive divisor: never a division by 0 nor INT64_MIN / -1.
    const int64_t quotient = end / avgFrameDuration;
    uint32_t frame = frameCount - 1;
    if (quotient >= 1 && quotient <= static_cast<int64_t>(frameCount)) {
        frame = static_cast<uint32_t>(quotient - 1);
    } else {
        diag::PrintNotice("Wrong Index %d\n", NoticeNumber(quotient));
    }
    *offset = reader.frameTable[frame];
    return true;
}

// Serves one video request. False ends the worker without delivering it.
bool ServeVideo(CMirolan& reader, SampleRequest& request) {
    const VideoDesc* video = reader.pStream->pVideo;
    int64_t frameOffset = 0;
    if (video == nullptr ||
        !ChooseFrame(reader, video->avgFrameDuration, request.end, &frameOffset)) {
        return false;
    }
    if (!reader.ReadVideoFrame(reader.bih.biSizeImage, frameOffset, request.frameBuffer)) {
        return false;
    }
    const int64_t duration = SpanOf(request);
    QXASSERT(diag::kAssertVideoDuration, duration > 0);
    if (duration > 0) {  // an empty or reversed span is dropped, never handed back
        host::SetDuration(reader.pStream, &request,
                          stream::VideoDurationForHost(video->timescale, duration));
        // A host that closed the stream from inside its set-duration service
        // has taken the stream back: nothing more goes to it.
        if (reader.pStream != nullptr) host::Deliver(reader.pStream, &request);
    }
    return true;
}

// Serves one audio request; the read works on a copy of the request's block.
bool ServeAudio(CMirolan& reader, SampleRequest& request) {
    if (!reader.ReadAudioSamples(CopyBlock(request))) return false;
    const int64_t duration = SpanOf(request);
    QXASSERT(diag::kAssertAudioDuration, duration > 0);
    if (duration > 0) {  // an empty or reversed span is dropped, never handed back
        host::SetDuration(reader.pStream, &request, duration);
        if (reader.pStream != nullptr) host::Deliver(reader.pStream, &request);
    }
    return true;
}

// Takes requests until the host has none, a read fails or a stop is asked
// for. The stop flag is looked at before the first request and after each
// one, never while the host holds the worker in its acquire.
void ServeRequests(CMirolan& reader) {
    const uint32_t kind = reader.bVideo ? QX_TAG_EYES : QX_TAG_EARS;
    while (!reader.bExit.load()) {
        SampleRequest* request = host::Acquire(reader.pStream, kind);
        // Null, or the host closed the stream from inside its acquire service.
        if (request == nullptr || reader.pStream == nullptr) break;
        const bool served =
            reader.bVideo ? ServeVideo(reader, *request) : ServeAudio(reader, *request);
        if (!served) break;
    }
    reader.bExit = true;
}

}  // namespace

namespace stream {

int64_t VideoDurationForHost(int64_t timescale, int64_t span) {
    const double quotient = static_cast<double>(timescale) * static_cast<double>(span) / 10000000.0;
    // The comparisons are false for NaN as well.
    if (quotient >= -0x1p63 && quotient < 0x1p63) return static_cast<int64_t>(quotient);
    return INT64_MIN;
}

uint32_t RunMonitorThreadProc(void* argument) {
    CMirolan& reader = *static_cast<CMirolan*>(argument);
    platform::RaiseCurrentThreadToTimeCritical();
    try {
        ServeRequests(reader);
    } catch (...) {  // nothing may leave the thread; end as after a failed read
        reader.bExit = true;
    }
    // The worker is the last user of the file: after open only it reads it.
    reader.CloseFileAndMapping();
    diag::DebugLog("", diag::kSourceName, diag::kLogWorkerExit,
                   "MIROLAN Exit %s Run Monitor Thread", reader.bAudio ? "audio" : "video");
    // Closed by the host on this very thread: the reader is ours to destroy
    // now that nothing of the loop uses it any more.
    if (reader.bDestroyOnExit) delete &reader;
    return 0;
}

}  // namespace stream

bool CMirolan::CreateRunMonitorThread() {
    dwThreadId = 0;
    hThread = platform::CreateSuspendedThread(stream::RunMonitorThreadProc, this, kStackBytes,
                                              &dwThreadId);
    // Without its worker a stream would never deliver and the host would wait
    // for it for ever: the open fails instead.
    if (hThread == nullptr) {
        diag::DebugLog("", diag::kSourceName, diag::kLogWorkerNotCreated,
                       "Run Monitor Thread not created: last error: %d",
                       static_cast<int>(platform::LastError()));
        return false;
    }
    return true;
}

bool CMirolan::StopFromOwnWorker() {
    if (!platform::IsCurrentThread(hThread)) return false;
    if (pStream != nullptr) pStream->runState = 0;
    bExit = true;
    if (pStream != nullptr) host::Wake(pStream);
    // The host may release its record as soon as the close returns.
    pStream = nullptr;
    bDestroyOnExit = true;
    return true;
}

void CMirolan::StopRunMonitorThread() {
    if (platform::IsCurrentThread(hThread)) {
        // Destroyed by its own worker, which has left the loop: nothing to
        // wait for, and a thread that waited for itself would wait for ever.
        diag::DebugLog("", diag::kSourceName, diag::kLogWorkerStopped,
                       "Wait for Exit Run Monitor Thread Completed");
        platform::DetachThread(hThread);
        hThread = nullptr;
        return;
    }
    if (pStream != nullptr) pStream->runState = 0;
    bExit = true;
    if (pStream != nullptr) host::Wake(pStream);
    // A worker that was never started still waits at its start. Let it run:
    // it finds the flag before its first request and takes its exit step,
    // which is what closes the file; otherwise the wait below never ends.
    if (bSuspended) {
        platform::ResumeThread(hThread);
        bSuspended = false;
    }
    platform::WaitForThread(hThread);
    diag::DebugLog("", diag::kSourceName, diag::kLogWorkerStopped,
                   "Wait for Exit Run Monitor Thread Completed");
    platform::CloseThread(hThread);
}
