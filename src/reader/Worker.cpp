// The reader's side of its worker: creating, starting and stopping the
// thread, and the thread's procedure, which serves the stream through
// stream::ServeRequests and then closes what only the worker still uses.
#include "diag/DebugLog.h"
#include "diag/LogLines.h"
#include "host/HostServices.h"
#include "reader/Mirolan.h"
#include "stream/RunMonitor.h"

namespace {

// Committed on Windows (the loop keeps only a few words); the reservation
// behind it, on which the host's callbacks run, is the host's default.
constexpr uint32_t kStackBytes = 0x20000;

}  // namespace

uint32_t CMirolan::RunMonitorThreadProc(void* argument) {
    CMirolan& reader = *static_cast<CMirolan*>(argument);
    platform::RaiseCurrentThreadToTimeCritical();
    const stream::ServeContext context{reader.bVideo,
                                       reader.hFile.get(),
                                       reader.frameTable,
                                       reader.shortFrames,
                                       reader.avih.dwTotalFrames,
                                       reader.audioChunks,
                                       reader.bih,
                                       reader.wfx,
                                       reader.picture,
                                       reader.sound,
                                       reader.frameDuration,
                                       avi::kVideoTimescale,
                                       reader.pStream,
                                       reader.services,
                                       reader.bExit,
                                       reader.staging};
    try {
        stream::ServeRequests(context);
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

bool CMirolan::CreateRunMonitorThread() {
    dwThreadId = 0;
    // Without its worker a stream would never deliver and the host would wait
    // for it for ever: the open fails instead.
    if (!hThread.Create(RunMonitorThreadProc, this, kStackBytes, &dwThreadId)) {
        diag::DebugLog("", diag::kSourceName, diag::kLogWorkerNotCreated,
                       "Run Monitor Thread not created: last error: %d",
                       static_cast<int>(platform::LastError()));
        return false;
    }
    return true;
}

void CMirolan::Start() {
    if (!bSuspended) return;
    pStream->runState = kRunStateRunning;
    bSuspended = false;
    hThread.Resume();
}

void CMirolan::CloseFileAndMapping() {
    hMapFile.reset();
    hFile.reset();
}

bool CMirolan::StopFromOwnWorker() {
    if (!hThread.IsCurrent()) return false;
    if (pStream != nullptr) pStream->runState = kRunStateStopped;
    bExit = true;
    if (pStream != nullptr) host::Wake(services, pStream);
    // The host may release its record as soon as the close returns.
    pStream = nullptr;
    bDestroyOnExit = true;
    return true;
}

void CMirolan::StopRunMonitorThread() {
    if (hThread.IsCurrent()) {
        // Destroyed by its own worker, which has left the loop: nothing to
        // wait for, and a thread that waited for itself would wait for ever.
        diag::DebugLog("", diag::kSourceName, diag::kLogWorkerStopped,
                       "Wait for Exit Run Monitor Thread Completed");
        hThread.Detach();
        return;
    }
    if (pStream != nullptr) pStream->runState = kRunStateStopped;
    bExit = true;
    if (pStream != nullptr) host::Wake(services, pStream);
    // A worker that was never started still waits at its start. Let it run:
    // it finds the flag before its first request and takes its exit step,
    // which is what closes the file; otherwise the wait below never ends.
    if (bSuspended) {
        hThread.Resume();
        bSuspended = false;
    }
    hThread.Join();
    diag::DebugLog("", diag::kSourceName, diag::kLogWorkerStopped,
                   "Wait for Exit Run Monitor Thread Completed");
}
