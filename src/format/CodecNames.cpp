#include "format/CodecNames.h"

#include "format/PictureFormats.h"

namespace format {

namespace {

struct VideoCodec {
    uint32_t code;  // upper case
    const char* name;
};

constexpr uint32_t Code(const char (&c)[5]) { return CompressionCode(c[0], c[1], c[2], c[3]); }

const VideoCodec kVideoCodecs[] = {
    {1, "RLE"},   // BI_RLE8
    {2, "RLE"},   // BI_RLE4
    {4, "JPEG"},  // BI_JPEG
    {5, "PNG"},   // BI_PNG
    {Code("MJPG"), "MJPEG"},
    {Code("AVRN"), "MJPEG"},
    {Code("DMB1"), "MJPEG"},
    {Code("JPEG"), "JPEG"},
    {Code("LJPG"), "lossless JPEG"},
    {Code("H264"), "H.264"},
    {Code("X264"), "H.264"},
    {Code("AVC1"), "H.264"},
    {Code("DAVC"), "H.264"},
    {Code("HEVC"), "H.265"},
    {Code("H265"), "H.265"},
    {Code("HVC1"), "H.265"},
    {Code("XVID"), "MPEG-4"},
    {Code("DIVX"), "MPEG-4"},
    {Code("DX50"), "MPEG-4"},
    {Code("FMP4"), "MPEG-4"},
    {Code("MP4V"), "MPEG-4"},
    {Code("M4S2"), "MPEG-4"},
    {Code("3IV2"), "MPEG-4"},
    {Code("DIV3"), "MS MPEG-4"},
    {Code("MP43"), "MS MPEG-4"},
    {Code("MP42"), "MS MPEG-4"},
    {Code("MPG4"), "MS MPEG-4"},
    {Code("WMV1"), "WMV"},
    {Code("WMV2"), "WMV"},
    {Code("WMV3"), "WMV"},
    {Code("WVC1"), "VC-1"},
    {Code("VP80"), "VP8"},
    {Code("VP90"), "VP9"},
    {Code("AV01"), "AV1"},
    {Code("MPG1"), "MPEG-1 video"},
    {Code("MPG2"), "MPEG-2 video"},
    {Code("MPEG"), "MPEG video"},
    {Code("MP2V"), "MPEG-2 video"},
    {Code("DVSD"), "DV"},
    {Code("DV25"), "DV"},
    {Code("DV50"), "DV"},
    {Code("DVHD"), "DV"},
    {Code("DVSL"), "DV"},
    {Code("CDVC"), "DV"},
    {Code("HFYU"), "HuffYUV"},
    {Code("FFVH"), "HuffYUV"},
    {Code("FFV1"), "FFV1"},
    {Code("CVID"), "Cinepak"},
    {Code("IV31"), "Indeo"},
    {Code("IV32"), "Indeo"},
    {Code("IV41"), "Indeo"},
    {Code("IV50"), "Indeo"},
    {Code("MSVC"), "Microsoft Video 1"},
    {Code("CRAM"), "Microsoft Video 1"},
    {Code("WHAM"), "Microsoft Video 1"},
    {Code("MRLE"), "RLE"},
    {Code("TSCC"), "TechSmith screen codec"},
    {Code("LAGS"), "Lagarith"},
    {Code("ULRG"), "Ut Video"},
    {Code("ULRA"), "Ut Video"},
    {Code("ULY0"), "Ut Video"},
    {Code("ULY2"), "Ut Video"},
    {Code("ULY4"), "Ut Video"},
    {Code("ULH0"), "Ut Video"},
    {Code("ULH2"), "Ut Video"},
    {Code("MAGY"), "MagicYUV"},
    {Code("AVDN"), "DNxHD"},
    {Code("APCH"), "ProRes"},
    {Code("APCN"), "ProRes"},
    {Code("APCS"), "ProRes"},
    {Code("APCO"), "ProRes"},
    {Code("AP4H"), "ProRes"},
    {Code("PNG "), "PNG"},
    {Code("MPNG"), "PNG"},
    {Code("THEO"), "Theora"},
    {Code("FLV1"), "Sorenson Spark"},
    {Code("H263"), "H.263"},
    {Code("U263"), "H.263"},
    {Code("S263"), "H.263"},
    {Code("SVQ1"), "Sorenson Video"},
    {Code("VP6F"), "VP6"},
    {Code("CLJR"), "Cirrus Logic AccuPak"},
    {Code("CFHD"), "CineForm"},
    {Code("DXSA"), "HAP"},
    {Code("HAP1"), "HAP"},
    {Code("QTRL"), "QuickTime Animation"},
};

struct AudioCodec {
    uint16_t tag;
    const char* name;
};

const AudioCodec kAudioCodecs[] = {
    {0x0002, "ADPCM"},
    {0x0011, "IMA ADPCM"},
    {0x0022, "TrueSpeech"},
    {0x0031, "GSM 6.10"},
    {0x0040, "G.721 ADPCM"},
    {0x0050, "MPEG audio"},
    {0x0055, "MP3"},
    {0x0061, "ADPCM"},
    {0x0064, "G.726 ADPCM"},
    {0x0092, "AC-3"},
    {0x00FF, "AAC"},
    {0x0130, "ACELP.net"},
    {0x0160, "WMA"},
    {0x0161, "WMA"},
    {0x0162, "WMA Pro"},
    {0x0163, "WMA Lossless"},
    {0x0200, "Creative ADPCM"},
    {0x0270, "ATRAC3"},
    {0x1610, "AAC"},
    {0x2000, "AC-3"},
    {0x2001, "DTS"},
    {0x4143, "AAC"},
    {0x674F, "Vorbis"},
    {0x6750, "Vorbis"},
    {0x6751, "Vorbis"},
    {0x676F, "Vorbis"},
    {0x6770, "Vorbis"},
    {0x6771, "Vorbis"},
    {0x706D, "AAC"},
    {0xA106, "AAC"},
    {0xF1AC, "FLAC"},
};

uint32_t UpperCase(uint32_t code) {
    uint32_t upper = 0;
    for (int i = 0; i < 4; ++i) {
        uint32_t c = (code >> (8 * i)) & 0xFFu;
        if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
        upper |= c << (8 * i);
    }
    return upper;
}

}  // namespace

const char* VideoCodecName(uint32_t compression) {
    const uint32_t upper = UpperCase(compression);
    for (const VideoCodec& codec : kVideoCodecs) {
        if (codec.code == upper) return codec.name;
    }
    return nullptr;
}

const char* AudioCodecName(uint16_t tag) {
    for (const AudioCodec& codec : kAudioCodecs) {
        if (codec.tag == tag) return codec.name;
    }
    return nullptr;
}

void CompressionText(uint32_t compression, char (&text)[5]) {
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>((compression >> (8 * i)) & 0xFFu);
        text[i] = (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    text[4] = '\0';
}

}  // namespace format
