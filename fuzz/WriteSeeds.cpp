// Writes fuzz seeds made by the in-test AVI builder into the folder given as
// the only argument: small valid files of every stream layout and a few with
// bent fields, each a different path through the open.
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "support/AviBuilder.h"

using testsupport::AviLayout;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_write_seeds FOLDER\n");
        return 2;
    }
    std::vector<std::pair<std::string, AviLayout>> seeds;
    AviLayout base;
    seeds.emplace_back("builder-both", base);
    AviLayout s = base;
    s.withAudio = false;
    seeds.emplace_back("builder-video-only", s);
    s = base;
    s.withVideo = false;
    seeds.emplace_back("builder-audio-only", s);
    s = base;
    s.bitsPerSample = 8;
    s.channels = 1;
    seeds.emplace_back("builder-audio8-mono", s);
    s = base;
    s.height = -2;
    s.frames = 5;
    seeds.emplace_back("builder-top-down", s);
    s = base;
    s.avihFrames = 1;
    seeds.emplace_back("builder-avih-frames-1", s);
    s = base;
    s.avihFrames = 0;
    seeds.emplace_back("builder-avih-frames-0", s);
    s = base;
    s.sizeImage = 7;
    seeds.emplace_back("builder-size-image-odd", s);
    s = base;
    s.frameDuration = 0;
    seeds.emplace_back("builder-scale-0", s);
    s = base;
    s.audioScale = 0;
    seeds.emplace_back("builder-audio-scale-0", s);
    s = base;
    s.bitsPerSample = 24;
    seeds.emplace_back("builder-audio24", s);
    s = base;
    s.samplesPerChunk = 1;
    seeds.emplace_back("builder-one-sample-chunks", s);

    for (const auto& [name, layout] : seeds) {
        const std::string path = std::string(argv[1]) + "/" + name + ".avi";
        const std::vector<uint8_t> bytes = testsupport::BuildAvi(layout).bytes;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out.good()) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    std::printf("%zu builder seeds written to %s\n", seeds.size(), argv[1]);
    return 0;
}
