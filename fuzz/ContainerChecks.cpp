#include "ContainerChecks.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "container/ByteSource.h"
#include "container/OpenStream.h"
#include "diag/DebugLog.h"

namespace fuzzhost {

namespace {

// Views as a platform's mapping lends them: from the 64 KiB boundary at or
// before the offset asked for to the one after its end, clipped at the end
// of the bytes. The container must read the same whatever a view holds
// besides what it asked for.
class AlignedSource final : public avi::ByteSource {
public:
    AlignedSource(const uint8_t* bytes, uint64_t size) : bytes_(bytes), size_(size) {}

    uint64_t Size() const override { return size_; }
    uint32_t MostViewBytes() const override { return 0xFFFFFFFFu; }
    uint32_t ReadAhead() const override { return 4096; }
    avi::ByteView View(uint64_t offset, uint32_t length) const override {
        if (offset >= size_) return {};
        constexpr uint64_t kAlign = 64 * 1024;
        const uint64_t start = offset / kAlign * kAlign;
        const uint64_t end = std::min(size_, (offset + length + kAlign - 1) / kAlign * kAlign);
        if (end - start > 0xFFFFFFFFu) {  // past what one view can hold: exactly as asked
            return {bytes_ + offset, offset,
                    static_cast<uint32_t>(std::min<uint64_t>(size_ - offset, length))};
        }
        return {bytes_ + start, start, static_cast<uint32_t>(end - start)};
    }
    void Release(const uint8_t*) const override {}

private:
    const uint8_t* bytes_;
    uint64_t size_;
};

struct Opened {
    avi::Refusal refusal;
    bool outOfMemory = false;
    avi::StreamTables tables;
};

Opened Open(const avi::ByteSource& source, avi::Medium medium) {
    Opened opened;
    try {
        opened.refusal = avi::OpenStream(source, medium, opened.tables);
    } catch (const std::bad_alloc&) {  // the reader refuses it as out of memory
        opened.outOfMemory = true;
    }
    return opened;
}

const char* Name(avi::Medium medium) { return medium == avi::Medium::Video ? "video" : "audio"; }

DIAG_PRINTF(3, 4)
void Note(std::vector<std::string>& problems, avi::Medium medium, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    problems.push_back(std::string(Name(medium)) + ": " + line);
}

unsigned long long Count(size_t n) { return n; }

bool SameChunk(const AudioChunk& a, const AudioChunk& b) {
    return a.firstSample == b.firstSample && a.endSample == b.endSample && a.offset == b.offset &&
           a.size == b.size;
}

bool SameShortFrame(const ShortFrame& a, const ShortFrame& b) {
    return a.frame == b.frame && a.size == b.size;
}

// What serving reads: the refusal, the tables and the values taken from them.
void CompareSources(const Opened& exact, const Opened& aligned, avi::Medium medium,
                    std::vector<std::string>& problems) {
    const avi::StreamTables& a = exact.tables;
    const avi::StreamTables& b = aligned.tables;
    if (exact.outOfMemory != aligned.outOfMemory) {
        Note(problems, medium, "out of memory through one source only (exact views: %d)",
             exact.outOfMemory ? 1 : 0);
        return;
    }
    if (exact.outOfMemory) return;
    if (exact.refusal.kind != aligned.refusal.kind ||
        std::strcmp(exact.refusal.text, aligned.refusal.text) != 0) {
        Note(problems, medium, "refusal \"%s\" through exact views, \"%s\" through aligned ones",
             exact.refusal.text, aligned.refusal.text);
        return;
    }
    if (exact.refusal.Refused()) return;
    if (a.indexSource != b.indexSource || a.frameTable != b.frameTable ||
        !std::equal(a.shortFrames.begin(), a.shortFrames.end(), b.shortFrames.begin(),
                    b.shortFrames.end(), SameShortFrame) ||
        !std::equal(a.audioChunks.begin(), a.audioChunks.end(), b.audioChunks.begin(),
                    b.audioChunks.end(), SameChunk) ||
        a.frameDuration != b.frameDuration || a.streamNumber != b.streamNumber ||
        a.avih.dwTotalFrames != b.avih.dwTotalFrames || a.bih.biSizeImage != b.bih.biSizeImage ||
        a.picture.frameSize != b.picture.frameSize) {
        Note(problems, medium,
             "tables differ between exact and aligned views (index source %d/%d, %llu/%llu "
             "frames, %llu/%llu audio chunks)",
             static_cast<int>(a.indexSource), static_cast<int>(b.indexSource),
             Count(a.frameTable.size()), Count(b.frameTable.size()), Count(a.audioChunks.size()),
             Count(b.audioChunks.size()));
    }
}

void CheckServed(const avi::StreamTables& t, avi::Medium medium, uint64_t size,
                 std::vector<std::string>& problems) {
    if (t.indexSource == avi::IndexSource::None) Note(problems, medium, "served without an index");
    if (medium == avi::Medium::Video) {
        const size_t frames = t.frameTable.size();
        if (frames == 0 || frames != t.avih.dwTotalFrames) {
            Note(problems, medium, "%llu frames, the main header counts %u", Count(frames),
                 t.avih.dwTotalFrames);
        }
        if (t.frameDuration <= 0) {
            Note(problems, medium, "frame duration %lld", static_cast<long long>(t.frameDuration));
        }
        if (t.picture.frameSize == 0 || t.bih.biSizeImage != t.picture.frameSize) {
            Note(problems, medium, "frame size %u, image size %u", t.picture.frameSize,
                 t.bih.biSizeImage);
        }
        for (size_t k = 0; k < frames; ++k) {
            const FrameEntry offset = t.frameTable[k];
            if (offset < 0 || static_cast<uint64_t>(offset) > size) {
                Note(problems, medium, "frame %llu at %lld, past the file's %llu bytes", Count(k),
                     static_cast<long long>(offset), static_cast<unsigned long long>(size));
                break;
            }
        }
        for (size_t i = 0; i < t.shortFrames.size(); ++i) {
            const ShortFrame& entry = t.shortFrames[i];
            if (entry.frame >= frames || entry.size >= t.picture.frameSize ||
                (i > 0 && entry.frame <= t.shortFrames[i - 1].frame)) {
                Note(problems, medium, "short frame %llu (frame %u, %u bytes) out of order or size",
                     Count(i), entry.frame, entry.size);
                break;
            }
        }
        return;
    }
    int64_t expected = 0;
    for (size_t i = 0; i < t.audioChunks.size(); ++i) {
        const AudioChunk& chunk = t.audioChunks[i];
        if (chunk.firstSample != expected || chunk.endSample < chunk.firstSample ||
            chunk.offset < 0 || static_cast<uint64_t>(chunk.offset) > size ||
            chunk.size > size - static_cast<uint64_t>(chunk.offset)) {
            Note(problems, medium,
                 "audio chunk %llu holds samples [%lld, %lld) at %lld (%u bytes), after sample "
                 "%lld, in a file of %llu bytes",
                 Count(i), static_cast<long long>(chunk.firstSample),
                 static_cast<long long>(chunk.endSample), static_cast<long long>(chunk.offset),
                 chunk.size, static_cast<long long>(expected),
                 static_cast<unsigned long long>(size));
            break;
        }
        expected = chunk.endSample;
    }
}

}  // namespace

ContainerOutcome CheckContainer(const uint8_t* data, size_t size) {
    ContainerOutcome outcome;
    const avi::MemorySource exactSource(data, size);
    const AlignedSource alignedSource(data, size);
    for (const avi::Medium medium : {avi::Medium::Video, avi::Medium::Audio}) {
        const Opened exact = Open(exactSource, medium);
        const Opened aligned = Open(alignedSource, medium);
        CompareSources(exact, aligned, medium, outcome.problems);
        if (exact.outOfMemory) continue;
        if (exact.refusal.Refused()) {
            const avi::Refusal& refusal = exact.refusal;
            if (refusal.text[0] == '\0' ||
                std::memchr(refusal.text, '\0', sizeof refusal.text) == nullptr) {
                Note(outcome.problems, medium, "refused without a reason");
            }
            continue;
        }
        CheckServed(exact.tables, medium, size, outcome.problems);
        (medium == avi::Medium::Video ? outcome.videoServable : outcome.audioServable) = true;
    }
    return outcome;
}

}  // namespace fuzzhost
