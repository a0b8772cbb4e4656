// The frame read: one stored frame into the host's BGRA buffer, the way the
// picture's row says (copied straight, converted in place, or converted from
// the staging buffer).
#pragma once

#include <cstdint>

#include "format/PictureFormats.h"
#include "platform/platform.h"
#include "stream/StagingBuffer.h"

namespace stream {

// Reads the frame at frameOffset of `file` into destination (nothing when it
// is null), which holds picture.width x picture.rows x 4 bytes: a copied
// layout's picture.frameSize bytes straight, any other converted to BGRA by
// its row's kernel, in place or through `staging`. False, logged, only when
// positioning the file fails; whatever a short read lacks comes out as zeros
// (a copied or in-place frame), or is converted from zeros (a staged one).
bool ReadVideoFrame(platform::FileHandle file, const format::PictureFormat& picture,
                    int64_t frameOffset, uint8_t* destination, StagingBuffer& staging);

// The in-place read: the stored frame read straight into `destination` in
// bands of about `bandBytes` of output (at least a row), last band first,
// each converted where it was read while it is still in the cache. Pixels
// the file does not hold in full come out as four zero bytes. False, with
// nothing written, only when positioning the file fails or when the output
// does not fit 32 bits.
constexpr uint32_t kInPlaceBandBytes = 256 * 1024;
bool ReadFrameInPlace(platform::FileHandle file, const format::PictureFormat& picture,
                      int64_t offset, uint8_t* destination, uint32_t bandBytes = kInPlaceBandBytes);

}  // namespace stream
