// The table of stored sound layouts: which layout an audio stream's
// WAVEFORMATEX (or WAVEFORMATEXTENSIBLE, by its sub-format) describes, the
// bytes of one stored sample, the byte of silence, the kernel that converts
// it to floats and the name a refusal gives it. The stream rules, the index
// sources and the audio read ask this table; nothing else tests format tags
// or bit depths.
#pragma once

#include <cstdint>

#include "convert/SampleKernel.h"
#include "format/Support.h"

namespace format {

// wFormatTag values with a meaning of their own here.
constexpr uint16_t kWaveFormatPcm = 0x0001;
constexpr uint16_t kWaveFormatFloat = 0x0003;
constexpr uint16_t kWaveFormatALaw = 0x0006;
constexpr uint16_t kWaveFormatMuLaw = 0x0007;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// What kind of samples a row holds: the refusals speak of each differently.
enum class SoundFamily : uint8_t { IntegerPcm, Float, G711, Compressed };

struct SoundRow {
    const char* name;  // as a user knows it, for refusals: "16-bit PCM", "MP3"
    uint16_t tag;      // the format tag (an extensible record's: its sub-format's)
    uint16_t bits;     // wBitsPerSample; 0 matches any
    SoundFamily family;
    Support support;
    uint8_t bytesPerSample;            // stored bytes of one sample of one channel (served rows)
    uint8_t silence;                   // the stored byte of silence (served rows)
    convert::SampleConverter convert;  // null unless served
};

// The tag that says what the samples are: wFormatTag, or for an extensible
// record the sub-format's tag, which the container reads only from a whole
// record with a standard GUID (0 when nothing is known).
uint16_t SampleTag(uint16_t formatTag, uint16_t subFormatTag);

// The row of `tag` (as SampleTag gives it) at `bits` bits per sample: the
// first that matches; null for a tag no row knows.
const SoundRow* FindSoundRow(uint16_t tag, uint16_t bits);

// Every row, in the order FindSoundRow tries them (for tests and tools).
struct SoundRows {
    const SoundRow* begin;
    const SoundRow* end;
};
SoundRows AllSoundRows();

// A stream's sound as the audio read serves it.
struct SoundFormat {
    const SoundRow* row = nullptr;
    uint32_t channels = 0;
};

}  // namespace format
