// On-disk records of an AVI file, decoded field by field from little-endian
// bytes, and the four-character codes compared as big-endian 32-bit values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace avi {

constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(d));
}

constexpr uint32_t kRIFF = MakeFourCC('R', 'I', 'F', 'F');
constexpr uint32_t kLIST = MakeFourCC('L', 'I', 'S', 'T');
constexpr uint32_t kList = MakeFourCC('L', 'i', 's', 't');
constexpr uint32_t kAVI = MakeFourCC('A', 'V', 'I', ' ');
constexpr uint32_t kAVIX = MakeFourCC('A', 'V', 'I', 'X');
constexpr uint32_t kHdrl = MakeFourCC('h', 'd', 'r', 'l');
constexpr uint32_t kStrl = MakeFourCC('s', 't', 'r', 'l');
constexpr uint32_t kMovi = MakeFourCC('m', 'o', 'v', 'i');
constexpr uint32_t kRec = MakeFourCC('r', 'e', 'c', ' ');
constexpr uint32_t kIdx1 = MakeFourCC('i', 'd', 'x', '1');
constexpr uint32_t kAvih = MakeFourCC('a', 'v', 'i', 'h');
constexpr uint32_t kStrh = MakeFourCC('s', 't', 'r', 'h');
constexpr uint32_t kStrf = MakeFourCC('s', 't', 'r', 'f');
constexpr uint32_t kIndx = MakeFourCC('i', 'n', 'd', 'x');
constexpr uint32_t kVids = MakeFourCC('v', 'i', 'd', 's');
constexpr uint32_t kAuds = MakeFourCC('a', 'u', 'd', 's');
constexpr uint32_t k01wb = MakeFourCC('0', '1', 'w', 'b');

// 'ix' and two digits: an OpenDML standard index, named after its stream.
constexpr bool IsStandardIndexCode(uint32_t code) {
    return (code >> 16) == 0x6978u && ((code >> 8) & 0xFFu) >= '0' &&
           ((code >> 8) & 0xFFu) <= '9' && (code & 0xFFu) >= '0' && (code & 0xFFu) <= '9';
}

// Letters, digits, blank and '_': what a chunk code written by any AVI
// writer is made of. A pad byte (0) or media data rarely passes.
constexpr bool IsChunkCodeByte(uint32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ' ' ||
           c == '_';
}
constexpr bool LooksLikeChunkCode(uint32_t code) {
    return IsChunkCodeByte(code >> 24) && IsChunkCodeByte((code >> 16) & 0xFFu) &&
           IsChunkCodeByte((code >> 8) & 0xFFu) && IsChunkCodeByte(code & 0xFFu);
}

inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t ReadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(ReadLe32(p)) | (static_cast<uint64_t>(ReadLe32(p + 4)) << 32);
}
// A four-character code as stored in the file, compared big-endian.
inline uint32_t ReadFourCC(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

constexpr uint32_t kAvifHasIndex = 0x10;

// Sizes on disk. A chunk is a code and a size, then the data; a list ('RIFF',
// 'LIST') adds its type code.
constexpr uint64_t kChunkHeaderSize = 8;
constexpr uint64_t kListHeaderSize = 12;
// The OpenDML indexes. A standard index ('ix##'): a 32-byte header with its
// chunk header (entries in use at 12, chunk id at 16, base offset at 20),
// then 8-byte entries (offset from the base, size). A super index ('indx'):
// 24 bytes after its chunk header, then 16-byte entries (the offset of a
// standard index, its size, its duration).
constexpr uint64_t kStandardIndexHeaderSize = 32;
constexpr uint64_t kStandardIndexEntrySize = 8;
constexpr uint64_t kSuperIndexHeaderSize = 24;
constexpr uint64_t kSuperIndexEntrySize = 16;
// Bit 31 of a standard index entry's size is the not-a-key-frame flag.
constexpr uint32_t kIndexEntrySizeMask = 0x7FFFFFFFu;
// An AVI 1.0 index ('idx1') entry: chunk id, flags, offset, size.
constexpr uint64_t kIdx1EntrySize = 16;

// The records' sizes: the headers, a bitmap header and one followed by its
// three colour masks, a wave format without cbSize (PCMWAVEFORMAT) and with
// it, and the extensible wave format, whose cbSize counts at least 22 bytes
// after the wave format, with the sub-format GUID at 24: a format tag and a
// tail that every standard sub-format (KSDATAFORMAT_SUBTYPE_*) shares.
constexpr uint32_t kMainHeaderSize = 56;
constexpr uint32_t kStreamHeaderSize = 56;
constexpr uint32_t kBitmapHeaderSize = 40;
constexpr uint32_t kBitfieldsSize = 52;
constexpr uint32_t kPcmFormatSize = 16;
constexpr uint32_t kWaveFormatSize = 18;
constexpr uint32_t kExtensibleSize = 40;
constexpr uint16_t kExtensibleExtraSize = 22;
constexpr uint32_t kSubFormatAt = 24;
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Video time counts 100 ns units: frame durations, and the timescale the
// host is given for a video stream.
constexpr int64_t kVideoTimescale = 10000000;

// biCompression and wFormatTag values are the format tables' (format/).

struct MainAVIHeader {
    uint32_t dwMicroSecPerFrame;
    uint32_t dwMaxBytesPerSec;
    uint32_t dwPaddingGranularity;
    uint32_t dwFlags;
    uint32_t dwTotalFrames;
    uint32_t dwInitialFrames;
    uint32_t dwStreams;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwWidth;
    uint32_t dwHeight;
    uint32_t dwReserved[4];
};
static_assert(sizeof(MainAVIHeader) == kMainHeaderSize, "the main header as on disk");

struct AVIStreamHeader {
    uint32_t fccType;     // big-endian code
    uint32_t fccHandler;  // big-endian code; 0 for the streams served
    uint32_t dwFlags;
    uint16_t wPriority;
    uint16_t wLanguage;
    uint32_t dwInitialFrames;
    uint32_t dwScale;
    uint32_t dwRate;
    uint32_t dwStart;
    uint32_t dwLength;
    uint32_t dwSuggestedBufferSize;
    uint32_t dwQuality;
    uint32_t dwSampleSize;
    int16_t rcFrame[4];
};
static_assert(sizeof(AVIStreamHeader) == kStreamHeaderSize, "the stream header as on disk");

struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == kBitmapHeaderSize, "the bitmap header as on disk");

struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};

// Decoders: each reads exactly its record's on-disk size from `p`.
MainAVIHeader DecodeMainHeader(const uint8_t* p);       // kMainHeaderSize
AVIStreamHeader DecodeStreamHeader(const uint8_t* p);   // kStreamHeaderSize
BITMAPINFOHEADER DecodeBitmapHeader(const uint8_t* p);  // kBitmapHeaderSize
WAVEFORMATEX DecodeWaveFormat(const uint8_t* p);        // kWaveFormatSize

}  // namespace avi
