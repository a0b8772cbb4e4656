// The format tables row by row: every served sound row's kernel against a
// plain double-precision model of its rule (exhaustively where a sample has
// 24 bits or fewer, in mono and interleaved), and the rows' own promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "convert/CpuFeatures.h"
#include "convert/PcmConvert.h"
#include "format/PictureFormats.h"
#include "format/SoundFormats.h"

namespace {

using format::SoundFamily;
using format::SoundRow;

// G.711 expansion written from the standard's segment table (sign, 3-bit
// exponent, 4-bit mantissa), independently of the kernel's own form.
int32_t ALawModel(uint8_t code) {
    const uint32_t a = code ^ 0x55u;
    const uint32_t exponent = (a >> 4) & 7u, mantissa = a & 15u;
    const int32_t magnitude =
        exponent == 0 ? static_cast<int32_t>((mantissa << 4) + 8)
                      : static_cast<int32_t>(((mantissa << 4) + 0x108) << (exponent - 1));
    return (a & 0x80u) != 0 ? magnitude : -magnitude;
}
int32_t MuLawModel(uint8_t code) {
    const uint32_t u = static_cast<uint8_t>(~code);
    const uint32_t exponent = (u >> 4) & 7u, mantissa = u & 15u;
    const int32_t magnitude = static_cast<int32_t>(((mantissa << 3) + 0x84) << exponent) - 0x84;
    return (u & 0x80u) != 0 ? -magnitude : magnitude;
}

// The float the row's rule gives for the stored bytes of one sample.
float ModelValue(const SoundRow& row, const uint8_t* in);

// Its bits: a stored float is taken as bytes, never through a floating-point
// register (which on x87 turns a signalling NaN quiet).
uint32_t Model(const SoundRow& row, const uint8_t* in) {
    uint32_t bits;
    if (row.family == SoundFamily::Float && row.bytesPerSample == 4) {
        std::memcpy(&bits, in, 4);
        return bits;
    }
    const float value = ModelValue(row, in);
    std::memcpy(&bits, &value, 4);
    return bits;
}

// The bits of a served float, read from the buffer as bytes.
uint32_t Bits(const float* at) {
    uint32_t bits;
    std::memcpy(&bits, at, 4);
    return bits;
}

float ModelValue(const SoundRow& row, const uint8_t* in) {
    uint64_t raw = 0;
    for (size_t i = 0; i < row.bytesPerSample; ++i) raw |= static_cast<uint64_t>(in[i]) << (8 * i);
    const unsigned bits = 8u * row.bytesPerSample;
    const int64_t signedValue =
        static_cast<int64_t>(raw << (64 - bits)) >> (64 - bits);  // two's complement
    switch (row.family) {
        case SoundFamily::IntegerPcm:
            if (bits == 8) return static_cast<float>((static_cast<double>(raw) - 128.0) / 127.0);
            return static_cast<float>(static_cast<double>(signedValue) /
                                      static_cast<double>((uint64_t{1} << (bits - 1)) - 1));
        case SoundFamily::Float:
            if (bits == 32) {
                float value;
                std::memcpy(&value, in, 4);
                return value;
            } else {
                double value;
                std::memcpy(&value, in, 8);
                return static_cast<float>(value);
            }
        case SoundFamily::G711:
            return static_cast<float>(
                (row.tag == format::kWaveFormatALaw ? ALawModel(in[0]) : MuLawModel(in[0])) /
                32767.0);
        case SoundFamily::Compressed:
            break;
    }
    ADD_FAILURE() << row.name << " has no model";
    return 0.0f;
}

// Samples to feed a row: every value where a sample has at most 16 bits (as
// stereo frames of every pair of 8-bit codes), every 24-bit value, and for
// wider ones the ends, powers of two around them and a spread of others
// (NaNs and infinities among the floats).
std::vector<uint8_t> Inputs(const SoundRow& row, uint32_t* channels) {
    std::vector<uint8_t> bytes;
    const size_t size = row.bytesPerSample;
    *channels = 1;
    if (size == 1) {
        *channels = 2;  // every (left, right) pair
        for (uint32_t v = 0; v < 65536; ++v) {
            bytes.push_back(static_cast<uint8_t>(v & 0xFF));
            bytes.push_back(static_cast<uint8_t>(v >> 8));
        }
        return bytes;
    }
    if (size <= 3) {
        const uint32_t count = 1u << (8 * size);
        bytes.resize(static_cast<size_t>(count) * size);
        for (uint32_t v = 0; v < count; ++v)
            for (size_t i = 0; i < size; ++i)
                bytes[v * size + i] = static_cast<uint8_t>(v >> (8 * i));
        return bytes;
    }
    std::mt19937_64 random(size * 977);
    const auto put = [&](uint64_t v) {
        for (size_t i = 0; i < size; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    for (uint64_t v : {uint64_t{0}, ~uint64_t{0}}) put(v);
    for (unsigned shift = 0; shift < 8 * size; ++shift) {
        const uint64_t power = uint64_t{1} << shift;
        for (uint64_t v : {power, power - 1, power + 1, ~power, 0 - power}) put(v);
    }
    if (row.family == SoundFamily::Float) {
        // Infinities and NaNs (signalling and quiet, with payloads) as stored.
        const uint64_t specials32[] = {0x7F800000u, 0xFF800000u, 0x7FC00000u, 0x7F800001u,
                                       0xFFC12345u, 0x7FA5A5A5u, 0x00000001u, 0x80000000u};
        const uint64_t specials64[] = {0x7FF0000000000000u, 0xFFF0000000000000u,
                                       0x7FF8000000000000u, 0x7FF0000000000001u,
                                       0x47EFFFFFF0000000u,   // rounds to FLT_MAX
                                       0x47EFFFFFF0000001u,   // rounds to infinity
                                       0x36A0000000000000u,   // 2^-149: the least float
                                       0x3690000000000000u};  // 2^-150: a tie, to 0
        for (uint64_t v : size == 4 ? specials32 : specials64) put(v);
    }
    for (int i = 0; i < 200000; ++i) put(random());
    return bytes;
}

std::vector<const SoundRow*> ServedSoundRows() {
    std::vector<const SoundRow*> rows;
    const format::SoundRows all = format::AllSoundRows();
    for (const SoundRow* row = all.begin; row != all.end; ++row)
        if (row->support == format::Support::Served) rows.push_back(row);
    return rows;
}

class ServedSoundRow : public ::testing::TestWithParam<const SoundRow*> {};

// The SIMD levels this processor runs, portable first.
std::vector<convert::SimdLevel> RunnableLevels() {
    std::vector<convert::SimdLevel> levels;
    for (int i = 0; i <= static_cast<int>(convert::ProcessorSimdLevel()); ++i)
        levels.push_back(static_cast<convert::SimdLevel>(i));
    return levels;
}

// Converts `bytes` as frames of `channels` interleaved samples with
// `convert`, in pieces of a length that leaves a remainder for every vector
// step, and counts the served floats whose bits differ from the rule.
// Nothing may be written past a piece's frames.
int Mismatches(const SoundRow& row, convert::SampleConverter convert,
               const std::vector<uint8_t>& bytes, uint32_t channels, const std::string& what) {
    const size_t frameBytes = static_cast<size_t>(row.bytesPerSample) * channels;
    // In pieces, so that the 2^24 values of 24-bit samples never need all
    // their floats at once.
    constexpr size_t kFramesPerPiece = (1u << 18) - 3;
    const size_t totalFrames = bytes.size() / frameBytes;
    int mismatches = 0;
    for (size_t first = 0; first < totalFrames; first += kFramesPerPiece) {
        const size_t frames = std::min(kFramesPerPiece, totalFrames - first);
        std::vector<std::vector<float>> out(channels, std::vector<float>(frames + 1, -99.0f));
        std::vector<float*> buffers;
        for (auto& channel : out) buffers.push_back(channel.data());
        const uint8_t* in = bytes.data() + first * frameBytes;
        convert(in, channels, static_cast<uint32_t>(frames), buffers.data(), channels);
        for (uint32_t ch = 0; ch < channels; ++ch) {
            if (out[ch][frames] != -99.0f) {
                ADD_FAILURE() << what << ": written past the frames";
                ++mismatches;
            }
            for (size_t j = 0; j < frames; ++j) {
                const uint8_t* sample = in + j * frameBytes + ch * row.bytesPerSample;
                const uint32_t want = Model(row, sample);
                if (Bits(&out[ch][j]) != want && ++mismatches <= 5) {
                    ADD_FAILURE() << what << ": frame " << first + j << " channel " << ch
                                  << " gave bits " << std::hex << Bits(&out[ch][j]) << ", the rule "
                                  << want << std::dec;
                }
            }
        }
    }
    return mismatches;
}

// Every served row's kernel equals its rule bit for bit at every SIMD level,
// in mono and in stereo (the layouts with vector forms) and in whatever
// channel a sample sits, and writes nothing past the frames it is given.
TEST_P(ServedSoundRow, KernelEqualsItsRuleForEveryInput) {
    const SoundRow& row = *GetParam();
    ASSERT_NE(row.convert, nullptr);
    ASSERT_GT(row.bytesPerSample, 0u);
    uint32_t channels = 0;
    const std::vector<uint8_t> bytes = Inputs(row, &channels);
    for (const convert::SimdLevel level : RunnableLevels()) {
        const convert::SampleConverter convert = convert::SampleConverterAt(row.convert, level);
        if (convert == nullptr) continue;  // not built for this processor family
        for (const uint32_t layout : {1u, 2u}) {
            const std::string what = std::string(row.name) + " at " +
                                     convert::SimdLevelName(level) + ", " + std::to_string(layout) +
                                     " channel(s)";
            EXPECT_EQ(Mismatches(row, convert, bytes, layout, what), 0) << what;
        }
    }

    // Three interleaved channels, the middle one not asked for: each buffer
    // gets its own channel's samples.
    const size_t count = std::min<size_t>(bytes.size() / (3 * row.bytesPerSample), 4096);
    std::vector<float> left(count), right(count);
    float* three[] = {left.data(), nullptr, right.data()};
    row.convert(bytes.data(), 3, static_cast<uint32_t>(count), three, 3);
    for (size_t j = 0; j < count; ++j) {
        ASSERT_EQ(Bits(&left[j]), Model(row, bytes.data() + 3 * j * row.bytesPerSample))
            << row.name << " frame " << j;
        ASSERT_EQ(Bits(&right[j]), Model(row, bytes.data() + (3 * j + 2) * row.bytesPerSample))
            << row.name << " frame " << j;
    }

    // Stereo with only the left channel asked for, at every level: the right
    // buffer stays as it was.
    for (const convert::SimdLevel level : RunnableLevels()) {
        const convert::SampleConverter convert = convert::SampleConverterAt(row.convert, level);
        if (convert == nullptr) continue;
        const size_t frames = std::min<size_t>(bytes.size() / (2 * row.bytesPerSample), 77);
        std::vector<float> only(frames), untouched(frames, -99.0f);
        float* two[] = {only.data(), untouched.data()};
        convert(bytes.data(), 2, static_cast<uint32_t>(frames), two, 1);
        for (size_t j = 0; j < frames; ++j) {
            ASSERT_EQ(Bits(&only[j]), Model(row, bytes.data() + 2 * j * row.bytesPerSample))
                << row.name << " at " << convert::SimdLevelName(level) << " frame " << j;
            ASSERT_EQ(untouched[j], -99.0f) << row.name << " at " << convert::SimdLevelName(level);
        }
    }
}

// The row's silence byte converts to the quietest value the layout has.
TEST_P(ServedSoundRow, SilenceIsTheQuietestValue) {
    const SoundRow& row = *GetParam();
    std::vector<uint8_t> silence(row.bytesPerSample, row.silence);
    const float quiet = ModelValue(row, silence.data());
    EXPECT_LE(std::fabs(quiet), 8.0f / 32767.0f) << row.name;  // A-law's quietest code is 8
}

std::string RowName(const ::testing::TestParamInfo<const SoundRow*>& info) {
    std::string name;
    for (const char c : std::string(info.param->name))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Rows, ServedSoundRow, ::testing::ValuesIn(ServedSoundRows()), RowName);

// The table's lookup: plain tags, extensible sub-formats, and the bit depth
// that picks a row.
TEST(SoundTable, TagsAndDepthsFindTheirRows) {
    EXPECT_EQ(format::SampleTag(1, 3), 1);       // a plain tag is the samples' own
    EXPECT_EQ(format::SampleTag(0xFFFE, 3), 3);  // extensible: its sub-format says
    const struct {
        uint16_t tag, bits;
        const char* name;
        bool served;
    } rows[] = {
        {1, 8, "8-bit PCM", true},     {1, 16, "16-bit PCM", true}, {1, 24, "24-bit PCM", true},
        {1, 32, "32-bit PCM", true},   {1, 20, "PCM", false},       {3, 32, "32-bit float", true},
        {3, 64, "64-bit float", true}, {3, 16, "float", false},     {6, 8, "A-law", true},
        {7, 8, "mu-law", true},        {7, 16, "mu-law", false}};
    for (const auto& r : rows) {
        const SoundRow* row = format::FindSoundRow(r.tag, r.bits);
        ASSERT_NE(row, nullptr) << r.tag << "/" << r.bits;
        EXPECT_STREQ(row->name, r.name);
        EXPECT_EQ(row->support == format::Support::Served, r.served) << r.name;
        if (r.served) {
            EXPECT_EQ(row->bytesPerSample * 8u, r.bits) << r.name;
        }
    }
    EXPECT_EQ(format::FindSoundRow(0x55, 0), nullptr);  // MP3: named by the codec list
}

}  // namespace

namespace {

// Grey rows stored padded to 4 bytes (as GStreamer writes them) are read
// padded only when every chunk holds the padded frame, as ffmpeg reads them;
// layouts whose rows never pad keep their size.
TEST(PictureTable, GreyRowsArePaddedOnlyWhenEveryChunkHoldsThePadding) {
    const format::PictureRow* grey =
        format::FindPictureRow(format::CompressionCode('Y', '8', '0', '0'), 8, nullptr);
    const format::PictureRow* uyvy =
        format::FindPictureRow(format::CompressionCode('U', 'Y', 'V', 'Y'), 16, nullptr);
    ASSERT_NE(grey, nullptr);
    ASSERT_NE(uyvy, nullptr);
    const struct {
        const format::PictureRow* row;
        int32_t width;
        uint32_t smallestChunk;
        bool padded;
        uint64_t stride;
        uint32_t frameSize;
    } cases[] = {
        {grey, 642, 644 * 360, true, 644, 644 * 360},       // GStreamer's chunks
        {grey, 642, 644 * 360 + 7, true, 644, 644 * 360},   // more than the frame: still padded
        {grey, 642, 644 * 360 - 1, false, 642, 642 * 360},  // ffmpeg's (unpadded) or short chunks
        {grey, 640, 1000000, false, 640, 640 * 360},        // nothing to pad
        {uyvy, 642, 1000000, false, 1284, 1284 * 360},      // its rows are never padded
    };
    for (const auto& c : cases) {
        format::PictureFormat picture;
        ASSERT_TRUE(format::DescribePicture(*c.row, c.width, -360, 0, {}, picture));
        EXPECT_EQ(format::PadRowsToChunks(picture, c.smallestChunk), c.padded) << c.width;
        EXPECT_EQ(picture.storedStride, c.stride) << c.width;
        EXPECT_EQ(picture.frameSize, c.frameSize) << c.width;
    }
}

// GStreamer's I420: luma and chroma rows padded to 4 bytes, the luma plane
// to an even number of rows (642x360: 348480 bytes, 318x241: 116160). Taken
// only when every chunk holds that frame; sizes it does not pad, YV12 (which
// no padding writer stores) and unpadded chunks keep the plain planes.
TEST(PictureTable, I420PlanesArePaddedAsGStreamerPadsThemWhenEveryChunkHoldsThem) {
    const format::PictureRow* i420 =
        format::FindPictureRow(format::CompressionCode('I', '4', '2', '0'), 12, nullptr);
    const format::PictureRow* yv12 =
        format::FindPictureRow(format::CompressionCode('Y', 'V', '1', '2'), 12, nullptr);
    ASSERT_NE(i420, nullptr);
    ASSERT_NE(yv12, nullptr);
    const struct {
        const format::PictureRow* row;
        int32_t width, height;
        uint32_t padded;    // PaddedFrameSize
        uint32_t unpadded;  // the frame as others store it
        uint64_t stride;
        uint32_t chromaStride, lumaRows;
    } cases[] = {
        {i420, 642, 360, 348480, 346680, 644, 324, 360},
        {i420, 318, 241, 116160, 115116, 320, 160, 242},
        {i420, 320, 241, 116160, 115840, 320, 160, 242},  // only the height pads
        {i420, 644, 360, 348480, 347760, 644, 324, 360},  // only the chroma rows pad
        {i420, 640, 360, 0, 345600, 640, 0, 0},           // nothing to pad
        {yv12, 642, 360, 0, 346680, 642, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        format::PictureFormat picture;
        ASSERT_TRUE(format::DescribePicture(*c.row, c.width, c.height, 0, {}, picture));
        EXPECT_EQ(picture.frameSize, c.unpadded);
        EXPECT_EQ(format::PaddedFrameSize(picture), c.padded);
        // Chunks one byte short of the padded frame: read as others store it.
        format::PictureFormat shorter = picture;
        EXPECT_FALSE(format::PadRowsToChunks(shorter, c.padded - 1));
        EXPECT_EQ(shorter.frameSize, c.unpadded);
        EXPECT_EQ(shorter.context.chromaStride, 0u);
        const bool pads = c.padded != 0;
        EXPECT_EQ(format::PadRowsToChunks(picture, pads ? c.padded : 0xFFFFFFFFu), pads);
        EXPECT_EQ(picture.frameSize, pads ? c.padded : c.unpadded);
        EXPECT_EQ(picture.storedStride, c.stride);
        EXPECT_EQ(picture.context.chromaStride, c.chromaStride);
        EXPECT_EQ(picture.context.lumaPlaneRows, c.lumaRows);
    }
}

}  // namespace
