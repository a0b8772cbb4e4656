#include "platform/ReadError.h"

#include "platform/platform.h"

namespace platform {

namespace {
thread_local uint32_t readError = 0;  // see TakeReadError
}  // namespace

void KeepReadError(uint32_t code) {
    if (readError == 0) readError = code;
}

uint32_t TakeReadError() {
    const uint32_t error = readError;
    readError = 0;
    return error;
}

}  // namespace platform
