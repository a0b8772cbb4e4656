// What the worker serves from, as the reader hands it over: the file, the
// tables and formats the open found, the host's stream and services, the
// stop flag and the worker's own staging buffer. The stream code sees nothing else of the reader.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

#include "container/AviRecords.h"
#include "container/MediaIndex.h"
#include "format/PictureFormats.h"
#include "format/SoundFormats.h"
#include "platform/platform.h"
#include "qxdriver.h"
#include "stream/StagingBuffer.h"

namespace stream {

struct ServeContext {
    bool video;                 // serves the video ('eyes'), else the audio ('ears')
    platform::FileHandle file;  // after open, read by the worker alone
    const std::vector<FrameEntry>& frameTable;
    const std::vector<ShortFrame>& shortFrames;  // frames whose chunk holds less than a frame
    uint32_t totalFrames;  // the frames the open counted (the main header's count)
    const std::deque<AudioChunk>& audioChunks;
    avi::BITMAPINFOHEADER bih;  // biSizeImage holds the stored frame size
    avi::WAVEFORMATEX wfx;
    const format::PictureFormat& picture;  // the video's layout: sizes, row order, kernel
    const format::SoundFormat& sound;      // the audio's layout: sample size, silence, kernel
    // Video: the frame duration and time scale the open wrote into the host's
    // descriptor, copied then, so that a host that reuses or changes its
    // descriptor while the stream runs is still served the frames it asks for.
    int64_t avgFrameDuration;
    int64_t timescale;
    // The host's stream, read afresh after every host service: a host that
    // closes the stream from inside one on the worker's thread nulls it.
    StreamHandle* const& pStream;
    // The host's services as they were when the stream was opened.
    const HostServices& services;
    std::atomic<bool>& stop;  // set by the stop, and by the worker as it leaves the loop
    StagingBuffer& staging;
};

}  // namespace stream
