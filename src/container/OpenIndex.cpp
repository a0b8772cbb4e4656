#include <vector>

#include "container/HeaderWalk.h"
#include "container/IndexSources.h"
#include "diag/DebugLog.h"
#include "diag/LogLines.h"

namespace avi {

namespace {

// The walk's own sources: its standard index, then 'idx1', then the scan.
Refusal OpenWalkedIndex(const ByteSource& source, const IndexTarget& target, MediaIndex& index) {
    const AviLayout& layout = *target.layout;
    index.baseOffset = layout.baseOffset;
    if (layout.haveStandardIndex && ReadStandardIndex(source, target, index)) {
        // One index covers one segment: what follows its last chunk (the
        // rest of the file's segments) is found by the scan.
        if (index.indexedEnd != 0) ScanMovieData(source, target, index.indexedEnd, index);
        index.source = IndexSource::StandardIndex;
        return Refusal{};
    }
    if (ReadIdx1Index(source, target, index)) {
        // 'idx1' covers the first 'RIFF' form only.
        if (layout.firstRiffEnd < source.Size()) {
            ScanMovieData(source, target, layout.firstRiffEnd, index);
        }
        index.source = IndexSource::Idx1;
        return Refusal{};
    }
    if (layout.haveMovie) {
        ScanMovieData(source, target, layout.moviType + 4, index);
        index.source = IndexSource::MovieScan;
        return Refusal{};
    }
    return MakeRefusal(RefusalKind::NoIndexNoMovie, "no index and no 'movi' list");
}

}  // namespace

Refusal OpenIndex(const ByteSource& source, const IndexTarget& target, MediaIndex& index) {
    const AviLayout& layout = *target.layout;
    const bool video = target.medium == Medium::Video;
    PrepareFrameTable(index, layout.avih.dwTotalFrames, source.Size(), video);
    index.frameSize = target.frameSize;
    if (!layout.stoppedAtMovie) return OpenWalkedIndex(source, target, index);

    if (layout.haveSuperIndex) {
        const Shortcut super = ReadSuperIndex(source, target, index);
        if (super.taken) {
            index.source = IndexSource::SuperIndex;
            return Refusal{};
        }
        if (super.why[0] != 0) {
            diag::DebugLog("", diag::kSourceName, diag::kLogSuperIndexNotUsed,
                           "Super index not used: %s", super.why);
        }
    }
    std::vector<MovieRun> runs;
    const Shortcut idx1 = Idx1MovieRuns(source, layout, runs);
    if (!idx1.taken && idx1.why[0] != 0) {
        diag::DebugLog("", diag::kSourceName, diag::kLogIdx1NotUsed,
                       "Index idx1 not used to skip the movie data: %s", idx1.why);
    }
    // The walk goes on as it would have without the stop, jumping over the
    // runs of movie data that 'idx1' lists.
    AviLayout walked = layout;
    const Refusal refusal = ResumeWalk(source, target.medium, walked, &runs);
    index.baseOffset = walked.baseOffset;
    if (refusal.Refused()) return refusal;
    IndexTarget resumed = target;
    resumed.layout = &walked;
    return OpenWalkedIndex(source, resumed, index);
}

}  // namespace avi
