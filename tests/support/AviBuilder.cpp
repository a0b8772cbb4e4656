#include "support/AviBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "support/Bytes.h"

namespace testsupport {

uint64_t AviBuilder::OpenList(const char (&code)[5], const char (&type)[5]) {
    const uint64_t start = Position();
    bytes.Code(code);  // 'RIFF' or 'LIST'
    bytes.U32(0);      // size of type + contents, patched by Close
    bytes.Code(type);  // form or list type
    return start;
}

uint64_t AviBuilder::OpenChunk(const char (&code)[5]) {
    const uint64_t start = Position();
    bytes.Code(code).U32(0);  // size patched by Close
    return start;
}

void AviBuilder::Close(uint64_t start) {
    const uint64_t size = Position() - start - 8;
    bytes.PatchU32(Held(start + 4), size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size));
}

void AviBuilder::Hole(uint64_t size) {
    hasHole_ = true;
    holeAt_ = bytes.size();
    holeSize_ = size;
}

size_t AviBuilder::Held(uint64_t position) const {
    return static_cast<size_t>(hasHole_ && position >= holeAt_ ? position - holeSize_ : position);
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
    StreamHeaderRecord(type, handler, 400000, 10000000, 3);
}

void AviBuilder::StreamHeader(const char (&type)[5], uint32_t dwSize) {
    const char none[5] = {0, 0, 0, 0, 0};
    StreamHeader(type, none, dwSize);
}

void AviBuilder::BitmapFormat(uint32_t sizeImage, uint32_t dwSize) {
    bytes.Code("strf").U32(dwSize);
    BitmapRecord(4, 4, 32, 0, sizeImage);  // BI_RGB
}

void AviBuilder::WaveFormat(uint16_t channels, uint16_t bitsPerSample, uint32_t bodySize) {
    bytes.Code("strf").U32(bodySize);
    WaveRecord(1, channels, bitsPerSample, 48000, 48000u * channels * bitsPerSample / 8);  // PCM
    if (bodySize >= 18) bytes.U16(0);                                                      // cbSize
}

void AviBuilder::TimedStreamHeader(const char (&type)[5], const char (&handler)[5], uint32_t scale,
                                   uint32_t rate, uint32_t length) {
    bytes.Code("strh").U32(56);
    StreamHeaderRecord(type, handler, scale, rate, length);
}

void AviBuilder::StreamHeaderRecord(const char (&type)[5], const char (&handler)[5], uint32_t scale,
                                    uint32_t rate, uint32_t length) {
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
    BitmapRecord(width, height, bitCount, compression, sizeImage);
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
    bytes.Code("strf").U32(bodySize);
    WaveRecord(tag, channels, bitsPerSample, 8000,
               8000u * static_cast<uint16_t>(channels * bitsPerSample / 8));
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

void AviBuilder::BitmapRecord(int32_t width, int32_t height, uint16_t bitCount,
                              uint32_t compression, uint32_t sizeImage) {
    bytes.U32(40);                             // biSize
    bytes.U32(static_cast<uint32_t>(width));   // biWidth
    bytes.U32(static_cast<uint32_t>(height));  // biHeight (negative: top row first)
    bytes.U16(1);                              // biPlanes
    bytes.U16(bitCount);                       // biBitCount
    bytes.U32(compression);                    // biCompression
    bytes.U32(sizeImage);                      // biSizeImage
    bytes.Zeros(16);                           // pels per meter x/y, colours used/important
}

void AviBuilder::WaveRecord(uint16_t tag, uint16_t channels, uint16_t bitsPerSample,
                            uint32_t sampleRate, uint32_t bytesPerSecond) {
    const auto blockAlign = static_cast<uint16_t>(channels * bitsPerSample / 8);
    bytes.U16(tag);             // wFormatTag
    bytes.U16(channels);        // nChannels
    bytes.U32(sampleRate);      // nSamplesPerSec
    bytes.U32(bytesPerSecond);  // nAvgBytesPerSec
    bytes.U16(blockAlign);      // nBlockAlign
    bytes.U16(bitsPerSample);   // wBitsPerSample
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
    const uint64_t data = Position();
    for (uint32_t i = 0; i < size; ++i) bytes.U8(fill);
    return data;
}

void AviBuilder::ChunkHeader(const char (&code)[5], uint32_t size) { bytes.Code(code).U32(size); }

uint64_t AviBuilder::OpenIndex(const char (&code)[5], const char (&chunkId)[5], uint64_t baseOffset,
                               uint32_t entriesInUse) {
    const uint64_t start = Position();
    countingIndex_ = entriesInUse == kCountEntries;
    openIndex_ = start;
    indexEntries_ = 0;
    if (countingIndex_) entriesInUse = 0;
    bytes.Code(code);         // 'ix00' / 'ix01'
    bytes.U32(0);             // chunk size, patched by Close
    bytes.U16(2);             // longs per entry
    bytes.U8(0);              // index sub-type
    bytes.U8(1);              // index type: AVI_INDEX_OF_CHUNKS
    bytes.U32(entriesInUse);  // entries in use
    bytes.Code(chunkId);      // chunk id of the indexed stream
    bytes.U64(baseOffset);    // base offset
    bytes.U32(0);             // reserved
    return start;
}

void AviBuilder::IndexEntry(uint32_t offset, uint32_t size) {
    bytes.U32(offset).U32(size);
    if (countingIndex_) bytes.PatchU32(Held(openIndex_ + 12), ++indexEntries_);
}

std::vector<uint8_t> FramePixels(uint32_t frame, size_t size) {
    std::vector<uint8_t> pixels(size);
    uint32_t state = 0x9E3779B9u ^ (frame * 0x85EBCA6Bu);
    for (size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        pixels[i] = static_cast<uint8_t>(state >> 24);
    }
    return pixels;
}

BuiltAvi BuildAvi(const AviLayout& layout) {
    BuiltAvi built;
    AviBuilder avi;
    Bytes& out = avi.bytes;
    const uint32_t absHeight =
        static_cast<uint32_t>(layout.height < 0 ? -layout.height : layout.height);
    const uint32_t frameBytes = layout.sizeImage >= 0 ? static_cast<uint32_t>(layout.sizeImage)
                                                      : static_cast<uint32_t>(layout.width) *
                                                            absHeight * layout.bitCount / 8;
    const uint16_t blockAlign = static_cast<uint16_t>(layout.channels * layout.bitsPerSample / 8);
    const uint32_t videoFrames = layout.withVideo ? layout.frames : 0;
    const uint32_t totalSamples = layout.withAudio ? layout.frames * layout.samplesPerChunk : 0;

    const uint64_t riff = avi.OpenList("RIFF", "AVI ");
    const uint64_t hdrl = avi.OpenList("LIST", "hdrl");
    const uint64_t avih = avi.OpenChunk("avih");
    out.U32(layout.frameDuration / 10)             // dwMicroSecPerFrame
        .U32(0)                                    // dwMaxBytesPerSec
        .U32(0)                                    // dwPaddingGranularity
        .U32(layout.hasIndexFlag ? 0x110 : 0x100)  // dwFlags: has-index, interleaved
        .U32(layout.avihFrames == UINT32_MAX ? videoFrames : layout.avihFrames)  // dwTotalFrames
        .U32(0)                                                                  // dwInitialFrames
        .U32((layout.withVideo ? 1 : 0) + (layout.withAudio ? 1 : 0))            // dwStreams
        .U32(frameBytes)  // dwSuggestedBufferSize
        .U32(static_cast<uint32_t>(layout.width))
        .U32(absHeight)
        .Zeros(16);  // dwReserved
    avi.Close(avih);

    if (layout.withVideo) {
        const uint64_t strl = avi.OpenList("LIST", "strl");
        const uint64_t strh = avi.OpenChunk("strh");
        out.Code("vids")
            .U32(0)  // fccType, fccHandler 0
            .U32(0)
            .U16(0)
            .U16(0)
            .U32(0)                     // dwFlags, wPriority, wLanguage, dwInitialFrames
            .U32(layout.frameDuration)  // dwScale
            .U32(layout.videoRate)      // dwRate
            .U32(0)
            .U32(videoFrames)  // dwStart, dwLength
            .U32(frameBytes)
            .U32(0)
            .U32(0)  // dwSuggestedBufferSize, dwQuality, dwSampleSize
            .U16(0)
            .U16(0)
            .U16(static_cast<uint16_t>(layout.width))
            .U16(static_cast<uint16_t>(absHeight));
        avi.Close(strh);
        const uint64_t strf = avi.OpenChunk("strf");
        out.U32(40)
            .U32(static_cast<uint32_t>(layout.width))
            .U32(static_cast<uint32_t>(layout.height))
            .U16(1)
            .U16(layout.bitCount)  // biPlanes, biBitCount
            .U32(0)
            .U32(frameBytes)  // biCompression, biSizeImage
            .Zeros(16);
        avi.Close(strf);
        avi.Close(strl);
    }
    if (layout.withAudio) {
        const uint64_t strl = avi.OpenList("LIST", "strl");
        const uint64_t strh = avi.OpenChunk("strh");
        out.Code("auds")
            .U32(0)
            .U32(0)
            .U16(0)
            .U16(0)
            .U32(0)
            .U32(layout.audioScale >= 0 ? static_cast<uint32_t>(layout.audioScale)
                                        : blockAlign)  // dwScale
            .U32(layout.audioRate >= 0 ? static_cast<uint32_t>(layout.audioRate)
                                       : layout.sampleRate * blockAlign)  // dwRate
            .U32(0)
            .U32(layout.audioLength == UINT32_MAX ? totalSamples : layout.audioLength)
            .U32(layout.samplesPerChunk * blockAlign)
            .U32(0)
            .U32(blockAlign)
            .Zeros(8);
        avi.Close(strh);
        const uint64_t strf = avi.OpenChunk("strf");
        out.U16(1)
            .U16(layout.channels)
            .U32(layout.sampleRate)
            .U32(layout.sampleRate * blockAlign)
            .U16(blockAlign)
            .U16(layout.bitsPerSample)
            .U16(0);
        avi.Close(strf);
        avi.Close(strl);
    }
    avi.Close(hdrl);

    const uint64_t movi = avi.OpenList("LIST", "movi");
    if (layout.junkBeforeFrames != 0) {
        const uint64_t junk = avi.OpenChunk("JUNK");
        avi.Hole(layout.junkBeforeFrames);
        avi.Close(junk);
    }
    std::vector<uint32_t> videoEntries;
    std::vector<std::pair<uint32_t, uint32_t>> audioEntries;
    // Index offsets are relative to the 'movi' list header, or to the end of
    // the hole, so that they fit in 32 bits.
    const uint64_t base = layout.junkBeforeFrames != 0 ? avi.Position() - 8 : movi;
    uint32_t sampleCounter = 0;
    for (uint32_t k = 0; k < layout.frames; ++k) {
        if (layout.withVideo) {
            const uint64_t frame = avi.OpenChunk("00db");
            built.frameOffsets.push_back(frame + 8);
            out.Append(FramePixels(k, frameBytes));
            avi.Close(frame);
            videoEntries.push_back(static_cast<uint32_t>(frame + 8 - base));
        }
        if (layout.withAudio) {
            const uint64_t audio = avi.OpenChunk("01wb");
            const uint32_t bytes = layout.samplesPerChunk * blockAlign;
            for (uint32_t i = 0; i < bytes; ++i) {
                const uint8_t value = static_cast<uint8_t>((sampleCounter * 7 + i * 13 + k) & 0xFF);
                out.U8(value);
                built.pcm.push_back(value);
            }
            sampleCounter += layout.samplesPerChunk;
            avi.Close(audio);
            audioEntries.push_back({static_cast<uint32_t>(audio + 8 - base), bytes});
        }
    }
    if (layout.withVideo) {
        const uint64_t ix =
            avi.OpenIndex("ix00", "00db", base, static_cast<uint32_t>(videoEntries.size()));
        for (uint32_t offset : videoEntries) avi.IndexEntry(offset, frameBytes);
        avi.Close(ix);
    }
    if (layout.withAudio) {
        const uint64_t ix =
            avi.OpenIndex("ix01", "01wb", base, static_cast<uint32_t>(audioEntries.size()));
        for (const auto& entry : audioEntries) avi.IndexEntry(entry.first, entry.second);
        avi.Close(ix);
    }
    avi.Close(movi);
    const uint64_t idx1 = avi.OpenChunk("idx1");
    for (uint32_t offset : videoEntries)
        out.Code("00db").U32(0x10).U32(offset - 16).U32(frameBytes);  // relative to "movi"
    avi.Close(idx1);
    avi.Close(riff);
    built.bytes = out.data();
    if (avi.hasHole()) {
        built.tail.assign(built.bytes.begin() + static_cast<std::ptrdiff_t>(avi.holeAt()),
                          built.bytes.end());
        built.bytes.resize(avi.holeAt());
        built.holeSize = avi.holeSize();
    }
    return built;
}

void WriteAvi(const std::string& path, const BuiltAvi& built) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(built.bytes.data(), 1, built.bytes.size(), file);
    if (built.holeSize != 0) {
        // Seek in steps that a 32-bit long can express, then write the tail.
        uint64_t left = built.holeSize;
        while (left > 0) {
            const long step = left > 0x40000000u ? 0x40000000L : static_cast<long>(left);
            std::fseek(file, step, SEEK_CUR);
            left -= static_cast<uint64_t>(step);
        }
        std::fwrite(built.tail.data(), 1, built.tail.size(), file);
    }
    std::fclose(file);
}

std::vector<NamedLayout> SeedLayouts() {
    // Each seed is the default layout with one change.
    const struct {
        const char* name;
        void (*bend)(AviLayout&);
    } kSeeds[] = {
        {"builder-both", [](AviLayout&) {}},
        {"builder-video-only", [](AviLayout& l) { l.withAudio = false; }},
        {"builder-audio-only", [](AviLayout& l) { l.withVideo = false; }},
        {"builder-audio8-mono",
         [](AviLayout& l) {
             l.bitsPerSample = 8;
             l.channels = 1;
         }},
        {"builder-top-down",
         [](AviLayout& l) {
             l.height = -2;
             l.frames = 5;
         }},
        {"builder-avih-frames-1", [](AviLayout& l) { l.avihFrames = 1; }},
        {"builder-avih-frames-0", [](AviLayout& l) { l.avihFrames = 0; }},
        {"builder-size-image-odd", [](AviLayout& l) { l.sizeImage = 7; }},
        {"builder-scale-0", [](AviLayout& l) { l.frameDuration = 0; }},
        {"builder-audio-scale-0", [](AviLayout& l) { l.audioScale = 0; }},
        {"builder-audio24", [](AviLayout& l) { l.bitsPerSample = 24; }},
        {"builder-one-sample-chunks", [](AviLayout& l) { l.samplesPerChunk = 1; }},
    };
    std::vector<NamedLayout> seeds;
    for (const auto& seed : kSeeds) {
        AviLayout layout;
        seed.bend(layout);
        seeds.push_back({seed.name, layout});
    }
    return seeds;
}

}  // namespace testsupport
