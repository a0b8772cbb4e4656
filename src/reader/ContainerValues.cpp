#include "reader/ContainerValues.h"

#include <utility>

#include "container/HeaderWalk.h"
#include "container/StreamRules.h"
#include "diag/DebugLog.h"
#include "diag/LogLines.h"
#include "format/PictureFormats.h"

namespace {

// The walk, the format checks and the index, in that order; false at the
// first that refuses, with values.refusal saying why.
bool ReadServableStream(const avi::FileSource& source, avi::Medium medium, ContainerValues& values,
                        bool& mainHeaderWithoutIndexFlag) {
    const bool video = medium == avi::Medium::Video;
    avi::AviLayout layout;
    const avi::WalkResult walk = avi::WalkHeaders(source, medium, layout);
    values.avih = layout.avih;
    values.videoStrh = layout.videoStrh;
    values.bih = layout.bih;
    values.audioStrh = layout.audioStrh;
    values.wfx = layout.wfx;
    values.streamNumber = medium == avi::Medium::Video ? layout.videoStream : layout.audioStream;
    values.baseOffset = layout.baseOffset;
    mainHeaderWithoutIndexFlag = layout.haveMainHeader && !layout.hasIndexFlag;
    if (walk.end == avi::WalkEnd::Refused) {
        values.refusal = walk.refusal;
        return false;
    }
    if (!layout.haveMainHeader) {
        values.refusal =
            layout.startsRiffAvi
                ? avi::MakeRefusal(avi::RefusalKind::NoMainHeader, "no main header ('avih')")
                : avi::MakeRefusal(avi::RefusalKind::NotRiffAvi, "not a RIFF AVI file");
        return false;
    }

    values.refusal = video ? avi::CheckVideoFormat(layout, &values.picture)
                           : avi::CheckAudioFormat(layout, &values.sound);
    if (values.refusal.Refused()) return false;
    const uint32_t frameSize = values.picture.frameSize;
    if (video) {
        values.bih.biSizeImage = frameSize;  // what the worker reads for each frame
        values.frameDuration = static_cast<int64_t>(avi::FrameDuration(values.videoStrh));
    }

    avi::MediaIndex index;
    const avi::IndexTarget target{medium, frameSize, &layout};
    values.indexSource = avi::OpenIndex(source, target, index, values.refusal);
    values.baseOffset = index.baseOffset;  // a walk stopped at 'movi' had read none yet
    if (values.indexSource == avi::IndexSource::None) return false;
    if (video && index.shortChunks * 2 > index.nonEmptyChunks) {
        // Chunks of one uncompressed frame each are frame-sized; a stream
        // whose chunks mostly are not holds something else (compressed data
        // under an uncompressed label) and would show as noise.
        values.refusal = avi::MakeRefusal(
            avi::RefusalKind::VideoChunkSize,
            "video chunks are not frame-sized (%llu of %llu hold fewer bytes than a frame of %u, "
            "the first %u): not uncompressed video",
            static_cast<unsigned long long>(index.shortChunks),
            static_cast<unsigned long long>(index.nonEmptyChunks), frameSize, index.firstShortSize);
        return false;
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
        format::PadRowsToChunks(values.picture, index.smallestChunk)) {
        values.bih.biSizeImage = values.picture.frameSize;
    }
    if (video) avi::TrimFrameTable(index);  // the table lives as long as the stream
    values.frameTable = std::move(index.frameTable);
    values.shortFrames = std::move(index.shortFrames);
    values.audioChunks = std::move(index.audioChunks);
    if (!video) return true;
    values.avih.dwTotalFrames = static_cast<uint32_t>(values.frameTable.size());
    values.refusal = avi::CheckVideoFrames(layout, values.frameTable.size());
    return !values.refusal.Refused();
}

}  // namespace

bool ReadContainer(const avi::FileSource& source, avi::Medium medium, ContainerValues& values) {
    bool mainHeaderWithoutIndexFlag = false;
    if (ReadServableStream(source, medium, values, mainHeaderWithoutIndexFlag)) return true;
    // A file whose main header says it has no index, and which cannot be
    // served, is refused with the line such files have always had.
    if (mainHeaderWithoutIndexFlag) {
        diag::DebugLog("", diag::kSourceName, diag::kLogNotIndexed,
                       "AVI is not indexed we cann't use this AVI");
    }
    return false;
}
