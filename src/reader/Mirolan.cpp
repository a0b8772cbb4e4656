#include "reader/Mirolan.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "container/HeaderWalk.h"
#include "container/StreamRules.h"
#include "diag/DebugLog.h"

namespace {

constexpr const char* kSource = "Mirolan";
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
    Open(path);
}

void CMirolan::Open(const char16_t* path) {
    if (!IsExactlyAviExtension(path)) {
        diag::DebugLog("", kSource, 299, "Not a avi File\n");
        openRefusal = avi::MakeRefusal(avi::RefusalKind::NotAviName,
                                       "the file name does not end in \".avi\"");
        throw 0;
    }
    // A stream carries exactly one medium; anything else has no defined service.
    if (bVideo == bAudio) {
        openRefusal = avi::MakeRefusal(avi::RefusalKind::NoMedium, "the stream asks for %s",
                                       bVideo ? "video and audio" : "no medium");
        throw 0;
    }

    openRefusal = avi::MakeRefusal(avi::RefusalKind::CannotOpen, "the file cannot be opened");
    hFile = platform::OpenFileForSharedRead(path);
    if (hFile == nullptr) throw 0;
    granularity = platform::AllocationGranularity();
    if (!platform::GetFileSize(hFile, &fileSize)) FailOpen();
    diag::DebugLog("", kSource, 324, "%S size is %lld memory granularity is %d ", path,
                   static_cast<long long>(fileSize), static_cast<int>(granularity));

    hMapFile = platform::CreateReadOnlyMapping(hFile);
    if (hMapFile == nullptr) {
        diag::DebugLog("", kSource, 335, "hMapFile is NULL: last error: %d\n",
                       static_cast<int>(platform::LastError()));
        openRefusal = avi::MakeRefusal(avi::RefusalKind::CannotOpen,
                                       "the file cannot be mapped (an empty file cannot)");
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

    // The worker is created (suspended) before the descriptors are written, so
    // that an open refused for want of a thread leaves them as the host had them.
    if (!CreateRunMonitorThread()) FailOpen();
    if (bVideo) DescribeVideo(path);
    if (bAudio) DescribeAudio();
}

bool CMirolan::ReadContainer() {
    if (ReadContainerValues()) return true;
    // A file whose main header says it has no index, and which cannot be
    // served, is refused with the line such files have always had.
    if (haveMainHeaderWithoutIndexFlag) {
        diag::DebugLog("", kSource, 510, "AVI is not indexed we cann't use this AVI");
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

    diag::DebugLog("", kSource, 372,
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
    audio.duration = audioStrh.dwLength;
    audio.sampleRate = static_cast<int32_t>(rate);
    audio.channels = wfx.nChannels;
    audio.reservedWord = 0;
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
    StopRunMonitorThread();
    // The worker closes both on its way out; when it was never created they
    // are still open here.
    CloseFileAndMapping();
    ReleaseTables();
    std::free(stagingBuffer);
}
