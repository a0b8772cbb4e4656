#include "AviWriter.h"

#include <algorithm>
#include <stdexcept>

namespace avimake {
namespace {

constexpr uint32_t kKeyframe = 0x10;  // idx1 AVIIF_KEYFRAME
constexpr uint64_t kGapPiece = uint64_t{1} << 30;
constexpr uint64_t kChunkHeader = 8;
constexpr uint64_t kStandardIndexHeader = kChunkHeader + 24;

uint64_t ChunkSpan(uint64_t body) { return kChunkHeader + body + body % 2; }

}  // namespace

AviWriter::AviWriter(const Options& options, const StreamFormat& format, uint32_t superCapacity)
    : options_(options),
      format_(format),
      file_(options.outPath),
      video_{format.videoChunk, format.videoIndex, &totals_.video, {}},
      audio_{format.audioChunk, format.audioIndex, &totals_.audio, {}} {
    totals_.superIndexCapacity = superCapacity;
}

void AviWriter::Begin() {
    riffPosition_ = file_.Tell();
    ByteBuffer riff;
    riff.FourCC("RIFF");
    riff.U32(0);  // patched when the segment closes
    riff.FourCC("AVI ");
    file_.Write(riff);

    headerPosition_ = file_.Tell();
    const ByteBuffer header = BuildHeaderList(options_, format_, totals_);
    headerSize_ = header.size();
    file_.Write(header);

    if (options_.oddJunk) {
        // Deliberately breaks RIFF alignment: odd body and no pad byte before 'movi'.
        ByteBuffer junk;
        junk.FourCC("JUNK");
        junk.U32(7);
        junk.Zeros(7);
        file_.Write(junk);
    }
    OpenMovi();
    if (options_.gap > 0) WriteGap();
}

void AviWriter::OpenMovi() {
    moviPosition_ = file_.Tell();
    indexBase_ = moviPosition_;
    gapBytes_ = 0;
    segmentUnits_ = 0;
    ByteBuffer list;
    list.FourCC("LIST");
    list.U32(0);  // patched when the segment closes
    list.FourCC("movi");
    file_.Write(list);
}

void AviWriter::WriteGap() {
    const uint64_t start = file_.Tell();
    uint64_t remaining = options_.gap + options_.gap % 2;
    while (remaining > 0) {
        const uint64_t piece = std::min(remaining, kGapPiece);
        ByteBuffer header;
        header.FourCC("JUNK");
        header.U32(static_cast<uint32_t>(piece));
        file_.Write(header);
        file_.Skip(piece);
        remaining -= piece;
    }
    gapBytes_ = file_.Tell() - start;
    // Standard index offsets are 32-bit, so this segment's entries count from past the gap.
    indexBase_ = file_.Tell();
}

uint64_t AviWriter::StandardIndexSpan(const StreamIndex& stream, bool adding) {
    const uint64_t entries = stream.segmentChunks.size() + (adding ? 1 : 0);
    return entries == 0 ? 0 : kStandardIndexHeader + 8 * entries;
}

bool AviWriter::UnitOverflowsSegment(uint64_t unitBytes, bool addsFrame, bool addsPcm) const {
    // The segment as it would close after this unit: chunks, its standard indexes and, in the
    // first segment, idx1.
    uint64_t bytes = file_.Tell() - riffPosition_ - gapBytes_ + unitBytes;
    bytes += StandardIndexSpan(video_, addsFrame) + StandardIndexSpan(audio_, addsPcm);
    if (segment_ == 0) {
        const uint64_t newChunks = (addsFrame ? 1 : 0) + (addsPcm ? 1 : 0);
        bytes += kChunkHeader + 16 * (legacyIndex_.size() + newChunks);
    }
    return bytes > options_.segmentLimit;
}

void AviWriter::AddUnit(const std::vector<uint8_t>* frame, const std::vector<uint8_t>& pcm) {
    const uint64_t unitBytes = (frame != nullptr ? ChunkSpan(frame->size()) : 0) +
                               (pcm.empty() ? 0 : ChunkSpan(pcm.size()));
    // A plain AVI 1.0 file has a single RIFF; every segment holds at least one unit.
    if (!options_.idx1Only && segmentUnits_ > 0 &&
        UnitOverflowsSegment(unitBytes, frame != nullptr, !pcm.empty())) {
        CloseSegment();
        ++segment_;
        riffPosition_ = file_.Tell();
        ByteBuffer riff;
        riff.FourCC("RIFF");
        riff.U32(0);
        riff.FourCC("AVIX");
        file_.Write(riff);
        OpenMovi();
    }
    if (frame != nullptr) {
        WriteChunk(video_, frame->data(), static_cast<uint32_t>(frame->size()));
        totals_.video.length += 1;
        if (segment_ == 0) totals_.firstSegmentFrames += 1;
    }
    if (!pcm.empty()) {
        WriteChunk(audio_, pcm.data(), static_cast<uint32_t>(pcm.size()));
        totals_.audio.length += pcm.size() / format_.blockAlign;
    }
    ++segmentUnits_;
}

void AviWriter::WriteChunk(StreamIndex& stream, const uint8_t* data, uint32_t size) {
    const uint64_t position = file_.Tell();
    ByteBuffer header;
    header.FourCC(stream.chunkCode.c_str());
    header.U32(size);
    file_.Write(header);
    file_.Write(data, size);
    if (size % 2 != 0) file_.Write("", 1);  // RIFF pad byte

    stream.segmentChunks.push_back({position + kChunkHeader, size});
    stream.totals->maxChunk = std::max(stream.totals->maxChunk, size);
    // idx1 offsets count from the 'movi' type code and are 32-bit: past a huge gap they
    // cannot be expressed, and those chunks are left to the standard indexes.
    const uint64_t legacyOffset = position - (moviPosition_ + 8);
    if (segment_ == 0 && legacyOffset <= UINT32_MAX) {
        legacyIndex_.push_back(
            {stream.chunkCode, kKeyframe, static_cast<uint32_t>(legacyOffset), size});
    }
}

void AviWriter::WriteStandardIndex(StreamIndex& stream, bool audio) {
    if (stream.segmentChunks.empty()) return;
    if (stream.totals->superIndex.size() >= totals_.superIndexCapacity) {
        throw std::runtime_error("more segments than the " +
                                 std::to_string(totals_.superIndexCapacity) +
                                 " reserved super index entries; pass --frames or raise "
                                 "--segment-limit");
    }
    uint64_t duration = stream.segmentChunks.size();
    if (audio) {
        duration = 0;
        for (const ChunkRef& c : stream.segmentChunks) duration += c.size / format_.blockAlign;
    }
    const uint64_t position = file_.Tell();
    const ByteBuffer index =
        BuildStandardIndex(stream.indexCode, stream.chunkCode, indexBase_, stream.segmentChunks);
    file_.Write(index);
    stream.totals->superIndex.push_back(
        {position, static_cast<uint32_t>(index.size()),
         static_cast<uint32_t>(std::min<uint64_t>(duration, UINT32_MAX))});
    stream.segmentChunks.clear();
}

void AviWriter::PatchSize(uint64_t chunkPosition) {
    // A size past 32 bits (only with --gap) is written as the largest value instead.
    const uint64_t size = file_.Tell() - chunkPosition - kChunkHeader;
    file_.PatchU32(chunkPosition + 4, static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX)));
}

void AviWriter::CloseSegment() {
    if (!options_.idx1Only) {
        WriteStandardIndex(video_, false);
        WriteStandardIndex(audio_, true);
    }
    video_.segmentChunks.clear();
    audio_.segmentChunks.clear();
    PatchSize(moviPosition_);
    if (segment_ == 0) file_.Write(BuildLegacyIndex(legacyIndex_));
    PatchSize(riffPosition_);
}

void AviWriter::Finish() {
    CloseSegment();
    const ByteBuffer header = BuildHeaderList(options_, format_, totals_);
    if (header.size() != headerSize_) throw std::logic_error("header size changed");
    file_.PatchAt(headerPosition_, header.data(), header.size());
    file_.Close();
}

}  // namespace avimake
