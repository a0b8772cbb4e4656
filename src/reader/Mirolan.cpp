#include "reader/Mirolan.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "container/HeaderWalk.h"
#include "container/StreamRules.h"
#include "diag/DebugLog.h"
#include "diag/LogLines.h"

namespace {

constexpr int64_t kVideoTimescale = 10000000;

// The text from the last "." of the final path component to the end, or the
// empty string when that component has none. A separator or a blank ends a
// candidate, so a "." inside a folder name never counts.
const char16_t* FindExtension(const char16_t* path) {
    const char16_t* lastDot = nullptr;
    const char16_t* p = path;
    for (; *p != 0; ++p) {
        if (*p == u'\\' || *p == u'/' || *p == u' ') {
            lastDot = nullptr;
        } else if (*p == u'.') {
            lastDot = p;
        }
    }
    return lastDot != nullptr ? lastDot : p;
}

int RefusalLogLine(avi::RefusalKind kind) {
    switch (kind) {
        case avi::RefusalKind::None:  // not a refusal: never logged as one
        case avi::RefusalKind::Unreadable:
            return diag::kLogRefusedUnreadable;
        case avi::RefusalKind::NotAviName:
            return diag::kLogRefusedNotAviName;
        case avi::RefusalKind::NoMedium:
            return diag::kLogRefusedNoMedium;
        case avi::RefusalKind::CannotOpen:
            return diag::kLogRefusedCannotOpen;
        case avi::RefusalKind::NotRiffAvi:
            return diag::kLogRefusedNotRiffAvi;
        case avi::RefusalKind::NoMainHeader:
            return diag::kLogRefusedNoMainHeader;
        case avi::RefusalKind::NoStream:
            return diag::kLogRefusedNoStream;
        case avi::RefusalKind::CompressedVideo:
            return diag::kLogRefusedCompressedVideo;
        case avi::RefusalKind::VideoBitDepth:
            return diag::kLogRefusedVideoBitDepth;
        case avi::RefusalKind::VideoFrameSize:
            return diag::kLogRefusedVideoFrameSize;
        case avi::RefusalKind::AudioNotPcm:
            return diag::kLogRefusedAudioNotPcm;
        case avi::RefusalKind::AudioSampleSize:
            return diag::kLogRefusedAudioSampleSize;
        case avi::RefusalKind::AudioFormat:
            return diag::kLogRefusedAudioFormat;
        case avi::RefusalKind::RateOrScale:
            return diag::kLogRefusedRateOrScale;
        case avi::RefusalKind::NoIndexNoMovie:
            return diag::kLogRefusedNoIndexNoMovie;
        case avi::RefusalKind::NoFrames:
            return diag::kLogRefusedNoFrames;
        case avi::RefusalKind::NoWorker:
            return diag::kLogRefusedNoWorker;
        case avi::RefusalKind::OutOfMemory:
            return diag::kLogRefusedOutOfMemory;
    }
    return diag::kLogRefusedUnreadable;
}

bool IsExactlyAviExtension(const char16_t* path) {
    const char16_t* extension = FindExtension(path);
    static const char16_t kAvi[] = u".avi";
    for (size_t i = 0; i < 5; ++i) {
        if (extension[i] != kAvi[i]) return false;
    }
    return true;
}

}  // namespace

void ParseOptions(const uint32_t* options, CMirolan& reader) {
    if (options == nullptr) return;
    for (const uint32_t* pair = options; pair[0] != 0; pair += 2) {
        switch (pair[0]) {
            case QX_TAG_DINT:
                reader.dintValue = static_cast<int32_t>(pair[1]);
                break;
            case QX_TAG_EARS:
                reader.bAudio = pair[1] != 0;
                break;
            case QX_TAG_EYES:
                reader.bVideo = pair[1] != 0;
                break;
            default:  // unknown tags are skipped
                break;
        }
    }
}

CMirolan::CMirolan(StreamHandle* stream, const uint32_t* options, NotOpened) : pStream(stream) {
    ParseOptions(options, *this);
}

CMirolan::CMirolan(StreamHandle* stream, const char16_t* path, const uint32_t* options)
    : pStream(stream) {
    ParseOptions(options, *this);
    try {
        Open(path);
        // Without its worker a stream would never deliver: the open fails.
        if (!CreateRunMonitorThread()) {
            openRefusal = avi::MakeRefusal(avi::RefusalKind::NoWorker,
                                           "the system would not create the worker thread");
            FailOpen();
        }
    } catch (const std::bad_alloc&) {
        // Wherever it came from, nothing of the open may stay held.
        CloseFileAndMapping();
        ReleaseTables();
        openRefusal = avi::MakeRefusal(avi::RefusalKind::OutOfMemory,
                                       "out of memory for the index of a %lld-byte file",
                                       static_cast<long long>(fileSize));
        LogRefusal();
        throw;
    } catch (...) {
        LogRefusal();
        throw;
    }
    // The worker is created (suspended) before the descriptors are written, so
    // that a refused open leaves them as the host had them.
    if (bVideo) DescribeVideo(path);
    if (bAudio) DescribeAudio();
}

namespace mirolan {

avi::Refusal CheckFile(const char16_t* path, avi::Medium medium) {
    const uint32_t options[] = {medium == avi::Medium::Video ? QX_TAG_EYES : QX_TAG_EARS, 1, 0, 0};
    CMirolan reader(nullptr, options, CMirolan::NotOpened{});
    try {
        reader.Open(path);
    } catch (const std::bad_alloc&) {
        reader.openRefusal = avi::MakeRefusal(avi::RefusalKind::OutOfMemory,
                                              "out of memory for the index of a %lld-byte file",
                                              static_cast<long long>(reader.fileSize));
        reader.LogRefusal();
    } catch (...) {
        reader.LogRefusal();
    }
    return reader.openRefusal;
}

}  // namespace mirolan

// The reason's own line: the last line of every refused open, so that the
// user learns why from the log alone.
void CMirolan::LogRefusal() {
    if (!openRefusal.Refused()) {  // every refusal names its kind; this is a safety net
        openRefusal = avi::MakeRefusal(avi::RefusalKind::Unreadable, "the file cannot be read");
    }
    diag::DebugLog("", diag::kSourceName, RefusalLogLine(openRefusal.kind), "Refused: %s",
                   openRefusal.text);
}

// Reads and checks the file up to the point where the stream can be served;
// the worker and the descriptors are the constructor's.
void CMirolan::Open(const char16_t* path) {
    if (!IsExactlyAviExtension(path)) {
        diag::DebugLog("", diag::kSourceName, diag::kLogNotAvi, "Not a avi File\n");
        openRefusal = avi::MakeRefusal(avi::RefusalKind::NotAviName,
                                       "the file name does not end in \".avi\"");
        throw 0;
    }
    // A stream carries exactly one medium; anything else has no defined service.
    if (bVideo == bAudio) {
        openRefusal = avi::MakeRefusal(
            avi::RefusalKind::NoMedium,
            "the host asked for %s in one stream; a stream carries either video or audio",
            bVideo ? "both video and audio" : "neither video nor audio");
        throw 0;
    }

    hFile = platform::OpenFileForSharedRead(path);
    if (hFile == nullptr) {
        openRefusal = avi::MakeRefusal(avi::RefusalKind::CannotOpen,
                                       "the file cannot be opened for reading (system error %d)",
                                       static_cast<int>(platform::LastError()));
        throw 0;
    }
    openRefusal = avi::MakeRefusal(avi::RefusalKind::CannotOpen, "the file size cannot be read");
    granularity = platform::AllocationGranularity();
    if (!platform::GetFileSize(hFile, &fileSize)) FailOpen();
    diag::DebugLog("", diag::kSourceName, diag::kLogFileSize,
                   "%S size is %lld memory granularity is %d ", path,
                   static_cast<long long>(fileSize), static_cast<int>(granularity));

    hMapFile = platform::CreateReadOnlyMapping(hFile);
    if (hMapFile == nullptr) {
        const int error = static_cast<int>(platform::LastError());  // before the log's own calls
        diag::DebugLog("", diag::kSourceName, diag::kLogMappingFailed,
                       "hMapFile is NULL: last error: %d\n", error);
        openRefusal =
            avi::MakeRefusal(avi::RefusalKind::CannotOpen,
                             "the file is empty or cannot be mapped (system error %d)", error);
        FailOpen();
    }
    openRefusal = avi::Refusal{};

    try {
        if (!ReadContainer()) FailOpen();
    } catch (const int&) {
        throw;
    } catch (...) {
        CloseFileAndMapping();
        ReleaseTables();
        throw;
    }
}

bool CMirolan::ReadContainer() {
    if (ReadContainerValues()) return true;
    // A file whose main header says it has no index, and which cannot be
    // served, is refused with the line such files have always had.
    if (haveMainHeaderWithoutIndexFlag) {
        diag::DebugLog("", diag::kSourceName, diag::kLogNotIndexed,
                       "AVI is not indexed we cann't use this AVI");
    }
    return false;
}

bool CMirolan::ReadContainerValues() {
    const avi::FileSource source = Source();
    const avi::Medium medium = bVideo ? avi::Medium::Video : avi::Medium::Audio;
    avi::AviLayout layout;
    const avi::WalkResult walk = avi::WalkHeaders(source, medium, layout);
    avih = layout.avih;
    videoStrh = layout.videoStrh;
    bih = layout.bih;
    audioStrh = layout.audioStrh;
    wfx = layout.wfx;
    baseOffset = layout.baseOffset;
    haveMainHeaderWithoutIndexFlag = layout.haveMainHeader && !layout.hasIndexFlag;
    if (walk.end == avi::WalkEnd::Refused) {
        openRefusal = walk.refusal;
        return false;
    }
    if (!layout.haveMainHeader) {
        openRefusal =
            layout.startsRiffAvi
                ? avi::MakeRefusal(avi::RefusalKind::NoMainHeader, "no main header ('avih')")
                : avi::MakeRefusal(avi::RefusalKind::NotRiffAvi, "not a RIFF AVI file");
        return false;
    }

    uint32_t frameSize = 0;
    openRefusal =
        bVideo ? avi::CheckVideoFormat(layout, &frameSize) : avi::CheckAudioFormat(layout);
    if (openRefusal.Refused()) return false;
    if (bVideo) {
        bih.biSizeImage = frameSize;  // what the worker reads for each frame
        frameDuration = static_cast<int64_t>(avi::FrameDuration(videoStrh));
    }

    avi::MediaIndex index;
    const avi::IndexTarget target{medium, frameSize, &layout};
    indexSource = avi::OpenIndex(source, target, index, openRefusal);
    baseOffset = index.baseOffset;  // a walk stopped at 'movi' had read none yet
    if (indexSource == avi::IndexSource::None) return false;
    if (bVideo) avi::TrimFrameTable(index);  // the table lives as long as the stream
    frameTable = std::move(index.frameTable);
    audioChunks = std::move(index.audioChunks);
    if (!bVideo) return true;
    avih.dwTotalFrames = static_cast<uint32_t>(frameTable.size());
    openRefusal = avi::CheckVideoFrames(layout, frameTable.size());
    return !openRefusal.Refused();
}

void CMirolan::DescribeVideo(const char16_t* path) {
    VideoDesc& video = *pStream->pVideo;
    video.timescale = kVideoTimescale;
    // CheckVideoFrames made sure that the product fits 63 bits.
    video.duration = static_cast<int64_t>(static_cast<uint64_t>(avih.dwTotalFrames) *
                                          static_cast<uint64_t>(frameDuration));
    video.avgFrameDuration = frameDuration;
    video.width = bih.biWidth;
    video.height = bih.biHeight;
    video.reservedReal = 0.0f;
    video.streamFlag = 1;
    video.reservedWord = 0;

    AudioDesc& audio = *pStream->pAudio;
    audio.headWord = 0;
    audio.timescale = 0;
    audio.duration = 0;
    audio.sampleRate = 0;
    audio.channels = 0;
    audio.reservedWord = 0;

    diag::DebugLog("", diag::kSourceName, diag::kLogVideoDescription,
                   "Video Mirolan:FileName[%S] Width[%d] Height[%d] avgFrameDuration[%d] Depth[%d] "
                   "Duration[%lld]",
                   path, bih.biWidth, bih.biHeight, static_cast<int>(frameDuration),
                   static_cast<int>(bih.biBitCount), static_cast<long long>(video.duration));
}

void CMirolan::DescribeAudio() {
    // CheckAudioFormat made sure of a scale and a rate that fits 31 bits.
    const uint32_t rate = audioStrh.dwRate / audioStrh.dwScale;

    VideoDesc& video = *pStream->pVideo;
    video.timescale = 0;
    video.duration = 0;
    video.avgFrameDuration = 0;
    video.width = 0;
    video.height = 0;
    video.reservedReal = 0.0f;
    video.streamFlag = 0;
    video.reservedWord = 0;

    AudioDesc& audio = *pStream->pAudio;
    audio.headWord = 0;
    audio.timescale = rate;
    audio.duration = AudioLength();
    audio.sampleRate = static_cast<int32_t>(rate);
    audio.channels = wfx.nChannels;
    audio.reservedWord = 0;
}

int64_t CMirolan::AudioLength() const {
    // Files without an OpenDML index come from AVI 1.0 writers, some of which
    // count one sample fewer in the stream header than their chunks hold;
    // players play the chunks, so the host is told of every sample they hold.
    // A file with an OpenDML index keeps its header's length.
    const bool openDml = indexSource == avi::IndexSource::StandardIndex ||
                         indexSource == avi::IndexSource::SuperIndex;
    if (openDml || audioChunks.empty()) return audioStrh.dwLength;
    const int64_t held = audioChunks.back().endSample;
    return held > audioStrh.dwLength && held <= INT64_C(0xFFFFFFFF) ? held : audioStrh.dwLength;
}

// Every refusal once the file is open passes here, with openRefusal saying
// why (the earlier ones set it and throw at once); a log line of the reason
// or a checking tool reads it here.
void CMirolan::FailOpen() {
    CloseFileAndMapping();
    ReleaseTables();
    throw 0;
}

void CMirolan::CloseFileAndMapping() {
    if (hMapFile != nullptr) {
        platform::CloseMapping(hMapFile);
        hMapFile = nullptr;
    }
    if (hFile != nullptr) {
        platform::CloseFile(hFile);
        hFile = nullptr;
    }
}

void CMirolan::ReleaseTables() {
    std::deque<AudioChunk>().swap(audioChunks);
    std::vector<FrameEntry>().swap(frameTable);
}

CMirolan::~CMirolan() {
    // A reader with neither a worker nor a host's stream (one only checked)
    // has nothing to stop and no one to tell.
    if (hThread != nullptr || pStream != nullptr) StopRunMonitorThread();
    // The worker closes both on its way out; when it was never created they
    // are still open here.
    CloseFileAndMapping();
    ReleaseTables();
    std::free(stagingBuffer);
}
