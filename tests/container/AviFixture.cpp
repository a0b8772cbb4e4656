#include "AviFixture.h"

#include <gtest/gtest.h>

#include <utility>

#include "platform/platform.h"
#include "qxdriver.h"
#include "support/Files.h"
#include "support/TempDir.h"

namespace fixture {

namespace {

// 'hdrl' with the main header (has-index flag), a video and an audio 'strl',
// each with a super index stub (stepped over, never read) when asked.
void HeaderList(testsupport::AviBuilder& avi, const ExampleOptions& options, bool superIndexStubs) {
    const uint64_t hdrl = avi.OpenList("LIST", "hdrl");
    avi.MainHeader(0x10, options.totalFramesField);
    const uint64_t videoStrl = avi.OpenList("LIST", "strl");
    avi.StreamHeader("vids");
    avi.BitmapFormat(options.sizeImage);
    if (superIndexStubs) avi.Chunk("indx", 24);
    avi.Close(videoStrl);
    const uint64_t audioStrl = avi.OpenList("LIST", "strl");
    avi.StreamHeader("auds");
    avi.WaveFormat(options.channels, options.bitsPerSample);
    if (superIndexStubs) avi.Chunk("indx", 24);
    avi.Close(audioStrl);
    avi.Close(hdrl);
}

}  // namespace

uint64_t Headers(testsupport::AviBuilder& avi, const ExampleOptions& options) {
    const uint64_t riff = avi.OpenList("RIFF", "AVI ");
    HeaderList(avi, options, false);
    return riff;
}

std::vector<uint64_t> VideoMovie(testsupport::AviBuilder& avi, uint32_t frames,
                                 uint32_t sizeImage) {
    std::vector<uint64_t> offsets;
    const uint64_t movi = avi.OpenList("LIST", "movi");
    for (uint32_t i = 0; i < frames; ++i) offsets.push_back(avi.Chunk("00db", sizeImage));
    const uint64_t ix00 = avi.OpenIndex("ix00", "00db", movi);
    for (uint64_t offset : offsets) avi.IndexEntry(static_cast<uint32_t>(offset - movi), sizeImage);
    avi.Close(ix00);
    avi.Close(movi);
    return offsets;
}

ExampleFile BuildExample(const ExampleOptions& options) {
    ExampleFile file;
    testsupport::AviBuilder& avi = file.avi;
    const uint64_t riff = avi.OpenList("RIFF", "AVI ");
    HeaderList(avi, options, true);
    const uint64_t odml = avi.OpenList("LIST", "odml");
    avi.Chunk("dmlh", 248);
    avi.Close(odml);
    avi.Chunk("JUNK", 13);  // odd size, no pad byte after it

    const uint64_t movi = avi.OpenList("LIST", "movi");
    for (uint32_t i = 0; i < options.frames; ++i) {
        file.frameOffsets.push_back(
            avi.Chunk("00db", options.sizeImage, static_cast<uint8_t>(i + 1)));
        file.audioChunks.emplace_back(avi.Chunk("01wb", options.audioChunkSize),
                                      options.audioChunkSize);
    }
    file.videoIndexBase = movi;
    const uint64_t ix00 = avi.OpenIndex("ix00", "00db", movi);
    for (uint64_t offset : file.frameOffsets) {
        avi.IndexEntry(static_cast<uint32_t>(offset - movi), options.sizeImage);
    }
    avi.Close(ix00);
    file.audioIndexBase = movi;
    const uint64_t ix01 = avi.OpenIndex("ix01", "01wb", movi);
    for (const auto& chunk : file.audioChunks) {
        avi.IndexEntry(static_cast<uint32_t>(chunk.first - movi), chunk.second);
    }
    avi.Close(ix01);
    avi.Close(movi);
    avi.Chunk("idx1", 16);
    avi.Close(riff);
    return file;
}

MappedReader::MappedReader(const std::string& path, Medium which)
    : medium(which == kVideo ? avi::Medium::Video : avi::Medium::Audio) {
    file.reset(platform::OpenFileForSharedRead(testsupport::ToUtf16(path).c_str()));
    EXPECT_NE(file, nullptr) << path;
    if (file == nullptr) return;
    EXPECT_TRUE(platform::GetFileSize(file.get(), &fileSize));
    granularity = platform::AllocationGranularity();
    mapping.reset(platform::CreateReadOnlyMapping(file.get()));
    EXPECT_NE(mapping, nullptr) << path;
}

MappedReader::MappedReader(std::vector<uint8_t> bytes, Medium which)
    : medium(which == kVideo ? avi::Medium::Video : avi::Medium::Audio), bytes_(std::move(bytes)) {
    fileSize = static_cast<int64_t>(bytes_.size());
    memory_.emplace(bytes_.data(), bytes_.size());
}

std::unique_ptr<MappedReader> InMemory(const std::vector<uint8_t>& bytes,
                                       MappedReader::Medium medium) {
    return std::make_unique<MappedReader>(bytes, medium);
}

std::unique_ptr<MappedReader> Open(const testsupport::TempDir& dir, const std::string& name,
                                   const std::vector<uint8_t>& bytes, MappedReader::Medium medium) {
    const std::string path = dir.File(name);
    testsupport::WriteFile(path, bytes);
    return std::make_unique<MappedReader>(path, medium);
}

}  // namespace fixture
