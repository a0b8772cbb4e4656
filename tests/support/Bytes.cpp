#include "support/Bytes.h"

namespace testsupport {

Bytes& Bytes::U8(uint8_t v) {
    data_.push_back(v);
    return *this;
}
Bytes& Bytes::U16(uint16_t v) {
    return U8(static_cast<uint8_t>(v)).U8(static_cast<uint8_t>(v >> 8));
}
Bytes& Bytes::U32(uint32_t v) {
    return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16));
}
Bytes& Bytes::U64(uint64_t v) {
    return U32(static_cast<uint32_t>(v)).U32(static_cast<uint32_t>(v >> 32));
}
Bytes& Bytes::Code(const char (&fourcc)[5]) {
    for (int i = 0; i < 4; ++i) U8(static_cast<uint8_t>(fourcc[i]));
    return *this;
}
Bytes& Bytes::Zeros(size_t n) {
    data_.insert(data_.end(), n, 0);
    return *this;
}
Bytes& Bytes::Append(const std::vector<uint8_t>& more) {
    data_.insert(data_.end(), more.begin(), more.end());
    return *this;
}
void Bytes::PatchU32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        data_[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace testsupport
