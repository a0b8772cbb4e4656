#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "HostStream.h"
#include "Wav.h"

namespace qxhost {
namespace {

uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
           uint32_t{b[at + 3]} << 24;
}
uint16_t U16At(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
std::string CodeAt(const std::vector<uint8_t>& b, size_t at) {
    return std::string(b.begin() + static_cast<std::ptrdiff_t>(at),
                       b.begin() + static_cast<std::ptrdiff_t>(at + 4));
}

TEST(FloatWavHeader, DescribesInterleavedIeeeFloatWithAFactChunk) {
    const std::vector<uint8_t> h = FloatWavHeader(2, 48000, 1000);
    ASSERT_EQ(h.size(), 58u);
    EXPECT_EQ(CodeAt(h, 0), "RIFF");
    EXPECT_EQ(U32At(h, 4), 50u + 1000u * 8u);  // everything after the RIFF size field
    EXPECT_EQ(CodeAt(h, 8), "WAVE");
    EXPECT_EQ(CodeAt(h, 12), "fmt ");
    EXPECT_EQ(U32At(h, 16), 18u);
    EXPECT_EQ(U16At(h, 20), 3u);  // WAVE_FORMAT_IEEE_FLOAT
    EXPECT_EQ(U16At(h, 22), 2u);
    EXPECT_EQ(U32At(h, 24), 48000u);
    EXPECT_EQ(U32At(h, 28), 48000u * 8u);  // bytes per second
    EXPECT_EQ(U16At(h, 32), 8u);           // block align
    EXPECT_EQ(U16At(h, 34), 32u);          // bits per sample
    EXPECT_EQ(U16At(h, 36), 0u);           // cbSize
    EXPECT_EQ(CodeAt(h, 38), "fact");
    EXPECT_EQ(U32At(h, 42), 4u);
    EXPECT_EQ(U32At(h, 46), 1000u);  // sample frames
    EXPECT_EQ(CodeAt(h, 50), "data");
    EXPECT_EQ(U32At(h, 54), 8000u);
}

TEST(FloatWavHeader, RefusesDataThatOverflowsTheRiffSize) {
    EXPECT_TRUE(FloatWavHeader(1, 8000, (0xFFFFFFFFu - 58u) / 4u).size() == 58u);
    EXPECT_TRUE(FloatWavHeader(1, 8000, (0xFFFFFFFFu - 58u) / 4u + 1u).empty());
    EXPECT_TRUE(FloatWavHeader(2, 8000, uint64_t{1} << 32).empty());
    EXPECT_TRUE(FloatWavHeader(0, 8000, 10).empty());
}

TEST(Interleave, TakesOneSampleOfEachChannelInTurn) {
    const float left[] = {1, 2, 3};
    const float right[] = {-1, -2, -3};
    std::vector<float> out = {9};  // appends after what is there
    Interleave({left, right}, 3, out);
    EXPECT_EQ(out, (std::vector<float>{9, 1, -1, 2, -2, 3, -3}));
}

TEST(FloatWavWriter, RewritesTheHeaderWithTheSamplesWritten) {
    const std::string path =
        (std::filesystem::temp_directory_path() / "qxhost-wav-writer-test.wav").string();
    {
        FloatWavWriter wav(path, 2, 22050);
        wav.Write({0.5f, -0.5f, 0.25f, -0.25f});
        wav.Write({1.0f, -1.0f});
        wav.Close();
        EXPECT_EQ(wav.frames(), 3u);
    }
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::filesystem::remove(path);
    ASSERT_EQ(bytes.size(), 58u + 24u);
    const std::vector<uint8_t> expected = FloatWavHeader(2, 22050, 3);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin()));
    float samples[6];
    std::memcpy(samples, bytes.data() + 58, sizeof samples);
    EXPECT_EQ(samples[0], 0.5f);
    EXPECT_EQ(samples[3], -0.25f);
    EXPECT_EQ(samples[5], -1.0f);
}

TEST(FloatWavWriter, ReportsAFileThatCannotBeCreated) {
    EXPECT_THROW(FloatWavWriter("/nonexistent-folder-for-qxhost/out.wav", 2, 44100), HostError);
}

}  // namespace
}  // namespace qxhost
