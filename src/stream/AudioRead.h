#pragma once

#include "stream/SampleBlock.h"
#include "stream/ServeContext.h"

namespace stream {

// Fills the request's channel buffers with the samples [start, end) of the
// context's audio chunks, silence wherever nothing is read. Always true:
// whatever happens, the worker hands the request back when its span is
// positive.
bool ReadAudioSamples(const ServeContext& context, const SampleBlock& request);

}  // namespace stream
