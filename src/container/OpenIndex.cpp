#include <vector>

#include "container/HeaderWalk.h"
#include "container/IndexSources.h"
#include "diag/DebugLog.h"
#include "diag/LogLines.h"

namespace avi {

namespace {

// The walk's own sources: its standard index, then 'idx1', then the scan.
IndexSource OpenWalkedIndex(const FileSource& source, const IndexTarget& target, MediaIndex& index,
                            Refusal& refusal) {
    const AviLayout& layout = *target.layout;
    index.baseOffset = layout.baseOffset;
    if (layout.haveStandardIndex && ReadStandardIndex(source, target, index)) {
        // One index covers one segment: what follows its last chunk (the
        // rest of the file's segments) is found by the scan.
        if (index.indexedEnd != 0) ScanMovieData(source, target, index.indexedEnd, index);
        return IndexSource::StandardIndex;
    }
    if (ReadIdx1Index(source, target, index)) {
        // 'idx1' covers the first 'RIFF' form only.
        if (layout.firstRiffEnd < source.End()) {
            ScanMovieData(source, target, layout.firstRiffEnd, index);
        }
        return IndexSource::Idx1;
    }
    if (layout.haveMovie) {
        ScanMovieData(source, target, layout.moviType + 4, index);
        return IndexSource::MovieScan;
    }
    refusal = MakeRefusal(RefusalKind::NoIndexNoMovie, "no index and no 'movi' list");
    return IndexSource::None;
}

}  // namespace

IndexSource OpenIndex(const FileSource& source, const IndexTarget& target, MediaIndex& index,
                      Refusal& refusal) {
    const AviLayout& layout = *target.layout;
    const bool video = target.medium == Medium::Video;
    PrepareFrameTable(index, layout.avih.dwTotalFrames, source.End(), video);
    index.frameSize = target.frameSize;
    if (!layout.stoppedAtMovie) return OpenWalkedIndex(source, target, index, refusal);

    char why[128] = {};
    std::vector<MovieRun> runs;
    if (layout.haveSuperIndex) {
        if (ReadSuperIndex(source, target, index, why)) return IndexSource::SuperIndex;
        if (why[0] != 0)
            diag::DebugLog("", diag::kSourceName, diag::kLogSuperIndexNotUsed,
                           "Super index not used: %s", why);
    }
    if (Idx1MovieRuns(source, layout, runs, why) == Idx1Tiling::Declined) {
        diag::DebugLog("", diag::kSourceName, diag::kLogIdx1NotUsed,
                       "Index idx1 not used to skip the movie data: %s", why);
    }
    // The walk goes on as it would have without the stop, jumping over the
    // runs of movie data that 'idx1' lists.
    AviLayout walked = layout;
    const WalkResult walk = ResumeWalk(source, target.medium, walked, &runs);
    index.baseOffset = walked.baseOffset;
    if (walk.end == WalkEnd::Refused) {
        refusal = walk.refusal;
        return IndexSource::None;
    }
    const IndexTarget resumed{target.medium, target.frameSize, &walked};
    return OpenWalkedIndex(source, resumed, index, refusal);
}

}  // namespace avi
