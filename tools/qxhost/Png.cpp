#include "Png.h"

#include <png.h>

#include <cstdio>
#include <filesystem>

#include "HostStream.h"

namespace qxhost {

bool PngAvailable() { return true; }

void WritePng(const std::string& path, const Picture& picture) {
    std::FILE* file = std::fopen(std::filesystem::u8path(path).string().c_str(), "wb");
    if (file == nullptr) throw HostError("cannot create " + path);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool ok = png != nullptr && info != nullptr;
    // libpng reports errors by longjmp; nothing with a destructor lives in this frame
    // between setjmp and the end of the writes.
    if (ok && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width),
                     static_cast<png_uint_32>(picture.height), 8,
                     picture.channels == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_compression_level(png, 3);
        png_write_info(png, info);
        const size_t stride = static_cast<size_t>(picture.width) * picture.channels;
        for (int y = 0; y < picture.height; ++y) {
            png_write_row(png, picture.pixels.data() + static_cast<size_t>(y) * stride);
        }
        png_write_end(png, info);
    } else {
        ok = false;
    }
    png_destroy_write_struct(png != nullptr ? &png : nullptr, info != nullptr ? &info : nullptr);
    const bool closed = std::fclose(file) == 0;
    if (!ok || !closed) throw HostError("cannot write PNG file " + path);
}

}  // namespace qxhost
