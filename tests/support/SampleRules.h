// Each served sound layout's stored sample made a float, computed here from
// the layout's definition, not by the plug-in's kernels: x / 32767 for 16-bit
// PCM, the stored float as it is, G.711 codes by the reference decoders, ...
// One table for every host that checks served samples (the fuzz host, the
// audio benchmark); a sound layout added to the plug-in is one row here.
// Header-only and free of the plug-in's own code, so that a host that loads
// the plug-in by path can use it too.
#pragma once

#include <cstdint>
#include <cstring>

namespace samplerules {

// WAVE format tags of the rows.
constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagALaw = 6;
constexpr uint16_t kTagMuLaw = 7;

// `decode` is the layout's float for one stored sample. Integer layouts whose
// factor is not exact also give the product by the reciprocal in
// `decodeOtherwise`: either rounding is a correct result.
struct SampleRule {
    const char* name;
    uint16_t tag;  // the format's tag and bits per sample
    uint16_t bits;
    uint8_t bytes;  // stored bytes of one sample of one channel
    float (*decode)(const uint8_t* sample);
    float (*decodeOtherwise)(const uint8_t* sample);
};

inline int32_t Signed24(const uint8_t* b) {
    const int32_t x = static_cast<int32_t>(b[0] | (b[1] << 8) | (b[2] << 16));
    return x >= 0x800000 ? x - 0x1000000 : x;
}
inline int32_t Signed32(const uint8_t* b) {
    uint32_t bits;
    std::memcpy(&bits, b, sizeof bits);
    return static_cast<int32_t>(bits);
}
// G.711 as the ITU-T reference decoders give it, 16-bit.
inline int32_t ALawLinear(uint8_t code) {
    const uint32_t a = code ^ 0x55u;
    int32_t t = static_cast<int32_t>((a & 0x0Fu) << 4);
    const uint32_t segment = (a & 0x70u) >> 4;
    if (segment == 0) {
        t += 8;
    } else {
        t = (t + 0x108) << (segment - 1);
    }
    return (a & 0x80u) != 0 ? t : -t;
}
inline int32_t MuLawLinear(uint8_t code) {
    const uint32_t u = static_cast<uint8_t>(~code);
    const int32_t t = static_cast<int32_t>((((u & 0x0Fu) << 3) + 0x84) << ((u & 0x70u) >> 4));
    return (u & 0x80u) != 0 ? 0x84 - t : t - 0x84;
}
inline float Over(double x, double scale) { return static_cast<float>(x / scale); }
inline float Times(double x, double scale) { return static_cast<float>(x * (1.0 / scale)); }

inline constexpr SampleRule kSampleRules[] = {
    {"8-bit PCM, (x - 128) / 127", kTagPcm, 8, 1,
     [](const uint8_t* b) { return Over(b[0] - 128.0, 127.0); }, nullptr},
    {"16-bit PCM, x / 32767", kTagPcm, 16, 2,
     [](const uint8_t* b) { return Over(static_cast<int16_t>(b[0] | (b[1] << 8)), 32767.0); },
     nullptr},
    {"24-bit PCM, x / 8388607", kTagPcm, 24, 3,
     [](const uint8_t* b) { return Over(Signed24(b), 8388607.0); },
     [](const uint8_t* b) { return Times(Signed24(b), 8388607.0); }},
    {"32-bit PCM, x / 2147483647", kTagPcm, 32, 4,
     [](const uint8_t* b) { return Over(Signed32(b), 2147483647.0); },
     [](const uint8_t* b) { return Times(Signed32(b), 2147483647.0); }},
    {"32-bit float, as stored", kTagFloat, 32, 4,
     [](const uint8_t* b) {
         float value;
         std::memcpy(&value, b, sizeof value);
         return value;
     },
     nullptr},
    {"64-bit float, rounded once", kTagFloat, 64, 8,
     [](const uint8_t* b) {
         double value;
         std::memcpy(&value, b, sizeof value);
         return static_cast<float>(value);
     },
     nullptr},
    {"A-law, 16-bit / 32767", kTagALaw, 8, 1,
     [](const uint8_t* b) { return Over(ALawLinear(b[0]), 32767.0); }, nullptr},
    {"mu-law, 16-bit / 32767", kTagMuLaw, 8, 1,
     [](const uint8_t* b) { return Over(MuLawLinear(b[0]), 32767.0); }, nullptr},
};

// The row of a format's tag and bits per sample; null for a layout no row describes.
inline const SampleRule* RuleOf(uint16_t tag, uint16_t bits) {
    for (const SampleRule& rule : kSampleRules) {
        if (rule.tag == tag && rule.bits == bits) return &rule;
    }
    return nullptr;
}

}  // namespace samplerules
