// The reader: one per opened stream. It owns the stream's resources (the
// file, its mapping, the worker thread, the tables and the staging buffer),
// reads the container into its members at open and hands the worker what it
// serves from.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "container/AviLayout.h"
#include "container/AviRecords.h"
#include "container/FileSource.h"
#include "container/IndexSources.h"
#include "container/MediaIndex.h"
#include "format/PictureFormats.h"
#include "format/SoundFormats.h"
#include "qxdriver.h"
#include "reader/Owners.h"
#include "stream/StagingBuffer.h"

// The values the driver writes to the host's StreamHandle::runState; the
// driver itself never reads it.
constexpr int32_t kRunStateRunning = 2;  // written when the stream starts
constexpr int32_t kRunStateStopped = 0;  // written when the stream stops

// The options a stream is opened with: 'eyes', 'ears', 'dint'.
struct StreamOptions {
    bool bVideo = false;
    bool bAudio = false;
    int32_t dintValue = 0;
};

// Parses the host's option list (tag, value pairs up to a tag of 0; null for
// none). Unknown tags are skipped.
StreamOptions ParseOptions(const uint32_t* options);

// The one exception a refused open throws out of the reader's construction,
// with the reason its log line gave. It is the host contract's failure "by
// throwing the integer 0", typed: drv_open catches every exception alike and
// returns 0, and a caller that wants the reason has it here.
struct OpenRefused {
    avi::Refusal refusal;
};

class CMirolan {
public:
    // Opens the stream: parses the options, checks and maps the file, reads its
    // headers and index, creates the worker suspended and fills the host's
    // descriptors. A refusal, whatever its cause (out of memory included), is
    // logged as the open's last line and thrown as OpenRefused, the only
    // exception that leaves; whatever the open had acquired is released by
    // its owner.
    CMirolan(StreamHandle* stream, const char16_t* path, const uint32_t* options);

    // Stops the worker (waiting for it to end); the members then release the
    // tables, the staging buffer, the mapping and the file.
    virtual ~CMirolan();

    CMirolan(const CMirolan&) = delete;
    CMirolan& operator=(const CMirolan&) = delete;

    // Starts the worker created by the open: runState becomes running and the
    // thread runs. Only the first call does anything.
    void Start();
    // Stops the worker and waits for it to end (it closes the file and the
    // mapping on its way out); a worker never started is let run to its exit
    // step. On the worker's own thread it only lets the thread go.
    void StopRunMonitorThread();
    // The registry of opened readers: true when `reader` is one that a
    // successful open made and that is not yet destroyed. Unregister removes
    // it and says whether it was there, so that of two closes of one record
    // only one goes on.
    static bool IsLive(const void* reader);
    static bool Unregister(const void* reader);
    // For a close on the worker's own thread (from inside a host service the
    // worker called): asks the worker to stop once that call returns and to
    // destroy the reader itself as it ends; true, and the caller must not
    // touch the reader again. False on any other thread.
    bool StopFromOwnWorker();

    // The reader's documented record. dwThreadId, granularity, videoStrh and
    // baseOffset are part of it and kept (and filled) even where nothing of
    // ours reads them after the open.
    bool bVideo = false;
    bool bAudio = false;
    int32_t dintValue = 0;
    WorkerThread hThread;
    uint32_t dwThreadId = 0;
    bool bSuspended = true;
    std::atomic<bool> bExit{false};
    std::deque<AudioChunk> audioChunks;
    // Declared before the mapping, so that the mapping is closed first.
    FileOwner hFile;
    MappingOwner hMapFile;
    avi::BITMAPINFOHEADER bih{};
    avi::WAVEFORMATEX wfx{};
    int64_t fileSize = 0;
    uint32_t granularity = 0;
    avi::MainAVIHeader avih{};
    avi::AVIStreamHeader audioStrh{};
    avi::AVIStreamHeader videoStrh{};
    std::vector<FrameEntry> frameTable;
    std::vector<ShortFrame> shortFrames;  // frames whose chunk holds less than a frame
    int64_t baseOffset = 0;
    StreamHandle* pStream = nullptr;
    // The host's services as the export last stored them when this stream
    // was opened: the worker and the stop call these, whatever a later call
    // of the export stores for later opens.
    HostServices services{};

    // Why the open refused the file (kind None after a successful open; a
    // refused open logs it as its last line), and which index built the
    // tables.
    avi::Refusal openRefusal{};
    avi::IndexSource indexSource = avi::IndexSource::None;
    // Video frame duration in 100 ns units, from the stream's scale and rate.
    int64_t frameDuration = 0;
    // The served stream's number in the file (for tools; never served from).
    int32_t streamNumber = -1;
    // The served stream's layout from the format tables: what the worker's
    // reads convert from.
    format::PictureFormat picture;
    format::SoundFormat sound;
    // Worker-only: the audio staging buffer, kept between requests while it is small.
    stream::StagingBuffer staging;
    // Worker-only: the host closed the stream on the worker's own thread.
    bool bDestroyOnExit = false;

private:
    CMirolan(StreamHandle* stream, const char16_t* path, const StreamOptions& options);
    // The reason a host's open whose record is null or lacks the wanted
    // medium's descriptor is refused; kind None when the record will do.
    avi::Refusal CheckHostRecord() const;
    static void Register(const CMirolan* reader);
    // Every refusal of the open passes here: logs it as the open's last
    // line, keeps it in openRefusal and throws it as OpenRefused; the owners
    // release what the open had acquired.
    [[noreturn]] void Refuse(const avi::Refusal& refusal);
    bool CreateRunMonitorThread();
    // The worker's procedure: serves the stream, then closes the file and
    // the mapping and logs its end; destroys the reader when the host closed
    // the stream on this thread. Never lets an exception out.
    static uint32_t RunMonitorThreadProc(void* reader);
    void CloseFileAndMapping();
    void DescribeVideo(const std::string& name);
    void DescribeAudio();
    // Samples the host is told of: the stream header's length, or the
    // samples the chunks hold when a file without an OpenDML index says fewer
    // or when the header's rate is not the one served.
    int64_t AudioLength(bool headerRateDisagrees) const;
};
