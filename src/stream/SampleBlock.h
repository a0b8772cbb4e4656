#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "qxdriver.h"

// The part of the host's SampleRequest that the worker copies whole when it
// serves a request: from the host data after the 8-byte header through
// channelBuffers (48 bytes in the 32-bit layout).
struct SampleBlock {
    uint8_t hostData[8];
    int64_t start;
    int64_t end;
    uint8_t hostData2[12];
    int32_t channels;
    uint8_t* frameBuffer;
    float** channelBuffers;
};

static_assert(offsetof(SampleBlock, start) ==
                  offsetof(SampleRequest, start) - offsetof(SampleRequest, hostData),
              "block mirrors the request");
static_assert(offsetof(SampleBlock, channels) ==
                  offsetof(SampleRequest, channels) - offsetof(SampleRequest, hostData),
              "block mirrors the request");
static_assert(offsetof(SampleBlock, channelBuffers) ==
                  offsetof(SampleRequest, channelBuffers) - offsetof(SampleRequest, hostData),
              "block mirrors the request");
static_assert(sizeof(SampleBlock) == sizeof(SampleRequest) - offsetof(SampleRequest, hostData),
              "block reaches the end of the request");

inline SampleBlock CopyBlock(const SampleRequest& request) {
    SampleBlock block;
    std::memcpy(&block, reinterpret_cast<const uint8_t*>(&request) + offsetof(SampleRequest, hostData),
                sizeof block);
    return block;
}
