#include "container/HeaderWalk.h"

#include <cstring>

#include "container/AviRecords.h"
#include "container/FileWindow.h"
#include "container/MediaIndex.h"
#include "diag/Assert.h"
#include "format/PictureFormats.h"

// The records keep their on-disk names so that the assertion texts read as
// the log expects them, e.g. "sizeof(MainAVIHeader)==chnk.dwSize".
using avi::AVIStreamHeader;
using avi::MainAVIHeader;

namespace avi {

namespace {

// 'RIFF', 'LIST' or 'List' header: code, size of type + contents, type.
struct ListHeader {
    uint32_t dwList;
    uint32_t dwSize;
    uint32_t dwFourCC;
};

// Plain chunk header: code, size of the data that follows.
struct ChunkHeader {
    uint32_t dwFourCC;
    uint32_t dwSize;
};

enum class Turn { Next, Ended, HandOver, Refused, AtMovie };
enum class StreamKind : uint8_t { None, Video, Audio, Other };

// One walk over a file: its window, the stream being described and one
// handler per chunk kind. Every handler makes sure of the bytes it reads; a
// file that ends inside them ends the walk.
class Walk {
public:
    Walk(const FileSource& source, Medium medium, AviLayout& layout, bool stopAtMovie)
        : source_(source),
          medium_(medium),
          layout_(layout),
          requested_(source.granularity),
          stopAtMovie_(stopAtMovie) {}

    Refusal Run() {
        if (!MapWindow(source_, window_, requested_)) {
            return MakeRefusal(RefusalKind::Unreadable, "the file is empty or cannot be read");
        }
        return Loop();
    }

    // Takes up the state the walk stopped with at the 'movi' list.
    Refusal Resume(const std::vector<MovieRun>* runs) {
        runs_ = runs;
        const WalkResume& r = layout_.resume;
        layout_.stoppedAtMovie = false;
        window_.position = r.position;
        streamHeaders_ = r.streamHeaders;
        strlEnd_ = r.strlEnd;
        audioFormatNext_ = r.audioFormatNext;
        currentStream_ = r.currentStream;
        strlStream_ = r.strlStream;
        current_ = static_cast<StreamKind>(r.current);
        pendingVideo_ = r.pendingVideo;
        if (!MapWindow(source_, window_, requested_) && window_.position < source_.End()) {
            mapRefused_ = true;
        }
        if (window_.view == nullptr) return mapRefused_ ? MapRefusal() : Refusal{};
        return Loop();
    }

private:
    // Dispatches chunk after chunk until one ends the walk: the served
    // stream's standard index, the stop at the 'movi' list, the end of what
    // can be read, or a refusal.
    Refusal Loop() {
        for (;;) {
            if (runs_ != nullptr && JumpOverRun()) continue;
            // The end of the file without a hand-over ends the walk here.
            const Turn turn = Need(4) ? Dispatch(ReadFourCC(window_.Cursor())) : Turn::Ended;
            if (turn == Turn::Next) continue;
            if (turn == Turn::Ended && mapRefused_) return MapRefusal();
            return turn == Turn::Refused ? refusal_ : Refusal{};
        }
    }

    Refusal MapRefusal() const {
        return MakeRefusal(RefusalKind::Unreadable,
                           "a view of the file at offset %llu cannot be mapped",
                           static_cast<unsigned long long>(window_.position));
    }

    Turn Dispatch(uint32_t code) {
        switch (code) {
            case kRIFF:
                return OnRiff();
            case kLIST:
            case kList:
                return OnList();
            case kAvih:
                return OnMainHeader();
            case kStrh:
                return OnStreamHeader();
            case kStrf:
                return OnStreamFormat();
            case 0:
                return OnZeros();
            default:
                if (IsStandardIndexCode(code)) return OnStandardIndex();
                // 'indx', media chunks, 'idx1', 'JUNK', anything unknown
                return OnOtherChunk();
        }
    }

    // True when the n bytes at the position can be read. A mapping the
    // platform refuses (not the end of the file) is remembered: it refuses
    // the file instead of ending the walk.
    bool Need(uint64_t n) {
        if (EnsureReadable(source_, window_, n, requested_)) return true;
        if (window_.view == nullptr && window_.position < source_.End()) mapRefused_ = true;
        return false;
    }
    bool Step(uint64_t n) { return StepWindow(source_, window_, n); }
    Turn StepBody(uint64_t n) {
        return StepChunkBody(source_, window_, n, requested_) ? Turn::Next : Turn::Ended;
    }

    bool ReadList(ListHeader& lst) {
        if (!Need(kListHeaderSize)) return false;
        const uint8_t* p = window_.Cursor();
        lst.dwList = ReadFourCC(p);
        lst.dwSize = ReadLe32(p + 4);
        lst.dwFourCC = ReadFourCC(p + 8);
        return Step(kListHeaderSize);
    }

    bool ReadChunk(ChunkHeader& chnk) {
        if (!Need(kChunkHeaderSize)) return false;
        chnk.dwFourCC = ReadFourCC(window_.Cursor());
        chnk.dwSize = ReadLe32(window_.Cursor() + 4);
        return Step(kChunkHeaderSize);
    }

    // Copies the first `size` bytes of a chunk body (at most `room`) into a
    // zeroed record-sized buffer: a short record reads as zeros past its end.
    bool ReadBody(uint32_t size, uint8_t* out, uint32_t room) {
        std::memset(out, 0, room);
        const uint32_t n = size < room ? size : room;
        if (!Need(n)) return false;
        std::memcpy(out, window_.Cursor(), n);
        return true;
    }

    // Any form type is entered (a later segment is 'AVIX'); only 'AVI ' and
    // 'AVIX' are expected.
    Turn OnRiff() {
        const uint64_t start = window_.position;
        ListHeader lst{};
        if (!ReadList(lst)) return Turn::Ended;
        // clang-format off
        QXASSERT_SPELLED(diag::kAssertFormType, lst.dwFourCC == kAVI || lst.dwFourCC == kAVIX, lst.dwFourCC=='AVI ');
        // clang-format on
        if (start == 0) {
            layout_.startsRiffAvi = lst.dwFourCC == kAVI;
            const uint64_t end = kChunkHeaderSize + lst.dwSize;
            layout_.firstRiffEnd = end < source_.End() ? end : source_.End();
        }
        return Turn::Next;
    }

    // Only the lists that hold what the walk needs are entered; any other is
    // stepped over whole (size - 4 wraps in 32 bits for a size below 4, which
    // runs past the end of the file and ends the walk).
    Turn OnList() {
        ListHeader lst{};
        if (!ReadList(lst)) return Turn::Ended;
        if (lst.dwFourCC == kStrl) {
            current_ = StreamKind::None;
            strlStream_ = kNoStream;
            // lst.dwSize counts the type code: a size below 4 leaves an empty list.
            strlEnd_ = window_.position + (lst.dwSize >= 4 ? lst.dwSize - 4u : 0u);
            return Turn::Next;
        }
        if (lst.dwFourCC == kMovi && !layout_.haveMovie) {
            layout_.haveMovie = true;
            layout_.moviType = window_.position - 4;
            layout_.moviEnd = layout_.moviType + lst.dwSize;
            // Everything an index needs to be found lies in the header list.
            if (stopAtMovie_ && layout_.haveMainHeader && ServedStreamRead()) {
                SaveResume();
                return Turn::AtMovie;
            }
        }
        if (lst.dwFourCC == kHdrl || lst.dwFourCC == kMovi) return Turn::Next;
        return StepBody(static_cast<uint32_t>(lst.dwSize - 4u));
    }

    // The main header: its has-index flag is only remembered (writers leave
    // it clear on files whose index or movie data serve perfectly well).
    Turn OnMainHeader() {
        ChunkHeader chnk{};
        if (!ReadChunk(chnk)) return Turn::Ended;
        // clang-format off
        QXASSERT(diag::kAssertMainHeaderSize, sizeof(MainAVIHeader)==chnk.dwSize);
        // clang-format on
        if (!Need(kMainHeaderSize)) return Turn::Ended;
        layout_.avih = DecodeMainHeader(window_.Cursor());
        layout_.hasIndexFlag = (layout_.avih.dwFlags & kAvifHasIndex) != 0;
        // No table of more frames than a 32-bit byte count can hold: refused
        // here, before anything else is read, as the allocation would fail.
        if (static_cast<uint64_t>(layout_.avih.dwTotalFrames) * sizeof(FrameEntry) > 0xFFFFFFFFu) {
            refusal_ = MakeRefusal(RefusalKind::OutOfMemory,
                                   "out of memory for the index of a %lld-byte file",
                                   static_cast<long long>(source_.fileSize));
            return Turn::Refused;
        }
        layout_.haveMainHeader = true;
        // The record's own size, whatever dwSize says: every writer writes 56.
        return Step(kMainHeaderSize) ? Turn::Next : Turn::Ended;
    }

    // Stream headers number the streams (one per 'strl') and say what the
    // next 'strf' describes. Only the first video and audio streams count.
    Turn OnStreamHeader() {
        ChunkHeader chnk{};
        if (!ReadChunk(chnk)) return Turn::Ended;
        // clang-format off
        QXASSERT(diag::kAssertStreamHeaderSize, sizeof(AVIStreamHeader)==chnk.dwSize);
        // clang-format on
        if (!Need(kStreamHeaderSize)) return Turn::Ended;
        const uint8_t* body = window_.Cursor();
        const uint32_t fccType = ReadFourCC(body);
        const int32_t stream = streamHeaders_++;
        strlStream_ = stream;
        if (fccType == kVids) {
            current_ = StreamKind::Video;
            audioFormatNext_ = false;
            pendingVideo_ = DecodeStreamHeader(body);
            currentStream_ = stream;
        } else if (fccType == kAuds) {
            current_ = StreamKind::Audio;
            audioFormatNext_ = true;
            currentStream_ = stream;
            if (layout_.audioStream == kNoStream) {
                layout_.audioStream = stream;
                layout_.audioStrh = DecodeStreamHeader(body);
            }
        } else {
            current_ = StreamKind::Other;
        }
        layout_.streamCount = streamHeaders_;
        // The record's own size, whatever dwSize says: every writer writes 56.
        return Step(kStreamHeaderSize) ? Turn::Next : Turn::Ended;
    }

    // A format describes the stream whose header came last; the format of
    // any other stream is stepped over untouched.
    Turn OnStreamFormat() {
        ChunkHeader chnk{};
        if (!ReadChunk(chnk)) return Turn::Ended;
        // A format is stepped by its own size when that lies inside its
        // 'strl' list; a size that runs past the list cannot be the
        // format's, and the record's own size is taken instead.
        const bool sizeFits =
            window_.position <= strlEnd_ && chnk.dwSize <= strlEnd_ - window_.position;
        // The size checks follow the last video or audio header (a format
        // before any is taken as video). Besides the records' own sizes, a
        // bitmap header with masks or a palette, a wave format without cbSize
        // (16 bytes) or with extra bytes (extensible: 40) is a format of its
        // own when it fits its list; the format of another stream is not checked.
        const uint32_t n = chnk.dwSize;
        if (current_ != StreamKind::Other && !audioFormatNext_) {
            // clang-format off
            QXASSERT_SPELLED(diag::kAssertBitmapHeaderSize, n == kBitmapHeaderSize || (sizeFits && n > kBitmapHeaderSize), sizeof(BITMAPINFOHEADER)==chnk.dwSize);
            // clang-format on
        } else if (current_ != StreamKind::Other) {
            // clang-format off
            QXASSERT_SPELLED(diag::kAssertWaveFormatSize, n == kWaveFormatSize || (sizeFits && (n == kPcmFormatSize || n > kWaveFormatSize)), sizeof(WAVEFORMATEX)==chnk.dwSize);
            // clang-format on
        }
        const uint32_t size =
            sizeFits ? chnk.dwSize : (audioFormatNext_ ? kWaveFormatSize : kBitmapHeaderSize);
        if (current_ == StreamKind::Video && size >= kBitmapHeaderSize &&
            layout_.videoStream == kNoStream && !ReadVideoFormat(size)) {
            return Turn::Ended;
        }
        if (current_ == StreamKind::Audio && size >= kPcmFormatSize &&
            currentStream_ == layout_.audioStream && layout_.audioFormatSize == 0 &&
            !ReadAudioFormat(size)) {
            return Turn::Ended;
        }
        current_ = StreamKind::Other;  // one format per stream
        if (!sizeFits) return Step(size) ? Turn::Next : Turn::Ended;
        return StepBody(size);
    }

    // The first 'vids' stream whose layout the picture table serves becomes
    // the video stream.
    bool ReadVideoFormat(uint32_t size) {
        uint8_t body[kBitfieldsSize];
        if (!ReadBody(size, body, kBitfieldsSize)) return false;
        const BITMAPINFOHEADER bih = DecodeBitmapHeader(body);
        uint32_t masks[3] = {};
        const bool haveMasks = size >= kBitfieldsSize;
        for (int i = 0; i < 3 && haveMasks; ++i)
            masks[i] = ReadLe32(body + kBitmapHeaderSize + 4 * i);
        const format::PictureRow* row =
            format::FindPictureRow(bih.biCompression, bih.biBitCount, haveMasks ? masks : nullptr);
        if (!layout_.sawVideo) {
            layout_.sawVideo = true;
            layout_.firstVideoCompression = bih.biCompression;
            layout_.firstVideoBitCount = bih.biBitCount;
            layout_.firstVideoRow = row;
        }
        if (row == nullptr || row->support != format::Support::Served) return true;
        layout_.videoStream = currentStream_;
        layout_.videoStrh = pendingVideo_;
        layout_.bih = bih;
        layout_.videoRow = row;
        convert::FormatContext& context = layout_.videoContext;
        context = convert::FormatContext{};
        if (bih.biCompression == format::kBiBitfields) {
            for (int i = 0; i < 3; ++i) context.masks[i] = masks[i];
        }
        return !row->usesPalette || ReadPalette(size, bih);
    }

    // The palette that follows the bitmap header: biClrUsed entries (all
    // 2^biBitCount when 0), at most 256 and no more than the format holds.
    // Entries the file does not hold stay zero.
    bool ReadPalette(uint32_t size, const BITMAPINFOHEADER& bih) {
        constexpr uint32_t kMostEntries = 256;
        uint32_t entries = bih.biClrUsed;
        if (entries == 0 && bih.biBitCount <= 8) entries = 1u << bih.biBitCount;
        if (entries > kMostEntries) entries = kMostEntries;
        const uint32_t held = (size - kBitmapHeaderSize) / 4u;  // size >= 40 here
        if (entries > held) entries = held;
        uint8_t bytes[kBitmapHeaderSize + 4 * kMostEntries];
        if (!ReadBody(kBitmapHeaderSize + 4 * entries, bytes, sizeof bytes)) return false;
        convert::FormatContext& context = layout_.videoContext;
        context.paletteEntries = entries;
        for (uint32_t i = 0; i < entries; ++i) {
            context.palette[i] = ReadLe32(bytes + kBitmapHeaderSize + 4 * i);
        }
        return true;
    }

    bool ReadAudioFormat(uint32_t size) {
        uint8_t body[kExtensibleSize];
        if (!ReadBody(size, body, kExtensibleSize)) return false;
        layout_.wfx = DecodeWaveFormat(body);  // cbSize reads 0 from a 16-byte format
        layout_.audioFormatSize = size;
        // The samples of an extensible format are what its sub-format says:
        // read only from a whole record with a standard sub-format.
        if (size >= kExtensibleSize && layout_.wfx.cbSize >= kExtensibleExtraSize &&
            std::memcmp(body + kSubFormatAt + 2, kSubFormatTail, sizeof kSubFormatTail) == 0) {
            layout_.subFormatTag = ReadLe16(body + kSubFormatAt);
        }
        return true;
    }

    // The first standard index of the served stream ends the walk; another
    // stream's index is stepped over.
    Turn OnStandardIndex() {
        const uint64_t headerPosition = window_.position;
        if (!Need(kStandardIndexHeaderSize)) return Turn::Ended;
        const uint8_t* p = window_.Cursor();
        const uint32_t chunkSize = ReadLe32(p + 4);
        const uint32_t chunkId = ReadFourCC(p + 16);
        const uint32_t inUse = ReadLe32(p + 12);
        layout_.baseOffset = static_cast<int64_t>(ReadLe64(p + 20));
        if (!Step(kStandardIndexHeaderSize)) return Turn::Ended;

        const bool ours = medium_ == Medium::Video ? layout_.IsVideoChunk(chunkId)
                                                   : layout_.IsAudioChunk(chunkId);
        if (!ours) {
            // The rest of the chunk: its size counts the header after the
            // chunk header (wrapping in 32 bits for a size below that, which
            // runs past the end of the file and ends the walk).
            constexpr auto kCounted =
                static_cast<uint32_t>(kStandardIndexHeaderSize - kChunkHeaderSize);
            return StepBody(static_cast<uint32_t>(chunkSize - kCounted));
        }
        // The index fills the frame table that the main header sized.
        if (!layout_.haveMainHeader) {
            refusal_ = MakeRefusal(RefusalKind::NoMainHeader,
                                   "a standard index comes before the main header ('avih')");
            return Turn::Refused;
        }
        layout_.haveStandardIndex = true;
        layout_.standardIndexEntries = window_.position;
        layout_.standardIndexEnd = headerPosition + kChunkHeaderSize + chunkSize;
        layout_.standardIndexInUse = inUse;
        return Turn::HandOver;
    }

    // An all-zero chunk header is an empty chunk, stepped over 8 bytes at a
    // time: a run of them (a preallocated or never written stretch) is
    // crossed as a whole, landing where that stepping would (the walk goes
    // on there: a segment's declared size is not trusted to say that the
    // file's segments have ended).
    Turn OnZeros() {
        if (!Need(kChunkHeaderSize) || ReadLe32(window_.Cursor() + 4) != 0) return OnOtherChunk();
        const uint64_t from = window_.position;
        const uint64_t data = NextNonZeroByte(source_, from);
        const uint64_t header = from + (data - from) / kChunkHeaderSize * kChunkHeaderSize;
        if (header == from) return OnOtherChunk();
        return Step(header - from) ? Turn::Next : Turn::Ended;
    }

    // Stepped over by its size; the first 'idx1' is where an AVI 1.0 index lies.
    Turn OnOtherChunk() {
        ChunkHeader chnk{};
        if (!ReadChunk(chnk)) return Turn::Ended;
        if (chnk.dwFourCC == kIndx) NoteSuperIndex(chnk.dwSize);
        if (chnk.dwFourCC == kIdx1 && !layout_.haveIdx1) {
            layout_.haveIdx1 = true;
            layout_.idx1Data = window_.position;
            layout_.idx1Size = chnk.dwSize;
        }
        return StepBody(chnk.dwSize);
    }

    // Only the place of an 'indx' chunk is kept: the served stream's own, and
    // the other streams'.
    void NoteSuperIndex(uint32_t size) {
        if (strlStream_ == kNoStream || window_.position > strlEnd_) return;
        const uint64_t held = source_.End() - window_.position;
        const uint32_t clipped = held < size ? static_cast<uint32_t>(held) : size;
        const int32_t served = medium_ == Medium::Video ? layout_.videoStream : layout_.audioStream;
        if (strlStream_ == served) {
            if (layout_.haveSuperIndex) return;
            layout_.haveSuperIndex = true;
            layout_.superIndexData = window_.position;
            layout_.superIndexSize = clipped;
        } else if (layout_.otherSuperIndexes < AviLayout::kMostOtherSuperIndexes) {
            layout_.otherSuperIndexData[layout_.otherSuperIndexes] = window_.position;
            layout_.otherSuperIndexSize[layout_.otherSuperIndexes] = clipped;
            ++layout_.otherSuperIndexes;
        }
    }

    // The served stream's header and format are read: nothing the walk can
    // meet in the movie data would change them.
    bool ServedStreamRead() const {
        if (medium_ == Medium::Video) return layout_.videoStream != kNoStream;
        return layout_.audioStream != kNoStream && layout_.audioFormatSize != 0;
    }

    // At the start of a run of chunks the walk only steps over: goes on from
    // its end, with the pad-byte rule after an odd last chunk.
    bool JumpOverRun() {
        while (nextRun_ < runs_->size() && (*runs_)[nextRun_].start < window_.position) {
            ++nextRun_;
        }
        if (nextRun_ >= runs_->size() || (*runs_)[nextRun_].start != window_.position) {
            return false;
        }
        const MovieRun& run = (*runs_)[nextRun_++];
        if (!Step(run.end - run.start)) return false;
        if (run.afterOddChunk) SkipPadByte(source_, window_, requested_);
        return true;
    }

    void SaveResume() {
        WalkResume& r = layout_.resume;
        r.position = window_.position;
        r.streamHeaders = streamHeaders_;
        r.strlEnd = strlEnd_;
        r.audioFormatNext = audioFormatNext_;
        r.currentStream = currentStream_;
        r.strlStream = strlStream_;
        r.current = static_cast<uint8_t>(current_);
        r.pendingVideo = pendingVideo_;
        layout_.stoppedAtMovie = true;
    }

    const FileSource& source_;
    const Medium medium_;
    AviLayout& layout_;
    const uint32_t requested_;
    const bool stopAtMovie_;  // a first walk stops at the 'movi' list; a resumed one goes on
    int32_t strlStream_ = kNoStream;               // the stream of the 'strl' list being read
    const std::vector<MovieRun>* runs_ = nullptr;  // runs a resumed walk jumps over
    size_t nextRun_ = 0;
    FileWindow window_;  // released when the walk ends, whatever the result
    Refusal refusal_;
    bool mapRefused_ = false;
    int32_t streamHeaders_ = 0;     // 'strh' chunks met: the next stream's number
    uint64_t strlEnd_ = 0;          // end of the last 'strl' list entered
    bool audioFormatNext_ = false;  // the last 'vids' or 'auds' header was 'auds'
    int32_t currentStream_ = 0;
    StreamKind current_ = StreamKind::None;
    AVIStreamHeader pendingVideo_{};  // the header of the 'vids' stream whose format comes next
};

}  // namespace

Refusal WalkHeaders(const FileSource& source, Medium medium, AviLayout& layout) {
    return Walk(source, medium, layout, true).Run();
}

Refusal ResumeWalk(const FileSource& source, Medium medium, AviLayout& layout,
                   const std::vector<MovieRun>* runs) {
    return Walk(source, medium, layout, false).Resume(runs);
}

}  // namespace avi
