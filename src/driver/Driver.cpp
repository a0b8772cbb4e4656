// The export, the driver's operation table and its operations.
#include <new>

#include "diag/DebugLog.h"
#include "diag/LogLines.h"
#include "host/HostServices.h"
#include "qxdriver.h"
#include "reader/Mirolan.h"

namespace {

// A null stream record, path or wanted descriptor is refused by the reader
// with its reason logged, like any other refused open.
// Nothing leaves an entry point as an exception: the host is C. Each catches
// what its work may throw (out of memory, a lock the system refuses).
int32_t QX_CALL drv_open(StreamHandle* stream, const qx_char16* path,
                         const uint32_t* options) noexcept {
    try {
        auto* reader = new CMirolan(stream, path, options);
        stream->pReader = reader;
        return 1;
    } catch (...) {  // every failure alike: the reader is gone, pReader untouched
        return 0;
    }
}

void QX_CALL drv_close(StreamHandle* stream) noexcept {
    diag::DebugLog("", diag::kSourceName, diag::kLogDriverClose, "drv_close");
    if (stream == nullptr) return;
    auto* reader = static_cast<CMirolan*>(stream->pReader);
    // Cleared first: a second close of the stream finds no reader and does nothing.
    stream->pReader = nullptr;
    try {
        // Only a reader an open made and no close has taken: a record whose open
        // failed or never happened holds whatever the host left in it.
        if (reader == nullptr || !CMirolan::Unregister(reader)) return;
    } catch (...) {  // the registry's lock refused: the reader cannot be known
        return;
    }
    // A close from inside a host service on the worker's own thread cannot
    // wait for that thread: the worker destroys the reader as it ends.
    if (reader->StopFromOwnWorker()) return;
    delete reader;
}

void QX_CALL drv_start(StreamHandle* stream) noexcept {
    if (stream == nullptr) return;
    auto* reader = static_cast<CMirolan*>(stream->pReader);
    try {
        if (reader == nullptr || !CMirolan::IsLive(reader)) return;
    } catch (...) {  // the registry's lock refused: the reader cannot be known
        return;
    }
    reader->Start();
}

void QX_CALL drv_nop() noexcept {}

int32_t QX_CALL drv_zero() noexcept { return 0; }

const DriverTable kDriverTable = {1, drv_open, drv_close, drv_start, drv_nop, drv_nop, drv_zero};

}  // namespace

extern "C" QX_EXPORT const DriverTable* QX_CALL
qxVideoDriver_Mirolan(const HostServices* services) {
    try {
        if (services != nullptr) host::Store(*services);
    } catch (...) {  // the lock refused: the services stay as they were
    }
    return &kDriverTable;
}
