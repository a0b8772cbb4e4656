#include "container/StreamRules.h"

#include <cstdint>

namespace avi {

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;  // video time counts 100 ns units

uint64_t Magnitude(int32_t value) {
    return value < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(value))
                     : static_cast<uint64_t>(value);
}

// Printable code of a compression value (a fourcc stored little-endian).
void CompressionText(uint32_t compression, char (&text)[5]) {
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>((compression >> (8 * i)) & 0xFFu);
        text[i] = (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    text[4] = '\0';
}

}  // namespace

uint64_t FrameDuration(const AVIStreamHeader& header) {
    if (header.dwRate == 0 || header.dwScale == 0) return 0;
    // scale < 2^32, so 10^7 x scale + rate / 2 < 2^57: no overflow.
    return (kTicksPerSecond * header.dwScale + header.dwRate / 2u) / header.dwRate;
}

Refusal CheckVideoFormat(const AviLayout& layout, format::PictureFormat* picture) {
    if (layout.videoStream == kNoStream) {
        if (!layout.sawVideo) return MakeRefusal(RefusalKind::NoStream, "no video stream");
        const format::PictureRow* row = layout.firstVideoRow;
        if (row != nullptr && row->support == format::Support::NotReadYet) {
            return MakeRefusal(RefusalKind::VideoBitDepth, "video is %u-bit %s, not read yet",
                               layout.firstVideoBitCount, row->name);
        }
        char code[5];
        CompressionText(layout.firstVideoCompression, code);
        return MakeRefusal(RefusalKind::CompressedVideo,
                           "video is compressed ('%s'); this plug-in reads uncompressed video",
                           code);
    }
    const BITMAPINFOHEADER& bih = layout.bih;
    const AVIStreamHeader& strh = layout.videoStrh;
    if (FrameDuration(strh) == 0) {
        return MakeRefusal(RefusalKind::RateOrScale,
                           "video frame rate unusable (rate %u, scale %u)", strh.dwRate,
                           strh.dwScale);
    }
    // The host sizes its frame buffer from the width and height it is
    // given, in 32 bits on a 32-bit host: a frame larger than width x
    // height x 4, or a buffer size that wraps, would be written past.
    const uint64_t width = Magnitude(bih.biWidth);
    const uint64_t height = Magnitude(bih.biHeight);
    const uint64_t hostBuffer = width * height * 4;  // width < 2^31, height <= 2^31
    if (bih.biWidth <= 0 || bih.biHeight == INT32_MIN || height == 0 || hostBuffer > UINT32_MAX ||
        bih.biSizeImage > hostBuffer ||
        !format::DescribePicture(*layout.videoRow, bih.biWidth, bih.biHeight, bih.biSizeImage,
                                 layout.videoContext, *picture)) {
        return MakeRefusal(RefusalKind::VideoFrameSize,
                           "video frame size unusable (width %d, height %d, biSizeImage %u)",
                           bih.biWidth, bih.biHeight, bih.biSizeImage);
    }
    return Refusal{};
}

Refusal CheckVideoFormat(const AviLayout& layout, uint32_t* frameSize) {
    format::PictureFormat picture;
    const Refusal refusal = CheckVideoFormat(layout, &picture);
    *frameSize = picture.frameSize;
    return refusal;
}

Refusal CheckVideoFrames(const AviLayout& layout, uint64_t frames) {
    if (frames == 0) return MakeRefusal(RefusalKind::NoFrames, "no video frame found");
    const uint64_t duration = FrameDuration(layout.videoStrh);
    if (duration > static_cast<uint64_t>(INT64_MAX) / frames) {
        return MakeRefusal(
            RefusalKind::RateOrScale, "video length does not fit (%llu frames of %llu x 100 ns)",
            static_cast<unsigned long long>(frames), static_cast<unsigned long long>(duration));
    }
    return Refusal{};
}

Refusal CheckAudioFormat(const AviLayout& layout, format::SoundFormat* sound) {
    if (layout.audioStream == kNoStream)
        return MakeRefusal(RefusalKind::NoStream, "no audio stream");
    if (layout.audioFormatSize == 0) {
        return MakeRefusal(RefusalKind::AudioFormat, "the audio stream has no readable format");
    }
    const WAVEFORMATEX& wfx = layout.wfx;
    const uint16_t tag = format::SampleTag(wfx.wFormatTag, layout.audioFormatSize, wfx.cbSize,
                                           layout.subFormatTag, layout.subFormatIsStandard);
    const format::SoundRow* row = format::FindSoundRow(tag, wfx.wBitsPerSample);
    if (row != nullptr && row->family == format::SoundFamily::Float) {
        return MakeRefusal(RefusalKind::AudioNotPcm,
                           "audio is %u-bit float; 8- and 16-bit PCM are read", wfx.wBitsPerSample);
    }
    if (row == nullptr || row->family != format::SoundFamily::IntegerPcm) {
        return MakeRefusal(RefusalKind::AudioNotPcm,
                           "audio is not PCM (format tag 0x%04X); 8- and 16-bit PCM are read",
                           wfx.wFormatTag);
    }
    if (row->support != format::Support::Served) {
        return MakeRefusal(RefusalKind::AudioSampleSize,
                           "audio is %u-bit PCM; 8- and 16-bit PCM are read", wfx.wBitsPerSample);
    }
    if (wfx.nChannels == 0) return MakeRefusal(RefusalKind::AudioFormat, "audio has no channels");
    const AVIStreamHeader& strh = layout.audioStrh;
    if (strh.dwScale == 0 || strh.dwRate / strh.dwScale == 0 ||
        strh.dwRate / strh.dwScale > static_cast<uint32_t>(INT32_MAX)) {
        return MakeRefusal(RefusalKind::RateOrScale,
                           "audio sample rate unusable (rate %u / scale %u)", strh.dwRate,
                           strh.dwScale);
    }
    if (sound != nullptr) *sound = format::SoundFormat{row, wfx.nChannels};
    return Refusal{};
}

}  // namespace avi
