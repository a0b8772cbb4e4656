// What the open reads from the file for one stream, as values: the headers
// and formats, the served stream's tables, which index built them, or why the
// file cannot be served.
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

struct ContainerValues {
    avi::MainAVIHeader avih{};  // dwTotalFrames: the frames found, for a video stream
    avi::AVIStreamHeader videoStrh{};
    avi::BITMAPINFOHEADER bih{};  // biSizeImage: the stored frame size, for a video stream
    avi::AVIStreamHeader audioStrh{};
    avi::WAVEFORMATEX wfx{};
    format::PictureFormat picture;  // the served video's layout, as the frame read serves it
    format::SoundFormat sound;      // the served audio's layout, as the audio read serves it
    int64_t baseOffset = 0;
    std::vector<FrameEntry> frameTable;
    std::deque<AudioChunk> audioChunks;
    avi::IndexSource indexSource = avi::IndexSource::None;
    int64_t frameDuration = 0;  // video frame duration in 100 ns units, from scale and rate
    int32_t streamNumber = -1;  // the served stream's number in the file (its strl's)
    avi::Refusal refusal{};     // kind None when the stream can be served
};

// Reads the file's headers and the served stream's index into `values` and
// checks that the stream can be served. False, with the reason in
// values.refusal, when it cannot; a refused file whose main header lacks the
// has-index flag logs line 510. May throw std::bad_alloc.
bool ReadContainer(const avi::FileSource& source, avi::Medium medium, ContainerValues& values);
