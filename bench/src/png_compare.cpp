#include "png_compare.hpp"

#include <png.h>

#include <fstream>
#include <iterator>

std::optional<std::vector<std::uint8_t>> read_png_as_rgb(const std::string& path,
                                                         std::uint32_t width,
                                                         std::uint32_t height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        return std::nullopt;
    }
    if (image.width != width || image.height != height) {
        png_image_free(&image);
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) == 0) {
        return std::nullopt;
    }
    return rgb;
}

std::optional<std::vector<std::uint8_t>> read_file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}
