#include "reader/Mirolan.h"

#include <cstdint>
#include <utility>

#include "diag/DebugLog.h"
#include "reader/ContainerValues.h"

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

// The values the driver gives a descriptor; all zero for the medium the
// stream does not serve.
struct VideoValues {
    int64_t timescale;
    int64_t duration;
    int64_t avgFrameDuration;
    int32_t width;
    int32_t height;
    int32_t streamFlag;
};
struct AudioValues {
    int64_t timescale;
    int64_t duration;
    int32_t sampleRate;
    int32_t channels;
};

// Writes every field of the descriptor that the driver owns, in field order;
// the host's own field is never touched.
void WriteVideoDesc(VideoDesc& video, const VideoValues& values) {
    video.timescale = values.timescale;
    video.duration = values.duration;
    video.avgFrameDuration = values.avgFrameDuration;
    video.width = values.width;
    video.height = values.height;
    video.reservedReal = 0.0f;
    video.streamFlag = values.streamFlag;
    video.reservedWord = 0;
}
void WriteAudioDesc(AudioDesc& audio, const AudioValues& values) {
    audio.headWord = 0;
    audio.timescale = values.timescale;
    audio.duration = values.duration;
    audio.sampleRate = values.sampleRate;
    audio.channels = values.channels;
    audio.reservedWord = 0;
}

}  // namespace

StreamOptions ParseOptions(const uint32_t* options) {
    StreamOptions parsed;
    if (options == nullptr) return parsed;
    for (const uint32_t* pair = options; pair[0] != 0; pair += 2) {
        switch (pair[0]) {
            case QX_TAG_DINT:
                parsed.dintValue = static_cast<int32_t>(pair[1]);
                break;
            case QX_TAG_EARS:
                parsed.bAudio = pair[1] != 0;
                break;
            case QX_TAG_EYES:
                parsed.bVideo = pair[1] != 0;
                break;
            default:  // unknown tags are skipped
                break;
        }
    }
    return parsed;
}

CMirolan::CMirolan(StreamHandle* stream, const char16_t* path, const uint32_t* options)
    : pStream(stream) {
    const StreamOptions parsed = ParseOptions(options);
    bVideo = parsed.bVideo;
    bAudio = parsed.bAudio;
    dintValue = parsed.dintValue;
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
    hFile.reset(platform::OpenFileForSharedRead(path));
    if (hFile == nullptr) throw 0;
    granularity = platform::AllocationGranularity();
    if (!platform::GetFileSize(hFile.get(), &fileSize)) FailOpen();
    diag::DebugLog("", kSource, 324, "%S size is %lld memory granularity is %d ", path,
                   static_cast<long long>(fileSize), static_cast<int>(granularity));

    hMapFile.reset(platform::CreateReadOnlyMapping(hFile.get()));
    if (hMapFile == nullptr) {
        diag::DebugLog("", kSource, 335, "hMapFile is NULL: last error: %d\n",
                       static_cast<int>(platform::LastError()));
        openRefusal = avi::MakeRefusal(avi::RefusalKind::CannotOpen,
                                       "the file cannot be mapped (an empty file cannot)");
        FailOpen();
    }
    openRefusal = avi::Refusal{};

    ContainerValues values;
    const bool servable = ReadContainer(avi::FileSource{hMapFile.get(), fileSize, granularity},
                                        bVideo ? avi::Medium::Video : avi::Medium::Audio, values);
    avih = values.avih;
    videoStrh = values.videoStrh;
    bih = values.bih;
    audioStrh = values.audioStrh;
    wfx = values.wfx;
    baseOffset = values.baseOffset;
    frameTable = std::move(values.frameTable);
    audioChunks = std::move(values.audioChunks);
    indexSource = values.indexSource;
    frameDuration = values.frameDuration;
    openRefusal = values.refusal;
    if (!servable) FailOpen();

    // The worker is created (suspended) before the descriptors are written, so
    // that an open refused for want of a thread leaves them as the host had them.
    if (!CreateRunMonitorThread()) FailOpen();
    if (bVideo) DescribeVideo(path);
    if (bAudio) DescribeAudio();
}

void CMirolan::DescribeVideo(const char16_t* path) {
    VideoDesc& video = *pStream->pVideo;
    // CheckVideoFrames made sure that the product fits 63 bits.
    const auto duration = static_cast<int64_t>(static_cast<uint64_t>(avih.dwTotalFrames) *
                                               static_cast<uint64_t>(frameDuration));
    WriteVideoDesc(video, {kVideoTimescale, duration, frameDuration, bih.biWidth, bih.biHeight, 1});
    WriteAudioDesc(*pStream->pAudio, {});

    diag::DebugLog("", kSource, 372,
                   "Video Mirolan:FileName[%S] Width[%d] Height[%d] avgFrameDuration[%d] Depth[%d] "
                   "Duration[%lld]",
                   path, bih.biWidth, bih.biHeight, static_cast<int>(frameDuration),
                   static_cast<int>(bih.biBitCount), static_cast<long long>(video.duration));
}

void CMirolan::DescribeAudio() {
    // CheckAudioFormat made sure of a scale and a rate that fits 31 bits.
    const uint32_t rate = audioStrh.dwRate / audioStrh.dwScale;
    WriteVideoDesc(*pStream->pVideo, {});
    WriteAudioDesc(*pStream->pAudio,
                   {rate, AudioLength(), static_cast<int32_t>(rate), wfx.nChannels});
}

int64_t CMirolan::AudioLength() const {
    // Files without an OpenDML index come from AVI 1.0 writers, some of which
    // count one sample fewer in the stream header than their chunks hold;
    // players play the chunks, so the host is told of every sample they hold.
    // A file with an OpenDML index keeps its header's length.
    const bool openDml = indexSource == avi::IndexSource::StandardIndex;
    if (openDml || audioChunks.empty()) return audioStrh.dwLength;
    const int64_t held = audioChunks.back().endSample;
    return held > audioStrh.dwLength && held <= INT64_C(0xFFFFFFFF) ? held : audioStrh.dwLength;
}

// Every refusal once the file is open passes here, with openRefusal saying
// why (the earlier ones set it and throw at once); a log line of the reason
// or a checking tool reads it here. The owners release what the open had
// acquired as the throw leaves the constructor.
void CMirolan::FailOpen() { throw 0; }

CMirolan::~CMirolan() { StopRunMonitorThread(); }
