// Helpers shared by the stream suites: readers over files built in the test,
// their worker started as the driver starts it, and log lines read back.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/HostServices.h"
#include "platform/platform.h"
#include "qxdriver.h"
#include "reader/Mirolan.h"
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

// A reader that parsed its options only, over `path` opened for reading with
// a read-only mapping, as open leaves them; the caller fills the tables.
inline std::unique_ptr<CMirolan> ReaderOver(testsupport::FakeStream& stream,
                                            const uint32_t* options, const std::string& path) {
    host::Store(testsupport::FakeHostServices());
    auto reader = std::make_unique<CMirolan>(&stream.handle, options, CMirolan::NotOpened{});
    const std::u16string wide = testsupport::ToUtf16(path);
    reader->hFile = platform::OpenFileForSharedRead(wide.c_str());
    EXPECT_NE(reader->hFile, nullptr) << path;
    if (reader->hFile != nullptr) reader->hMapFile = platform::CreateReadOnlyMapping(reader->hFile);
    return reader;
}

// Starts the worker the way the driver's start operation does.
inline void StartWorker(testsupport::FakeStream& stream, CMirolan& reader) {
    const DriverTable* table = qxVideoDriver_Mirolan(&testsupport::FakeHostServices());
    stream.handle.pReader = &reader;
    table->drv_start(&stream.handle);
}

// Waits until a worker that ends on its own has ended, and takes its handle
// over so that the reader's stop finds nothing left to wait for.
inline void JoinWorker(CMirolan& reader) {
    platform::WaitForThread(reader.hThread);
    platform::CloseThread(reader.hThread);
    reader.hThread = nullptr;
}

// Runs the queued requests through a started worker until the host has none.
inline void ServeQueue(testsupport::FakeStream& stream, CMirolan& reader) {
    stream.Finish();
    reader.CreateRunMonitorThread();
    ASSERT_NE(reader.hThread, nullptr);
    StartWorker(stream, reader);
    JoinWorker(reader);
}

// The log lines that went to the fallback file, with line ends as "\n" on
// every target (the log file is written in text mode).
inline std::string LogLines(const testsupport::DebugFolder& debug) {
    std::string text = debug.FallbackText();
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

inline int CountOf(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

}  // namespace streamtest
