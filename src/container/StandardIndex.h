// The frame table and the audio chunk list: read from the first OpenDML
// standard index of the reader's stream, then completed by a scan of the
// movie data after the last indexed chunk (later 'AVIX' segments included).
#pragma once

#include <cstdint>

#include "container/AviRecords.h"

class CMirolan;

namespace avi {

// Reads the 8-byte entries of a standard index, from `firstEntry` up to the
// first entry that fails its stream's test (a video size other than
// biSizeImage, an audio size of 0) or to `entriesEnd` (the end of the index
// chunk), whichever comes first, then runs ScanMovieData. Takes over the view
// in `viewSlot` and leaves the slot empty. False only when its first view
// cannot be mapped; then nothing is stored. May throw std::bad_alloc.
bool ReadStandardIndex(CMirolan& reader, const uint8_t*& viewSlot, uint64_t firstEntry,
                       uint64_t entriesEnd);

// Adds the frames ('00db') or audio chunks ('01wb') that follow the last
// indexed one, up to the end of the file, stepping into the 'movi' list of
// each further 'RIFF' segment. Does nothing when the index gave no entry. A
// video reader's avih.dwTotalFrames ends as the number of frames stored.
void ScanMovieData(CMirolan& reader);

// Sample frames in an audio chunk of `size` bytes: (size x 8) / (bits x
// channels) in unsigned 32-bit arithmetic, 0 when bits x channels is 0.
uint32_t SampleCount(uint32_t size, const WAVEFORMATEX& format);

// Sizes the frame table for a main header's frame count: throws
// std::bad_alloc when count x 8 does not fit 32 bits, and otherwise reserves
// no more entries than the file could hold. The table starts empty and grows
// as frames are found.
void PrepareFrameTable(CMirolan& reader, uint32_t totalFrames);

}  // namespace avi
