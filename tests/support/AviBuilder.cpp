#include "support/AviBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "support/Bytes.h"

namespace testsupport {

std::vector<uint8_t> FramePixels(uint32_t frame, size_t size) {
    std::vector<uint8_t> pixels(size);
    uint32_t state = 0x9E3779B9u ^ (frame * 0x85EBCA6Bu);
    for (size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        pixels[i] = static_cast<uint8_t>(state >> 24);
    }
    return pixels;
}

namespace {

// Writes a chunk header now and its size when the chunk is closed. Positions
// are file offsets: once the hole is passed they run ahead of the bytes held.
class ChunkWriter {
public:
    explicit ChunkWriter(Bytes& out) : out_(out) {}
    uint64_t Position() const { return out_.size() + (holeAt_ != 0 ? hole_ : 0); }
    uint64_t Open(const char (&code)[5]) {
        out_.Code(code).U32(0);
        return Position();
    }
    uint64_t OpenList(const char (&code)[5], const char (&type)[5]) {
        out_.Code(code).U32(0).Code(type);
        return Position() - 4;
    }
    void Close(uint64_t dataStart) {
        const uint64_t size = Position() - dataStart;
        out_.PatchU32(Physical(dataStart - 4),
                      size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size));
    }
    void Hole(uint64_t size) {
        holeAt_ = out_.size();
        hole_ = size;
    }
    size_t holeAt() const { return holeAt_; }
    uint64_t hole() const { return hole_; }

private:
    size_t Physical(uint64_t position) const {
        return static_cast<size_t>(holeAt_ != 0 && position >= holeAt_ ? position - hole_
                                                                       : position);
    }
    Bytes& out_;
    size_t holeAt_ = 0;
    uint64_t hole_ = 0;
};

}  // namespace

BuiltAvi BuildAvi(const AviLayout& layout) {
    BuiltAvi built;
    Bytes out;
    ChunkWriter chunks(out);
    const uint32_t absHeight =
        static_cast<uint32_t>(layout.height < 0 ? -layout.height : layout.height);
    const uint32_t frameBytes = layout.sizeImage >= 0 ? static_cast<uint32_t>(layout.sizeImage)
                                                      : static_cast<uint32_t>(layout.width) *
                                                            absHeight * layout.bitCount / 8;
    const uint16_t blockAlign = static_cast<uint16_t>(layout.channels * layout.bitsPerSample / 8);
    const uint32_t videoFrames = layout.withVideo ? layout.frames : 0;
    const uint32_t totalSamples = layout.withAudio ? layout.frames * layout.samplesPerChunk : 0;

    const uint64_t riff = chunks.OpenList("RIFF", "AVI ");
    const uint64_t hdrl = chunks.OpenList("LIST", "hdrl");
    const uint64_t avih = chunks.Open("avih");
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
    chunks.Close(avih);

    if (layout.withVideo) {
        const uint64_t strl = chunks.OpenList("LIST", "strl");
        const uint64_t strh = chunks.Open("strh");
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
        chunks.Close(strh);
        const uint64_t strf = chunks.Open("strf");
        out.U32(40)
            .U32(static_cast<uint32_t>(layout.width))
            .U32(static_cast<uint32_t>(layout.height))
            .U16(1)
            .U16(layout.bitCount)  // biPlanes, biBitCount
            .U32(0)
            .U32(frameBytes)  // biCompression, biSizeImage
            .Zeros(16);
        chunks.Close(strf);
        chunks.Close(strl);
    }
    if (layout.withAudio) {
        const uint64_t strl = chunks.OpenList("LIST", "strl");
        const uint64_t strh = chunks.Open("strh");
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
        chunks.Close(strh);
        const uint64_t strf = chunks.Open("strf");
        out.U16(1)
            .U16(layout.channels)
            .U32(layout.sampleRate)
            .U32(layout.sampleRate * blockAlign)
            .U16(blockAlign)
            .U16(layout.bitsPerSample)
            .U16(0);
        chunks.Close(strf);
        chunks.Close(strl);
    }
    chunks.Close(hdrl);

    const uint64_t movi = chunks.OpenList("LIST", "movi");
    if (layout.junkBeforeFrames != 0) {
        const uint64_t junk = chunks.Open("JUNK");
        chunks.Hole(layout.junkBeforeFrames);
        chunks.Close(junk);
    }
    std::vector<uint32_t> videoEntries;
    std::vector<std::pair<uint32_t, uint32_t>> audioEntries;
    // Index offsets are relative to the 'movi' list header, or to the end of
    // the hole, so that they fit in 32 bits.
    const uint64_t base = layout.junkBeforeFrames != 0 ? chunks.Position() - 8 : movi - 8;
    uint32_t sampleCounter = 0;
    for (uint32_t k = 0; k < layout.frames; ++k) {
        if (layout.withVideo) {
            const uint64_t frame = chunks.Open("00db");
            built.frameOffsets.push_back(frame);
            out.Append(FramePixels(k, frameBytes));
            chunks.Close(frame);
            videoEntries.push_back(static_cast<uint32_t>(frame - base));
        }
        if (layout.withAudio) {
            const uint64_t audio = chunks.Open("01wb");
            const uint32_t bytes = layout.samplesPerChunk * blockAlign;
            for (uint32_t i = 0; i < bytes; ++i) {
                const uint8_t value = static_cast<uint8_t>((sampleCounter * 7 + i * 13 + k) & 0xFF);
                out.U8(value);
                built.pcm.push_back(value);
            }
            sampleCounter += layout.samplesPerChunk;
            chunks.Close(audio);
            audioEntries.push_back({static_cast<uint32_t>(audio - base), bytes});
        }
    }
    if (layout.withVideo) {
        const uint64_t ix = chunks.Open("ix00");
        out.U16(2)
            .U8(0)
            .U8(1)
            .U32(static_cast<uint32_t>(videoEntries.size()))
            .Code("00db")
            .U64(base)
            .U32(0);
        for (uint32_t offset : videoEntries) out.U32(offset).U32(frameBytes);
        chunks.Close(ix);
    }
    if (layout.withAudio) {
        const uint64_t ix = chunks.Open("ix01");
        out.U16(2)
            .U8(0)
            .U8(1)
            .U32(static_cast<uint32_t>(audioEntries.size()))
            .Code("01wb")
            .U64(base)
            .U32(0);
        for (const auto& entry : audioEntries) out.U32(entry.first).U32(entry.second);
        chunks.Close(ix);
    }
    chunks.Close(movi);
    const uint64_t idx1 = chunks.Open("idx1");
    for (uint32_t offset : videoEntries)
        out.Code("00db").U32(0x10).U32(offset - 16).U32(frameBytes);  // relative to "movi"
    chunks.Close(idx1);
    chunks.Close(riff);
    built.bytes = out.data();
    if (chunks.holeAt() != 0) {
        built.tail.assign(built.bytes.begin() + static_cast<std::ptrdiff_t>(chunks.holeAt()),
                          built.bytes.end());
        built.bytes.resize(chunks.holeAt());
        built.holeSize = chunks.hole();
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
    std::vector<NamedLayout> seeds;
    AviLayout base;
    seeds.push_back({"builder-both", base});
    AviLayout s = base;
    s.withAudio = false;
    seeds.push_back({"builder-video-only", s});
    s = base;
    s.withVideo = false;
    seeds.push_back({"builder-audio-only", s});
    s = base;
    s.bitsPerSample = 8;
    s.channels = 1;
    seeds.push_back({"builder-audio8-mono", s});
    s = base;
    s.height = -2;
    s.frames = 5;
    seeds.push_back({"builder-top-down", s});
    s = base;
    s.avihFrames = 1;
    seeds.push_back({"builder-avih-frames-1", s});
    s = base;
    s.avihFrames = 0;
    seeds.push_back({"builder-avih-frames-0", s});
    s = base;
    s.sizeImage = 7;
    seeds.push_back({"builder-size-image-odd", s});
    s = base;
    s.frameDuration = 0;
    seeds.push_back({"builder-scale-0", s});
    s = base;
    s.audioScale = 0;
    seeds.push_back({"builder-audio-scale-0", s});
    s = base;
    s.bitsPerSample = 24;
    seeds.push_back({"builder-audio24", s});
    s = base;
    s.samplesPerChunk = 1;
    seeds.push_back({"builder-one-sample-chunks", s});
    return seeds;
}

}  // namespace testsupport
