#include "format/SoundFormats.h"

#include "convert/PcmConvert.h"

namespace format {

namespace {

// clang-format off
const SoundRow kSoundRows[] = {
    // name          tag               bits  family                    support              bytes silence kernel
    {"8-bit PCM",    kWaveFormatPcm,    8,  SoundFamily::IntegerPcm, Support::Served,     1, 0x80, convert::Pcm8ToFloat},
    {"16-bit PCM",   kWaveFormatPcm,   16,  SoundFamily::IntegerPcm, Support::Served,     2, 0x00, convert::Pcm16ToFloat},
    {"PCM",          kWaveFormatPcm,    0,  SoundFamily::IntegerPcm, Support::NotReadYet, 0, 0x00, nullptr},
    {"float",        kWaveFormatFloat,  0,  SoundFamily::Float,      Support::NotReadYet, 0, 0x00, nullptr},
};
// clang-format on

}  // namespace

uint16_t SampleTag(uint16_t formatTag, uint32_t formatSize, uint16_t cbSize, uint16_t subFormatTag,
                   bool subFormatIsStandard) {
    if (formatTag != kWaveFormatExtensible) return formatTag;
    // The sub-format says what the samples are; without it nothing is known.
    return formatSize >= 40 && cbSize >= 22 && subFormatIsStandard ? subFormatTag : 0;
}

const SoundRow* FindSoundRow(uint16_t tag, uint16_t bits) {
    for (const SoundRow& row : kSoundRows) {
        if (row.tag == tag && (row.bits == 0 || row.bits == bits)) return &row;
    }
    return nullptr;
}

}  // namespace format
