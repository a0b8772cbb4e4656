#include "Headers.h"

#include <algorithm>
#include <stdexcept>

namespace avimake {
namespace {

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAvifIsInterleaved = 0x100;
constexpr uint32_t kTicksPerSecond = 10000000;
constexpr uint32_t kDmlhSize = 248;

uint32_t Clamp32(uint64_t v) { return static_cast<uint32_t>(std::min<uint64_t>(v, UINT32_MAX)); }
uint16_t Clamp16(uint32_t v) { return static_cast<uint16_t>(std::min<uint32_t>(v, 32767)); }

uint32_t AvihTotalFrames(const Options& o, const HeaderTotals& t) {
    switch (o.avihFramesMode) {
        case AvihFramesMode::kAll:
            return Clamp32(t.video.length);
        case AvihFramesMode::kFixed:
            return o.avihFrames;
        case AvihFramesMode::kFirstSegment:
            break;
    }
    return Clamp32(t.firstSegmentFrames);
}

ByteBuffer MainHeader(const Options& o, const StreamFormat& f, const HeaderTotals& t) {
    const uint64_t videoRate =
        f.hasVideo ? uint64_t{f.frameBytes} * kTicksPerSecond / o.frameDuration : 0;
    const uint32_t audioRate = f.hasAudio ? f.audioBytesPerSecond : 0;
    ByteBuffer b;
    b.U32(o.frameDuration / 10);  // dwMicroSecPerFrame
    b.U32(Clamp32(videoRate + audioRate));
    b.U32(0);  // dwPaddingGranularity
    b.U32((o.noIndexFlag ? 0 : kAvifHasIndex) | kAvifIsInterleaved);
    b.U32(AvihTotalFrames(o, t));
    b.U32(0);  // dwInitialFrames
    b.U32((f.hasVideo ? 1 : 0) + (f.hasAudio ? 1 : 0));
    b.U32(std::max(t.video.maxChunk, t.audio.maxChunk) + 8);
    b.U32(f.hasVideo ? o.width : 0);
    b.U32(f.hasVideo ? o.height : 0);
    b.Zeros(16);  // dwReserved[4]
    return b;
}

void HandlerCode(ByteBuffer& b, const std::string& handler) {
    if (handler.empty()) {
        b.U32(0);
        return;
    }
    std::string code = handler;
    code.resize(4, ' ');
    b.FourCC(code.c_str());
}

ByteBuffer VideoStreamHeader(const Options& o, const HeaderTotals& t) {
    ByteBuffer b;
    b.FourCC("vids");
    HandlerCode(b, o.handler);
    b.U32(0);  // dwFlags
    b.U16(0);  // wPriority
    b.U16(0);  // wLanguage
    b.U32(0);  // dwInitialFrames
    b.U32(o.frameDuration);
    b.U32(kTicksPerSecond);
    b.U32(0);  // dwStart
    b.U32(Clamp32(t.video.length));
    b.U32(t.video.maxChunk);
    b.U32(UINT32_MAX);  // dwQuality: default
    b.U32(0);           // dwSampleSize: frames vary per chunk
    b.U16(0);
    b.U16(0);
    b.U16(Clamp16(o.width));
    b.U16(Clamp16(o.height));
    return b;
}

ByteBuffer BitmapInfoHeader(const Options& o, const StreamFormat& f) {
    ByteBuffer b;
    b.U32(40);
    b.U32(o.width);
    b.U32(o.height);  // positive: rows stored bottom-up
    b.U16(1);
    b.U16(o.bpp);
    b.U32(0);  // BI_RGB
    b.U32(f.frameBytes);
    b.U32(0);
    b.U32(0);
    b.U32(0);
    b.U32(0);
    return b;
}

ByteBuffer AudioStreamHeader(const StreamFormat& f, const HeaderTotals& t) {
    ByteBuffer b;
    b.FourCC("auds");
    b.U32(0);  // fccHandler
    b.U32(0);  // dwFlags
    b.U16(0);
    b.U16(0);
    b.U32(0);             // dwInitialFrames
    b.U32(f.blockAlign);  // one tick per sample frame
    b.U32(f.audioBytesPerSecond);
    b.U32(0);
    b.U32(Clamp32(t.audio.length));
    b.U32(t.audio.maxChunk);
    b.U32(UINT32_MAX);
    b.U32(f.blockAlign);
    b.Zeros(8);  // rcFrame
    return b;
}

ByteBuffer WaveFormat(const Options& o, const StreamFormat& f) {
    ByteBuffer b;
    b.U16(1);  // WAVE_FORMAT_PCM
    b.U16(o.channels);
    b.U32(o.audioRate);
    b.U32(f.audioBytesPerSecond);
    b.U16(static_cast<uint16_t>(f.blockAlign));
    b.U16(o.bits);
    if (!o.audioStrf16) b.U16(0);  // cbSize
    return b;
}

ByteBuffer SuperIndex(const std::string& chunkCode, const StreamTotals& s, uint32_t capacity) {
    if (s.superIndex.size() > capacity) throw std::logic_error("super index overflow");
    ByteBuffer b;
    b.U16(4);  // wLongsPerEntry
    b.U8(0);   // bIndexSubType
    b.U8(0);   // AVI_INDEX_OF_INDEXES
    b.U32(static_cast<uint32_t>(s.superIndex.size()));
    b.FourCC(chunkCode.c_str());
    b.Zeros(12);
    for (const SuperIndexEntry& e : s.superIndex) {
        b.U64(e.offset);
        b.U32(e.size);
        b.U32(e.duration);
    }
    b.Zeros((capacity - s.superIndex.size()) * 16);
    return b;
}

ByteBuffer StreamList(const ByteBuffer& strh, const ByteBuffer& strf, const ByteBuffer* indx) {
    ByteBuffer body;
    AppendChunk(body, "strh", strh);
    AppendChunk(body, "strf", strf);
    if (indx != nullptr) AppendChunk(body, "indx", *indx);
    ByteBuffer list;
    AppendList(list, "strl", body);
    return list;
}

}  // namespace

ByteBuffer BuildHeaderList(const Options& o, const StreamFormat& f, const HeaderTotals& t) {
    const bool odml = !o.idx1Only;
    ByteBuffer body;
    AppendChunk(body, "avih", MainHeader(o, f, t));
    if (f.hasVideo) {
        const ByteBuffer indx = SuperIndex(f.videoChunk, t.video, t.superIndexCapacity);
        body.Append(
            StreamList(VideoStreamHeader(o, t), BitmapInfoHeader(o, f), odml ? &indx : nullptr));
    }
    if (f.hasAudio) {
        const ByteBuffer indx = SuperIndex(f.audioChunk, t.audio, t.superIndexCapacity);
        body.Append(StreamList(AudioStreamHeader(f, t), WaveFormat(o, f), odml ? &indx : nullptr));
    }
    if (odml) {
        ByteBuffer dmlh;
        dmlh.U32(Clamp32(t.video.length));
        dmlh.Zeros(kDmlhSize - 4);
        ByteBuffer odmlBody;
        AppendChunk(odmlBody, "dmlh", dmlh);
        AppendList(body, "odml", odmlBody);
    }
    ByteBuffer list;
    AppendList(list, "hdrl", body);
    return list;
}

ByteBuffer BuildStandardIndex(const std::string& indexCode, const std::string& chunkCode,
                              uint64_t base, const std::vector<ChunkRef>& chunks) {
    ByteBuffer body;
    body.U16(2);  // wLongsPerEntry
    body.U8(0);   // bIndexSubType
    body.U8(1);   // AVI_INDEX_OF_CHUNKS
    body.U32(static_cast<uint32_t>(chunks.size()));
    body.FourCC(chunkCode.c_str());
    body.U64(base);
    body.U32(0);
    for (const ChunkRef& c : chunks) {
        const uint64_t offset = c.dataPosition - base;
        if (c.dataPosition < base || offset > UINT32_MAX) {
            throw std::logic_error("chunk out of reach of its standard index base");
        }
        body.U32(static_cast<uint32_t>(offset));
        body.U32(c.size);  // top bit clear: every frame is a keyframe
    }
    ByteBuffer chunk;
    AppendChunk(chunk, indexCode.c_str(), body);
    return chunk;
}

ByteBuffer BuildLegacyIndex(const std::vector<LegacyIndexEntry>& entries) {
    ByteBuffer body;
    for (const LegacyIndexEntry& e : entries) {
        body.FourCC(e.chunkCode.c_str());
        body.U32(e.flags);
        body.U32(e.offset);
        body.U32(e.size);
    }
    ByteBuffer chunk;
    AppendChunk(chunk, "idx1", body);
    return chunk;
}

}  // namespace avimake
