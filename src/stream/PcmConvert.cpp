#include "stream/PcmConvert.h"

#include <cstddef>

namespace stream {

void Pcm16ToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                  float* const* channelBuffers, uint32_t channelsToFill, float divisor) {
    if (channelsToFill > channelCount) channelsToFill = channelCount;
    const size_t stride = static_cast<size_t>(channelCount) * 2;
    const double scale = divisor;
    for (uint32_t ch = 0; ch < channelsToFill; ++ch) {
        float* out = channelBuffers[ch];
        if (out == nullptr) continue;
        const uint8_t* in = interleaved + static_cast<size_t>(ch) * 2;
        for (uint32_t j = 0; j < frameCount; ++j, in += stride) {
            const auto x = static_cast<int16_t>(static_cast<uint16_t>(in[0] | (in[1] << 8)));
            out[j] = static_cast<float>(static_cast<double>(x) / scale);
        }
    }
}

void Pcm8ToFloat(const uint8_t* interleaved, uint32_t channelCount, uint32_t frameCount,
                 float* const* channelBuffers, uint32_t channelsToFill) {
    if (channelsToFill > channelCount) channelsToFill = channelCount;
    const size_t stride = channelCount;
    for (uint32_t ch = 0; ch < channelsToFill; ++ch) {
        float* out = channelBuffers[ch];
        if (out == nullptr) continue;
        const uint8_t* in = interleaved + ch;
        for (uint32_t j = 0; j < frameCount; ++j, in += stride) {
            out[j] = static_cast<float>((static_cast<double>(*in) - 128.0) / 127.0);
        }
    }
}

}  // namespace stream
