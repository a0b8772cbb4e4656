// Every kept fuzz input, replayed through the export in-process with the fuzz
// host: the minimized corpus and every past finding. Under the sanitizer
// builds this repeats the fuzzer's checks deterministically.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "FuzzHost.h"
#include "KeptFuzzFiles.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

struct ReplayCounts {
    size_t inputs = 0;
    size_t videoOpened = 0;
    size_t audioOpened = 0;
    size_t delivered = 0;
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
