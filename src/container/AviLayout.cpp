#include "container/AviLayout.h"

#include <cstdarg>
#include <cstdio>

namespace avi {

Refusal MakeRefusal(RefusalKind kind, const char* format, ...) {
    Refusal refusal;
    refusal.kind = kind;
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(refusal.text, sizeof refusal.text, format, arguments);
    va_end(arguments);
    return refusal;
}

const char* RefusalKindName(RefusalKind kind) {
    switch (kind) {
        case RefusalKind::None:
            return "None";
        case RefusalKind::NotAviName:
            return "NotAviName";
        case RefusalKind::NoMedium:
            return "NoMedium";
        case RefusalKind::CannotOpen:
            return "CannotOpen";
        case RefusalKind::Unreadable:
            return "Unreadable";
        case RefusalKind::NotRiffAvi:
            return "NotRiffAvi";
        case RefusalKind::NoMainHeader:
            return "NoMainHeader";
        case RefusalKind::NoStream:
            return "NoStream";
        case RefusalKind::CompressedVideo:
            return "CompressedVideo";
        case RefusalKind::VideoBitDepth:
            return "VideoBitDepth";
        case RefusalKind::VideoFrameSize:
            return "VideoFrameSize";
        case RefusalKind::AudioNotPcm:
            return "AudioNotPcm";
        case RefusalKind::AudioSampleSize:
            return "AudioSampleSize";
        case RefusalKind::AudioFormat:
            return "AudioFormat";
        case RefusalKind::RateOrScale:
            return "RateOrScale";
        case RefusalKind::NoIndexNoMovie:
            return "NoIndexNoMovie";
        case RefusalKind::NoFrames:
            return "NoFrames";
        case RefusalKind::VideoChunkSize:
            return "VideoChunkSize";
        case RefusalKind::ReadFailed:
            return "ReadFailed";
        case RefusalKind::NoWorker:
            return "NoWorker";
        case RefusalKind::OutOfMemory:
            return "OutOfMemory";
    }
    return "?";
}

uint32_t StreamChunkId(int32_t stream, char a, char b) {
    if (stream < 0 || stream > 99) return 0;
    return MakeFourCC(static_cast<char>('0' + stream / 10), static_cast<char>('0' + stream % 10), a,
                      b);
}

}  // namespace avi
