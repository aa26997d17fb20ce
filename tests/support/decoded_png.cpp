#include "decoded_png.hpp"

#include <png.h>

#include <cstdio>
#include <cstring>

namespace {

int count_ancillary_chunks(const std::vector<unsigned char>& file) {
    int count = 0;
    for (std::size_t at = 8; at + 8 <= file.size();) {
        const std::uint32_t length =
            std::uint32_t{file[at]} << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        const std::string type(reinterpret_cast<const char*>(&file[at + 4]), 4);
        if (type != "IHDR" && type != "IDAT" && type != "IEND") {
            ++count;
        }
        at += 12 + std::size_t{length};
    }
    return count;
}

}  // namespace

std::optional<decoded_png> read_png(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    std::vector<unsigned char> bytes;
    for (int c; (c = std::fgetc(file)) != EOF;) {
        bytes.push_back(static_cast<unsigned char>(c));
    }
    std::rewind(file);

    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    decoded_png* volatile image = new decoded_png;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        delete image;
        return std::nullopt;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    image->width = png_get_image_width(png, info);
    image->height = png_get_image_height(png, info);
    image->bit_depth = png_get_bit_depth(png, info);
    image->color_type = png_get_color_type(png, info);
    image->interlace = png_get_interlace_type(png, info);
    if (image->bit_depth != 8 || image->color_type != PNG_COLOR_TYPE_RGB) {
        png_error(png, "not an 8-bit RGB image");
    }
    image->rgb.resize(std::size_t{image->width} * image->height * 3);
    for (std::uint32_t y = 0; y < image->height; ++y) {
        png_read_row(png, &image->rgb[std::size_t{y} * image->width * 3], nullptr);
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    image->ancillary_chunks = count_ancillary_chunks(bytes);
    decoded_png result = std::move(*image);
    delete image;
    return result;
}
