#include "reader/Mirolan.h"

void CMirolan::CreateRunMonitorThread() {}  // TODO(stream)
void CMirolan::StopRunMonitorThread() {}    // TODO(stream)
bool CMirolan::ReadVideoFrame(uint32_t, int64_t, uint8_t*) { return false; }
bool CMirolan::ReadAudioSamples(const SampleBlock&) { return false; }
