#include "container/HeaderWalk.h"

#include "container/AviRecords.h"
#include "container/FileWindow.h"
#include "container/StandardIndex.h"
#include "diag/Assert.h"
#include "diag/DebugLog.h"
#include "reader/Mirolan.h"

// The records keep their on-disk names so that the assertion texts read as
// the log expects them, e.g. "sizeof(MainAVIHeader)==chnk.dwSize".
using avi::AVIStreamHeader;
using avi::BITMAPINFOHEADER;
using avi::MainAVIHeader;

// QXASSERT whose logged expression is only spelled, not compiled: the form
// type check logs the multi-character literal 'AVI ', which GCC warns about
// wherever it is evaluated (and no pragma silences that lexer warning). The
// test itself compares with the same code as a constant.
#define QXASSERT_SPELLED(line, test, expression)                                             \
    do {                                                                                     \
        if (!(test)) {                                                                       \
            ::diag::AssertFailed(#expression, "ASSERT FAILED: (" #expression ")", "Mirolan", \
                                 line);                                                      \
        }                                                                                    \
    } while (0)

namespace {

// The wave format as it lies in a 'strf' chunk: 18 bytes. The reader's copy
// (avi::WAVEFORMATEX) carries two bytes of tail padding in memory; this one
// exists so that the size check compares against the on-disk size.
#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == avi::kWaveFormatSize, "wave format is 18 bytes on disk");

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

constexpr uint64_t kListHeaderSize = 12;
constexpr uint64_t kChunkHeaderSize = 8;
constexpr uint64_t kIndexHeaderSize = 32;  // standard index header, before its entries

// What the loop does after one chunk.
enum class Turn { Next, Fail, Served };

// One walk over a reader's file: its window, the expected-format flag and one
// handler per chunk kind. Every handler makes sure of the bytes it reads and
// ends the walk with Fail when the file ends inside them.
class Walk {
public:
    explicit Walk(CMirolan& reader) : reader_(reader), requested_(reader.granularity) {}

    bool Run() {
        if (!MapWindow(reader_, window_, requested_)) return false;
        for (;;) {
            // The end of the file without a hand-over ends the walk here.
            if (!Need(4)) return false;
            const Turn turn = Dispatch(avi::ReadFourCC(window_.Cursor()));
            if (turn == Turn::Fail) return false;
            if (turn == Turn::Served) return true;
        }
    }

private:
    Turn Dispatch(uint32_t code) {
        switch (code) {
            case avi::kRIFF:
                return OnRiff();
            case avi::kLIST:
            case avi::kList:
                return OnList();
            case avi::kAvih:
                return OnMainHeader();
            case avi::kStrh:
                return OnStreamHeader();
            case avi::kStrf:
                return OnStreamFormat();
            case avi::kIx00:
            case avi::kIx01:
                return OnStandardIndex();
            default:  // 'indx', media chunks, 'idx1', 'JUNK', anything unknown
                return OnOtherChunk();
        }
    }

    // True when the n bytes at the position can be read.
    bool Need(uint64_t n) { return EnsureReadable(reader_, window_, n, requested_); }
    bool Step(uint64_t n) { return StepWindow(reader_, window_, n); }
    Turn StepOrFail(uint64_t n) { return Step(n) ? Turn::Next : Turn::Fail; }

    bool ReadList(ListHeader& lst) {
        if (!Need(kListHeaderSize)) return false;
        const uint8_t* p = window_.Cursor();
        lst.dwList = avi::ReadFourCC(p);
        lst.dwSize = avi::ReadLe32(p + 4);
        lst.dwFourCC = avi::ReadFourCC(p + 8);
        return Step(kListHeaderSize);
    }

    bool ReadChunk(ChunkHeader& chnk) {
        if (!Need(kChunkHeaderSize)) return false;
        chnk.dwFourCC = avi::ReadFourCC(window_.Cursor());
        chnk.dwSize = avi::ReadLe32(window_.Cursor() + 4);
        return Step(kChunkHeaderSize);
    }

    // Any form type is entered (a later segment is 'AVIX'); only 'AVI ' is expected.
    Turn OnRiff() {
        ListHeader lst{};
        if (!ReadList(lst)) return Turn::Fail;
        // clang-format off
        QXASSERT_SPELLED(452, lst.dwFourCC == avi::kAVI, lst.dwFourCC=='AVI ');
        // clang-format on
        return Turn::Next;
    }

    // Only the lists that hold what the walk needs are entered; any other is
    // stepped over whole (size - 4 wraps in 32 bits for a size below 4, which
    // runs past the end of the file and ends the walk).
    Turn OnList() {
        ListHeader lst{};
        if (!ReadList(lst)) return Turn::Fail;
        if (lst.dwFourCC == avi::kHdrl || lst.dwFourCC == avi::kStrl ||
            lst.dwFourCC == avi::kMovi) {
            return Turn::Next;
        }
        return StepOrFail(static_cast<uint32_t>(lst.dwSize - 4u));
    }

    // The main header decides whether the file is served at all: without the
    // has-index flag there is no standard index to read frames from.
    Turn OnMainHeader() {
        ChunkHeader chnk{};
        if (!ReadChunk(chnk)) return Turn::Fail;
        // clang-format off
        QXASSERT(495, sizeof(MainAVIHeader)==chnk.dwSize);
        // clang-format on
        if (!Need(sizeof(MainAVIHeader))) return Turn::Fail;
        reader_.avih = avi::DecodeMainHeader(window_.Cursor());
        if ((reader_.avih.dwFlags & avi::kAvifHasIndex) == 0) {
            diag::DebugLog("", "Mirolan", 510, "AVI is not indexed we cann't use this AVI");
            return Turn::Fail;
        }
        avi::PrepareFrameTable(reader_, reader_.avih.dwTotalFrames);
        haveMainHeader_ = true;
        return StepOrFail(sizeof(MainAVIHeader));  // whatever dwSize said
    }

    // Video and audio headers are kept and set which format the next 'strf'
    // is; only streams without a handler code (uncompressed) are served, and
    // that holds for both streams whichever one the reader serves.
    Turn OnStreamHeader() {
        ChunkHeader chnk{};
        if (!ReadChunk(chnk)) return Turn::Fail;
        // clang-format off
        QXASSERT(534, sizeof(AVIStreamHeader)==chnk.dwSize);
        // clang-format on
        if (!Need(sizeof(AVIStreamHeader))) return Turn::Fail;
        const uint32_t fccType = avi::ReadFourCC(window_.Cursor());
        if (fccType == avi::kVids) {
            reader_.videoStrh = avi::DecodeStreamHeader(window_.Cursor());
            audioFormatNext_ = false;
            if (!Step(sizeof(AVIStreamHeader))) return Turn::Fail;
            return reader_.videoStrh.fccHandler == 0 ? Turn::Next : Turn::Fail;
        }
        if (fccType == avi::kAuds) {
            reader_.audioStrh = avi::DecodeStreamHeader(window_.Cursor());
            audioFormatNext_ = true;
            if (!Step(sizeof(AVIStreamHeader))) return Turn::Fail;
            return reader_.audioStrh.fccHandler == 0 ? Turn::Next : Turn::Fail;
        }
        return StepOrFail(sizeof(AVIStreamHeader));
    }

    // The format's own size is read and stepped, not dwSize: a short format
    // is still copied whole, running into whatever follows it.
    Turn OnStreamFormat() {
        ChunkHeader chnk{};
        if (!ReadChunk(chnk)) return Turn::Fail;
        if (!audioFormatNext_) {
            // clang-format off
            QXASSERT(629, sizeof(BITMAPINFOHEADER)==chnk.dwSize);
            // clang-format on
            if (!Need(sizeof(BITMAPINFOHEADER))) return Turn::Fail;
            reader_.bih = avi::DecodeBitmapHeader(window_.Cursor());
            return StepOrFail(sizeof(BITMAPINFOHEADER));
        }
        // clang-format off
        QXASSERT(646, sizeof(WAVEFORMATEX)==chnk.dwSize);
        // clang-format on
        if (!Need(sizeof(WAVEFORMATEX))) return Turn::Fail;
        reader_.wfx = avi::DecodeWaveFormat(window_.Cursor());
        return StepOrFail(sizeof(WAVEFORMATEX));
    }

    // The first standard index of the reader's stream ends the walk: the
    // index reader takes over the view. Another stream's index is stepped over.
    Turn OnStandardIndex() {
        const uint64_t headerPosition = window_.position;
        if (!Need(kIndexHeaderSize)) return Turn::Fail;
        const uint8_t* p = window_.Cursor();
        const uint32_t chunkSize = avi::ReadLe32(p + 4);
        const uint32_t chunkId = avi::ReadFourCC(p + 16);
        reader_.baseOffset = static_cast<int64_t>(avi::ReadLe64(p + 20));
        if (!Step(kIndexHeaderSize)) return Turn::Fail;

        const bool ours =
            (chunkId == avi::k00db && reader_.bVideo) || (chunkId == avi::k01wb && reader_.bAudio);
        if (!ours) {
            // 24 = the header bytes that the chunk's size counts.
            return StepOrFail(static_cast<uint32_t>(chunkSize - 24u));
        }
        // The index fills the frame table that the main header sized.
        if (!haveMainHeader_) return Turn::Fail;
        const uint64_t entriesEnd = headerPosition + kChunkHeaderSize + chunkSize;
        if (avi::ReadStandardIndex(reader_, window_.view, window_.position, entriesEnd)) {
            return Turn::Served;
        }
        // The index reader released the view; read on from the same position.
        return MapWindow(reader_, window_, requested_) ? Turn::Next : Turn::Fail;
    }

    // Stepped over by its size, without a pad byte after an odd size.
    Turn OnOtherChunk() {
        ChunkHeader chnk{};
        if (!ReadChunk(chnk)) return Turn::Fail;
        return StepOrFail(chnk.dwSize);
    }

    CMirolan& reader_;
    const uint32_t requested_;
    avi::FileWindow window_;  // released when the walk ends, whatever the result
    bool audioFormatNext_ = false;
    bool haveMainHeader_ = false;
};

}  // namespace

namespace avi {

bool WalkHeaders(CMirolan& reader) { return Walk(reader).Run(); }

}  // namespace avi
