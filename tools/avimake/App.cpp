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
    if (f.hasVideo && !o.videoRaw.empty()) {
        const auto size = RegularFileSize(o.videoRaw);
        if (!size) return std::nullopt;
        return *size / f.frameBytes;
    }
    if (!f.hasVideo && !o.audioRaw.empty()) {
        const auto size = RegularFileSize(o.audioRaw);
        if (!size) return std::nullopt;
        return FramesForSamples(*size / f.blockAlign, o.frameDuration, o.audioRate);
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
    if (o.idx1Only || units == 0) return 1;
    // Largest possible unit: frame + one frame's audio (+1 sample of rounding), chunk headers,
    // pad bytes, and its standard and legacy index entries.
    const uint64_t audioPerUnit =
        f.hasAudio ? (SamplesBeforeFrame(1, o.frameDuration, o.audioRate) + 1) * f.blockAlign : 0;
    const uint64_t unit = (f.hasVideo ? f.frameBytes + 9 : 0) + audioPerUnit + 9 + 2 * 8 + 2 * 16;
    const uint64_t room = o.segmentLimit > kSegmentOverhead ? o.segmentLimit - kSegmentOverhead : 0;
    const uint64_t perSegment = std::max<uint64_t>(1, room / unit);
    return (units + perSegment - 1) / perSegment + 1;
}

void Run(const Options& o) {
    const StreamFormat f = DeriveFormat(o);
    const std::optional<uint64_t> planned = PlannedUnits(o, f);

    std::unique_ptr<VideoSource> video;
    if (f.hasVideo) {
        video = o.videoRaw.empty() ? MakePatternVideo(o.width, o.height, f.pixelBytes)
                                   : MakeRawVideo(o.videoRaw, o.width, o.height, f.pixelBytes);
    }
    std::unique_ptr<AudioSource> audio;
    if (f.hasAudio) {
        audio = o.audioRaw.empty() ? MakeToneAudio(o.audioRate, o.channels, o.bits)
                                   : MakeRawAudio(o.audioRaw, f.blockAlign);
    }
    std::unique_ptr<RecordWriter> record;
    if (!o.record.empty()) record = std::make_unique<RecordWriter>(o.record, o, f);

    AviWriter writer(o, f, SuperIndexCapacity(o, f, planned));
    writer.Begin();
    std::vector<uint8_t> frame;
    std::vector<uint8_t> pcm;
    bool audioEnded = false;
    for (uint64_t unit = 0; !planned || unit < *planned; ++unit) {
        if (video && !video->Next(unit, frame)) break;
        pcm.clear();
        if (audio && !audioEnded) {
            const uint64_t first = SamplesBeforeFrame(unit, o.frameDuration, o.audioRate);
            const uint64_t count =
                SamplesBeforeFrame(unit + 1, o.frameDuration, o.audioRate) - first;
            audioEnded = audio->Read(first, count, pcm) < count;
        }
        // Audio-only input of unknown length stops when the audio does.
        if (!video && pcm.empty() && audioEnded) break;
        writer.AddUnit(video ? &frame : nullptr, pcm);
        if (record && video) record->AddFrame(unit, frame);
        if (record) record->AddAudio(pcm);
    }
    writer.Finish();
    if (record) record->Finish(writer.totals().video.length, writer.totals().audio.length);
    if (o.truncate) TruncateFile(o.outPath, *o.truncate);
}

}  // namespace avimake
