// What the header walk found in a file, as a value: the main header, the
// served video and audio streams (headers, formats, stream numbers), where
// the indexes and the movie data lie, and why the file cannot be served when
// it cannot.
#pragma once

#include <cstdint>

#include "container/AviRecords.h"
#include "convert/PictureKernel.h"
#include "format/PictureFormats.h"

namespace avi {

// Why a file is refused: each kind, the log line its reason takes (the
// open's last line, "Refused: <reason>"), and what was found. The enum, the
// kinds' names and their log lines all come from this one list; the text of
// a Refusal carries the values.
// clang-format off
#define AVI_REFUSAL_KINDS(X)                                                                       \
    /* Before the file is read (the reader's open). */                                             \
    X(NotAviName,      kLogRefusedNotAviName)       /* the path does not end in ".avi" */          \
    X(NoMedium,        kLogRefusedNoMedium)         /* video and audio both, or neither */         \
    X(CannotOpen,      kLogRefusedCannotOpen)       /* cannot be opened, sized or mapped */        \
    /* What the file holds. */                                                                     \
    X(Unreadable,      kLogRefusedUnreadable)       /* a view failed; ends in a header */          \
    X(NotRiffAvi,      kLogRefusedNotRiffAvi)       /* does not start 'RIFF' 'AVI ' */             \
    X(NoMainHeader,    kLogRefusedNoMainHeader)     /* no 'avih' */                                \
    X(NoStream,        kLogRefusedNoStream)         /* no video (audio) stream read */             \
    X(CompressedVideo, kLogRefusedCompressedVideo)  /* compressed, or an unknown code */           \
    X(VideoBitDepth,   kLogRefusedVideoBitDepth)    /* uncompressed, not read yet */               \
    X(VideoFrameSize,  kLogRefusedVideoFrameSize)   /* width, height or size unusable */           \
    X(AudioNotPcm,     kLogRefusedAudioNotPcm)      /* compressed, or an unknown tag */            \
    X(AudioSampleSize, kLogRefusedAudioSampleSize)  /* a sample size not read */                   \
    X(AudioFormat,     kLogRefusedAudioFormat)      /* no channels, or format too short */         \
    X(RateOrScale,     kLogRefusedRateOrScale)      /* a rate or scale of 0, or too big */         \
    X(NoIndexNoMovie,  kLogRefusedNoIndexNoMovie)   /* no index and no 'movi' list */              \
    X(NoFrames,        kLogRefusedNoFrames)         /* no frame found */                           \
    X(VideoChunkSize,  kLogRefusedVideoChunkSize)   /* chunks mostly short of a frame */           \
    X(ReadFailed,      kLogRefusedReadFailed)       /* a read failed, or the file shrank */        \
    /* What the system refused the open. */                                                        \
    X(NoWorker,        kLogRefusedNoWorker)         /* no worker thread */                         \
    X(OutOfMemory,     kLogRefusedOutOfMemory)      /* memory for the tables refused */
// clang-format on

#define AVI_REFUSAL_ENUM(kind, line) kind,
enum class RefusalKind : uint8_t { None, AVI_REFUSAL_KINDS(AVI_REFUSAL_ENUM) };
#undef AVI_REFUSAL_ENUM

struct Refusal {
    RefusalKind kind = RefusalKind::None;
    char text[160] = {};  // e.g. "video is compressed (MJPEG, 'MJPG')"

    bool Refused() const { return kind != RefusalKind::None; }
};

// A refusal of `kind` whose text is printf-formatted (cut to fit).
Refusal MakeRefusal(RefusalKind kind, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// The name of a kind, for tools and tests: "CompressedVideo", ...
const char* RefusalKindName(RefusalKind kind);
// The log line (diag/LogLines.h) of a refusal of `kind`; None, never logged
// as a refusal, has Unreadable's.
int RefusalLogLine(RefusalKind kind);

constexpr int32_t kNoStream = -1;

// Chunk id of stream `stream` (0..99) with the two-letter suffix, e.g. ('d',
// 'c') for stream 0 gives '00dc'; 0 (no code) for a stream out of that range.
// Inline: the index readers ask for it once or more per entry.
constexpr uint32_t StreamChunkId(int32_t stream, char a, char b) {
    return stream < 0 || stream > 99 ? 0
                                     : MakeFourCC(static_cast<char>('0' + stream / 10),
                                                  static_cast<char>('0' + stream % 10), a, b);
}

// Where a header walk that stopped at the first 'movi' list goes on from:
// the position of the list's first chunk and the walk's own state there.
struct WalkResume {
    uint64_t position = 0;
    int32_t streamHeaders = 0;
    uint64_t strlEnd = 0;
    bool audioFormatNext = false;
    int32_t currentStream = 0;
    int32_t strlStream = kNoStream;
    uint8_t current = 0;
    AVIStreamHeader pendingVideo{};
};

struct AviLayout {
    bool startsRiffAvi = false;  // the first chunk is 'RIFF' with form 'AVI '
    bool haveMainHeader = false;
    bool hasIndexFlag = false;  // the main header's has-index flag (0x10)
    MainAVIHeader avih{};

    int32_t streamCount = 0;  // stream headers met

    // The served video stream: the first 'vids' whose format is a layout the
    // picture table serves, its row, and its masks and palette.
    int32_t videoStream = kNoStream;
    AVIStreamHeader videoStrh{};
    BITMAPINFOHEADER bih{};  // biSizeImage: the stored frame size (see StoredFrameSize)
    const format::PictureRow* videoRow = nullptr;
    convert::FormatContext videoContext;
    // The first 'vids' stream met, whatever its format: for the refusal text
    // (its row is null for a layout the table does not know).
    bool sawVideo = false;
    uint32_t firstVideoCompression = 0;
    uint16_t firstVideoBitCount = 0;
    const format::PictureRow* firstVideoRow = nullptr;

    // The served audio stream: the first 'auds'.
    int32_t audioStream = kNoStream;
    AVIStreamHeader audioStrh{};
    WAVEFORMATEX wfx{};
    uint32_t audioFormatSize = 0;  // the 'strf' chunk's size
    // An extensible format's sub-format tag (the first two bytes of its GUID),
    // when the record is whole and the GUID a standard one; else 0.
    uint16_t subFormatTag = 0;

    // The first standard index of the served stream ('ix##' with its chunk id).
    bool haveStandardIndex = false;
    uint64_t standardIndexEntries = 0;  // absolute offset of its first entry
    uint64_t standardIndexEnd = 0;      // end of the index chunk
    uint32_t standardIndexInUse = 0;    // its nEntriesInUse: the entries written
    int64_t baseOffset = 0;             // the base offset of the last index header read

    // The served stream's OpenDML super index ('indx' in its 'strl'): the
    // chunk's data (after its 8-byte header) and size, clipped to the file.
    bool haveSuperIndex = false;
    uint64_t superIndexData = 0;
    uint32_t superIndexSize = 0;
    // The other streams' super indexes (the first few): the standard indexes
    // they list must not claim the served stream ahead of its own.
    static constexpr int kMostOtherSuperIndexes = 8;
    int32_t otherSuperIndexes = 0;
    uint64_t otherSuperIndexData[kMostOtherSuperIndexes] = {};
    uint32_t otherSuperIndexSize[kMostOtherSuperIndexes] = {};

    // Set when the walk stopped at the start of the first 'movi' list (the
    // headers are all read; nothing of the movie data or what follows is).
    bool stoppedAtMovie = false;
    WalkResume resume;

    // The first 'idx1' chunk (AVI 1.0 index) and the first 'movi' list.
    bool haveIdx1 = false;
    uint64_t idx1Data = 0;
    uint32_t idx1Size = 0;
    bool haveMovie = false;
    uint64_t moviType = 0;      // offset of the 'movi' code: idx1 offsets count from here
    uint64_t moviEnd = 0;       // the declared end of that list (not clipped)
    uint64_t firstRiffEnd = 0;  // end of the first 'RIFF' form, clipped to the file

    // Chunk ids of the served streams' data ('NNdb'/'NNdc', 'NNwb'); 0 when
    // the stream is absent.
    uint32_t VideoChunkDb() const { return StreamChunkId(videoStream, 'd', 'b'); }
    uint32_t VideoChunkDc() const { return StreamChunkId(videoStream, 'd', 'c'); }
    uint32_t AudioChunkWb() const { return StreamChunkId(audioStream, 'w', 'b'); }
    bool IsVideoChunk(uint32_t code) const {
        return code != 0 && (code == VideoChunkDb() || code == VideoChunkDc());
    }
    // A palette change ('##pc') of the video stream.
    bool IsPaletteChange(uint32_t code) const {
        return code != 0 && code == StreamChunkId(videoStream, 'p', 'c');
    }
    // A file with one stream may still name its audio chunks '01wb' (this
    // plug-in's own test files did): no other stream can own them.
    bool IsAudioChunk(uint32_t code) const {
        return code != 0 && (code == AudioChunkWb() || (code == k01wb && streamCount < 2));
    }
};

}  // namespace avi
