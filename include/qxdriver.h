/* Host-facing interface of the Mirolan AVI import driver.
 *
 * A host loads the library, calls qxVideoDriver_Mirolan once with its table of
 * services and receives the driver's table of operations. Every function here
 * uses the C calling convention. The records are plain C structs; in the 32-bit
 * Windows build their layout is pinned (64-bit fields on 8-byte boundaries,
 * 4-byte pointers), elsewhere they take the natural layout of the platform.
 *
 * Threads: the host's own threads call the export and every drv_ operation;
 * each open stream has one worker thread of the driver's, which alone calls
 * host_acquire, host_set_duration and host_deliver for that stream.
 * host_wake is called by the thread that calls drv_close. */
#ifndef QXDRIVER_H
#define QXDRIVER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
typedef char16_t qx_char16;
#else
#include <uchar.h>
typedef char16_t qx_char16;
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define QX_CALL __cdecl
#else
#define QX_CALL
#endif

/* Four-character codes: the first letter is the most significant byte. */
#define QX_FOURCC(a, b, c, d) \
    (((uint32_t)(a) << 24) | ((uint32_t)(b) << 16) | ((uint32_t)(c) << 8) | (uint32_t)(d))

/* Option tags of drv_open, and the request kinds passed to host_acquire. */
#define QX_TAG_EYES 0x65796573u /* 'eyes': video stream */
#define QX_TAG_EARS 0x65617273u /* 'ears': audio stream */
#define QX_TAG_DINT 0x64696E74u /* 'dint': stored, no effect */

typedef struct VideoDesc {
    uint8_t hostField[8]; /* the host's own; never touched by the driver */
    int64_t timescale;    /* units per second: 10,000,000 for video */
    int64_t duration;     /* length in timescale units */
    int64_t avgFrameDuration;
    int32_t width;
    int32_t height; /* sign included: positive means bottom-up rows */
    float reservedReal;
    int32_t streamFlag;
    int32_t reservedWord;
} VideoDesc;

typedef struct AudioDesc {
    int32_t headWord;
    int32_t hostField; /* the host's own; never touched by the driver */
    int64_t timescale; /* samples per second */
    int64_t duration;  /* length in samples */
    int32_t sampleRate;
    int32_t channels;
    int32_t reservedWord;
} AudioDesc;

/* The host's record of one stream, passed to every driver operation. It and
 * its descriptors must live until drv_close returns. drv_open fills the
 * wanted medium's descriptor (it must not be null) and clears the other's
 * (which may be null). The worker copies what it needs at open and never
 * reads the descriptors afterwards. */
typedef struct StreamHandle {
    int32_t hostWord;  /* the host's own; never touched by the driver */
    void *pReader;     /* driver slot: written by a successful drv_open, cleared by drv_close */
    int32_t runState;  /* 2 once started, 0 once stopped; never read by the driver */
    VideoDesc *pVideo; /* filled by a video open */
    AudioDesc *pAudio; /* filled by an audio open */
} StreamHandle;

/* One request for a frame or a span of samples, owned by the host. The driver
 * reads its fields and fills the buffers it points to; it never writes a field.
 * Video: frame k of a stream whose frame duration is d (avgFrameDuration) is
 * the request start = k * d, end = (k + 1) * d; the frame chosen is the last
 * one that ends at or before end (frame 0 for an earlier end, the last frame
 * for a later one). Audio: samples [start, end), per channel. Every request
 * host_acquire hands out comes back through host_set_duration and
 * host_deliver, on the worker thread; one whose end is not after its start
 * comes back with a duration of 0. */
typedef struct SampleRequest {
    uint8_t hostHeader[8];
    uint8_t hostData[8]; /* first byte of the block the driver copies */
    int64_t start;       /* video: time in timescale units; audio: first sample */
    int64_t end;         /* exclusive */
    uint8_t hostData2[12];
    int32_t channels;       /* audio: channel buffers the host laid out (any count:
                               the stream's channels 0 .. min - 1 are filled, further
                               buffers get silence) */
    uint8_t *frameBuffer;   /* video: room for one frame: width x |height| x 4 bytes,
                               32-bit BGRA, rows bottom-up when height > 0 */
    float **channelBuffers; /* audio: `channels` buffers of end - start floats each */
} SampleRequest;

/* Host services. Results of deliver, set_duration and wake are ignored.
 * host_acquire (worker thread): the stream's next request; it may wait as long
 * as it likes. Null means that the stream has no further requests: the worker
 * ends and serves nothing more until drv_close, so a host with nothing to hand
 * out yet waits instead of returning null.
 * host_set_duration, then host_deliver (worker thread): the filled request
 * comes back; the driver does not touch it afterwards.
 * host_wake (the thread calling drv_close): must make a host_acquire of this
 * stream that is waiting, or that is called after it, return (null, or a
 * request, which is then served); drv_close waits for the worker without a
 * time limit. */
typedef void(QX_CALL *qx_host_unused_fn)(void);
typedef SampleRequest *(QX_CALL *qx_host_acquire_fn)(StreamHandle *stream, uint32_t kind);
typedef int32_t(QX_CALL *qx_host_deliver_fn)(StreamHandle *stream, SampleRequest *request);
typedef int32_t(QX_CALL *qx_host_set_duration_fn)(StreamHandle *stream, SampleRequest *request,
                                                  int64_t duration);
typedef int32_t(QX_CALL *qx_host_wake_fn)(StreamHandle *stream);

typedef struct HostServices {
    qx_host_unused_fn reserved0; /* never called */
    qx_host_acquire_fn host_acquire;
    qx_host_deliver_fn host_deliver;
    qx_host_set_duration_fn host_set_duration;
    qx_host_unused_fn reserved4; /* never called */
    qx_host_wake_fn host_wake;
} HostServices;

/* Driver operations, called on the host's threads. drv_nop and drv_zero ignore
 * whatever they are passed.
 * drv_open(stream, path, options): path is the zero-terminated UTF-16 path of a
 * file ending in ".avi"; options are tag/value pairs ended by tag 0, 'eyes' = 1
 * for the video stream or 'ears' = 1 for the audio stream. 1 on success, 0 when
 * refused (the debug log, or `qxhost check`, says why); a null stream, path or
 * wanted descriptor is refused.
 * drv_start(stream): lets the worker run; only the first call does anything.
 * drv_close(stream): stops the worker (through host_wake), waits for it and
 * releases the stream; a record that holds no open stream (null, its open
 * failed or never happened, already closed) is ignored. It may also be
 * called from inside a host service on the worker thread. */
typedef int32_t(QX_CALL *qx_drv_open_fn)(StreamHandle *stream, const qx_char16 *path,
                                         const uint32_t *options);
typedef void(QX_CALL *qx_drv_close_fn)(StreamHandle *stream);
typedef void(QX_CALL *qx_drv_start_fn)(StreamHandle *stream);
typedef void(QX_CALL *qx_drv_nop_fn)(void);
typedef int32_t(QX_CALL *qx_drv_zero_fn)(void);

typedef struct DriverTable {
    int32_t version; /* 1 */
    qx_drv_open_fn drv_open;
    qx_drv_close_fn drv_close;
    qx_drv_start_fn drv_start;
    qx_drv_nop_fn drv_nop;
    qx_drv_nop_fn drv_nop2; /* the same operation as drv_nop */
    qx_drv_zero_fn drv_zero;
} DriverTable;

/* The one export. Copies the six services (the host's table need not outlive
 * the call) and returns the driver's static table, the same on every call. */
typedef const DriverTable *(QX_CALL *qx_entry_fn)(const HostServices *services);
#define QX_ENTRY_NAME "qxVideoDriver_Mirolan"

#if defined(_WIN32)
#define QX_EXPORT
#else
#define QX_EXPORT __attribute__((visibility("default")))
#endif
/* For hosts that link the library instead of loading it by path. */
QX_EXPORT const DriverTable *QX_CALL qxVideoDriver_Mirolan(const HostServices *services);

#if defined(_WIN32) && !defined(_WIN64) && defined(__cplusplus)
/* The 32-bit layout the host shares with the driver. */
static_assert(sizeof(void *) == 4, "32-bit build expected");
static_assert(offsetof(VideoDesc, timescale) == 8, "VideoDesc layout");
static_assert(offsetof(VideoDesc, duration) == 16, "VideoDesc layout");
static_assert(offsetof(VideoDesc, avgFrameDuration) == 24, "VideoDesc layout");
static_assert(offsetof(VideoDesc, width) == 32, "VideoDesc layout");
static_assert(offsetof(VideoDesc, height) == 36, "VideoDesc layout");
static_assert(offsetof(VideoDesc, reservedReal) == 40, "VideoDesc layout");
static_assert(offsetof(VideoDesc, streamFlag) == 44, "VideoDesc layout");
static_assert(offsetof(VideoDesc, reservedWord) == 48, "VideoDesc layout");
static_assert(offsetof(AudioDesc, hostField) == 4, "AudioDesc layout");
static_assert(offsetof(AudioDesc, timescale) == 8, "AudioDesc layout");
static_assert(offsetof(AudioDesc, duration) == 16, "AudioDesc layout");
static_assert(offsetof(AudioDesc, sampleRate) == 24, "AudioDesc layout");
static_assert(offsetof(AudioDesc, channels) == 28, "AudioDesc layout");
static_assert(offsetof(AudioDesc, reservedWord) == 32, "AudioDesc layout");
static_assert(offsetof(StreamHandle, pReader) == 4, "StreamHandle layout");
static_assert(offsetof(StreamHandle, runState) == 8, "StreamHandle layout");
static_assert(offsetof(StreamHandle, pVideo) == 12, "StreamHandle layout");
static_assert(offsetof(StreamHandle, pAudio) == 16, "StreamHandle layout");
static_assert(offsetof(SampleRequest, hostData) == 8, "SampleRequest layout");
static_assert(offsetof(SampleRequest, start) == 16, "SampleRequest layout");
static_assert(offsetof(SampleRequest, end) == 24, "SampleRequest layout");
static_assert(offsetof(SampleRequest, hostData2) == 32, "SampleRequest layout");
static_assert(offsetof(SampleRequest, channels) == 44, "SampleRequest layout");
static_assert(offsetof(SampleRequest, frameBuffer) == 48, "SampleRequest layout");
static_assert(offsetof(SampleRequest, channelBuffers) == 52, "SampleRequest layout");
static_assert(sizeof(SampleRequest) - offsetof(SampleRequest, hostData) == 48,
              "the copied block of SampleRequest is 48 bytes");
static_assert(offsetof(HostServices, host_wake) == 20, "HostServices layout");
static_assert(offsetof(DriverTable, drv_open) == 4, "DriverTable layout");
static_assert(offsetof(DriverTable, drv_zero) == 24, "DriverTable layout");
#endif

#ifdef __cplusplus
}
#endif

#endif /* QXDRIVER_H */
