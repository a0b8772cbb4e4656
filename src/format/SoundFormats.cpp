#include "format/SoundFormats.h"

#include "convert/PcmConvert.h"

namespace format {

namespace {

// clang-format off
const SoundRow kSoundRows[] = {
    // name           tag               bits  family                    support              bytes silence kernel
    {"8-bit PCM",     kWaveFormatPcm,     8, SoundFamily::IntegerPcm, Support::Served,     1, 0x80, convert::Pcm8ToFloat},
    {"16-bit PCM",    kWaveFormatPcm,    16, SoundFamily::IntegerPcm, Support::Served,     2, 0x00, convert::Pcm16ToFloat},
    {"24-bit PCM",    kWaveFormatPcm,    24, SoundFamily::IntegerPcm, Support::Served,     3, 0x00, convert::Pcm24ToFloat},
    {"32-bit PCM",    kWaveFormatPcm,    32, SoundFamily::IntegerPcm, Support::Served,     4, 0x00, convert::Pcm32ToFloat},
    {"PCM",           kWaveFormatPcm,     0, SoundFamily::IntegerPcm, Support::NotReadYet, 0, 0x00, nullptr},
    {"32-bit float",  kWaveFormatFloat,  32, SoundFamily::Float,      Support::Served,     4, 0x00, convert::Float32ToFloat},
    {"64-bit float",  kWaveFormatFloat,  64, SoundFamily::Float,      Support::Served,     8, 0x00, convert::Float64ToFloat},
    {"float",         kWaveFormatFloat,   0, SoundFamily::Float,      Support::NotReadYet, 0, 0x00, nullptr},
    // The quietest codes: A-law has no zero (0xD5 is +8), mu-law's 0xFF is 0.
    {"A-law",         kWaveFormatALaw,    8, SoundFamily::G711,       Support::Served,     1, 0xD5, convert::ALawToFloat},
    {"mu-law",        kWaveFormatMuLaw,   8, SoundFamily::G711,       Support::Served,     1, 0xFF, convert::MuLawToFloat},
    {"A-law",         kWaveFormatALaw,    0, SoundFamily::G711,       Support::NotReadYet, 0, 0x00, nullptr},
    {"mu-law",        kWaveFormatMuLaw,   0, SoundFamily::G711,       Support::NotReadYet, 0, 0x00, nullptr},
};
// clang-format on

}  // namespace

uint16_t SampleTag(uint16_t formatTag, uint16_t subFormatTag) {
    // The sub-format says what the samples are; without it nothing is known.
    return formatTag != kWaveFormatExtensible ? formatTag : subFormatTag;
}

SoundRows AllSoundRows() {
    return SoundRows{kSoundRows, kSoundRows + sizeof kSoundRows / sizeof kSoundRows[0]};
}

const SoundRow* FindSoundRow(uint16_t tag, uint16_t bits) {
    for (const SoundRow& row : kSoundRows) {
        if (row.tag == tag && (row.bits == 0 || row.bits == bits)) return &row;
    }
    return nullptr;
}

}  // namespace format
