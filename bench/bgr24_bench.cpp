// Reading 24-bit BGR frames into the host's 32-bit BGRA buffer, against plain
// reads of the same bytes in the same run. The frames come from a file of
// stored frames (rows padded to 4 bytes) that the benchmark writes itself and
// reads once before timing, so every pass reads from the page cache.
//
// Sides, each a pass over the same frames, one reused host buffer:
//   plain_stored  one positioned read of the stored frame's bytes (3 a pixel);
//   plain_output  one positioned read of the output's bytes (4 a pixel), what a
//                 32-bit frame of the same size costs;
//   inplace_*     the plug-in's read (stream::ReadFrameInPlace with the 24-bit row): each band read
//                 into the start of its own output range, converted there,
//                 last band first; the band size varies (whole = one band);
//   staged_*      the alternative: each band read into a reused staging
//                 buffer, then converted into the host's buffer, first band
//                 first (kept here, not in the plug-in, for this comparison).
// Repetitions alternate the sides in turn; a rate is the best pass of a side.
//
// Usage: bench_bgr24 DATA_FOLDER [--reps N]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench_common.h"
#include "convert/Bgr24ToBgra.h"
#include "format/PictureFormats.h"
#include "platform/platform.h"
#include "stream/VideoRead.h"

namespace {

// The alternative strategy: read forward through a staging buffer of about
// `bandBytes` (at least one row), converting each band into the host's
// buffer; pixels not read in full become zeros, as in the plug-in.
bool ReadBgr24FrameStaged(platform::FileHandle file, int64_t offset, uint32_t width, uint32_t rows,
                          uint8_t* destination, std::vector<uint8_t>& staging, uint32_t bandBytes) {
    if (!platform::SeekFromBegin(file, offset)) return false;
    const uint64_t stride = format::PaddedRowBytes(width, 24);
    const uint64_t outRow = uint64_t{width} * 4;
    const uint32_t rowsPerBand =
        bandBytes / stride > 0 ? static_cast<uint32_t>(bandBytes / stride) : 1u;
    const uint32_t bandRows = rowsPerBand < rows ? rowsPerBand : rows;
    if (staging.size() < bandRows * stride) staging.resize(bandRows * stride);
    for (uint32_t first = 0; first < rows; first += bandRows) {
        const uint32_t count = rows - first < bandRows ? rows - first : bandRows;
        const uint32_t got =
            platform::ReadAtPosition(file, staging.data(), static_cast<uint32_t>(count * stride));
        uint8_t* out = destination + first * outRow;
        const uint64_t fullRows = got / stride;
        for (uint64_t r = 0; r < fullRows; ++r)
            convert::Bgr24RowToBgra(staging.data() + r * stride, out + r * outRow, width);
        if (fullRows < count) {
            uint64_t partial = got % stride / 3;
            if (partial > width) partial = width;
            convert::Bgr24RowToBgra(staging.data() + fullRows * stride, out + fullRows * outRow,
                                    static_cast<uint32_t>(partial));
            const uint64_t done = (first + fullRows) * outRow + partial * 4;
            std::memset(destination + done, 0, static_cast<size_t>(rows * outRow - done));
            return true;
        }
    }
    return true;
}

struct Size {
    uint32_t width, height, frames;
};

struct Side {
    std::string name;
    std::function<void(int64_t offset)> readFrame;
    double best = 1e30;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) bench::Fail("usage: bench_bgr24 DATA_FOLDER [--reps N]");
    const std::string folder = argv[1];
    int reps = 11;
    for (int i = 2; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--reps") reps = std::atoi(argv[++i]);
    bench::RaiseToWorkerPriority();
    std::printf("bgr24.reps=%d\n", reps);

    const Size sizes[] = {{640, 360, 400}, {1920, 1080, 60}};
    for (const Size& size : sizes) {
        const uint64_t stride = format::PaddedRowBytes(size.width, 24);
        const uint64_t stored = stride * size.height;
        const uint64_t output = uint64_t{size.width} * 4 * size.height;
        // The frames one after another, then room for the last output-sized read.
        const std::string path = folder + "/bgr24_" + std::to_string(size.width) + "x" +
                                 std::to_string(size.height) + ".raw";
        {
            FILE* out = std::fopen(path.c_str(), "wb");
            if (out == nullptr) bench::Fail("cannot write " + path);
            std::vector<uint8_t> frame(stored);
            for (uint32_t f = 0; f < size.frames; ++f) {
                for (size_t i = 0; i < frame.size(); ++i)
                    frame[i] = static_cast<uint8_t>(i * 7 + f);
                std::fwrite(frame.data(), 1, frame.size(), out);
            }
            std::vector<uint8_t> tail(output - stored, 0);
            std::fwrite(tail.data(), 1, tail.size(), out);
            std::fclose(out);
        }
        const std::u16string wide = bench::ToUtf16(path);
        platform::FileHandle file = platform::OpenFileForSharedRead(wide.c_str());
        if (file == nullptr) bench::Fail("cannot open " + path);
        std::vector<uint8_t> host(output);
        std::vector<uint8_t> staging;

        format::PictureFormat picture;
        picture.row = format::FindPictureRow(format::kBiRgb, 24, nullptr);
        picture.width = size.width;
        picture.rows = size.height;
        picture.storedStride = stride;
        std::vector<Side> sides;
        sides.push_back({"plain_stored", [&](int64_t at) {
                             platform::SeekFromBegin(file, at);
                             platform::ReadAtPosition(file, host.data(),
                                                      static_cast<uint32_t>(stored));
                         }});
        sides.push_back({"plain_output", [&](int64_t at) {
                             platform::SeekFromBegin(file, at);
                             platform::ReadAtPosition(file, host.data(),
                                                      static_cast<uint32_t>(output));
                         }});
        const std::pair<const char*, uint32_t> bands[] = {
            {"64k", 64 * 1024}, {"256k", 256 * 1024}, {"1m", 1024 * 1024}, {"whole", 0xFFFFFFFFu}};
        for (const auto& [label, bytes] : bands) {
            const uint32_t band = bytes;
            sides.push_back({std::string("inplace_") + label, [&, band](int64_t at) {
                                 stream::ReadFrameInPlace(file, picture, at, host.data(), band);
                             }});
            sides.push_back({std::string("staged_") + label, [&, band](int64_t at) {
                                 ReadBgr24FrameStaged(file, at, size.width, size.height,
                                                      host.data(), staging, band);
                             }});
        }

        // Check once that both strategies give the same frame as a plain
        // conversion of the stored bytes.
        {
            std::vector<uint8_t> storedFrame(stored), expected(output);
            platform::SeekFromBegin(file, static_cast<int64_t>(stored));
            platform::ReadAtPosition(file, storedFrame.data(), static_cast<uint32_t>(stored));
            for (uint32_t r = 0; r < size.height; ++r)
                convert::Bgr24RowToBgraPortable(storedFrame.data() + r * stride,
                                                expected.data() + uint64_t{r} * size.width * 4,
                                                size.width);
            for (Side& side : sides) {
                if (side.name.rfind("plain", 0) == 0) continue;
                std::fill(host.begin(), host.end(), 0xEE);
                side.readFrame(static_cast<int64_t>(stored));
                if (host != expected) bench::Fail("wrong frame from " + side.name);
            }
        }
        // Warm-up: every frame once.
        for (uint32_t f = 0; f < size.frames; ++f)
            sides[1].readFrame(static_cast<int64_t>(f * stored));

        for (int rep = 0; rep < reps; ++rep) {
            for (size_t k = 0; k < sides.size(); ++k) {
                Side& side = sides[(k + rep) % sides.size()];
                const auto start = bench::Clock::now();
                for (uint32_t f = 0; f < size.frames; ++f)
                    side.readFrame(static_cast<int64_t>(f * stored));
                const double seconds = bench::SecondsSince(start);
                if (seconds < side.best) side.best = seconds;
            }
        }
        platform::CloseFile(file);
        std::remove(path.c_str());

        const std::string key =
            "bgr24." + std::to_string(size.width) + "x" + std::to_string(size.height);
        std::printf("%s.frames=%u\n%s.stored_bytes=%llu\n%s.output_bytes=%llu\n", key.c_str(),
                    size.frames, key.c_str(), static_cast<unsigned long long>(stored), key.c_str(),
                    static_cast<unsigned long long>(output));
        const double plainStored = sides[0].best, plainOutput = sides[1].best;
        for (const Side& side : sides) {
            // Frames per second, and the ratio of the plain stored read's time to this side's.
            std::printf("%s.%s_fps=%.1f\n", key.c_str(), side.name.c_str(),
                        size.frames / side.best);
            if (side.name.rfind("plain", 0) != 0)
                std::printf("%s.%s_ratio_stored=%.3f\n%s.%s_ratio_output=%.3f\n", key.c_str(),
                            side.name.c_str(), plainStored / side.best, key.c_str(),
                            side.name.c_str(), plainOutput / side.best);
        }
    }
    return 0;
}
