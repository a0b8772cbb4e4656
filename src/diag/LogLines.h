// The debug log's line identifiers, by name.
//
// Every log line carries a source name and a number. The numbers below are
// fixed identifiers of this system's log, which readers of the log and tools
// that filter it rely on: they are NOT line numbers of our source files and
// must never be changed or reused for another message. Those marked "ours"
// were added by this implementation: 171, 1082 and 1140 look like the
// system's own but are kept, since logs and tools already carry them; the
// reasons of refused opens have a range of their own, from 9001, far above
// any of the system's numbers.
#pragma once

namespace diag {

// The source name every line carries.
constexpr const char* kSourceName = "Mirolan";

// The system's fixed identifiers.
constexpr int kLogDriverClose = 51;           // "drv_close"
constexpr int kAssertVideoDuration = 178;     // QXASSERT "duration > 0", video request
constexpr int kAssertAudioDuration = 197;     // QXASSERT "duration > 0", audio request
constexpr int kLogNotAvi = 299;               // "Not a avi File\n"
constexpr int kLogFileSize = 324;             // "%S size is %lld memory granularity is %d "
constexpr int kLogMappingFailed = 335;        // "hMapFile is NULL: last error: %d\n"
constexpr int kLogVideoDescription = 372;     // "Video Mirolan:FileName[%S] ..."
constexpr int kAssertFormType = 452;          // QXASSERT "lst.dwFourCC=='AVI '"
constexpr int kAssertMainHeaderSize = 495;    // QXASSERT "sizeof(MainAVIHeader)==chnk.dwSize"
constexpr int kLogNotIndexed = 510;           // "AVI is not indexed we cann't use this AVI"
constexpr int kAssertStreamHeaderSize = 534;  // QXASSERT "sizeof(AVIStreamHeader)==chnk.dwSize"
constexpr int kAssertBitmapHeaderSize = 629;  // QXASSERT "sizeof(BITMAPINFOHEADER)==..."
constexpr int kAssertWaveFormatSize = 646;    // QXASSERT "sizeof(WAVEFORMATEX)==chnk.dwSize"
constexpr int kLogViewNotMapped = 936;        // "Unable to map the File View ..."
constexpr int kLogWorkerStopped = 991;        // "Wait for Exit Run Monitor Thread Completed"
constexpr int kLogWorkerExit = 1081;          // "MIROLAN Exit %s Run Monitor Thread"
constexpr int kLogAudioSeekFailed = 1139;     // "Seeking to wrong Position %lld"
constexpr int kLogVideoSeekFailed = 1239;     // "INVALID_SET_FILE_POINTER File Offset [%lld] "

// Ours: failures the system did not report.
constexpr int kLogNoFrameToServe = 171;       // a video stream with no frame or frame duration
constexpr int kLogWorkerNotCreated = 1082;    // the worker thread could not be created
constexpr int kLogStagingUnavailable = 1140;  // the audio staging buffer could not be had

// Ours: the reason an open was refused, "Refused: <reason>", the last line
// of every refused open; one identifier per cause, in a range of their own.
constexpr int kLogRefusedNotAviName = 9001;       // the path is null or not ".avi"
constexpr int kLogRefusedNoMedium = 9002;         // both media or neither, or no record for one
constexpr int kLogRefusedCannotOpen = 9003;       // the file cannot be opened, sized or mapped
constexpr int kLogRefusedUnreadable = 9004;       // the file ends inside a header
constexpr int kLogRefusedNotRiffAvi = 9005;       // not a RIFF AVI file
constexpr int kLogRefusedNoMainHeader = 9006;     // no main header
constexpr int kLogRefusedNoStream = 9007;         // no video (audio) stream
constexpr int kLogRefusedCompressedVideo = 9008;  // video that is not uncompressed RGB
constexpr int kLogRefusedVideoBitDepth = 9009;    // RGB of another depth than 24 or 32 bits
constexpr int kLogRefusedVideoFrameSize = 9010;   // width, height or frame size unusable
constexpr int kLogRefusedAudioNotPcm = 9011;      // audio that is not integer PCM
constexpr int kLogRefusedAudioSampleSize = 9012;  // PCM of another size than 8 or 16 bits
constexpr int kLogRefusedAudioFormat = 9013;      // no channels or no readable format
constexpr int kLogRefusedRateOrScale = 9014;      // a rate or scale that gives no timing
constexpr int kLogRefusedNoIndexNoMovie = 9015;   // no index and no 'movi' list
constexpr int kLogRefusedNoFrames = 9016;         // no video frame found
constexpr int kLogRefusedNoWorker = 9017;         // the worker thread cannot be created
constexpr int kLogRefusedOutOfMemory = 9018;      // memory for the tables was refused
constexpr int kLogRefusedVideoChunkSize = 9020;   // video chunks mostly shorter than a frame
constexpr int kLogRefusedReadFailed = 9019;       // a read failed, or the file shrank, at open

// Ours: why the open did not take a shortcut to the tables and read the
// movie data instead (the tables come out the same either way).
constexpr int kLogSuperIndexNotUsed = 9101;  // "Super index not used: %s"
constexpr int kLogIdx1NotUsed = 9102;        // "Index idx1 not used to skip the movie data: %s"

// Ours: what the open found the file to say otherwise than it should, and
// what is served instead.
constexpr int kLogShortVideoChunks = 9110;  // "Video chunks shorter than a frame ...: zero-filled"
constexpr int kLogAudioRateFromFormat = 9111;  // "Audio rate from the format ...: header says ..."
// Ours: a read the system failed while serving, logged once per stream; the
// request is delivered all the same, with zeros (video) or silence (audio)
// where the read failed.
constexpr int kLogVideoReadFailed = 9201;  // "Video frame at offset %lld not read: system error %u"
constexpr int kLogAudioReadFailed = 9202;  // "Audio samples %lld to %lld not read: system error %u"

}  // namespace diag
