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
constexpr uint32_t kIx00 = MakeFourCC('i', 'x', '0', '0');
constexpr uint32_t kIx01 = MakeFourCC('i', 'x', '0', '1');
constexpr uint32_t kVids = MakeFourCC('v', 'i', 'd', 's');
constexpr uint32_t kAuds = MakeFourCC('a', 'u', 'd', 's');
constexpr uint32_t k00db = MakeFourCC('0', '0', 'd', 'b');
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
static_assert(sizeof(MainAVIHeader) == 56, "main header is 56 bytes on disk");

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
static_assert(sizeof(AVIStreamHeader) == 56, "stream header is 56 bytes on disk");

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
static_assert(sizeof(BITMAPINFOHEADER) == 40, "bitmap header is 40 bytes on disk");

struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
constexpr size_t kWaveFormatSize = 18;  // on disk, without the in-memory padding

// Decoders: each reads exactly its record's on-disk size from `p`.
MainAVIHeader DecodeMainHeader(const uint8_t* p);       // 56 bytes
AVIStreamHeader DecodeStreamHeader(const uint8_t* p);   // 56 bytes
BITMAPINFOHEADER DecodeBitmapHeader(const uint8_t* p);  // 40 bytes
WAVEFORMATEX DecodeWaveFormat(const uint8_t* p);        // 18 bytes

}  // namespace avi
