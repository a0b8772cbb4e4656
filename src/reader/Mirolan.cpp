#include "reader/Mirolan.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "container/OpenStream.h"
#include "container/StreamRules.h"
#include "diag/DebugLog.h"
#include "diag/LogLines.h"
#include "host/HostServices.h"
#include "reader/CheckFile.h"

namespace {

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

namespace {

// The reason line of a refused open: its last line, so that the user learns
// why from the log alone.
void LogRefusal(const avi::Refusal& refusal) {
    diag::DebugLog("", diag::kSourceName, avi::RefusalLogLine(refusal.kind), "Refused: %s",
                   refusal.text);
}

avi::Refusal OutOfMemory(int64_t fileSize) {
    return avi::MakeRefusal(avi::RefusalKind::OutOfMemory,
                            "out of memory for the index of a %lld-byte file",
                            static_cast<long long>(fileSize));
}

// One stream's file as the open leaves it: the file, its mapping and what
// the container read from it.
struct OpenedFile {
    FileOwner file;
    MappingOwner mapping;
    int64_t fileSize = 0;
    uint32_t granularity = 0;
    avi::StreamTables tables;
    std::string name;  // the path in UTF-8, for the log's lines
};

// The open's reading of the file, the same for a host's open and a check:
// the name, the medium, the file opened, sized and mapped, the container's
// steps, and a read that failed on the way. Returns the refusal (kind None
// when the stream can be served); its log lines are the open's, up to the
// reason line, which the caller writes. May throw std::bad_alloc.
avi::Refusal ReadFile(const char16_t* path, const StreamOptions& options, OpenedFile& opened) {
    if (path == nullptr) {
        return avi::MakeRefusal(avi::RefusalKind::NotAviName,
                                "the host gave no file name (the path is null)");
    }
    if (!IsExactlyAviExtension(path)) {
        diag::DebugLog("", diag::kSourceName, diag::kLogNotAvi, "Not a avi File\n");
        return avi::MakeRefusal(avi::RefusalKind::NotAviName,
                                "the file name does not end in \".avi\"");
    }
    // A stream carries exactly one medium; anything else has no defined service.
    if (options.bVideo == options.bAudio) {
        return avi::MakeRefusal(
            avi::RefusalKind::NoMedium,
            "the host asked for %s in one stream; a stream carries either video or audio",
            options.bVideo ? "both video and audio" : "neither video nor audio");
    }

    opened.file.reset(platform::OpenFileForSharedRead(path));
    if (opened.file == nullptr) {
        return avi::MakeRefusal(avi::RefusalKind::CannotOpen,
                                "the file cannot be opened for reading (system error %d)",
                                static_cast<int>(platform::LastError()));
    }
    opened.granularity = platform::AllocationGranularity();
    if (!platform::GetFileSize(opened.file.get(), &opened.fileSize)) {
        return avi::MakeRefusal(avi::RefusalKind::CannotOpen, "the file size cannot be read");
    }
    const int64_t fileSize = opened.fileSize;
    opened.name = platform::Utf16ToUtf8(path);
    diag::DebugLog("", diag::kSourceName, diag::kLogFileSize,
                   "%s size is %lld memory granularity is %d ", opened.name.c_str(),
                   static_cast<long long>(fileSize), static_cast<int>(opened.granularity));
    // Said before the mapping, which an empty file fails with an error
    // number of its own on each system: the reason is the file's, not the system's.
    if (fileSize == 0) return avi::MakeRefusal(avi::RefusalKind::NotRiffAvi, "the file is empty");
    if (fileSize < static_cast<int64_t>(avi::kListHeaderSize)) {
        return avi::MakeRefusal(
            avi::RefusalKind::NotRiffAvi,
            "the file is %lld bytes long, shorter than a RIFF header (12 bytes)",
            static_cast<long long>(fileSize));
    }

    opened.mapping.reset(platform::CreateReadOnlyMapping(opened.file.get()));
    if (opened.mapping == nullptr) {
        const int error = static_cast<int>(platform::LastError());  // before the log's own calls
        diag::DebugLog("", diag::kSourceName, diag::kLogMappingFailed,
                       "hMapFile is NULL: last error: %d\n", error);
        return avi::MakeRefusal(avi::RefusalKind::CannotOpen,
                                "the file is empty or cannot be mapped (system error %d)", error);
    }

    const avi::Refusal refusal =
        avi::OpenStream(avi::FileSource{opened.mapping.get(), fileSize, opened.granularity},
                        options.bVideo ? avi::Medium::Video : avi::Medium::Audio, opened.tables);
    // What the open read must be the whole file: a stream built from part of
    // it (a failed read taken for its end) would be served shortened.
    uint64_t failedAt = 0;
    uint32_t systemError = 0;
    if (platform::FirstViewFailure(opened.mapping.get(), &failedAt, &systemError)) {
        return systemError != 0
                   ? avi::MakeRefusal(avi::RefusalKind::ReadFailed,
                                      "the file could not be read at offset %llu (system error %u)",
                                      static_cast<unsigned long long>(failedAt), systemError)
                   : avi::MakeRefusal(avi::RefusalKind::ReadFailed,
                                      "the file ended at offset %llu, before the %lld bytes it "
                                      "had when opened: it changed while being read",
                                      static_cast<unsigned long long>(failedAt),
                                      static_cast<long long>(fileSize));
    }
    return refusal;
}

// ReadFile, with a refused allocation as the refusal OutOfMemory.
avi::Refusal ReadFileWithinMemory(const char16_t* path, const StreamOptions& options,
                                  OpenedFile& opened) {
    try {
        return ReadFile(path, options, opened);
    } catch (const std::bad_alloc&) {
        return OutOfMemory(opened.fileSize);
    } catch (...) {  // every failure names its kind; this is a safety net
        return avi::MakeRefusal(avi::RefusalKind::Unreadable, "the file cannot be read");
    }
}

StreamOptions OptionsOf(avi::Medium medium) {
    StreamOptions options;
    options.bVideo = medium == avi::Medium::Video;
    options.bAudio = !options.bVideo;
    return options;
}

}  // namespace

CMirolan::CMirolan(StreamHandle* stream, const char16_t* path, const uint32_t* options)
    : CMirolan(stream, path, ParseOptions(options)) {}

CMirolan::CMirolan(StreamHandle* stream, const char16_t* path, const StreamOptions& options)
    : bVideo(options.bVideo),
      bAudio(options.bAudio),
      dintValue(options.dintValue),
      pStream(stream),
      services(host::Current()) {
    std::string name;  // the path as the log writes it, made while a failure still refuses
    try {
        // The host's record to hand the reader back in, with the descriptor
        // of the medium it asks for.
        const avi::Refusal badRecord = CheckHostRecord();
        if (badRecord.Refused()) Refuse(badRecord);
        // Registered before anything can fail after the worker exists;
        // every failure below takes it out again.
        Register(this);
        OpenedFile opened;
        const avi::Refusal refusal = ReadFileWithinMemory(path, options, opened);
        fileSize = opened.fileSize;
        if (refusal.Refused()) Refuse(refusal);
        name = std::move(opened.name);
        // The one move from what the container read into the reader's members.
        hFile = std::move(opened.file);
        hMapFile = std::move(opened.mapping);
        granularity = opened.granularity;
        avi::StreamTables& tables = opened.tables;
        avih = tables.avih;
        videoStrh = tables.videoStrh;
        bih = tables.bih;
        audioStrh = tables.audioStrh;
        wfx = tables.wfx;
        baseOffset = tables.baseOffset;
        frameTable = std::move(tables.frameTable);
        shortFrames = std::move(tables.shortFrames);
        audioChunks = std::move(tables.audioChunks);
        indexSource = tables.indexSource;
        frameDuration = tables.frameDuration;
        streamNumber = tables.streamNumber;
        picture = tables.picture;
        sound = tables.sound;
        // Without its worker a stream would never deliver: the open fails.
        if (!CreateRunMonitorThread()) {
            Refuse(avi::MakeRefusal(avi::RefusalKind::NoWorker,
                                    "the system would not create the worker thread"));
        }
    } catch (const OpenRefused&) {
        Unregister(this);
        throw;
    } catch (const std::bad_alloc&) {
        Unregister(this);
        Refuse(OutOfMemory(fileSize));
    } catch (...) {  // every failure names its kind; this is a safety net
        Unregister(this);
        Refuse(avi::MakeRefusal(avi::RefusalKind::Unreadable, "the file cannot be read"));
    }
    // The worker is created (suspended) before the descriptors are written, so
    // that a refused open leaves them as the host had them.
    if (bVideo) DescribeVideo(name);
    if (bAudio) DescribeAudio();
}

namespace mirolan {

avi::Refusal CheckFile(const char16_t* path, avi::Medium medium) {
    OpenedFile opened;
    const avi::Refusal refusal = ReadFileWithinMemory(path, OptionsOf(medium), opened);
    if (refusal.Refused()) LogRefusal(refusal);
    return refusal;
}

StreamFacts ReadStreamFacts(const char16_t* path, avi::Medium medium) {
    StreamFacts facts;
    try {
        OpenedFile opened;
        facts.refusal = ReadFileWithinMemory(path, OptionsOf(medium), opened);
        if (facts.refusal.Refused()) {
            LogRefusal(facts.refusal);
            return facts;
        }
        const avi::StreamTables& tables = opened.tables;
        facts.strh = medium == avi::Medium::Video ? tables.videoStrh : tables.audioStrh;
        facts.bih = tables.bih;
        facts.wfx = tables.wfx;
        facts.streamNumber = tables.streamNumber;
        facts.audioChunkFirst.reserve(tables.audioChunks.size());
        facts.audioChunkEnd.reserve(tables.audioChunks.size());
        for (const AudioChunk& chunk : tables.audioChunks) {
            facts.audioChunkFirst.push_back(chunk.firstSample);
            facts.audioChunkEnd.push_back(chunk.endSample);
        }
    } catch (const std::bad_alloc&) {
        facts = StreamFacts{};
        facts.refusal = avi::MakeRefusal(avi::RefusalKind::OutOfMemory, "out of memory");
    }
    return facts;
}

}  // namespace mirolan

void CMirolan::Refuse(const avi::Refusal& refusal) {
    openRefusal = refusal;
    LogRefusal(openRefusal);
    throw OpenRefused{openRefusal};
}

avi::Refusal CMirolan::CheckHostRecord() const {
    if (pStream == nullptr) {
        return avi::MakeRefusal(avi::RefusalKind::NoMedium,
                                "the host gave no stream record (the stream is null)");
    }
    // Only the wanted medium's descriptor is needed; the other may be null.
    if (bVideo && !bAudio && pStream->pVideo == nullptr) {
        return avi::MakeRefusal(
            avi::RefusalKind::NoMedium,
            "the host asked for video but its stream record has no video descriptor (pVideo is "
            "null)");
    }
    if (bAudio && !bVideo && pStream->pAudio == nullptr) {
        return avi::MakeRefusal(
            avi::RefusalKind::NoMedium,
            "the host asked for audio but its stream record has no audio descriptor (pAudio is "
            "null)");
    }
    return avi::Refusal{};
}

// The descriptor of the other medium is cleared when the host gave one.
void CMirolan::DescribeVideo(const std::string& name) {
    VideoDesc& video = *pStream->pVideo;
    // CheckVideoFrames made sure that the product fits 63 bits.
    const auto duration = static_cast<int64_t>(static_cast<uint64_t>(avih.dwTotalFrames) *
                                               static_cast<uint64_t>(frameDuration));
    WriteVideoDesc(video,
                   {avi::kVideoTimescale, duration, frameDuration, bih.biWidth, bih.biHeight, 1});
    if (pStream->pAudio != nullptr) WriteAudioDesc(*pStream->pAudio, {});

    diag::DebugLog("", diag::kSourceName, diag::kLogVideoDescription,
                   "Video Mirolan:FileName[%s] Width[%d] Height[%d] avgFrameDuration[%d] Depth[%d] "
                   "Duration[%lld]",
                   name.c_str(), bih.biWidth, bih.biHeight, static_cast<int>(frameDuration),
                   static_cast<int>(bih.biBitCount), static_cast<long long>(video.duration));
}

void CMirolan::DescribeAudio() {
    // CheckAudioFormat made sure of a rate from 1 to 2^31 - 1.
    bool headerDisagrees = false;
    const uint32_t rate = avi::AudioSampleRate(audioStrh, wfx, &headerDisagrees);
    if (headerDisagrees) {
        diag::DebugLog("", diag::kSourceName, diag::kLogAudioRateFromFormat,
                       "Audio rate from the format: %u Hz; the stream header says rate %u / "
                       "scale %u",
                       rate, audioStrh.dwRate, audioStrh.dwScale);
    }
    if (pStream->pVideo != nullptr) WriteVideoDesc(*pStream->pVideo, {});
    WriteAudioDesc(*pStream->pAudio,
                   {rate, AudioLength(headerDisagrees), static_cast<int32_t>(rate), wfx.nChannels});
}

int64_t CMirolan::AudioLength(bool headerRateDisagrees) const {
    // A header whose rate is not the one served counts its length in units
    // of its own: the samples the chunks hold are the length then.
    if (headerRateDisagrees && !audioChunks.empty() && audioChunks.back().endSample > 0) {
        return audioChunks.back().endSample;
    }
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

namespace {

// The readers that successfully opened streams and are not yet destroyed. A
// start or close whose record does not name one of them (an open that failed
// or never happened, a record the host never cleared) is ignored instead of
// following a stray pointer.
std::mutex liveReadersLock;
std::vector<const CMirolan*>& LiveReaders() {
    static std::vector<const CMirolan*> readers;
    return readers;
}

}  // namespace

void CMirolan::Register(const CMirolan* reader) {
    const std::lock_guard<std::mutex> hold(liveReadersLock);
    LiveReaders().push_back(reader);
}

bool CMirolan::Unregister(const void* reader) {
    const std::lock_guard<std::mutex> hold(liveReadersLock);
    std::vector<const CMirolan*>& readers = LiveReaders();
    const auto found = std::find(readers.begin(), readers.end(), reader);
    if (found == readers.end()) return false;
    readers.erase(found);
    return true;
}

bool CMirolan::IsLive(const void* reader) {
    const std::lock_guard<std::mutex> hold(liveReadersLock);
    const std::vector<const CMirolan*>& readers = LiveReaders();
    return std::find(readers.begin(), readers.end(), reader) != readers.end();
}

CMirolan::~CMirolan() {
    Unregister(this);
    // A reader with neither a worker nor a host's stream (one only checked)
    // has nothing to stop and no one to tell.
    if (hThread.get() != nullptr || pStream != nullptr) StopRunMonitorThread();
}
