#include "container/StreamRules.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "format/CodecNames.h"

namespace avi {

namespace {

uint64_t Magnitude(int32_t value) {
    return value < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(value))
                     : static_cast<uint64_t>(value);
}

bool IsRgbCompression(uint32_t compression) {
    return compression == format::kBiRgb || compression == format::kBiBitfields;
}

// Why the first video stream, whose layout is not served, is refused: the
// layout or codec in words, with its code.
Refusal VideoLayoutRefusal(const AviLayout& layout) {
    const uint32_t compression = layout.firstVideoCompression;
    const uint16_t bits = layout.firstVideoBitCount;
    char code[5];
    format::CompressionText(compression, code);
    const format::PictureRow* row = layout.firstVideoRow;
    if (row != nullptr && row->support == format::Support::NotReadYet) {
        char name[48];
        if (IsRgbCompression(compression) && (row->name[0] < '0' || row->name[0] > '9')) {
            std::snprintf(name, sizeof name, "%u-bit %s", bits, row->name);
        } else {
            std::snprintf(name, sizeof name, "%s", row->name);
        }
        if (IsRgbCompression(compression)) {
            return MakeRefusal(RefusalKind::VideoBitDepth, "video is %s, not read yet", name);
        }
        return MakeRefusal(RefusalKind::VideoBitDepth, "video is %s ('%s'), not read yet", name,
                           code);
    }
    if (compression == format::kBiBitfields) {
        return MakeRefusal(RefusalKind::VideoBitDepth,
                           "video is %u-bit RGB with colour masks that are not read", bits);
    }
    if (const char* codec = format::VideoCodecName(compression)) {
        return MakeRefusal(RefusalKind::CompressedVideo, "video is compressed (%s, '%s')", codec,
                           code);
    }
    return MakeRefusal(RefusalKind::CompressedVideo,
                       "video is compressed ('%s'), a format this plug-in does not know", code);
}

// Why an audio format whose layout is not served is refused, in words.
Refusal AudioLayoutRefusal(const AviLayout& layout, uint16_t tag, const format::SoundRow* row) {
    const WAVEFORMATEX& wfx = layout.wfx;
    const bool extensible = wfx.wFormatTag == format::kWaveFormatExtensible;
    if (row != nullptr) {
        return MakeRefusal(RefusalKind::AudioSampleSize, "audio is %u-bit %s, not read",
                           wfx.wBitsPerSample, row->name);
    }
    if (extensible && tag == 0) {
        return MakeRefusal(RefusalKind::AudioNotPcm,
                           "audio is extensible with a sub-format this plug-in does not know");
    }
    const char* which = extensible ? "extensible sub-format" : "format tag";
    if (const char* codec = format::AudioCodecName(tag)) {
        return MakeRefusal(RefusalKind::AudioNotPcm, "audio is compressed (%s, %s 0x%04X)", codec,
                           which, tag);
    }
    return MakeRefusal(RefusalKind::AudioNotPcm,
                       "audio is compressed (%s 0x%04X), a format this plug-in does not know",
                       which, tag);
}

}  // namespace

uint64_t FrameDuration(const AVIStreamHeader& header) {
    if (header.dwRate == 0 || header.dwScale == 0) return 0;
    // scale < 2^32, so 10^7 x scale + rate / 2 < 2^57: no overflow.
    return (static_cast<uint64_t>(kVideoTimescale) * header.dwScale + header.dwRate / 2u) /
           header.dwRate;
}

Refusal CheckVideoFormat(const AviLayout& layout, format::PictureFormat* picture) {
    if (layout.videoStream == kNoStream) {
        if (!layout.sawVideo) return MakeRefusal(RefusalKind::NoStream, "no video stream");
        return VideoLayoutRefusal(layout);
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

uint32_t AudioSampleRate(const AVIStreamHeader& header, const WAVEFORMATEX& format,
                         bool* headerDisagrees) {
    constexpr uint32_t kMostRate = INT32_MAX;  // the host's rate is a signed 32-bit value
    const uint32_t fromHeader = header.dwScale != 0 ? header.dwRate / header.dwScale : 0;
    const bool headerUsable = fromHeader != 0 && fromHeader <= kMostRate;
    const bool formatUsable = format.nSamplesPerSec != 0 && format.nSamplesPerSec <= kMostRate;
    const uint32_t rate = formatUsable ? format.nSamplesPerSec : headerUsable ? fromHeader : 0;
    if (headerDisagrees != nullptr) *headerDisagrees = rate != 0 && rate != fromHeader;
    return rate;
}

Refusal CheckAudioFormat(const AviLayout& layout, format::SoundFormat* sound) {
    if (layout.audioStream == kNoStream)
        return MakeRefusal(RefusalKind::NoStream, "no audio stream");
    if (layout.audioFormatSize == 0) {
        return MakeRefusal(RefusalKind::AudioFormat, "the audio stream has no readable format");
    }
    const WAVEFORMATEX& wfx = layout.wfx;
    const uint16_t tag = format::SampleTag(wfx.wFormatTag, layout.subFormatTag);
    const format::SoundRow* row = format::FindSoundRow(tag, wfx.wBitsPerSample);
    if (row == nullptr || row->support != format::Support::Served) {
        return AudioLayoutRefusal(layout, tag, row);
    }
    if (wfx.nChannels == 0) return MakeRefusal(RefusalKind::AudioFormat, "audio has no channels");
    const AVIStreamHeader& strh = layout.audioStrh;
    if (AudioSampleRate(strh, wfx) == 0) {
        return MakeRefusal(RefusalKind::RateOrScale,
                           "audio sample rate unusable (rate %u / scale %u, format %u Hz)",
                           strh.dwRate, strh.dwScale, wfx.nSamplesPerSec);
    }
    if (sound != nullptr) *sound = format::SoundFormat{row, wfx.nChannels};
    return Refusal{};
}

}  // namespace avi
