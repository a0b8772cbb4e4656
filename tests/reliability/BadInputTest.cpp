// Bad inputs, generated and counted: a valid small file truncated at every
// 512-byte boundary; sizes and counts set to 0, odd values and all ones; index
// entries pointing past the end of the file or into the headers; base offsets
// above the file size; frame sizes whose products overflow; audio formats of
// 0 channels or 0 bits. Each input is opened as video and as audio through the
// export and, when the open succeeds, served by the fuzz host, which checks
// that frames hold only runs of the file's bytes or are left untouched, that
// samples are only values a conversion yields, that no buffer is written past
// its end and that every close returns. The sanitizer build proves that no
// read leaves a view or buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "FuzzHost.h"
#include "support/AviBuilder.h"
#include "support/Files.h"
#include "support/TempDir.h"

using testsupport::AviLayout;

namespace {

// ---- locating fields in a built file ----

// Every offset at which the four letters of `code` occur.
std::vector<size_t> FindAll(const std::vector<uint8_t>& bytes, const char* code) {
    std::vector<size_t> found;
    for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
        if (std::memcmp(&bytes[i], code, 4) == 0) found.push_back(i);
    }
    return found;
}

size_t FindFirst(const std::vector<uint8_t>& bytes, const char* code) {
    const std::vector<size_t> found = FindAll(bytes, code);
    return found.empty() ? bytes.size() : found.front();
}

void Put16(std::vector<uint8_t>& bytes, size_t at, uint16_t v) {
    bytes[at] = static_cast<uint8_t>(v);
    bytes[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(std::vector<uint8_t>& bytes, size_t at, uint64_t v) {
    for (size_t i = 0; i < 8; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
    return v;
}

// A named field of the file: where it is and how wide.
struct Field {
    std::string name;
    size_t at;
    int width;  // 2, 4 or 8 bytes
};

// Every header field worth bending, found by the codes around it.
std::vector<Field> HeaderFields(const std::vector<uint8_t>& bytes) {
    std::vector<Field> fields;
    const size_t avih = FindFirst(bytes, "avih") + 8;
    const char* const avihNames[] = {"avih.dwMicroSecPerFrame",
                                     "avih.dwMaxBytesPerSec",
                                     "avih.dwPaddingGranularity",
                                     "avih.dwFlags",
                                     "avih.dwTotalFrames",
                                     "avih.dwInitialFrames",
                                     "avih.dwStreams",
                                     "avih.dwSuggestedBufferSize",
                                     "avih.dwWidth",
                                     "avih.dwHeight"};
    for (size_t k = 0; k < 10; ++k) fields.push_back({avihNames[k], avih + 4 * k, 4});

    for (size_t strh : FindAll(bytes, "strh")) {
        const size_t data = strh + 8;
        const std::string kind = std::memcmp(&bytes[data], "vids", 4) == 0 ? "vids" : "auds";
        fields.push_back({kind + ".strh.fccHandler", data + 4, 4});
        fields.push_back({kind + ".strh.dwScale", data + 20, 4});
        fields.push_back({kind + ".strh.dwRate", data + 24, 4});
        fields.push_back({kind + ".strh.dwStart", data + 28, 4});
        fields.push_back({kind + ".strh.dwLength", data + 32, 4});
        fields.push_back({kind + ".strh.dwSuggestedBufferSize", data + 36, 4});
        fields.push_back({kind + ".strh.dwSampleSize", data + 44, 4});
    }
    const std::vector<size_t> strf = FindAll(bytes, "strf");
    if (!strf.empty()) {  // the video format comes first
        const size_t bih = strf[0] + 8;
        fields.push_back({"bih.biSize", bih, 4});
        fields.push_back({"bih.biWidth", bih + 4, 4});
        fields.push_back({"bih.biHeight", bih + 8, 4});
        fields.push_back({"bih.biPlanes", bih + 12, 2});
        fields.push_back({"bih.biBitCount", bih + 14, 2});
        fields.push_back({"bih.biCompression", bih + 16, 4});
        fields.push_back({"bih.biSizeImage", bih + 20, 4});
    }
    if (strf.size() > 1) {
        const size_t wfx = strf[1] + 8;
        fields.push_back({"wfx.wFormatTag", wfx, 2});
        fields.push_back({"wfx.nChannels", wfx + 2, 2});
        fields.push_back({"wfx.nSamplesPerSec", wfx + 4, 4});
        fields.push_back({"wfx.nAvgBytesPerSec", wfx + 8, 4});
        fields.push_back({"wfx.nBlockAlign", wfx + 12, 2});
        fields.push_back({"wfx.wBitsPerSample", wfx + 14, 2});
        fields.push_back({"wfx.cbSize", wfx + 16, 2});
    }
    for (const char* code : {"ix00", "ix01"}) {
        const size_t ix = FindFirst(bytes, code);
        if (ix >= bytes.size()) continue;
        const std::string name = code;
        fields.push_back({name + ".wLongsPerEntry", ix + 8, 2});
        fields.push_back({name + ".nEntriesInUse", ix + 12, 4});
        fields.push_back({name + ".dwChunkId", ix + 16, 4});
    }
    return fields;
}

// The size field of every chunk and list header.
std::vector<Field> ChunkSizeFields(const std::vector<uint8_t>& bytes) {
    std::vector<Field> fields;
    for (const char* code :
         {"RIFF", "LIST", "avih", "strh", "strf", "indx", "00db", "01wb", "ix00", "ix01", "idx1"}) {
        int n = 0;
        for (size_t at : FindAll(bytes, code)) {
            fields.push_back({std::string(code) + "#" + std::to_string(n++) + ".size", at + 4, 4});
        }
    }
    return fields;
}

// ---- the inputs ----

struct Input {
    std::string family;
    std::string name;
    std::vector<uint8_t> bytes;
    bool videoMustBeRefused = false;
    bool audioMustBeRefused = false;
};

const uint32_t kValues32[] = {0, 1, 3, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
const uint16_t kValues16[] = {0, 1, 3, 0x7FFF, 0x8000, 0xFFFF};

void SetField(std::vector<uint8_t>& bytes, const Field& field, uint64_t value) {
    if (field.width == 2) Put16(bytes, field.at, static_cast<uint16_t>(value));
    if (field.width == 4) Put32(bytes, field.at, static_cast<uint32_t>(value));
    if (field.width == 8) Put64(bytes, field.at, value);
}

std::vector<uint8_t> Base(const AviLayout& layout) { return testsupport::BuildAvi(layout).bytes; }

AviLayout SmallBoth() {
    AviLayout layout;
    layout.width = 8;
    layout.height = 4;
    layout.frames = 12;
    layout.samplesPerChunk = 40;
    return layout;
}

AviLayout SmallMono8() {
    AviLayout layout = SmallBoth();
    layout.channels = 1;
    layout.bitsPerSample = 8;
    layout.height = -4;
    return layout;
}

void AddTruncations(std::vector<Input>& inputs, const std::string& baseName,
                    const AviLayout& layout) {
    const std::vector<uint8_t> whole = Base(layout);
    // A file cut short is served from a scan of the movie data it holds:
    // video once the header of a frame is there, audio once 'movi' is.
    const size_t firstFrame = FindFirst(whole, "00db");
    const size_t movi = FindFirst(whole, "movi");
    for (size_t cut = 0; cut < whole.size(); cut += 512) {
        Input input{
            "truncated at every 512-byte boundary", baseName + " cut at " + std::to_string(cut),
            std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut))};
        input.videoMustBeRefused = cut < firstFrame + 8;
        input.audioMustBeRefused = cut < movi + 4;
        inputs.push_back(std::move(input));
    }
}

void AddFieldValues(std::vector<Input>& inputs, const std::string& family,
                    const std::string& baseName, const std::vector<uint8_t>& whole,
                    const std::vector<Field>& fields) {
    for (const Field& field : fields) {
        if (field.width == 2) {
            for (uint16_t value : kValues16) {
                Input input{family, baseName + " " + field.name + "=" + std::to_string(value),
                            whole};
                SetField(input.bytes, field, value);
                inputs.push_back(std::move(input));
            }
        } else {
            for (uint32_t value : kValues32) {
                Input input{family, baseName + " " + field.name + "=" + std::to_string(value),
                            whole};
                SetField(input.bytes, field, value);
                inputs.push_back(std::move(input));
            }
        }
    }
}

// Index entries: offsets past the end of the file and into the headers,
// sizes that differ from the frame size, 0 and all ones.
void AddIndexEntries(std::vector<Input>& inputs, const std::string& baseName,
                     const std::vector<uint8_t>& whole) {
    const std::string family = "index entries past the end or into the headers";
    for (const char* code : {"ix00", "ix01"}) {
        const size_t ix = FindFirst(whole, code);
        if (ix >= whole.size()) continue;
        const uint64_t base =
            Get32(whole, ix + 20) | (static_cast<uint64_t>(Get32(whole, ix + 24)) << 32);
        const uint32_t entries = Get32(whole, ix + 12);
        const uint32_t size = static_cast<uint32_t>(whole.size());
        for (uint32_t e = 0; e < entries; ++e) {
            const size_t entry = ix + 32 + 8 * static_cast<size_t>(e);
            const std::string where = baseName + " " + code + " entry " + std::to_string(e);
            const uint32_t entrySize = Get32(whole, entry + 4);
            const uint32_t offsets[] = {static_cast<uint32_t>(size - base),      // at the end
                                        static_cast<uint32_t>(size - base - 2),  // across the end
                                        static_cast<uint32_t>(size - base + 4096), 0xFFFFFFFFu,
                                        0x7FFFFFFFu};
            for (uint32_t offset : offsets) {
                Input input{family, where + " offset past the end " + std::to_string(offset),
                            whole};
                Put32(input.bytes, entry, offset);
                inputs.push_back(std::move(input));
            }
            // Into the headers: a base offset of 0 makes the entry absolute.
            for (uint32_t absolute : {0u, 8u, 12u, 100u, static_cast<uint32_t>(ix)}) {
                Input input{family, where + " into the headers at " + std::to_string(absolute),
                            whole};
                Put64(input.bytes, ix + 20, 0);
                Put32(input.bytes, entry, absolute);
                inputs.push_back(std::move(input));
            }
            for (uint32_t bent : {0u, entrySize + 1, entrySize | 0x80000000u, 0xFFFFFFFFu}) {
                Input input{family, where + " size " + std::to_string(bent), whole};
                Put32(input.bytes, entry + 4, bent);
                inputs.push_back(std::move(input));
            }
        }
    }
}

void AddBaseOffsets(std::vector<Input>& inputs, const std::string& baseName,
                    const std::vector<uint8_t>& whole) {
    const std::string family = "base offsets above the file size";
    const uint64_t size = whole.size();
    const uint64_t values[] = {size,
                               size + 1,
                               0x100000000ull,
                               0x100000000ull + size,
                               0x7FFFFFFFFFFFFFFFull,
                               0x8000000000000000ull,
                               0xFFFFFFFFFFFFFFFFull,
                               0xFFFFFFFFFFFFFFF8ull};  // wraps to just before each entry
    for (const char* code : {"ix00", "ix01"}) {
        const size_t ix = FindFirst(whole, code);
        if (ix >= whole.size()) continue;
        for (uint64_t value : values) {
            Input input{family, baseName + " " + code + " base " + std::to_string(value), whole};
            Put64(input.bytes, ix + 20, value);
            inputs.push_back(std::move(input));
        }
    }
}

// Width, height and image size whose products pass 32 bits, or whose signs
// disagree with what a host allocates from them.
void AddOverflowingFrames(std::vector<Input>& inputs, const std::string& baseName,
                          const std::vector<uint8_t>& whole) {
    const std::string family = "frame sizes that overflow";
    const size_t bih = FindFirst(whole, "strf") + 8;
    // A host's frame buffer is width x |height| x 4 bytes, computed in 32
    // bits by a 32-bit host: every shape whose buffer does not fit there, or
    // cannot hold the image, must be refused.
    struct Shape {
        int64_t width, height;
        uint32_t sizeImage;
        bool mustBeRefused;
    };
    const Shape shapes[] = {
        {65536, 65536, 0, true},            // 2^34 bytes: wraps to 0 in 32 bits
        {65536, 16384, 0, true},            // exactly 2^32 bytes
        {65536, 16385, 300000, true},       // wraps to 262144, smaller than the image
        {0x40000001, 4, 16, true},          // w * h * 4 wraps to 16
        {0x7FFFFFFF, 0x7FFFFFFF, 4, true},  // largest positive
        {-8, 4, 128, true},                 // negative width
        {8, INT32_MIN, 128, true},          // |height| does not fit
        {INT32_MIN, 1, 128, true},          // |width| does not fit
        {8, 4, 0xFFFFFFFFu, true},          // image larger than the buffer
        {8, 4, 0x80000000u, true},          // image size with the top bit
        {8, 4, 129, true},                  // one byte more than the buffer holds
        {1, 1, 4, false},                   // tiny frames over large chunks
        {0, 4, 128, true},                  // no width
        {8, 0, 128, true},                  // no height
    };
    for (const Shape& shape : shapes) {
        Input input{family,
                    baseName + " " + std::to_string(shape.width) + "x" +
                        std::to_string(shape.height) + " image " + std::to_string(shape.sizeImage),
                    whole};
        Put32(input.bytes, bih + 4, static_cast<uint32_t>(shape.width));
        Put32(input.bytes, bih + 8, static_cast<uint32_t>(shape.height));
        Put32(input.bytes, bih + 20, shape.sizeImage);
        // The index sizes follow the image size, so that the entries are read.
        const size_t ix = FindFirst(whole, "ix00");
        for (uint32_t e = 0; e < Get32(whole, ix + 12); ++e)
            Put32(input.bytes, ix + 36 + 8 * e, shape.sizeImage);
        input.videoMustBeRefused = shape.mustBeRefused;
        inputs.push_back(std::move(input));
    }
}

void AddAudioFormats(std::vector<Input>& inputs, const std::string& baseName,
                     const std::vector<uint8_t>& whole) {
    const std::string family = "audio formats of 0 channels or 0 bits";
    const size_t wfx = FindAll(whole, "strf")[1] + 8;
    const size_t strh = FindAll(whole, "strh")[1] + 8;
    struct Format {
        uint16_t channels, bits, blockAlign;
        uint32_t scale, rate;
        bool mustBeRefused;
        bool noFormatRate = false;  // nSamplesPerSec 0 as well
    };
    // A header rate / scale of 0 is served at the format's nSamplesPerSec;
    // refused only when that is 0 too.
    const Format formats[] = {
        {0, 16, 4, 4, 192000, true},      {2, 0, 4, 4, 192000, true},
        {0, 0, 0, 4, 192000, true},       {2, 16, 4, 0, 192000, false},
        {2, 16, 4, 4, 0, false},          {2, 16, 4, 4, 3, false},  // rate / scale = 0
        {2, 16, 4, 4, 3, true, true},     {2, 16, 4, 0, 192000, true, true},
        {1, 1, 1, 1, 8000, false},        {2, 4, 1, 1, 8000, false},
        {2, 12, 3, 3, 24000, false},      {2, 24, 6, 6, 48000, false},
        {2, 32, 8, 8, 64000, false},      {0xFFFF, 16, 0xFFFE, 1, 8000, false},
        {2, 0xFFFF, 4, 4, 192000, false}, {0xFFFF, 0xFFFF, 4, 1, 8000, false},
        {3, 16, 6, 6, 48000, false},      {1, 16, 2, 2, 96000, false},
    };
    for (const Format& f : formats) {
        Input input{family,
                    baseName + " channels " + std::to_string(f.channels) + " bits " +
                        std::to_string(f.bits) + " scale " + std::to_string(f.scale) + " rate " +
                        std::to_string(f.rate),
                    whole};
        Put16(input.bytes, wfx + 2, f.channels);
        Put16(input.bytes, wfx + 12, f.blockAlign);
        Put16(input.bytes, wfx + 14, f.bits);
        Put32(input.bytes, strh + 20, f.scale);
        Put32(input.bytes, strh + 24, f.rate);
        if (f.noFormatRate) {
            Put32(input.bytes, wfx + 4, 0);
            input.name += " no format rate";
        }
        input.audioMustBeRefused = f.mustBeRefused;
        inputs.push_back(std::move(input));
    }
}

std::vector<Input> AllInputs() {
    std::vector<Input> inputs;
    const std::vector<std::pair<std::string, AviLayout>> bases = {{"stereo16", SmallBoth()},
                                                                  {"mono8", SmallMono8()}};
    // Truncations of larger files, so that the cuts fall in every region:
    // headers, frames, audio chunks, the indexes and 'idx1'.
    for (const auto& [name, layout] : bases) {
        AviLayout larger = layout;
        larger.width = 16;
        larger.frames = 40;
        AddTruncations(inputs, name, larger);
    }
    for (const auto& [name, layout] : bases) {
        const std::vector<uint8_t> whole = Base(layout);
        AddFieldValues(inputs, "header sizes and counts: 0, odd, all ones", name, whole,
                       HeaderFields(whole));
        AddFieldValues(inputs, "chunk and list sizes: 0, odd, all ones", name, whole,
                       ChunkSizeFields(whole));
        AddIndexEntries(inputs, name, whole);
        AddBaseOffsets(inputs, name, whole);
        AddOverflowingFrames(inputs, name, whole);
        AddAudioFormats(inputs, name, whole);
    }
    return inputs;
}

struct Tally {
    size_t inputs = 0;
    size_t opensRefused = 0;
    size_t opensServed = 0;
    size_t requests = 0;
    size_t delivered = 0;
    size_t problems = 0;
};

}  // namespace

TEST(BadInputs, EveryMalformedFileIsRefusedOrServedWithinItsBytes) {
    const DriverTable* driver = qxVideoDriver_Mirolan(&fuzzhost::Services());
    testsupport::TempDir dir;
    const std::string path = dir.File("bad.avi");
    const std::u16string widePath = testsupport::ToUtf16(path);
    fuzzhost::Options options;
    options.alwaysServe = true;

    std::vector<std::string> order;
    std::map<std::string, Tally> tallies;
    for (const Input& input : AllInputs()) {
        if (tallies.find(input.family) == tallies.end()) order.push_back(input.family);
        Tally& tally = tallies[input.family];
        testsupport::WriteFile(path, input.bytes);
        const fuzzhost::Outcome outcome =
            fuzzhost::Exercise(*driver, widePath, input.bytes.data(), input.bytes.size(), options);
        ++tally.inputs;
        tally.opensServed += (outcome.videoOpened ? 1 : 0) + (outcome.audioOpened ? 1 : 0);
        tally.opensRefused += (outcome.videoOpened ? 0 : 1) + (outcome.audioOpened ? 0 : 1);
        tally.requests += outcome.requestsHandedOut;
        tally.delivered += outcome.requestsDelivered;
        tally.problems += outcome.problems.size();
        for (const std::string& problem : outcome.problems)
            ADD_FAILURE() << input.name << ": " << problem;
        if (input.videoMustBeRefused) {
            EXPECT_FALSE(outcome.videoOpened) << input.name;
        }
        if (input.audioMustBeRefused) {
            EXPECT_FALSE(outcome.audioOpened) << input.name;
        }
    }

    Tally total;
    std::printf(
        "| family | inputs | opens tried | refused | served | requests handed out | delivered |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
    for (const std::string& family : order) {
        const Tally& t = tallies[family];
        std::printf("| %s | %zu | %zu | %zu | %zu | %zu | %zu |\n", family.c_str(), t.inputs,
                    2 * t.inputs, t.opensRefused, t.opensServed, t.requests, t.delivered);
        total.inputs += t.inputs;
        total.opensRefused += t.opensRefused;
        total.opensServed += t.opensServed;
        total.requests += t.requests;
        total.delivered += t.delivered;
        total.problems += t.problems;
    }
    std::printf("| all | %zu | %zu | %zu | %zu | %zu | %zu |\n", total.inputs, 2 * total.inputs,
                total.opensRefused, total.opensServed, total.requests, total.delivered);
    std::printf("problems seen by the host: %zu; crashes: 0 (the process is still running)\n",
                total.problems);

    // Each family must exercise both outcomes where it can: a sweep in which
    // nothing opens, or everything does, would prove little.
    EXPECT_GT(total.opensServed, 0u);
    EXPECT_GT(total.opensRefused, 0u);
    EXPECT_GT(total.delivered, 0u);
    EXPECT_EQ(total.problems, 0u);
}
