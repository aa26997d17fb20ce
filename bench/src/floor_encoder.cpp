#include "floor_encoder.hpp"

#include <png.h>

#include <csetjmp>
#include <cstdio>

bool encode_floor_png(const char* path, std::uint32_t width, std::uint32_t height,
                      const std::uint8_t* rgb) {
    std::FILE* const file = std::fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    // libpng reports errors by longjmp to here; only plain values live in this frame.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (std::uint32_t y = 0; y < height; ++y) {
        png_write_row(png, rgb + std::size_t{y} * width * 3);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    const bool flushed = std::fflush(file) == 0;
    return std::fclose(file) == 0 && flushed;
}
