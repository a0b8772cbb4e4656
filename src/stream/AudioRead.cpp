#include "stream/AudioRead.h"

#include <algorithm>
#include <cstring>

#include "diag/DebugLog.h"
#include "diag/LogLines.h"
#include "stream/FileRead.h"

namespace stream {

namespace {

// The staging buffer a stream keeps between requests: enough for every
// ordinary request (a second of 8-channel 16-bit 48 kHz audio is 768 KiB). A
// larger one is released after its request instead of pinning memory (and a
// 32-bit host's address space) until close.
constexpr size_t kKeptStagingBytes = 1u << 20;

// b - a for a <= b, without the signed overflow of a span across the whole range.
uint64_t Distance(int64_t a, int64_t b) {
    return static_cast<uint64_t>(b) - static_cast<uint64_t>(a);
}

// True when chunk i is the first whose endSample lies after `start`: since
// endSample never decreases along the list, that is the chunk ending after
// `start` whose predecessor does not.
bool IsFirstChunkEndingAfter(const std::deque<AudioChunk>& chunks, size_t i, int64_t start) {
    return i < chunks.size() && chunks[i].endSample > start &&
           (i == 0 || chunks[i - 1].endSample <= start);
}

// The first chunk whose endSample lies after `start`: the chunk that holds it.
// Most files cut their audio into chunks of one length, so the chunk numbered
// start / (the first chunk's length) is tried first; the test above accepts it
// only when it is that chunk. Otherwise a binary search over endSample finds
// the same chunk as a walk from the front, in time for an hour of audio
// (~90,000 chunks).
size_t FirstChunkEndingAfter(const std::deque<AudioChunk>& chunks, int64_t start) {
    if (!chunks.empty() && start >= 0) {
        const int64_t firstLength = chunks[0].endSample - chunks[0].firstSample;
        if (firstLength > 0) {
            const uint64_t guess =
                static_cast<uint64_t>(start) / static_cast<uint64_t>(firstLength);
            if (guess < chunks.size() &&
                IsFirstChunkEndingAfter(chunks, static_cast<size_t>(guess), start)) {
                return static_cast<size_t>(guess);
            }
        }
    }
    const auto found = std::upper_bound(
        chunks.begin(), chunks.end(), start,
        [](int64_t sample, const AudioChunk& chunk) { return sample < chunk.endSample; });
    return static_cast<size_t>(found - chunks.begin());
}

// Fills the first `stagingSize` bytes of the staging buffer: every chunk
// that overlaps [start, end) is read to its own place (the bytes of the
// chunk's sample `s` go to (s - start) * frameBytes), and whatever is not read
// (a failed positioning, a short read, a chunk smaller than its sample count,
// the part of the span past the last chunk) is silence. Only whole sample
// frames are kept. Silence is written only where no read lands, in file
// order, so that a span read whole is not written twice.
void StageChunks(const ServeContext& context, int64_t start, int64_t end, uint32_t frameBytes,
                 uint8_t silence, uint32_t stagingSize) {
    const std::deque<AudioChunk>& chunks = context.audioChunks;
    uint8_t* const staged = context.staging.Bytes();
    // Every byte below `written` holds a read byte or silence.
    uint32_t written = 0;
    const auto silenceUpTo = [&](uint32_t upTo) {
        if (upTo <= written) return;
        std::memset(staged + written, silence, upTo - written);
        written = upTo;
    };
    const size_t totalChunks = chunks.size();
    size_t i = FirstChunkEndingAfter(chunks, start);

    const bool spanInOneChunk = i < totalChunks && chunks[i].endSample >= end;
    for (; i < totalChunks && chunks[i].firstSample < end; ++i) {
        const AudioChunk& chunk = chunks[i];
        const int64_t from = std::max(chunk.firstSample, start);
        const int64_t to = std::min(chunk.endSample, end);
        if (to <= from) continue;

        const uint64_t skipSamples = Distance(chunk.firstSample, from);
        const uint32_t chunkFrames = chunk.size / frameBytes;
        if (skipSamples >= chunkFrames) continue;  // the chunk's data ends before `from`
        const uint64_t wantFrames =
            std::min<uint64_t>(Distance(from, to), chunkFrames - skipSamples);
        // Both stay within the staging size, which fits in 32 bits.
        const auto want = static_cast<uint32_t>(wantFrames * frameBytes);
        const auto at = static_cast<uint32_t>(Distance(start, from) * frameBytes);
        const auto position =
            static_cast<int64_t>(static_cast<uint64_t>(chunk.offset) + skipSamples * frameBytes);

        silenceUpTo(at);
        const uint32_t got = ReadOrFill(context.file, position, staged + at, want, want, silence);
        if (got == kUnpositioned) {
            if (spanInOneChunk) {
                diag::DebugLog("", diag::kSourceName, diag::kLogAudioSeekFailed,
                               "Seeking to wrong Position %lld", static_cast<long long>(position));
            }
        } else if (got % frameBytes != 0) {
            // Only whole sample frames are kept.
            std::memset(staged + at + (got - got % frameBytes), silence, got % frameBytes);
        }
        written = std::max(written, at + want);
    }
    silenceUpTo(stagingSize);
}

// De-interleaves `frames` staged sample frames of the file's channels into
// the request's buffers: the file's channels 0 .. min - 1 converted, any
// further buffer the request names filled with silence (0.0), and nothing
// written to a buffer the request does not name.
void ConvertStaged(const ServeContext& context, const SampleBlock& request, uint32_t frames) {
    const format::SoundRow* row = context.sound.row;
    const uint32_t fileChannels = context.wfx.nChannels;
    const auto requestChannels = static_cast<uint32_t>(std::max(request.channels, 0));
    const uint32_t channelsToFill = std::min(fileChannels, requestChannels);
    if (row->convert != nullptr) {
        row->convert(context.staging.Bytes(), fileChannels, frames, request.channelBuffers,
                     channelsToFill);
    }
    for (uint32_t ch = channelsToFill; ch < requestChannels; ++ch) {
        float* buffer = request.channelBuffers[ch];
        if (buffer != nullptr) std::fill(buffer, buffer + frames, 0.0f);
    }
}

}  // namespace

// Stages the span's interleaved bytes (silence wherever nothing is read) and
// converts them.
bool ReadAudioSamples(const ServeContext& context, const SampleBlock& request) {
    StagingBuffer& staging = context.staging;
    // An empty or reversed span reads and writes nothing.
    if (request.end <= request.start) return true;
    // A request with no channel buffers has nothing to fill.
    if (request.channels <= 0 || request.channelBuffers == nullptr) return true;
    const format::SoundRow* row = context.sound.row;
    const uint32_t bytesPerSample = row != nullptr ? row->bytesPerSample : 0u;
    const uint32_t fileChannels = context.wfx.nChannels;
    // Nothing to convert: a format without a conversion, or no channels.
    if (bytesPerSample == 0 || row->convert == nullptr || fileChannels == 0) return true;

    // Staged as the file stores it: sample frames of the file's channels,
    // whatever channel count the request names.
    const uint64_t frameBytes = static_cast<uint64_t>(bytesPerSample) * fileChannels;
    const uint64_t spanSamples = Distance(request.start, request.end);
    // The whole span is staged at once; a span beyond what a 32-bit size holds
    // (an hour of audio asked for by a 32-bit host) cannot be, nor can memory
    // the system refuses. The request is then handed back unconverted.
    const bool fits = spanSamples <= UINT32_MAX / frameBytes;
    if (!fits || !staging.Reserve(static_cast<uint32_t>(spanSamples * frameBytes))) {
        // Once per stream: a file written per request would slow the
        // time-critical thread on every request after it.
        if (!staging.failureLogged) {
            staging.failureLogged = true;
            const unsigned long long bytes =
                spanSamples > UINT64_MAX / frameBytes ? UINT64_MAX : spanSamples * frameBytes;
            diag::DebugLog("", diag::kSourceName, diag::kLogStagingUnavailable,
                           "Staging buffer of %llu bytes unavailable", bytes);
        }
        return true;
    }
    const auto stagingSize = static_cast<uint32_t>(spanSamples * frameBytes);

    StageChunks(context, request.start, request.end, static_cast<uint32_t>(frameBytes),
                row->silence, stagingSize);
    // The whole span: what lies past the end of the audio is silence, whether
    // the span straddles the end or lies wholly beyond it.
    ConvertStaged(context, request, static_cast<uint32_t>(spanSamples));
    staging.TrimTo(kKeptStagingBytes);
    return true;
}

}  // namespace stream
