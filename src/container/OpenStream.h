// What the open reads from the file for one stream, as values: the headers
// and formats, the served stream's tables and which index built them. The
// container's steps (the header walk, the format checks, the index) run
// behind the one call that fills them.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "container/AviLayout.h"
#include "container/AviRecords.h"
#include "container/FileSource.h"
#include "container/IndexSources.h"
#include "container/MediaIndex.h"
#include "format/PictureFormats.h"
#include "format/SoundFormats.h"

namespace avi {

struct StreamTables {
    MainAVIHeader avih{};  // dwTotalFrames: the frames found, for a video stream
    AVIStreamHeader videoStrh{};
    BITMAPINFOHEADER bih{};  // biSizeImage: the stored frame size, for a video stream
    AVIStreamHeader audioStrh{};
    WAVEFORMATEX wfx{};
    format::PictureFormat picture;  // the served video's layout, as the frame read serves it
    format::SoundFormat sound;      // the served audio's layout, as the audio read serves it
    int64_t baseOffset = 0;         // of the last standard index header read
    std::vector<FrameEntry> frameTable;
    std::vector<ShortFrame> shortFrames;  // frames whose chunk holds less than a frame
    std::deque<AudioChunk> audioChunks;
    IndexSource indexSource = IndexSource::None;
    int64_t frameDuration = 0;  // video frame duration in 100 ns units, from scale and rate
    int32_t streamNumber = -1;  // the served stream's number in the file (its strl's)
};

// Opens the layout and tables of the stream of `medium`: walks the headers,
// checks the stream's format, builds its index, in that order. Returns a
// refusal of kind None when the stream can be served, else the first step's
// refusal (`tables` then holds what was read up to it). A refused file whose
// main header lacks the has-index flag logs line 510. May throw
// std::bad_alloc.
Refusal OpenStream(const FileSource& source, Medium medium, StreamTables& tables);

}  // namespace avi
