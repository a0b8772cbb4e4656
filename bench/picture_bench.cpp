// Reading 1920x1080 frames of every converted picture layout into the
// host's 32-bit BGRA buffer, against a plain read of the same stored bytes
// in the same run. Each layout's frames come from a file the benchmark
// writes itself and reads once before timing, so every pass reads from the
// page cache.
//
// Sides, each a pass over the same frames, one reused host buffer:
//   plain    one positioned read of the stored frame's bytes;
//   plug-in  the plug-in's frame read (stream::ReadVideoFrame) of the
//            layout's row in the format table, as a file written with a
//            positive height gives it (YUV turned over through the staging
//            buffer, RGB in place), with the best kernels of this processor;
//   in place the same with a negative height, where the row converts in place.
// Repetitions alternate the sides; a rate is the best pass of a side.
//
// Usage: bench_picture DATA_FOLDER [--reps N] [--frames N]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench_common.h"
#include "convert/CpuFeatures.h"
#include "format/PictureFormats.h"
#include "platform/platform.h"
#include "stream/StagingBuffer.h"
#include "stream/VideoRead.h"

namespace {

struct Layout {
    const char* name;
    uint32_t compression;
    uint16_t bitCount;
    uint32_t masks[3];
};

constexpr uint32_t Code(char a, char b, char c, char d) {
    return format::CompressionCode(a, b, c, d);
}

const Layout kLayouts[] = {
    {"UYVY", Code('U', 'Y', 'V', 'Y'), 16, {}},
    {"YUY2", Code('Y', 'U', 'Y', '2'), 16, {}},
    {"YVYU", Code('Y', 'V', 'Y', 'U'), 16, {}},
    {"v210", Code('v', '2', '1', '0'), 20, {}},
    {"I420", Code('I', '4', '2', '0'), 12, {}},
    {"YV12", Code('Y', 'V', '1', '2'), 12, {}},
    {"NV12", Code('N', 'V', '1', '2'), 12, {}},
    {"NV21", Code('N', 'V', '2', '1'), 12, {}},
    {"Y42B", Code('Y', '4', '2', 'B'), 16, {}},
    {"Y41B", Code('Y', '4', '1', 'B'), 12, {}},
    {"YUV9", Code('Y', 'U', 'V', '9'), 9, {}},
    {"Y800", Code('Y', '8', '0', '0'), 8, {}},
    {"BI_RGB 16", format::kBiRgb, 16, {}},
    {"BI_BITFIELDS 5-6-5", format::kBiBitfields, 16, {0xF800u, 0x07E0u, 0x001Fu}},
    {"BI_RGB 8 (palette)", format::kBiRgb, 8, {}},
    {"BI_RGB 4 (palette)", format::kBiRgb, 4, {}},
    {"BI_RGB 1 (palette)", format::kBiRgb, 1, {}},
    {"RGBA", Code('R', 'G', 'B', 'A'), 32, {}},
    {"RV32", Code('R', 'V', '3', '2'), 32, {}},
    {"RV24", Code('R', 'V', '2', '4'), 24, {}},
    {"raw 24", Code('r', 'a', 'w', ' '), 24, {}},
    {"BI_RGB 24", format::kBiRgb, 24, {}},
};

struct Side {
    std::string name;
    std::function<void(int64_t offset)> readFrame;
    double best = 1e30;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) bench::Fail("usage: bench_picture DATA_FOLDER [--reps N] [--frames N]");
    const std::string folder = argv[1];
    int reps = 11;
    uint32_t frames = 30;
    for (int i = 2; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--reps") {
            reps = std::atoi(argv[++i]);
        } else if (std::string(argv[i]) == "--frames") {
            frames = static_cast<uint32_t>(std::atoi(argv[++i]));
        }
    }
    bench::RaiseToWorkerPriority();
    std::printf("picture.reps=%d\npicture.level=%s\n", reps,
                convert::SimdLevelName(convert::ProcessorSimdLevel()));
    const int32_t width = 1920, height = 1080;

    for (const Layout& l : kLayouts) {
        const format::PictureRow* row = format::FindPictureRow(l.compression, l.bitCount, l.masks);
        if (row == nullptr || row->support != format::Support::Served) bench::Fail(l.name);
        convert::FormatContext context;
        for (uint32_t i = 0; i < 256; ++i) context.palette[i] = i * 0x010101u;
        format::PictureFormat upright, inPlace;
        if (!format::DescribePicture(*row, width, height, 0, context, upright) ||
            !format::DescribePicture(*row, width, -height, 0, context, inPlace))
            bench::Fail(std::string("cannot describe ") + l.name);
        const uint64_t stored = upright.frameSize, output = uint64_t{width} * 4 * height;

        const std::string path = folder + "/picture_bench.raw";
        {
            FILE* out = std::fopen(path.c_str(), "wb");
            if (out == nullptr) bench::Fail("cannot write " + path);
            std::vector<uint8_t> frame(stored);
            for (uint32_t f = 0; f < frames; ++f) {
                for (size_t i = 0; i < frame.size(); ++i)
                    frame[i] = static_cast<uint8_t>(i * 7 + f + (i >> 11));
                std::fwrite(frame.data(), 1, frame.size(), out);
            }
            std::fclose(out);
        }
        const std::u16string wide = bench::ToUtf16(path);
        platform::FileHandle file = platform::OpenFileForSharedRead(wide.c_str());
        if (file == nullptr) bench::Fail("cannot open " + path);
        std::vector<uint8_t> host(output), plainBuffer(stored);
        stream::StagingBuffer staging;

        std::vector<Side> sides;
        sides.push_back({"plain", [&](int64_t at) {
                             platform::SeekFromBegin(file, at);
                             platform::ReadAtPosition(file, plainBuffer.data(),
                                                      static_cast<uint32_t>(stored));
                         }});
        sides.push_back({"plugin", [&](int64_t at) {
                             stream::ReadVideoFrame(file, upright, at,
                                                    static_cast<uint32_t>(stored), host.data(),
                                                    staging);
                         }});
        sides.push_back({"negative_height", [&](int64_t at) {
                             stream::ReadVideoFrame(file, inPlace, at,
                                                    static_cast<uint32_t>(stored), host.data(),
                                                    staging);
                         }});
        for (uint32_t f = 0; f < frames; ++f) sides[0].readFrame(static_cast<int64_t>(f * stored));
        for (int rep = 0; rep < reps; ++rep) {
            for (size_t k = 0; k < sides.size(); ++k) {
                Side& side = sides[(k + rep) % sides.size()];
                const auto start = bench::Clock::now();
                for (uint32_t f = 0; f < frames; ++f)
                    side.readFrame(static_cast<int64_t>(f * stored));
                const double seconds = bench::SecondsSince(start);
                if (seconds < side.best) side.best = seconds;
            }
        }
        platform::CloseFile(file);
        std::remove(path.c_str());
        std::printf(
            "%-20s stored %8llu  delivery %-8s plain %7.1f fps  plug-in %7.1f fps  ratio %.3f  "
            "negative height %7.1f fps  ratio %.3f\n",
            l.name, static_cast<unsigned long long>(stored),
            row->delivery == format::Delivery::InPlace ? "in-place" : "staged",
            frames / sides[0].best, frames / sides[1].best, sides[0].best / sides[1].best,
            frames / sides[2].best, sides[0].best / sides[2].best);
        std::fflush(stdout);
    }
    return 0;
}
