#include "container/OpenStream.h"

#include <utility>

#include "container/HeaderWalk.h"
#include "container/StreamRules.h"
#include "diag/DebugLog.h"
#include "diag/LogLines.h"
#include "format/PictureFormats.h"

namespace avi {

namespace {

// The walk, the format checks and the index, in that order; the first
// refusal ends them.
Refusal ReadServableStream(const ByteSource& source, Medium medium, StreamTables& tables,
                           bool& mainHeaderWithoutIndexFlag) {
    const bool video = medium == Medium::Video;
    AviLayout layout;
    const Refusal walked = WalkHeaders(source, medium, layout);
    tables.avih = layout.avih;
    tables.videoStrh = layout.videoStrh;
    tables.bih = layout.bih;
    tables.audioStrh = layout.audioStrh;
    tables.wfx = layout.wfx;
    tables.streamNumber = video ? layout.videoStream : layout.audioStream;
    tables.baseOffset = layout.baseOffset;
    mainHeaderWithoutIndexFlag = layout.haveMainHeader && !layout.hasIndexFlag;
    if (walked.Refused()) return walked;
    if (!layout.haveMainHeader) {
        return layout.startsRiffAvi
                   ? MakeRefusal(RefusalKind::NoMainHeader, "no main header ('avih')")
                   : MakeRefusal(RefusalKind::NotRiffAvi, "not a RIFF AVI file");
    }

    Refusal refusal =
        video ? CheckVideoFormat(layout, &tables.picture) : CheckAudioFormat(layout, &tables.sound);
    if (refusal.Refused()) return refusal;
    const uint32_t frameSize = tables.picture.frameSize;
    if (video) {
        tables.bih.biSizeImage = frameSize;  // what the worker reads for each frame
        tables.frameDuration = static_cast<int64_t>(FrameDuration(tables.videoStrh));
    }

    MediaIndex index;
    IndexTarget target{medium, frameSize, &layout};
    if (video) target.paddedFrameSize = format::PaddedFrameSize(tables.picture);
    refusal = OpenIndex(source, target, index);
    tables.indexSource = index.source;
    tables.baseOffset = index.baseOffset;  // a walk stopped at 'movi' had read none yet
    if (refusal.Refused()) return refusal;
    if (video && index.shortChunks * 2 > index.nonEmptyChunks) {
        // Chunks of one uncompressed frame each are frame-sized; a stream
        // whose chunks mostly are not holds something else (compressed data
        // under an uncompressed label) and would show as noise.
        return MakeRefusal(
            RefusalKind::VideoChunkSize,
            "video chunks are not frame-sized (%llu of %llu hold fewer bytes than a frame of %u, "
            "the first %u): not uncompressed video",
            static_cast<unsigned long long>(index.shortChunks),
            static_cast<unsigned long long>(index.nonEmptyChunks), frameSize, index.firstShortSize);
    }
    const bool odmlIndexed =
        index.source == IndexSource::StandardIndex || index.source == IndexSource::SuperIndex;
    if (video && tables.picture.row->usesPalette && odmlIndexed && layout.haveMovie &&
        index.indexedEnd > layout.moviType + 4) {
        // OpenDML standard indexes list no '##pc' chunks: the movie data
        // they cover (from the first 'movi' list to their last chunk; the
        // scan after it counted its own) is scanned for them.
        index.paletteChanges +=
            CountPaletteChanges(source, target, layout.moviType + 4, index.indexedEnd);
    }
    if (video && index.paletteChanges > 0 && tables.picture.row->usesPalette) {
        // Served with the header's palette, the frames after a change would
        // show wrong colours: refused, named, rather than shown wrong.
        return MakeRefusal(RefusalKind::VideoBitDepth,
                           "video is %u-bit palette that changes during the stream (%llu '##pc' "
                           "chunks), not read yet",
                           static_cast<unsigned>(tables.bih.biBitCount),
                           static_cast<unsigned long long>(index.paletteChanges));
    }
    if (video && index.shortChunks > 0) {
        diag::DebugLog("", diag::kSourceName, diag::kLogShortVideoChunks,
                       "Video chunks shorter than a frame of %u bytes: %llu of %llu (the first "
                       "%u bytes), zero-filled past their end",
                       frameSize, static_cast<unsigned long long>(index.shortChunks),
                       static_cast<unsigned long long>(index.nonEmptyChunks), index.firstShortSize);
    }
    // Rows padded by the writer: every chunk holds the padded frame.
    if (video && index.nonEmptyChunks > 0 &&
        format::PadRowsToChunks(tables.picture, index.smallestChunk)) {
        tables.bih.biSizeImage = tables.picture.frameSize;
    }
    if (video) TrimFrameTable(index);  // the table lives as long as the stream
    tables.frameTable = std::move(index.frameTable);
    tables.shortFrames = std::move(index.shortFrames);
    tables.audioChunks = std::move(index.audioChunks);
    if (!video) return Refusal{};
    tables.avih.dwTotalFrames = static_cast<uint32_t>(tables.frameTable.size());
    return CheckVideoFrames(layout, tables.frameTable.size());
}

}  // namespace

Refusal OpenStream(const ByteSource& source, Medium medium, StreamTables& tables) {
    bool mainHeaderWithoutIndexFlag = false;
    const Refusal refusal = ReadServableStream(source, medium, tables, mainHeaderWithoutIndexFlag);
    // A file whose main header says it has no index, and which cannot be
    // served, is refused with the line such files have always had.
    if (refusal.Refused() && mainHeaderWithoutIndexFlag) {
        diag::DebugLog("", diag::kSourceName, diag::kLogNotIndexed,
                       "AVI is not indexed we cann't use this AVI");
    }
    return refusal;
}

}  // namespace avi
