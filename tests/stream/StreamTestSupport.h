// Helpers shared by the stream suites: what a worker serves from, filled by
// the test over a file it wrote; readers opened over built AVI files, their
// worker started as the driver starts it; and log lines read back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "format/PictureFormats.h"
#include "format/SoundFormats.h"
#include "host/HostServices.h"
#include "platform/platform.h"
#include "qxdriver.h"
#include "reader/Mirolan.h"
#include "stream/RunMonitor.h"
#include "stream/ServeContext.h"
#include "support/AviBuilder.h"
#include "support/DebugFolder.h"
#include "support/FakeHost.h"
#include "support/Files.h"

namespace streamtest {

inline const uint32_t kVideoOptions[] = {QX_TAG_EYES, 1, 0, 0};
inline const uint32_t kAudioOptions[] = {QX_TAG_EARS, 1, 0, 0};

// A file of `size` bytes whose every byte is set by `byteAt(offset)`.
template <typename ByteAt>
std::vector<uint8_t> PatternFile(size_t size, ByteAt byteAt) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = byteAt(i);
    return bytes;
}

// What the worker serves from, as the reader would hand it over: `path`
// opened for reading, and tables and formats the test fills.
struct ServeInputs {
    ServeInputs(testsupport::FakeStream& stream, bool servesVideo, const std::string& path)
        : video(servesVideo), pStream(&stream.handle) {
        host::Store(testsupport::FakeHostServices());
        file.reset(platform::OpenFileForSharedRead(testsupport::ToUtf16(path).c_str()));
        EXPECT_NE(file, nullptr) << path;
    }

    // The layouts follow the records the test filled, as the open's tables
    // would give them: 24-bit or else 32-bit RGB of biSizeImage bytes, and
    // the sound of wFormatTag (PCM when 0) and wBitsPerSample.
    stream::ServeContext Context() {
        const bool bgr24 = bih.biBitCount == 24;
        const format::PictureRow* row =
            format::FindPictureRow(format::kBiRgb, bgr24 ? 24 : 32, nullptr);
        picture = format::PictureFormat{};
        picture.row = row;
        picture.width = static_cast<uint32_t>(bih.biWidth);
        picture.rows = static_cast<uint32_t>(bih.biHeight < 0 ? -bih.biHeight : bih.biHeight);
        picture.storedStride = row->storedRowBytes(picture.width);
        picture.frameSize =
            bgr24 ? static_cast<uint32_t>(row->storedFrameBytes(picture.width, picture.rows))
                  : bih.biSizeImage;
        const uint16_t tag = wfx.wFormatTag != 0 ? wfx.wFormatTag : format::kWaveFormatPcm;
        sound = format::SoundFormat{format::FindSoundRow(tag, wfx.wBitsPerSample), wfx.nChannels};
        // The video timing as the open copies it: from the descriptor as it
        // stands when serving begins.
        const VideoDesc& timing = *pStream->pVideo;
        return stream::ServeContext{video,
                                    file.get(),
                                    frameTable,
                                    shortFrames,
                                    totalFrames,
                                    audioChunks,
                                    bih,
                                    wfx,
                                    picture,
                                    sound,
                                    timing.avgFrameDuration,
                                    timing.timescale,
                                    pStream,
                                    services,
                                    stop,
                                    staging};
    }

    bool video;
    FileOwner file;
    std::vector<FrameEntry> frameTable;
    std::vector<ShortFrame> shortFrames;
    uint32_t totalFrames = 0;
    std::deque<AudioChunk> audioChunks;
    avi::BITMAPINFOHEADER bih{};
    avi::WAVEFORMATEX wfx{};
    format::PictureFormat picture;
    format::SoundFormat sound;
    StreamHandle* pStream;
    HostServices services = testsupport::FakeHostServices();
    std::atomic<bool> stop{false};
    stream::StagingBuffer staging;
};

// Serves the queued requests on the calling thread until the host has none.
inline void ServeQueue(testsupport::FakeStream& stream, ServeInputs& inputs) {
    stream.Finish();
    stream::ServeRequests(inputs.Context());
}

// A reader opened over `path` as the driver opens it, its worker created and
// suspended.
inline std::unique_ptr<CMirolan> OpenReader(testsupport::FakeStream& stream,
                                            const uint32_t* options, const std::string& path) {
    host::Store(testsupport::FakeHostServices());
    return std::make_unique<CMirolan>(&stream.handle, testsupport::ToUtf16(path).c_str(), options);
}

// Starts the worker the way the driver's start operation does.
inline void StartWorker(testsupport::FakeStream& stream, CMirolan& reader) {
    const DriverTable* table = qxVideoDriver_Mirolan(&testsupport::FakeHostServices());
    stream.handle.pReader = &reader;
    table->drv_start(&stream.handle);
}

// The log lines that went to the fallback file, with line ends as "\n" on
// every target (the log file is written in text mode).
inline std::string LogLines(const testsupport::DebugFolder& debug) {
    std::string text = debug.FallbackText();
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// Checks that the log holds `first` and, after it, `then`.
inline void ExpectInOrder(const std::string& log, const std::string& first,
                          const std::string& then) {
    const size_t at = log.find(first);
    ASSERT_NE(at, std::string::npos) << first << " missing from\n" << log;
    EXPECT_NE(log.find(then, at), std::string::npos)
        << then << " missing after " << first << " in\n"
        << log;
}

inline int CountOf(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

}  // namespace streamtest
