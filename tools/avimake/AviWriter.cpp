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

AviWriter::AviWriter(const Options& options, const StreamFormat& format, uint32_t super_capacity)
    : options_(options),
      format_(format),
      file_(options.out_path),
      video_{format.video_chunk, format.video_index, &totals_.video, {}},
      audio_{format.audio_chunk, format.audio_index, &totals_.audio, {}} {
    totals_.super_index_capacity = super_capacity;
}

void AviWriter::Begin() {
    riff_position_ = file_.Tell();
    ByteBuffer riff;
    riff.FourCC("RIFF");
    riff.U32(0);  // patched when the segment closes
    riff.FourCC("AVI ");
    file_.Write(riff);

    header_position_ = file_.Tell();
    const ByteBuffer header = BuildHeaderList(options_, format_, totals_);
    header_size_ = header.size();
    file_.Write(header);

    if (options_.odd_junk) {
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
    movi_position_ = file_.Tell();
    index_base_ = movi_position_;
    gap_bytes_ = 0;
    segment_units_ = 0;
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
    gap_bytes_ = file_.Tell() - start;
    // Standard index offsets are 32-bit, so this segment's entries count from past the gap.
    index_base_ = file_.Tell();
}

uint64_t AviWriter::StandardIndexSpan(const StreamIndex& stream, bool adding) {
    const uint64_t entries = stream.segment_chunks.size() + (adding ? 1 : 0);
    return entries == 0 ? 0 : kStandardIndexHeader + 8 * entries;
}

bool AviWriter::UnitOverflowsSegment(uint64_t unit_bytes, bool adds_frame, bool adds_pcm) const {
    // The segment as it would close after this unit: chunks, its standard indexes and, in the
    // first segment, idx1.
    uint64_t bytes = file_.Tell() - riff_position_ - gap_bytes_ + unit_bytes;
    bytes += StandardIndexSpan(video_, adds_frame) + StandardIndexSpan(audio_, adds_pcm);
    if (segment_ == 0) {
        const uint64_t new_chunks = (adds_frame ? 1 : 0) + (adds_pcm ? 1 : 0);
        bytes += kChunkHeader + 16 * (legacy_index_.size() + new_chunks);
    }
    return bytes > options_.segment_limit;
}

void AviWriter::AddUnit(const std::vector<uint8_t>* frame, const std::vector<uint8_t>& pcm) {
    const uint64_t unit_bytes = (frame != nullptr ? ChunkSpan(frame->size()) : 0) +
                                (pcm.empty() ? 0 : ChunkSpan(pcm.size()));
    // A plain AVI 1.0 file has a single RIFF; every segment holds at least one unit.
    if (!options_.idx1_only && segment_units_ > 0 &&
        UnitOverflowsSegment(unit_bytes, frame != nullptr, !pcm.empty())) {
        CloseSegment();
        ++segment_;
        riff_position_ = file_.Tell();
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
        if (segment_ == 0) totals_.first_segment_frames += 1;
    }
    if (!pcm.empty()) {
        WriteChunk(audio_, pcm.data(), static_cast<uint32_t>(pcm.size()));
        totals_.audio.length += pcm.size() / format_.block_align;
    }
    ++segment_units_;
}

void AviWriter::WriteChunk(StreamIndex& stream, const uint8_t* data, uint32_t size) {
    const uint64_t position = file_.Tell();
    ByteBuffer header;
    header.FourCC(stream.chunk_code.c_str());
    header.U32(size);
    file_.Write(header);
    file_.Write(data, size);
    if (size % 2 != 0) file_.Write("", 1);  // RIFF pad byte

    stream.segment_chunks.push_back({position + kChunkHeader, size});
    stream.totals->max_chunk = std::max(stream.totals->max_chunk, size);
    // idx1 offsets count from the 'movi' type code and are 32-bit: past a huge gap they
    // cannot be expressed, and those chunks are left to the standard indexes.
    const uint64_t legacy_offset = position - (movi_position_ + 8);
    if (segment_ == 0 && legacy_offset <= UINT32_MAX) {
        legacy_index_.push_back(
            {stream.chunk_code, kKeyframe, static_cast<uint32_t>(legacy_offset), size});
    }
}

void AviWriter::WriteStandardIndex(StreamIndex& stream, bool audio) {
    if (stream.segment_chunks.empty()) return;
    if (stream.totals->super_index.size() >= totals_.super_index_capacity) {
        throw std::runtime_error("more segments than the " +
                                 std::to_string(totals_.super_index_capacity) +
                                 " reserved super index entries; pass --frames or raise "
                                 "--segment-limit");
    }
    uint64_t duration = stream.segment_chunks.size();
    if (audio) {
        duration = 0;
        for (const ChunkRef& c : stream.segment_chunks) duration += c.size / format_.block_align;
    }
    const uint64_t position = file_.Tell();
    const ByteBuffer index = BuildStandardIndex(stream.index_code, stream.chunk_code, index_base_,
                                                stream.segment_chunks);
    file_.Write(index);
    stream.totals->super_index.push_back(
        {position, static_cast<uint32_t>(index.size()),
         static_cast<uint32_t>(std::min<uint64_t>(duration, UINT32_MAX))});
    stream.segment_chunks.clear();
}

void AviWriter::PatchSize(uint64_t chunk_position) {
    // A size past 32 bits (only with --gap) is written as the largest value instead.
    const uint64_t size = file_.Tell() - chunk_position - kChunkHeader;
    file_.PatchU32(chunk_position + 4, static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX)));
}

void AviWriter::CloseSegment() {
    if (!options_.idx1_only) {
        WriteStandardIndex(video_, false);
        WriteStandardIndex(audio_, true);
    }
    video_.segment_chunks.clear();
    audio_.segment_chunks.clear();
    PatchSize(movi_position_);
    if (segment_ == 0) file_.Write(BuildLegacyIndex(legacy_index_));
    PatchSize(riff_position_);
}

void AviWriter::Finish() {
    CloseSegment();
    const ByteBuffer header = BuildHeaderList(options_, format_, totals_);
    if (header.size() != header_size_) throw std::logic_error("header size changed");
    file_.PatchAt(header_position_, header.data(), header.size());
    file_.Close();
}

}  // namespace avimake
