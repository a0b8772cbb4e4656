// Every kept fuzz input, replayed as both fuzz targets run it: through the
// export in-process with the fuzz host, and through the container alone from
// memory. The minimized corpus and every past finding; under the sanitizer
// builds this repeats the fuzzers' checks deterministically.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ContainerChecks.h"
#include "FuzzHost.h"
#include "KeptFuzzFiles.h"
#include "format/PictureFormats.h"
#include "format/SoundFormats.h"
#include "support/AviBuilder.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

struct ReplayCounts {
    size_t inputs = 0;
    size_t videoOpened = 0;
    size_t audioOpened = 0;
    size_t delivered = 0;
    size_t containerServable = 0;  // media the container alone found servable
};

ReplayCounts Replay(const std::vector<fs::path>& inputs) {
    const DriverTable* driver = qxVideoDriver_Mirolan(&fuzzhost::Services());
    testsupport::TempDir dir;
    const std::string path = dir.File("input.avi");
    ReplayCounts counts;
    for (const fs::path& input : inputs) {
        const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(input.string());
        testsupport::WriteFile(path, bytes);
        const fuzzhost::Outcome outcome =
            fuzzhost::Exercise(*driver, testsupport::ToUtf16(path), bytes.data(), bytes.size());
        for (const std::string& problem : outcome.problems) {
            ADD_FAILURE() << input.filename().string() << ": " << problem;
        }
        const fuzzhost::ContainerOutcome container =
            fuzzhost::CheckContainer(bytes.data(), bytes.size());
        for (const std::string& problem : container.problems) {
            ADD_FAILURE() << input.filename().string() << " (container): " << problem;
        }
        // The driver serves what the container finds servable, and nothing else.
        EXPECT_EQ(outcome.videoOpened, container.videoServable) << input.filename().string();
        EXPECT_EQ(outcome.audioOpened, container.audioServable) << input.filename().string();
        counts.containerServable +=
            (container.videoServable ? 1 : 0) + (container.audioServable ? 1 : 0);
        ++counts.inputs;
        counts.videoOpened += outcome.videoOpened ? 1 : 0;
        counts.audioOpened += outcome.audioOpened ? 1 : 0;
        counts.delivered += outcome.requestsDelivered;
    }
    return counts;
}

}  // namespace

TEST(CorpusReplay, KeptCorpusOpensServesAndClosesCleanly) {
    const std::vector<fs::path> inputs = reliability::KeptFuzzFiles("corpus");
    ASSERT_GE(inputs.size(), 10u) << "the kept corpus is missing from " << MIROLAN_FUZZ_DIR;
    const ReplayCounts counts = Replay(inputs);
    std::printf("corpus: %zu inputs, %zu opened as video, %zu as audio, %zu requests delivered\n",
                counts.inputs, counts.videoOpened, counts.audioOpened, counts.delivered);
    // The corpus grew from valid seeds: some of it must still be served.
    EXPECT_GT(counts.videoOpened, 0u);
    EXPECT_GT(counts.audioOpened, 0u);
    EXPECT_GT(counts.delivered, 0u);
}

TEST(CorpusReplay, EveryPastFindingNowRunsCleanly) {
    const std::vector<fs::path> inputs = reliability::KeptFuzzFiles("regressions");
    if (inputs.empty()) GTEST_SKIP() << "no past findings kept in fuzz/regressions";
    const ReplayCounts counts = Replay(inputs);
    std::printf("regressions: %zu inputs replayed\n", counts.inputs);
    EXPECT_EQ(counts.inputs, inputs.size());
}

// The fuzz host knows every picture layout served: a 24-bit file (rows
// padded to 4 bytes at width 5) is served without a problem, and its check
// still tells a frame of the file from one that is not.
TEST(CorpusReplay, FuzzHostChecksFramesOfEveryServedLayout) {
    const DriverTable* driver = qxVideoDriver_Mirolan(&fuzzhost::Services());
    testsupport::TempDir dir;
    const std::string path = dir.File("input.avi");
    for (const uint16_t bits : {uint16_t{24}, uint16_t{32}}) {
        testsupport::AviLayout layout;
        layout.width = 5;
        layout.height = 3;
        layout.bitCount = bits;
        layout.sizeImage = bits == 24 ? 16 * 3 : -1;  // rows padded to 4 bytes
        const testsupport::BuiltAvi built = testsupport::BuildAvi(layout);
        testsupport::WriteFile(path, built.bytes);
        fuzzhost::Options always;
        always.alwaysServe = true;
        const fuzzhost::Outcome outcome = fuzzhost::Exercise(
            *driver, testsupport::ToUtf16(path), built.bytes.data(), built.bytes.size(), always);
        EXPECT_TRUE(outcome.videoOpened) << bits;
        EXPECT_TRUE(outcome.problems.empty()) << bits << ": " << outcome.problems.front();
    }
    // Frame 0 of a 24-bit file made BGRA, and the same bent twice.
    testsupport::AviLayout layout;
    layout.width = 5;
    layout.height = 3;
    layout.bitCount = 24;
    layout.sizeImage = 16 * 3;
    const testsupport::BuiltAvi built = testsupport::BuildAvi(layout);
    std::vector<uint8_t> frame;
    const size_t stride = 16;  // 5 x 3 bytes padded to 4
    for (size_t row = 0; row < 3; ++row) {
        for (size_t x = 0; x < 5; ++x) {
            const uint8_t* pixel =
                &built.bytes[static_cast<size_t>(built.frameOffsets[0]) + row * stride + 3 * x];
            frame.insert(frame.end(), {pixel[0], pixel[1], pixel[2], 255});
        }
    }
    const auto fromFile = [&](const char* code, uint16_t bits, const std::vector<uint8_t>& bytes) {
        const uint32_t compression =
            code == nullptr ? format::kBiRgb
                            : format::CompressionCode(code[0], code[1], code[2], code[3]);
        const format::PictureRow* row = format::FindPictureRow(compression, bits, nullptr);
        return row != nullptr && fuzzhost::FrameIsFromFile(*row, bytes.data(), bytes.size(), 5,
                                                           built.bytes.data(), built.bytes.size());
    };
    EXPECT_TRUE(fromFile(nullptr, 24, frame));
    std::vector<uint8_t> translucent = frame;
    translucent[4 * 7 + 3] = 254;
    EXPECT_FALSE(fromFile(nullptr, 24, translucent));
    // The same pixels as stored B G R: each is a run of the file; as stored
    // R G B they are not.
    EXPECT_TRUE(fromFile("RV24", 0, frame));
    EXPECT_FALSE(fromFile("raw ", 24, frame));
    // Grey: blue, green and red one byte of the file.
    const uint8_t v = frame[0];
    EXPECT_TRUE(fromFile("Y800", 0, {v, v, v, 255, 0, 0, 0, 0}));
    EXPECT_FALSE(fromFile("Y800", 0, {v, v, static_cast<uint8_t>(v + 1), 255}));
    EXPECT_FALSE(fromFile("Y800", 0, {0, 0, 0, 0, v, v, v, 255}));  // a pixel read after a hole

    // Samples: a value some stored sample gives passes, another does not.
    const uint8_t stored[] = {0x00, 0x00, 0xC0, 0x3F, 0x12, 0x34, 0x56};  // 1.5f at 0
    const auto sample = [&](uint16_t tag, uint16_t bits, float value) {
        const format::SoundRow* row = format::FindSoundRow(tag, bits);
        return row != nullptr && fuzzhost::SampleIsFromFile(*row, value, stored, sizeof stored);
    };
    EXPECT_TRUE(sample(format::kWaveFormatFloat, 32, 1.5f));
    EXPECT_FALSE(sample(format::kWaveFormatFloat, 32, 0.5f));
    EXPECT_TRUE(sample(format::kWaveFormatPcm, 16, static_cast<float>(0x3412 / 32767.0)));
    EXPECT_FALSE(sample(format::kWaveFormatPcm, 16, static_cast<float>(0x3413 / 32767.0)));
    EXPECT_TRUE(sample(format::kWaveFormatPcm, 24, static_cast<float>(0x563412 / 8388607.0)));
}
