#include "reference_png.hpp"

#include <png.h>

namespace {

void append(png_structp png, png_bytep bytes, std::size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(bytes), length);
}

void no_flush(png_structp) {}

bool encode(const std::uint8_t* rgb, std::uint32_t width, std::uint32_t height, std::string* file) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    // libpng reports errors by longjmp to here; only plain values live in this frame.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, file, append, no_flush);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (std::uint32_t y = 0; y < height; ++y) {
        png_write_row(png, rgb + std::size_t{y} * width * 3);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::string encode_with_libpng_defaults(const std::vector<std::uint8_t>& rgb, std::uint32_t width,
                                        std::uint32_t height) {
    std::string file;
    if (!encode(rgb.data(), width, height, &file)) {
        file.clear();
    }
    return file;
}
