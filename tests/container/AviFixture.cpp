#include "AviFixture.h"

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "qxdriver.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace fixture {

size_t AviBuilder::OpenList(const char (&code)[5], const char (&type)[5]) {
    const size_t start = bytes.size();
    bytes.Code(code);  // 'RIFF' or 'LIST'
    bytes.U32(0);      // size of type + contents, patched by CloseList
    bytes.Code(type);  // form or list type
    return start;
}

void AviBuilder::CloseList(size_t start) {
    bytes.PatchU32(start + 4, static_cast<uint32_t>(bytes.size() - start - 8));
}

void AviBuilder::MainHeader(uint32_t flags, uint32_t totalFrames, uint32_t dwSize) {
    bytes.Code("avih").U32(dwSize);
    bytes.U32(40000);        // dwMicroSecPerFrame
    bytes.U32(0);            // dwMaxBytesPerSec
    bytes.U32(0);            // dwPaddingGranularity
    bytes.U32(flags);        // dwFlags (0x10: has index)
    bytes.U32(totalFrames);  // dwTotalFrames
    bytes.U32(0);            // dwInitialFrames
    bytes.U32(2);            // dwStreams
    bytes.U32(0);            // dwSuggestedBufferSize
    bytes.U32(4);            // dwWidth
    bytes.U32(4);            // dwHeight
    bytes.Zeros(16);         // dwReserved[4]
}

void AviBuilder::StreamHeader(const char (&type)[5], const char (&handler)[5], uint32_t dwSize) {
    bytes.Code("strh").U32(dwSize);
    bytes.Code(type);     // fccType
    bytes.Code(handler);  // fccHandler
    bytes.U32(0);         // dwFlags
    bytes.U16(0);         // wPriority
    bytes.U16(0);         // wLanguage
    bytes.U32(0);         // dwInitialFrames
    bytes.U32(400000);    // dwScale
    bytes.U32(10000000);  // dwRate
    bytes.U32(0);         // dwStart
    bytes.U32(3);         // dwLength
    bytes.U32(0);         // dwSuggestedBufferSize
    bytes.U32(0);         // dwQuality
    bytes.U32(0);         // dwSampleSize
    bytes.Zeros(8);       // rcFrame
}

void AviBuilder::StreamHeader(const char (&type)[5], uint32_t dwSize) {
    const char none[5] = {0, 0, 0, 0, 0};
    StreamHeader(type, none, dwSize);
}

void AviBuilder::BitmapFormat(uint32_t sizeImage, uint32_t dwSize) {
    bytes.Code("strf").U32(dwSize);
    bytes.U32(40);         // biSize
    bytes.U32(4);          // biWidth
    bytes.U32(4);          // biHeight
    bytes.U16(1);          // biPlanes
    bytes.U16(32);         // biBitCount
    bytes.U32(0);          // biCompression (BI_RGB)
    bytes.U32(sizeImage);  // biSizeImage
    bytes.Zeros(16);       // pels per meter x/y, colours used/important
}

void AviBuilder::WaveFormat(uint16_t channels, uint16_t bitsPerSample, uint32_t bodySize) {
    bytes.Code("strf").U32(bodySize);
    bytes.U16(1);                                                    // wFormatTag (PCM)
    bytes.U16(channels);                                             // nChannels
    bytes.U32(48000);                                                // nSamplesPerSec
    bytes.U32(48000u * channels * bitsPerSample / 8);                // nAvgBytesPerSec
    bytes.U16(static_cast<uint16_t>(channels * bitsPerSample / 8));  // nBlockAlign
    bytes.U16(bitsPerSample);                                        // wBitsPerSample
    if (bodySize >= 18) bytes.U16(0);                                // cbSize
}

void AviBuilder::TimedStreamHeader(const char (&type)[5], const char (&handler)[5], uint32_t scale,
                                   uint32_t rate, uint32_t length) {
    bytes.Code("strh").U32(56);
    bytes.Code(type);     // fccType
    bytes.Code(handler);  // fccHandler
    bytes.U32(0);         // dwFlags
    bytes.U16(0);         // wPriority
    bytes.U16(0);         // wLanguage
    bytes.U32(0);         // dwInitialFrames
    bytes.U32(scale);     // dwScale
    bytes.U32(rate);      // dwRate
    bytes.U32(0);         // dwStart
    bytes.U32(length);    // dwLength
    bytes.U32(0);         // dwSuggestedBufferSize
    bytes.U32(0);         // dwQuality
    bytes.U32(0);         // dwSampleSize
    bytes.Zeros(8);       // rcFrame
}

void AviBuilder::Bitmap(int32_t width, int32_t height, uint16_t bitCount, uint32_t compression,
                        uint32_t sizeImage, uint32_t dwSize, const uint32_t* masks) {
    bytes.Code("strf").U32(dwSize);
    bytes.U32(40);                             // biSize
    bytes.U32(static_cast<uint32_t>(width));   // biWidth
    bytes.U32(static_cast<uint32_t>(height));  // biHeight (negative: top row first)
    bytes.U16(1);                              // biPlanes
    bytes.U16(bitCount);                       // biBitCount
    bytes.U32(compression);                    // biCompression
    bytes.U32(sizeImage);                      // biSizeImage
    bytes.Zeros(16);                           // pels per meter x/y, colours used/important
    if (dwSize >= 52) {
        static const uint32_t kBgra[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu};
        const uint32_t* m = masks != nullptr ? masks : kBgra;
        bytes.U32(m[0]).U32(m[1]).U32(m[2]);  // red, green, blue masks
        bytes.Zeros(dwSize - 52);
    } else if (dwSize > 40) {
        bytes.Zeros(dwSize - 40);
    }
}

void AviBuilder::Wave(uint16_t tag, uint16_t channels, uint16_t bitsPerSample, uint32_t bodySize,
                      uint16_t subFormat) {
    const auto blockAlign = static_cast<uint16_t>(channels * bitsPerSample / 8);
    bytes.Code("strf").U32(bodySize);
    bytes.U16(tag);                 // wFormatTag
    bytes.U16(channels);            // nChannels
    bytes.U32(8000);                // nSamplesPerSec
    bytes.U32(8000u * blockAlign);  // nAvgBytesPerSec
    bytes.U16(blockAlign);          // nBlockAlign
    bytes.U16(bitsPerSample);       // wBitsPerSample
    if (bodySize < 18) return;
    bytes.U16(static_cast<uint16_t>(bodySize - 18));  // cbSize
    if (bodySize < 40) {
        bytes.Zeros(bodySize - 18);
        return;
    }
    bytes.U16(bitsPerSample);  // wValidBitsPerSample
    bytes.U32(3);              // dwChannelMask
    // Sub-format GUID: the format tag, then the fixed tail shared by all.
    static const uint8_t kTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    bytes.U16(subFormat);
    for (uint8_t b : kTail) bytes.U8(b);
    bytes.Zeros(bodySize - 40);
}

uint64_t AviBuilder::PaddedChunk(const char (&code)[5], uint32_t size, uint8_t fill) {
    const uint64_t data = Chunk(code, size, fill);
    if ((size & 1u) != 0) bytes.U8(0);  // the RIFF pad byte
    return data;
}

void AviBuilder::Idx1Entry(const char (&code)[5], uint32_t offset, uint32_t size, uint32_t flags) {
    bytes.Code(code).U32(flags).U32(offset).U32(size);
}

uint64_t AviBuilder::Chunk(const char (&code)[5], uint32_t size, uint8_t fill) {
    bytes.Code(code).U32(size);
    const uint64_t data = bytes.size();
    for (uint32_t i = 0; i < size; ++i) bytes.U8(fill);
    return data;
}

void AviBuilder::ChunkHeader(const char (&code)[5], uint32_t size) { bytes.Code(code).U32(size); }

size_t AviBuilder::OpenIndex(const char (&code)[5], const char (&chunkId)[5], uint64_t baseOffset) {
    const size_t start = bytes.size();
    bytes.Code(code);       // 'ix00' / 'ix01'
    bytes.U32(0);           // chunk size, patched by CloseIndex
    bytes.U16(2);           // longs per entry
    bytes.U8(0);            // index sub-type
    bytes.U8(1);            // index type: AVI_INDEX_OF_CHUNKS
    bytes.U32(0);           // entries in use (never consulted)
    bytes.Code(chunkId);    // chunk id of the indexed stream
    bytes.U64(baseOffset);  // base offset
    bytes.U32(0);           // reserved
    return start;
}

void AviBuilder::IndexEntry(uint32_t offset, uint32_t size) { bytes.U32(offset).U32(size); }

void AviBuilder::CloseIndex(size_t start) {
    bytes.PatchU32(start + 4, static_cast<uint32_t>(bytes.size() - start - 8));
}

size_t Headers(AviBuilder& avi, const ExampleOptions& options) {
    const size_t riff = avi.OpenList("RIFF", "AVI ");
    const size_t hdrl = avi.OpenList("LIST", "hdrl");
    avi.MainHeader(0x10, options.totalFramesField);
    const size_t videoStrl = avi.OpenList("LIST", "strl");
    avi.StreamHeader("vids");
    avi.BitmapFormat(options.sizeImage);
    avi.CloseList(videoStrl);
    const size_t audioStrl = avi.OpenList("LIST", "strl");
    avi.StreamHeader("auds");
    avi.WaveFormat(options.channels, options.bitsPerSample);
    avi.CloseList(audioStrl);
    avi.CloseList(hdrl);
    return riff;
}

std::vector<uint64_t> VideoMovie(AviBuilder& avi, uint32_t frames, uint32_t sizeImage) {
    std::vector<uint64_t> offsets;
    const size_t movi = avi.OpenList("LIST", "movi");
    for (uint32_t i = 0; i < frames; ++i) offsets.push_back(avi.Chunk("00db", sizeImage));
    const size_t ix00 = avi.OpenIndex("ix00", "00db", movi);
    for (uint64_t offset : offsets) avi.IndexEntry(static_cast<uint32_t>(offset - movi), sizeImage);
    avi.CloseIndex(ix00);
    avi.CloseList(movi);
    return offsets;
}

ExampleFile BuildExample(const ExampleOptions& options) {
    ExampleFile file;
    AviBuilder& avi = file.avi;
    const size_t riff = avi.OpenList("RIFF", "AVI ");
    const size_t hdrl = avi.OpenList("LIST", "hdrl");
    avi.MainHeader(0x10, options.totalFramesField);
    const size_t videoStrl = avi.OpenList("LIST", "strl");
    avi.StreamHeader("vids");
    avi.BitmapFormat(options.sizeImage);
    avi.Chunk("indx", 24);  // super index: stepped over, never read
    avi.CloseList(videoStrl);
    const size_t audioStrl = avi.OpenList("LIST", "strl");
    avi.StreamHeader("auds");
    avi.WaveFormat(options.channels, options.bitsPerSample);
    avi.Chunk("indx", 24);
    avi.CloseList(audioStrl);
    avi.CloseList(hdrl);
    const size_t odml = avi.OpenList("LIST", "odml");
    avi.Chunk("dmlh", 248);
    avi.CloseList(odml);
    avi.Chunk("JUNK", 13);  // odd size, no pad byte after it

    const size_t movi = avi.OpenList("LIST", "movi");
    for (uint32_t i = 0; i < options.frames; ++i) {
        file.frameOffsets.push_back(
            avi.Chunk("00db", options.sizeImage, static_cast<uint8_t>(i + 1)));
        file.audioChunks.emplace_back(avi.Chunk("01wb", options.audioChunkSize),
                                      options.audioChunkSize);
    }
    file.videoIndexBase = movi;
    const size_t ix00 = avi.OpenIndex("ix00", "00db", movi);
    for (uint64_t offset : file.frameOffsets) {
        avi.IndexEntry(static_cast<uint32_t>(offset - movi), options.sizeImage);
    }
    avi.CloseIndex(ix00);
    file.audioIndexBase = movi;
    const size_t ix01 = avi.OpenIndex("ix01", "01wb", movi);
    for (const auto& chunk : file.audioChunks) {
        avi.IndexEntry(static_cast<uint32_t>(chunk.first - movi), chunk.second);
    }
    avi.CloseIndex(ix01);
    avi.CloseList(movi);
    avi.Chunk("idx1", 16);
    avi.CloseList(riff);
    return file;
}

MappedReader::MappedReader(const std::string& path, Medium medium) {
    static const uint32_t kVideoOptions[] = {QX_TAG_EYES, 1, 0, 0};
    static const uint32_t kAudioOptions[] = {QX_TAG_EARS, 1, 0, 0};
    reader_ = std::make_unique<CMirolan>(nullptr, medium == kVideo ? kVideoOptions : kAudioOptions,
                                         CMirolan::NotOpened{});
    CMirolan& r = *reader_;
    r.hFile = platform::OpenFileForSharedRead(testsupport::ToUtf16(path).c_str());
    EXPECT_NE(r.hFile, nullptr) << path;
    if (r.hFile == nullptr) return;
    EXPECT_TRUE(platform::GetFileSize(r.hFile, &r.fileSize));
    r.granularity = platform::AllocationGranularity();
    r.hMapFile = platform::CreateReadOnlyMapping(r.hFile);
    EXPECT_NE(r.hMapFile, nullptr) << path;
}

std::unique_ptr<MappedReader> Open(const testsupport::TempDir& dir, const std::string& name,
                                   const std::vector<uint8_t>& bytes, MappedReader::Medium medium) {
    const std::string path = dir.File(name);
    testsupport::WriteFile(path, bytes);
    return std::make_unique<MappedReader>(path, medium);
}

}  // namespace fixture
