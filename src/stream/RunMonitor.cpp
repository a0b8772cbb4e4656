#include "stream/RunMonitor.h"

#include <algorithm>
#include <cstring>

#include "container/AviRecords.h"
#include "diag/Assert.h"
#include "diag/DebugLog.h"
#include "diag/LogLines.h"
#include "host/HostServices.h"
#include "stream/AudioRead.h"
#include "stream/VideoRead.h"

namespace stream {

namespace {

// end - start with the wrap of 64-bit two's-complement arithmetic, so that a
// span the host got wrong comes out as what it is instead of overflowing.
int64_t SpanOf(const SampleRequest& request) {
    return static_cast<int64_t>(static_cast<uint64_t>(request.end) -
                                static_cast<uint64_t>(request.start));
}

// Frames that can be served: those the index found, and never more than the
// frame table holds.
uint32_t FramesAvailable(const ServeContext& context) {
    const size_t tableSize = context.frameTable.size();
    return tableSize < context.totalFrames ? static_cast<uint32_t>(tableSize) : context.totalFrames;
}

// The frame number quotient - 1 as the "Wrong Index" notice prints it: a
// 32-bit decimal, numbers beyond that range shown at its ends.
int32_t NoticeNumber(int64_t quotient) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(quotient, int64_t{INT32_MIN} + 1, int64_t{INT32_MAX} + 1) - 1);
}

// The last frame that ends at or before `end`: end / avgFrameDuration - 1, in
// 64 bits, so that a request 2^32 frames on is past the end and not its low
// half. A number outside the table is printed, when the debug folder exists:
// an end before the end of the first frame (a negative one included) gets
// frame 0, an end past the last frame the last frame. False when no frame can
// be chosen: a frame duration that is not positive, or no frames at all.
// `held`: the bytes of the frame its chunk holds.
bool ChooseFrame(const ServeContext& context, int64_t end, int64_t* offset, uint32_t* held) {
    const uint32_t frameCount = FramesAvailable(context);
    const int64_t avgFrameDuration = context.avgFrameDuration;
    if (avgFrameDuration <= 0 || frameCount == 0) {
        diag::DebugLog("", diag::kSourceName, diag::kLogNoFrameToServe,
                       "No frame to serve: avgFrameDuration %lld, %u frames",
                       static_cast<long long>(avgFrameDuration), frameCount);
        return false;
    }
    // A positive divisor: never a division by 0 nor INT64_MIN / -1.
    const int64_t quotient = end / avgFrameDuration;
    uint32_t frame = frameCount - 1;
    if (quotient >= 1 && quotient <= static_cast<int64_t>(frameCount)) {
        frame = static_cast<uint32_t>(quotient - 1);
    } else {
        diag::PrintNotice("Wrong Index %d\n", NoticeNumber(quotient));
        if (quotient < 1) frame = 0;
    }
    *offset = context.frameTable[frame];
    *held = avi::FrameBytesHeld(context.shortFrames, context.picture.frameSize, frame);
    return true;
}

// The bytes of the host's frame buffer: width x |height| x 4, whatever the
// stored layout (open made sure that this fits 32 bits).
size_t HostFrameBytes(const format::PictureFormat& picture) {
    return static_cast<size_t>(picture.width) * picture.rows * 4u;
}

// Hands a served request back: its span as the duration (converted to the
// video time scale), then the request. An empty or reversed span is a host's
// error, asserted, and handed back with a duration of 0, so that a host that
// waits for each of its requests to come back never waits for ever.
void HandBack(const ServeContext& context, SampleRequest& request) {
    const int64_t span = SpanOf(request);
    int64_t duration = 0;
    if (context.video) {
        QXASSERT_SPELLED(diag::kAssertVideoDuration, span > 0, duration > 0);
        if (span > 0) duration = VideoDurationForHost(context.timescale, span);
    } else {
        QXASSERT_SPELLED(diag::kAssertAudioDuration, span > 0, duration > 0);
        if (span > 0) duration = span;  // a count of samples, unconverted
    }
    host::SetDuration(context.services, context.pStream, &request, duration);
    // A host that closed the stream from inside its set-duration service has
    // taken the stream back: nothing more goes to it.
    if (context.pStream != nullptr) host::Deliver(context.services, context.pStream, &request);
}

// A read the system failed while serving: the request is still delivered
// (zeros or silence where the read failed), and the failure is logged once
// per stream, since a failing disk would otherwise write a line per request
// from the time-critical thread.
struct ReadFailureLog {
    bool logged = false;
    // True, once, when a read since the last call failed; `error` its code.
    bool FirstFailure(uint32_t* error) {
        *error = platform::TakeReadError();
        if (*error == 0 || logged) return false;
        logged = true;
        return true;
    }
};

// Serves one video request. False ends the worker without delivering it:
// only when the stream has no frame to serve at all.
bool ServeVideo(const ServeContext& context, SampleRequest& request, ReadFailureLog& failures) {
    int64_t frameOffset = 0;
    uint32_t held = 0;
    if (!ChooseFrame(context, request.end, &frameOffset, &held)) return false;
    // A frame that cannot be positioned (logged by the read) is handed back
    // black rather than kept: the host gets every request back, and the next
    // one may read.
    if (!ReadVideoFrame(context.file, context.picture, frameOffset, held, request.frameBuffer,
                        context.staging) &&
        request.frameBuffer != nullptr) {
        std::memset(request.frameBuffer, 0, HostFrameBytes(context.picture));
    }
    uint32_t error = 0;
    if (failures.FirstFailure(&error)) {
        diag::DebugLog("", diag::kSourceName, diag::kLogVideoReadFailed,
                       "Video frame at offset %lld not read: system error %u",
                       static_cast<long long>(frameOffset), error);
    }
    HandBack(context, request);
    return true;
}

// Serves one audio request; the read works on a copy of the request's block.
bool ServeAudio(const ServeContext& context, SampleRequest& request, ReadFailureLog& failures) {
    ReadAudioSamples(context, CopyBlock(request));
    uint32_t error = 0;
    if (failures.FirstFailure(&error)) {
        diag::DebugLog("", diag::kSourceName, diag::kLogAudioReadFailed,
                       "Audio samples %lld to %lld not read: system error %u",
                       static_cast<long long>(request.start), static_cast<long long>(request.end),
                       error);
    }
    HandBack(context, request);
    return true;
}

}  // namespace

void ServeRequests(const ServeContext& context) {
    const uint32_t kind = context.video ? QX_TAG_EYES : QX_TAG_EARS;
    ReadFailureLog failures;
    platform::TakeReadError();  // only this stream's reads count
    while (!context.stop.load()) {
        SampleRequest* request = host::Acquire(context.services, context.pStream, kind);
        // Null, or the host closed the stream from inside its acquire service.
        if (request == nullptr || context.pStream == nullptr) break;
        const bool served = context.video ? ServeVideo(context, *request, failures)
                                          : ServeAudio(context, *request, failures);
        if (!served) break;
    }
    context.stop = true;
}

int64_t VideoDurationForHost(int64_t timescale, int64_t span) {
    const double quotient = static_cast<double>(timescale) * static_cast<double>(span) /
                            static_cast<double>(avi::kVideoTimescale);
    // The comparisons are false for NaN as well.
    if (quotient >= -0x1p63 && quotient < 0x1p63) return static_cast<int64_t>(quotient);
    return INT64_MIN;
}

}  // namespace stream
