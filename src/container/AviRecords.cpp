#include "container/AviRecords.h"

namespace avi {

MainAVIHeader DecodeMainHeader(const uint8_t* p) {
    MainAVIHeader h{};
    h.dwMicroSecPerFrame = ReadLe32(p + 0);
    h.dwMaxBytesPerSec = ReadLe32(p + 4);
    h.dwPaddingGranularity = ReadLe32(p + 8);
    h.dwFlags = ReadLe32(p + 12);
    h.dwTotalFrames = ReadLe32(p + 16);
    h.dwInitialFrames = ReadLe32(p + 20);
    h.dwStreams = ReadLe32(p + 24);
    h.dwSuggestedBufferSize = ReadLe32(p + 28);
    h.dwWidth = ReadLe32(p + 32);
    h.dwHeight = ReadLe32(p + 36);
    for (int i = 0; i < 4; ++i) h.dwReserved[i] = ReadLe32(p + 40 + 4 * i);
    return h;
}

AVIStreamHeader DecodeStreamHeader(const uint8_t* p) {
    AVIStreamHeader h{};
    h.fccType = ReadFourCC(p + 0);
    h.fccHandler = ReadFourCC(p + 4);
    h.dwFlags = ReadLe32(p + 8);
    h.wPriority = ReadLe16(p + 12);
    h.wLanguage = ReadLe16(p + 14);
    h.dwInitialFrames = ReadLe32(p + 16);
    h.dwScale = ReadLe32(p + 20);
    h.dwRate = ReadLe32(p + 24);
    h.dwStart = ReadLe32(p + 28);
    h.dwLength = ReadLe32(p + 32);
    h.dwSuggestedBufferSize = ReadLe32(p + 36);
    h.dwQuality = ReadLe32(p + 40);
    h.dwSampleSize = ReadLe32(p + 44);
    for (int i = 0; i < 4; ++i) h.rcFrame[i] = static_cast<int16_t>(ReadLe16(p + 48 + 2 * i));
    return h;
}

BITMAPINFOHEADER DecodeBitmapHeader(const uint8_t* p) {
    BITMAPINFOHEADER h{};
    h.biSize = ReadLe32(p + 0);
    h.biWidth = static_cast<int32_t>(ReadLe32(p + 4));
    h.biHeight = static_cast<int32_t>(ReadLe32(p + 8));
    h.biPlanes = ReadLe16(p + 12);
    h.biBitCount = ReadLe16(p + 14);
    h.biCompression = ReadLe32(p + 16);
    h.biSizeImage = ReadLe32(p + 20);
    h.biXPelsPerMeter = static_cast<int32_t>(ReadLe32(p + 24));
    h.biYPelsPerMeter = static_cast<int32_t>(ReadLe32(p + 28));
    h.biClrUsed = ReadLe32(p + 32);
    h.biClrImportant = ReadLe32(p + 36);
    return h;
}

WAVEFORMATEX DecodeWaveFormat(const uint8_t* p) {
    WAVEFORMATEX w{};
    w.wFormatTag = ReadLe16(p + 0);
    w.nChannels = ReadLe16(p + 2);
    w.nSamplesPerSec = ReadLe32(p + 4);
    w.nAvgBytesPerSec = ReadLe32(p + 8);
    w.nBlockAlign = ReadLe16(p + 12);
    w.wBitsPerSample = ReadLe16(p + 14);
    w.cbSize = ReadLe16(p + 16);
    return w;
}

}  // namespace avi
