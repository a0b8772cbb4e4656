// The names users know codecs by, for refusals: a video stream's
// biCompression code or an audio stream's format tag that is a codec, never
// read by this plug-in.
#pragma once

#include <cstdint>

namespace format {

// The codec a biCompression value names (codes compared without regard to
// case), e.g. "MJPEG" for 'MJPG'; null when unknown.
const char* VideoCodecName(uint32_t compression);

// The codec a wFormatTag (or an extensible record's sub-format tag) names,
// e.g. "MP3" for 0x0055; null when unknown.
const char* AudioCodecName(uint16_t tag);

// The printable form of a biCompression code: its four characters in file
// order, '?' for a byte that is not printable.
void CompressionText(uint32_t compression, char (&text)[5]);

}  // namespace format
