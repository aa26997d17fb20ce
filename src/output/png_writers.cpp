#include "output/png_writers.hpp"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include "output/row_filters/row_filter_chooser.hpp"

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

// libpng's mask for one filter. png_set_filter takes masks; once rows are
// written it keeps its argument as given, so a filter's number would mean
// another set of filters.
int filter_mask(row_filter filter) {
    switch (filter) {
        case row_filter::none:
            return PNG_FILTER_NONE;
        case row_filter::sub:
            return PNG_FILTER_SUB;
        case row_filter::up:
            return PNG_FILTER_UP;
        case row_filter::average:
            return PNG_FILTER_AVG;
        case row_filter::paeth:
            break;
    }
    return PNG_FILTER_PAETH;
}

}  // namespace

row_filter_picker row_filter_picker_for(std::uint32_t libpng_version) {
    // libpng's default choice took its present form in 1.6.24. Its write-side
    // code (the choice, the filters, png_set_filter, the row and zlib set-up)
    // reads the same from 1.6.39 to 1.6.58, the newest release compared; the
    // tests check the bytes against 1.6.39 and 1.6.48.
    constexpr std::uint32_t first_known = 10624;
    constexpr std::uint32_t last_known = 10658;
    return libpng_version >= first_known && libpng_version <= last_known
               ? row_filter_picker::program
               : row_filter_picker::libpng;
}

// The one PNG writer; the two formats differ only in their row converter.
int write_png_rgb24(const char* path, std::uint32_t width, std::uint32_t height,
                    std::uint32_t pitch, const std::uint8_t* pixels, row_converter convert,
                    row_filter_picker picker) {
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
    // now on only plain values live in this frame. The row buffers change after
    // setjmp, so they are volatile to keep their values across the jump.
    std::uint8_t* volatile row = nullptr;
    std::uint8_t* volatile previous = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        std::free(row);
        std::free(previous);
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return -1;
    }

    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);

    // The row being written and the one above it, whose bytes the filter
    // choice compares. Cannot wrap: png_set_IHDR has refused widths above
    // 1000000.
    const std::uint32_t row_length = width * 3u;
    row = static_cast<std::uint8_t*>(std::malloc(row_length));
    previous = row == nullptr ? nullptr : static_cast<std::uint8_t*>(std::malloc(row_length));
    if (previous == nullptr) {
        std::free(row);
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return -1;
    }
    // The first row goes with libpng's own default, which has libpng keep every
    // filter's buffers and set zlib up for filtered rows; from then on each row
    // is given the one filter that default would pick for it.
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* const converted = row;
        convert(pixels + std::uint64_t{y} * pitch, converted, width);
        if (picker == row_filter_picker::program && y > 0) {
            png_set_filter(png, PNG_FILTER_TYPE_BASE,
                           filter_mask(choose_row_filter(converted, previous, row_length)));
        }
        png_write_row(png, converted);
        row = previous;
        previous = converted;
    }
    std::free(row);
    std::free(previous);
    row = nullptr;
    previous = nullptr;

    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return finish_file(file);
}

int write_png_rgb24_xrgb(const char* path, std::uint32_t width, std::uint32_t height,
                         std::uint32_t pitch, const std::uint8_t* pixels) {
    return write_png_rgb24(path, width, height, pitch, pixels, convert_xrgb8888_row,
                           row_filter_picker_for(png_access_version_number()));
}

int write_png_rgb24_rgb565(const char* path, std::uint32_t width, std::uint32_t height,
                           std::uint32_t pitch, const std::uint8_t* pixels) {
    return write_png_rgb24(path, width, height, pitch, pixels, convert_rgb565_row,
                           row_filter_picker_for(png_access_version_number()));
}
