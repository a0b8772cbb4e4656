// A small host for the fuzz target and the corpus replay: it opens one file
// through the driver table as video and as audio, hands the worker a few
// requests whose spans and times are derived from the input, checks what comes
// back and closes. Buffers are allocated at exactly the size a host would give
// them, so an overrun is seen by AddressSanitizer, and guarded by sentinels
// that the host checks itself on targets without it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "format/PictureFormats.h"
#include "format/SoundFormats.h"
#include "qxdriver.h"

namespace fuzzhost {

// What one exercise did. `problems` lists every broken promise the host saw
// (a request delivered twice, a duration that does not match the span, a
// sentinel overwritten, a close that never returned...); empty means clean.
struct Outcome {
    bool videoOpened = false;
    bool audioOpened = false;
    size_t requestsHandedOut = 0;
    size_t requestsDelivered = 0;
    std::vector<std::string> problems;
};

// The services of this host, for qxVideoDriver_Mirolan.
const HostServices& Services();

struct Options {
    // Always start and serve every request, instead of letting the input
    // choose between that, a close without start and a close at once.
    bool alwaysServe = false;
    // How long drv_close may take before it counts as a hang (the stream is
    // then left to the stuck close).
    int patienceSeconds = 20;
    // While serving, how long the worker may make no call before the host
    // stops waiting for it and closes: a worker whose read failed has ended.
    int quietMilliseconds = 100;
    // Now and then (chosen from the input) one read of the file, at the open
    // or while serving, fails as with a device error.
    bool injectReadFailures = false;
};

// Opens `path` (a file whose bytes are `data`) as a video stream and as an
// audio stream, each in turn: open, then, chosen from the input, close without
// start, or start and serve until the host runs out of requests, or start and
// close at once; then close.
Outcome Exercise(const DriverTable& driver, const std::u16string& path, const uint8_t* data,
                 size_t size, const Options& options = Options());

// The frame check: true when the first `written` bytes of a frame buffer
// `width` pixels wide are what the picture layout `row` makes of the file's
// bytes `data`.
bool FrameIsFromFile(const format::PictureRow& row, const uint8_t* frame, size_t written,
                     size_t width, const uint8_t* data, size_t size);

// The sample check: true when `value` is what the sound layout `row` makes of
// a sample stored somewhere in the file's bytes `data` (or of its silence).
bool SampleIsFromFile(const format::SoundRow& row, float value, const uint8_t* data, size_t size);

// Runs drv_close on a thread of its own and waits for it at most `bound`.
// False when it has not returned: the thread is then left running with the
// stream, which the caller must then leave alive.
bool CloseWithin(const DriverTable& driver, StreamHandle* handle, std::chrono::milliseconds bound);

}  // namespace fuzzhost
