#include "container/IndexSources.h"

namespace avi {

IndexSource OpenIndex(const FileSource& source, const IndexTarget& target, MediaIndex& index,
                      Refusal& refusal) {
    const AviLayout& layout = *target.layout;
    const bool video = target.medium == Medium::Video;
    PrepareFrameTable(index, layout.avih.dwTotalFrames, source.End(), video);

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

}  // namespace avi
