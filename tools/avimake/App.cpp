#include "App.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "AudioSchedule.h"
#include "AviWriter.h"
#include "RecordWriter.h"
#include "Sources.h"

namespace avimake {
namespace {

constexpr uint64_t kDefaultFrames = 50;
constexpr uint32_t kFallbackSuperEntries = 256;
// Room in each segment for headers: RIFF + 'movi' list headers, the 'ix' headers, 'idx1'
// header, and in the first segment the 'hdrl' list (a generous bound).
constexpr uint64_t kSegmentOverhead = 64 * 1024;

// Interleave units (frames, or frame-long stretches of audio) to write; nullopt = until the
// input ends and its length is unknown.
std::optional<uint64_t> PlannedUnits(const Options& o, const StreamFormat& f) {
    if (o.frames) return *o.frames;
    if (f.has_video && !o.video_raw.empty()) {
        const auto size = RegularFileSize(o.video_raw);
        if (!size) return std::nullopt;
        return *size / f.frame_bytes;
    }
    if (!f.has_video && !o.audio_raw.empty()) {
        const auto size = RegularFileSize(o.audio_raw);
        if (!size) return std::nullopt;
        return FramesForSamples(*size / f.block_align, o.frame_duration, o.audio_rate);
    }
    return kDefaultFrames;
}

uint32_t SuperIndexCapacity(const Options& o, const StreamFormat& f,
                            std::optional<uint64_t> units) {
    if (!units) return kFallbackSuperEntries;
    const uint64_t segments = EstimateSegments(o, f, *units);
    if (segments > UINT32_MAX / 16) throw UsageError("too many segments; raise --segment-limit");
    return static_cast<uint32_t>(std::max<uint64_t>(segments, 1));
}

}  // namespace

uint64_t EstimateSegments(const Options& o, const StreamFormat& f, uint64_t units) {
    if (o.idx1_only || units == 0) return 1;
    // Largest possible unit: frame + one frame's audio (+1 sample of rounding), chunk headers,
    // pad bytes, and its standard and legacy index entries.
    const uint64_t audio_per_unit =
        f.has_audio ? (SamplesBeforeFrame(1, o.frame_duration, o.audio_rate) + 1) * f.block_align
                    : 0;
    const uint64_t unit =
        (f.has_video ? f.frame_bytes + 9 : 0) + audio_per_unit + 9 + 2 * 8 + 2 * 16;
    const uint64_t room =
        o.segment_limit > kSegmentOverhead ? o.segment_limit - kSegmentOverhead : 0;
    const uint64_t per_segment = std::max<uint64_t>(1, room / unit);
    return (units + per_segment - 1) / per_segment + 1;
}

void Run(const Options& o) {
    const StreamFormat f = DeriveFormat(o);
    const std::optional<uint64_t> planned = PlannedUnits(o, f);

    std::unique_ptr<VideoSource> video;
    if (f.has_video) {
        video = o.video_raw.empty() ? MakePatternVideo(o.width, o.height, f.pixel_bytes)
                                    : MakeRawVideo(o.video_raw, o.width, o.height, f.pixel_bytes);
    }
    std::unique_ptr<AudioSource> audio;
    if (f.has_audio) {
        audio = o.audio_raw.empty() ? MakeToneAudio(o.audio_rate, o.channels, o.bits)
                                    : MakeRawAudio(o.audio_raw, f.block_align);
    }
    std::unique_ptr<RecordWriter> record;
    if (!o.record.empty()) record = std::make_unique<RecordWriter>(o.record, o, f);

    AviWriter writer(o, f, SuperIndexCapacity(o, f, planned));
    writer.Begin();
    std::vector<uint8_t> frame;
    std::vector<uint8_t> pcm;
    bool audio_ended = false;
    for (uint64_t unit = 0; !planned || unit < *planned; ++unit) {
        if (video && !video->Next(unit, frame)) break;
        pcm.clear();
        if (audio && !audio_ended) {
            const uint64_t first = SamplesBeforeFrame(unit, o.frame_duration, o.audio_rate);
            const uint64_t count =
                SamplesBeforeFrame(unit + 1, o.frame_duration, o.audio_rate) - first;
            audio_ended = audio->Read(first, count, pcm) < count;
        }
        // Audio-only input of unknown length stops when the audio does.
        if (!video && pcm.empty() && audio_ended) break;
        writer.AddUnit(video ? &frame : nullptr, pcm);
        if (record && video) record->AddFrame(unit, frame);
        if (record) record->AddAudio(pcm);
    }
    writer.Finish();
    if (record) record->Finish(writer.totals().video.length, writer.totals().audio.length);
    if (o.truncate) TruncateFile(o.out_path, *o.truncate);
}

}  // namespace avimake
