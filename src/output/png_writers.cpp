#include "output/png_writers.hpp"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include "output/row_conversion/row_converters.hpp"

namespace {

// Flushes and closes the file; the first failure's errno is the one kept, so a
// full disk that only shows when the last bytes are written is not lost.
int finish_file(std::FILE* file) {
    const bool flushed = std::fflush(file) == 0;
    const int flush_errno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!flushed) {
        errno = flush_errno;
        return -1;
    }
    return closed ? 0 : -1;
}

// The one PNG writer; the two formats differ only in their row converter.
int write_png_rgb24(const char* path, std::uint32_t width, std::uint32_t height,
                    std::uint32_t pitch, const std::uint8_t* pixels, row_converter convert) {
    std::FILE* const file = std::fopen(path, "wb");
    if (file == nullptr) {
        return -1;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) {
        std::fclose(file);
        return -1;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        std::fclose(file);
        return -1;
    }

    // libpng reports errors by longjmp to here, which skips destructors: from
    // now on only plain values live in this frame. The row buffer changes after
    // setjmp, so it is volatile to keep its value across the jump.
    std::uint8_t* volatile row = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        std::free(row);
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return -1;
    }

    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);

    // Cannot wrap: png_set_IHDR has refused widths above 1000000.
    row = static_cast<std::uint8_t*>(std::malloc(width * 3u));
    if (row == nullptr) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return -1;
    }
    for (std::uint32_t y = 0; y < height; ++y) {
        convert(pixels + std::uint64_t{y} * pitch, row, width);
        png_write_row(png, row);
    }
    std::free(row);
    row = nullptr;

    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return finish_file(file);
}

}  // namespace

int write_png_rgb24_xrgb(const char* path, std::uint32_t width, std::uint32_t height,
                         std::uint32_t pitch, const std::uint8_t* pixels) {
    return write_png_rgb24(path, width, height, pitch, pixels, convert_xrgb8888_row);
}

int write_png_rgb24_rgb565(const char* path, std::uint32_t width, std::uint32_t height,
                           std::uint32_t pitch, const std::uint8_t* pixels) {
    return write_png_rgb24(path, width, height, pitch, pixels, convert_rgb565_row);
}
