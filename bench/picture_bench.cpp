// Reading 1920x1080 frames of every converted picture layout into the
// host's 32-bit BGRA buffer, against two plain reads in the same run. Each
// layout's frames come from a file the benchmark writes itself and reads once
// before timing, so every pass reads from the page cache.
//
// Sides, each a pass over the same frames, one reused host buffer:
//   served   one positioned read of width x height x 4 bytes from a file of
//            such frames: what a host gets from the cheapest file, one
//            stored as its own BGRA (the reference of the goal);
//   stored   one positioned read of the layout's stored frame;
//   plug-in  the plug-in's frame read (stream::ReadVideoFrame) of the
//            layout's row in the format table, as a file written with a
//            positive height gives it (YUV turned over), with the best
//            kernels of this processor;
//   negative the same with a negative height (rows served in stored order).
// Repetitions alternate the sides; a rate is the best pass of a side. Before
// timing, each read's output is checked against the row's kernel applied to
// the frame in memory. Last, the layout's kernel alone is timed at every
// SIMD level the processor runs, converting a frame in memory.
//
// Usage: bench_picture DATA_FOLDER [--reps N] [--frames N] [--only KEY]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench_common.h"
#include "convert/CpuFeatures.h"
#include "convert/PictureLayouts.h"
#include "format/PictureFormats.h"
#include "platform/platform.h"
#include "stream/StagingBuffer.h"
#include "stream/VideoRead.h"

namespace {

struct Layout {
    const char* key;                // of the results' keys
    convert::PictureLayout layout;  // its kernels by level (Count: none of them)
    const char* name;
    uint32_t compression;
    uint16_t bitCount;
    uint32_t masks[3];
};

constexpr uint32_t Code(char a, char b, char c, char d) {
    return format::CompressionCode(a, b, c, d);
}

const Layout kLayouts[] = {
    {"uyvy", convert::PictureLayout::Uyvy, "UYVY", Code('U', 'Y', 'V', 'Y'), 16, {}},
    {"yuy2", convert::PictureLayout::Yuy2, "YUY2", Code('Y', 'U', 'Y', '2'), 16, {}},
    {"yvyu", convert::PictureLayout::Yvyu, "YVYU", Code('Y', 'V', 'Y', 'U'), 16, {}},
    {"v210", convert::PictureLayout::V210, "v210", Code('v', '2', '1', '0'), 20, {}},
    {"i420", convert::PictureLayout::I420, "I420", Code('I', '4', '2', '0'), 12, {}},
    {"yv12", convert::PictureLayout::Yv12, "YV12", Code('Y', 'V', '1', '2'), 12, {}},
    {"nv12", convert::PictureLayout::Nv12, "NV12", Code('N', 'V', '1', '2'), 12, {}},
    {"nv21", convert::PictureLayout::Nv21, "NV21", Code('N', 'V', '2', '1'), 12, {}},
    {"y42b", convert::PictureLayout::Yuv422P, "Y42B", Code('Y', '4', '2', 'B'), 16, {}},
    {"y41b", convert::PictureLayout::Yuv411P, "Y41B", Code('Y', '4', '1', 'B'), 12, {}},
    {"yuv9", convert::PictureLayout::Yuv410P, "YUV9", Code('Y', 'U', 'V', '9'), 9, {}},
    {"y800", convert::PictureLayout::Grey, "Y800", Code('Y', '8', '0', '0'), 8, {}},
    {"rgb555", convert::PictureLayout::Rgb555, "BI_RGB 16", format::kBiRgb, 16, {}},
    {"rgb565",
     convert::PictureLayout::Rgb565,
     "BI_BITFIELDS 5-6-5",
     format::kBiBitfields,
     16,
     {0xF800u, 0x07E0u, 0x001Fu}},
    {"pal8", convert::PictureLayout::Pal8, "BI_RGB 8 (palette)", format::kBiRgb, 8, {}},
    {"pal4", convert::PictureLayout::Pal4, "BI_RGB 4 (palette)", format::kBiRgb, 4, {}},
    {"pal1", convert::PictureLayout::Pal1, "BI_RGB 1 (palette)", format::kBiRgb, 1, {}},
    {"rgba", convert::PictureLayout::Rgba, "RGBA", Code('R', 'G', 'B', 'A'), 32, {}},
    {"rv32", convert::PictureLayout::Bgrx, "RV32", Code('R', 'V', '3', '2'), 32, {}},
    {"rv24", convert::PictureLayout::Bgr24, "RV24", Code('R', 'V', '2', '4'), 24, {}},
    {"raw24", convert::PictureLayout::Rgb24, "raw 24", Code('r', 'a', 'w', ' '), 24, {}},
    {"bgr24", convert::PictureLayout::Count, "BI_RGB 24", format::kBiRgb, 24, {}},
};

struct Side {
    std::string name;
    std::function<void(uint32_t frame)> readFrame;
    double best = 1e30;
};

// A file of `frames` frames of `bytes` each, a pattern that differs by frame.
void WriteFrames(const std::string& path, uint64_t bytes, uint32_t frames) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) bench::Fail("cannot write " + path);
    std::vector<uint8_t> frame(static_cast<size_t>(bytes));
    for (uint32_t f = 0; f < frames; ++f) {
        for (size_t i = 0; i < frame.size(); ++i)
            frame[i] = static_cast<uint8_t>(i * 7 + f + (i >> 11));
        if (std::fwrite(frame.data(), 1, frame.size(), out) != frame.size())
            bench::Fail("cannot write " + path);
    }
    std::fclose(out);
}

platform::FileHandle OpenForRead(const std::string& path) {
    const std::u16string wide = bench::ToUtf16(path);
    platform::FileHandle file = platform::OpenFileForSharedRead(wide.c_str());
    if (file == nullptr) bench::Fail("cannot open " + path);
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        bench::Fail("usage: bench_picture DATA_FOLDER [--reps N] [--frames N] [--only KEY]");
    const std::string folder = argv[1];
    int reps = 11;
    uint32_t frames = 20;
    std::string only;
    for (int i = 2; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--reps") {
            reps = std::atoi(argv[++i]);
        } else if (std::string(argv[i]) == "--frames") {
            frames = static_cast<uint32_t>(std::atoi(argv[++i]));
        } else if (std::string(argv[i]) == "--only") {
            only = argv[++i];
        }
    }
    if (reps < 1 || frames < 1) bench::Fail("--reps and --frames take a positive count");
    bench::RaiseToWorkerPriority();
    const int32_t width = 1920, height = 1080;
    const uint64_t output = uint64_t{width} * 4 * height;
    std::printf("picture.reps=%d\npicture.frames=%u\npicture.level=%s\npicture.output_bytes=%llu\n",
                reps, frames, convert::SimdLevelName(convert::ProcessorSimdLevel()),
                static_cast<unsigned long long>(output));

    // The served-frame reference: frames of the host's BGRA size.
    const std::string servedPath = folder + "/picture_bench_bgra.raw";
    WriteFrames(servedPath, output, frames);
    platform::FileHandle servedFile = OpenForRead(servedPath);
    const std::string path = folder + "/picture_bench.raw";

    for (const Layout& l : kLayouts) {
        if (!only.empty() && only != l.key) continue;
        const format::PictureRow* row = format::FindPictureRow(l.compression, l.bitCount, l.masks);
        if (row == nullptr || row->support != format::Support::Served) bench::Fail(l.name);
        convert::FormatContext context;
        for (uint32_t i = 0; i < 256; ++i) context.palette[i] = i * 0x00030507u;
        format::PictureFormat upright, negative;
        if (!format::DescribePicture(*row, width, height, 0, context, upright) ||
            !format::DescribePicture(*row, width, -height, 0, context, negative))
            bench::Fail(std::string("cannot describe ") + l.name);
        const uint64_t stored = upright.frameSize;
        WriteFrames(path, stored, frames);
        platform::FileHandle file = OpenForRead(path);
        std::vector<uint8_t> host(static_cast<size_t>(output)),
            plainBuffer(static_cast<size_t>(output));
        stream::StagingBuffer staging;

        // The check: frame 1 read both ways against the row's kernel applied
        // to the frame in memory (turned over where the read turns it).
        std::vector<uint8_t> frame(static_cast<size_t>(stored));
        {
            std::vector<uint8_t> want(static_cast<size_t>(output));
            platform::SeekFromBegin(file, static_cast<int64_t>(stored));
            if (platform::ReadAtPosition(file, frame.data(), static_cast<uint32_t>(stored)) !=
                stored)
                bench::Fail(std::string("short read of ") + path);
            for (const format::PictureFormat* picture : {&upright, &negative}) {
                const ptrdiff_t outRow = static_cast<ptrdiff_t>(width) * 4;
                uint8_t* first =
                    picture->turnOver ? want.data() + outRow * (height - 1) : want.data();
                row->convert(frame.data(), static_cast<size_t>(picture->storedStride), first,
                             picture->turnOver ? -outRow : outRow, width,
                             static_cast<uint32_t>(height), picture->context);
                std::fill(host.begin(), host.end(), uint8_t{0xA5});
                stream::ReadVideoFrame(file, *picture, static_cast<int64_t>(stored),
                                       static_cast<uint32_t>(stored), host.data(), staging);
                if (host != want) bench::Fail(std::string("wrong frame read: ") + l.name);
            }
        }

        std::vector<Side> sides;
        sides.push_back({"served", [&](uint32_t f) {
                             platform::SeekFromBegin(servedFile, static_cast<int64_t>(f * output));
                             platform::ReadAtPosition(servedFile, plainBuffer.data(),
                                                      static_cast<uint32_t>(output));
                         }});
        sides.push_back({"stored", [&](uint32_t f) {
                             platform::SeekFromBegin(file, static_cast<int64_t>(f * stored));
                             platform::ReadAtPosition(file, plainBuffer.data(),
                                                      static_cast<uint32_t>(stored));
                         }});
        sides.push_back({"plugin", [&](uint32_t f) {
                             stream::ReadVideoFrame(file, upright, static_cast<int64_t>(f * stored),
                                                    static_cast<uint32_t>(stored), host.data(),
                                                    staging);
                         }});
        sides.push_back({"negative", [&](uint32_t f) {
                             stream::ReadVideoFrame(
                                 file, negative, static_cast<int64_t>(f * stored),
                                 static_cast<uint32_t>(stored), host.data(), staging);
                         }});
        for (uint32_t f = 0; f < frames; ++f) {
            sides[0].readFrame(f);
            sides[1].readFrame(f);
        }
        for (int rep = 0; rep < reps; ++rep) {
            for (size_t k = 0; k < sides.size(); ++k) {
                Side& side = sides[(k + static_cast<size_t>(rep)) % sides.size()];
                const auto start = bench::Clock::now();
                for (uint32_t f = 0; f < frames; ++f) side.readFrame(f);
                const double seconds = bench::SecondsSince(start);
                if (seconds < side.best) side.best = seconds;
            }
        }
        platform::CloseFile(file);
        const std::string k = std::string("picture.") + l.key;
        const char* delivery = row->delivery == format::Delivery::InPlace ? "in-place" : "staged";
        std::printf("%s.name=%s\n%s.stored_bytes=%llu\n%s.delivery=%s\n", k.c_str(), l.name,
                    k.c_str(), static_cast<unsigned long long>(stored), k.c_str(), delivery);
        for (const Side& side : sides)
            std::printf("%s.%s_fps=%.1f\n", k.c_str(), side.name.c_str(), frames / side.best);
        std::printf("%s.ratio_served=%.3f\n%s.ratio_stored=%.3f\n", k.c_str(),
                    sides[0].best / sides[2].best, k.c_str(), sides[1].best / sides[2].best);
        std::printf("%s.negative_ratio_served=%.3f\n%s.negative_ratio_stored=%.3f\n", k.c_str(),
                    sides[0].best / sides[3].best, k.c_str(), sides[1].best / sides[3].best);
        // The conversion alone, at every level this processor runs: frame 1
        // in memory into the host's buffer, ms a frame (best pass).
        for (int level = 0; l.layout != convert::PictureLayout::Count &&
                            level <= static_cast<int>(convert::ProcessorSimdLevel());
             ++level) {
            const convert::PictureKernel kernel =
                convert::PictureKernelAt(l.layout, static_cast<convert::SimdLevel>(level));
            if (kernel == nullptr) continue;
            double best = 1e30;
            for (int rep = 0; rep < reps; ++rep) {
                const auto start = bench::Clock::now();
                for (uint32_t f = 0; f < frames; ++f)
                    kernel(frame.data(), static_cast<size_t>(upright.storedStride), host.data(),
                           width * 4, width, static_cast<uint32_t>(height), upright.context);
                best = std::min(best, bench::SecondsSince(start));
            }
            std::printf("%s.kernel_%s_ms=%.3f\n", k.c_str(),
                        convert::SimdLevelName(static_cast<convert::SimdLevel>(level)),
                        best * 1e3 / frames);
        }
        std::fflush(stdout);
    }
    platform::CloseFile(servedFile);
    std::remove(path.c_str());
    std::remove(servedPath.c_str());
    return 0;
}
