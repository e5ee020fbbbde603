// libpng (linked into the tests only) as an independent PNG reader and
// writer for end-to-end tests.
#pragma once

#include <png.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace glxtest {

struct Rgba {
    uint8_t r, g, b, a;
    friend bool operator==(const Rgba&, const Rgba&) = default;
};

struct PictureRgba {
    int width = 0, height = 0;
    std::vector<Rgba> pixels;  // top row first
    Rgba at(int x, int y) const { return pixels.at(static_cast<size_t>(y * width + x)); }
};

inline PictureRgba readPng(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) throw std::runtime_error(image.message);
    image.format = PNG_FORMAT_RGBA;
    PictureRgba p;
    p.width = static_cast<int>(image.width);
    p.height = static_cast<int>(image.height);
    p.pixels.resize(static_cast<size_t>(p.width * p.height));
    if (!png_image_finish_read(&image, nullptr, p.pixels.data(), 0, nullptr)) throw std::runtime_error(image.message);
    return p;
}

inline void writePng(const std::string& path, const PictureRgba& p) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(p.width);
    image.height = static_cast<png_uint_32>(p.height);
    image.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&image, path.c_str(), 0, p.pixels.data(), 0, nullptr))
        throw std::runtime_error(image.message);
}

inline PictureRgba solidRgba(int w, int h, Rgba c) {
    PictureRgba p;
    p.width = w;
    p.height = h;
    p.pixels.assign(static_cast<size_t>(w * h), c);
    return p;
}

}  // namespace glxtest
