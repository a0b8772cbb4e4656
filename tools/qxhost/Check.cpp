#include "Check.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Commands.h"
#include "FrameMd5.h"
#include "Utf.h"
#include "container/AviLayout.h"
#include "format/PictureFormats.h"
#include "reader/CheckFile.h"

namespace qxhost {
namespace {

MediumVerdict VerdictOf(const avi::Refusal& refusal) {
    MediumVerdict verdict;
    if (!refusal.Refused()) {
        verdict.status = MediumVerdict::Status::kOk;
    } else if (refusal.kind == avi::RefusalKind::NoStream) {
        verdict.status = MediumVerdict::Status::kNone;  // nothing to serve is not a refusal
    } else {
        verdict.status = MediumVerdict::Status::kRefused;
        verdict.kind = avi::RefusalKindName(refusal.kind);
        verdict.reason = refusal.text;
    }
    return verdict;
}

// `text` as one shell word.
std::string ShellQuoted(const std::string& text) {
    bool plain = !text.empty();
    for (const char c : text) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.' || c == '/' ||
                          c == ':' || c == '\\' || c == '+' || c == ',';
        plain = plain && safe;
    }
    if (plain) return text;
#ifdef _WIN32
    return "\"" + text + "\"";
#else
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
#endif
}

// Beside the input: its name without the extension, plus "-servable.avi".
std::string ServableName(const std::string& file) {
    const size_t slash = file.find_last_of("/\\");
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = file.rfind('.');
    const size_t stemEnd = dot == std::string::npos || dot <= nameStart ? file.size() : dot;
    return file.substr(0, stemEnd) + "-servable.avi";
}

const char* StatusText(MediumVerdict::Status status) {
    switch (status) {
        case MediumVerdict::Status::kOk:
            return "ok";
        case MediumVerdict::Status::kNone:
            return "none";
        case MediumVerdict::Status::kRefused:
            break;
    }
    return "refused";
}

void TextMedium(std::ostringstream& out, const char* name, const MediumVerdict& verdict) {
    out << "  " << name << ": " << StatusText(verdict.status);
    if (verdict.status == MediumVerdict::Status::kRefused) out << ": " << verdict.reason;
    out << '\n';
}

void JsonMedium(std::ostringstream& out, const MediumVerdict& verdict) {
    out << "{\"status\": \"" << StatusText(verdict.status) << "\"";
    if (verdict.status == MediumVerdict::Status::kRefused) {
        out << ", \"kind\": " << JsonString(verdict.kind)
            << ", \"reason\": " << JsonString(verdict.reason);
    }
    out << "}";
}

}  // namespace

bool FileVerdict::Servable() const {
    const auto fine = [](const MediumVerdict& v) {
        return v.status != MediumVerdict::Status::kRefused;
    };
    return fine(video) && fine(audio) &&
           (video.status == MediumVerdict::Status::kOk ||
            audio.status == MediumVerdict::Status::kOk);
}

bool FfmpegDecodes(const avi::Refusal& refusal) {
    switch (refusal.kind) {
        case avi::RefusalKind::None:
        case avi::RefusalKind::NoStream:
        case avi::RefusalKind::NotAviName:  // the converted file's name is one
        // A codec or a layout this plug-in does not read: ffmpeg decodes it.
        case avi::RefusalKind::CompressedVideo:
        case avi::RefusalKind::VideoBitDepth:
        case avi::RefusalKind::AudioNotPcm:
        case avi::RefusalKind::AudioSampleSize:
            return true;
        default:
            // What the stream itself lacks (frames, a size, a rate, whole
            // chunks, a readable file): ffmpeg cannot make a picture or a
            // sound of it either.
            return false;
    }
}

std::string ConversionCommand(const std::string& file, ConvertMedia media, uint32_t videoRows) {
    // ffmpeg's own AVI output with these codecs is what the plug-in serves
    // for video, audio or both; codecs for a medium the input lacks are
    // ignored. A medium ffmpeg cannot decode is left out.
    const char* streams = media == ConvertMedia::VideoOnly ? " -an -c:v rawvideo -pix_fmt bgra "
                          : media == ConvertMedia::AudioOnly
                              ? " -vn -c:a pcm_s16le "
                              : " -c:v rawvideo -pix_fmt bgra -c:a pcm_s16le ";
    // ffmpeg reads untagged YUV as BT.601 at every size; the plug-in takes
    // BT.709 for HD, so the converted file shows the colours it would.
    const bool hd = media != ConvertMedia::AudioOnly && videoRows >= format::kBt709FromRows;
    const char* matrix = hd ? " -vf scale=in_color_matrix=bt709:in_range=tv" : "";
    return "ffmpeg -i " + ShellQuoted(file) + matrix + streams + ShellQuoted(ServableName(file));
}

namespace {

// True when the file starts as a RIFF 'AVI ' file does.
bool StartsAsRiffAvi(const std::string& file) {
    std::ifstream in(std::filesystem::u8path(file), std::ios::binary);
    char head[12] = {};
    in.read(head, sizeof head);
    return in.gcount() == 12 && std::memcmp(head, "RIFF", 4) == 0 &&
           std::memcmp(head + 8, "AVI ", 4) == 0;
}

// The name with its extension replaced by ".avi".
std::string AviName(const std::string& file) {
    return ServableName(file).substr(0, ServableName(file).size() - 13) + ".avi";
}

// Advice for a file the plug-in does not take for an AVI file: by its name
// (a RIFF AVI file named otherwise only needs renaming) or by its content
// (no RIFF 'AVI ' header: nothing to rename or to convert here).
std::string AdviceFor(const std::string& file, avi::RefusalKind kind) {
    if (kind == avi::RefusalKind::NotAviName) {
        if (StartsAsRiffAvi(file)) {
            return "an AVI file named without \".avi\" (the plug-in reads only names ending "
                   "exactly in lower-case \".avi\"): rename it to " +
                   ShellQuoted(AviName(file)) + " and check that";
        }
        return "not an AVI file (it does not start with a RIFF 'AVI ' header)";
    }
    if (kind == avi::RefusalKind::NotRiffAvi) {
        return "not an AVI file, whatever its name (it does not start with a RIFF 'AVI ' "
               "header)";
    }
    return "";
}

}  // namespace

FileVerdict CheckOneFile(const std::string& file) {
    FileVerdict verdict;
    verdict.file = file;
    std::u16string path;
    if (!Utf8ToUtf16(file, path)) {
        verdict.video.status = verdict.audio.status = MediumVerdict::Status::kRefused;
        verdict.video.kind = verdict.audio.kind = "CannotOpen";
        verdict.video.reason = verdict.audio.reason = "the file name is not valid UTF-8";
        return verdict;
    }
    const avi::Refusal video = mirolan::CheckFile(path.c_str(), avi::Medium::Video);
    const avi::Refusal audio = mirolan::CheckFile(path.c_str(), avi::Medium::Audio);
    verdict.video = VerdictOf(video);
    verdict.audio = VerdictOf(audio);
    // A file that cannot be opened at all (missing, unreadable) has nothing to convert.
    if (verdict.Servable() || video.kind == avi::RefusalKind::CannotOpen) return verdict;
    verdict.advice = AdviceFor(file, video.kind);
    if (!verdict.advice.empty()) return verdict;
    // Each medium ffmpeg can decode (or that the plug-in serves already) is
    // converted; one it cannot is left out, and with neither nothing is known.
    const bool videoConverts = video.kind != avi::RefusalKind::NoStream && FfmpegDecodes(video);
    const bool audioConverts = audio.kind != avi::RefusalKind::NoStream && FfmpegDecodes(audio);
    const uint32_t rows = videoConverts ? ScanHeaders(ReadFileStart(file), -1).videoRows : 0;
    // ffmpeg refuses to open a file whose audio has no sample rate at all.
    if (audio.kind == avi::RefusalKind::RateOrScale) {
        verdict.noConversion = true;
    } else if (videoConverts && (audioConverts || audio.kind == avi::RefusalKind::NoStream)) {
        verdict.convert = ConversionCommand(file, ConvertMedia::Both, rows);
    } else if (audioConverts && video.kind == avi::RefusalKind::NoStream) {
        verdict.convert = ConversionCommand(file, ConvertMedia::Both);
    } else if (videoConverts) {
        verdict.convert = ConversionCommand(file, ConvertMedia::VideoOnly, rows);
    } else if (audioConverts) {
        verdict.convert = ConversionCommand(file, ConvertMedia::AudioOnly);
    } else {
        verdict.noConversion = true;
    }
    return verdict;
}

std::string FormatVerdicts(const std::vector<FileVerdict>& verdicts, bool json) {
    std::ostringstream out;
    if (json) {
        out << "[";
        for (size_t i = 0; i < verdicts.size(); ++i) {
            const FileVerdict& v = verdicts[i];
            out << (i == 0 ? "" : ",") << "\n  {\"file\": " << JsonString(v.file)
                << ", \"servable\": " << (v.Servable() ? "true" : "false") << ", \"video\": ";
            JsonMedium(out, v.video);
            out << ", \"audio\": ";
            JsonMedium(out, v.audio);
            out << ", \"convert\": " << (v.convert.empty() ? "null" : JsonString(v.convert))
                << ", \"advice\": " << (v.advice.empty() ? "null" : JsonString(v.advice)) << "}";
        }
        out << "\n]\n";
        return out.str();
    }
    for (const FileVerdict& v : verdicts) {
        out << v.file << '\n';
        TextMedium(out, "video", v.video);
        TextMedium(out, "audio", v.audio);
        if (!v.convert.empty()) out << "  convert: " << v.convert << '\n';
        if (!v.advice.empty()) out << "  advice: " << v.advice << '\n';
        if (v.noConversion) {
            out << "  convert: none known (ffmpeg cannot read these streams either)\n";
        }
    }
    return out.str();
}

int RunCheck(const Arguments& args) {
    std::vector<FileVerdict> verdicts;
    bool allServable = true;
    for (const std::string& file : args.files) {
        verdicts.push_back(CheckOneFile(file));
        allServable = allServable && verdicts.back().Servable();
    }
    std::fputs(FormatVerdicts(verdicts, args.json).c_str(), DataOutput());
    return allServable ? 0 : 1;
}

}  // namespace qxhost
