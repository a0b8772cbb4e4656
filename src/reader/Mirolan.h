// The reader: one per opened stream. Its members are the data model that the
// header walk and index fill at open and the worker reads while serving.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

#include "container/AviLayout.h"
#include "container/AviRecords.h"
#include "container/FileSource.h"
#include "container/IndexSources.h"
#include "container/MediaIndex.h"
#include "platform/platform.h"
#include "qxdriver.h"
#include "reader/CheckFile.h"
#include "stream/SampleBlock.h"

class CMirolan {
public:
    // Opens the stream: parses the options, checks and maps the file, reads its
    // headers and index, fills the host's descriptors and creates the worker
    // suspended. Throws int 0 (or std::bad_alloc) on failure, having released
    // whatever it had acquired.
    CMirolan(StreamHandle* stream, const char16_t* path, const uint32_t* options);

    // Initial state and options only; no file is touched. For tests that fill
    // the tables themselves.
    struct NotOpened {};
    CMirolan(StreamHandle* stream, const uint32_t* options, NotOpened);

    // Stops the worker (waiting for it to end), then releases the tables.
    virtual ~CMirolan();

    CMirolan(const CMirolan&) = delete;
    CMirolan& operator=(const CMirolan&) = delete;

    // Worker (run monitor thread): created suspended, started by drv_start,
    // stopped by the destructor. False (logged) when it cannot be created.
    bool CreateRunMonitorThread();
    void StopRunMonitorThread();
    // For a close on the worker's own thread (from inside a host service the
    // worker called): asks the worker to stop once that call returns and to
    // destroy the reader itself as it ends; true, and the caller must not
    // touch the reader again. False on any other thread.
    bool StopFromOwnWorker();

    // Reads byteCount bytes at frameOffset straight into destination. False
    // only when positioning the file fails.
    bool ReadVideoFrame(uint32_t byteCount, int64_t frameOffset, uint8_t* destination);
    // Fills the request's channel buffers with the samples [start, end). False
    // ends the worker.
    bool ReadAudioSamples(const SampleBlock& request);

    // Closes the mapping, then the file, whichever is still open.
    void CloseFileAndMapping();

    // The file as the container code reads it: mapping, size, granularity.
    avi::FileSource Source() const { return avi::FileSource{hMapFile, fileSize, granularity}; }

    // Reads the file's headers and the served stream's index into the
    // members (avih, the stream headers and formats, frameTable or
    // audioChunks) and checks that the stream can be served. False, with
    // the reason in openRefusal, when it cannot. For a video stream
    // bih.biSizeImage then holds the stored frame size and avih.dwTotalFrames
    // the number of frames found. A refused file whose main header lacks the
    // has-index flag logs line 510. May throw std::bad_alloc.
    bool ReadContainer();

    bool bVideo = false;
    bool bAudio = false;
    int32_t dintValue = 0;
    platform::ThreadHandle hThread = nullptr;
    uint32_t dwThreadId = 0;
    bool bSuspended = true;
    std::atomic<bool> bExit{false};
    std::deque<AudioChunk> audioChunks;
    platform::FileHandle hFile = nullptr;
    platform::MappingHandle hMapFile = nullptr;
    avi::BITMAPINFOHEADER bih{};
    avi::WAVEFORMATEX wfx{};
    int64_t fileSize = 0;
    uint32_t granularity = 0;
    avi::MainAVIHeader avih{};
    avi::AVIStreamHeader audioStrh{};
    avi::AVIStreamHeader videoStrh{};
    std::vector<FrameEntry> frameTable;
    int64_t baseOffset = 0;
    StreamHandle* pStream = nullptr;

    // Why the open refused the file (kind None after a successful open; a
    // refused open logs it as its last line), and which index built the
    // tables.
    avi::Refusal openRefusal{};
    avi::IndexSource indexSource = avi::IndexSource::None;
    // Video frame duration in 100 ns units, from the stream's scale and rate.
    int64_t frameDuration = 0;

    // Worker-only scratch: the audio staging buffer, kept between requests
    // while it is small; whether its failure was logged already.
    uint8_t* stagingBuffer = nullptr;
    size_t stagingCapacity = 0;
    bool stagingFailureLogged = false;
    // Worker-only: the host closed the stream on the worker's own thread.
    bool bDestroyOnExit = false;

private:
    friend avi::Refusal mirolan::CheckFile(const char16_t* path, avi::Medium medium);
    void Open(const char16_t* path);
    void LogRefusal();
    [[noreturn]] void FailOpen();
    void DescribeVideo(const char16_t* path);
    void DescribeAudio();
    // Samples the host is told of: the stream header's length, or the
    // samples the chunks hold when a file without an OpenDML index says fewer.
    int64_t AudioLength() const;
    void ReleaseTables();
    bool ReadContainerValues();
    bool haveMainHeaderWithoutIndexFlag = false;
};

// Parses the host's option list into the reader: 'eyes', 'ears', 'dint'.
void ParseOptions(const uint32_t* options, CMirolan& reader);
