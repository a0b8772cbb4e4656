// Writes fuzz seeds made by the in-test AVI builder into the folder given as
// the only argument: small valid files of every stream layout and a few with
// bent fields, each a different path through the open.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/AviBuilder.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_write_seeds FOLDER\n");
        return 2;
    }
    const std::vector<testsupport::NamedLayout> seeds = testsupport::SeedLayouts();
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
