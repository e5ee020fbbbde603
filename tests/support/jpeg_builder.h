// JPEG files written straight through libjpeg, for the cases the picture
// class never writes: restart intervals, scan scripts, odd colour spaces.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

namespace glxtest {

struct JpegRecipe {
    int width = 16, height = 16, components = 3;
    J_COLOR_SPACE space = JCS_RGB;
    int quality = 0;  // 0: the library's default
    int restartRows = 0;
    std::vector<jpeg_scan_info> scans{};  // a progressive scan script, when given
};

// Compresses recipe's picture; fill(y, row) writes row y's samples.
inline std::string libjpegEncode(JpegRecipe recipe, const std::function<void(int, uint8_t*)>& fill) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = static_cast<JDIMENSION>(recipe.width);
    c.image_height = static_cast<JDIMENSION>(recipe.height);
    c.input_components = recipe.components;
    c.in_color_space = recipe.space;
    jpeg_set_defaults(&c);
    if (recipe.quality > 0) jpeg_set_quality(&c, recipe.quality, TRUE);
    c.restart_in_rows = recipe.restartRows;
    if (!recipe.scans.empty()) {
        c.scan_info = recipe.scans.data();
        c.num_scans = static_cast<int>(recipe.scans.size());
    }
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(recipe.width) * static_cast<size_t>(recipe.components));
    while (c.next_scanline < c.image_height) {
        fill(static_cast<int>(c.next_scanline), row.data());
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&c, &p, 1);
    }
    jpeg_finish_compress(&c);
    std::string out(reinterpret_cast<char*>(buffer), size);
    jpeg_destroy_compress(&c);
    std::free(buffer);
    return out;
}

}  // namespace glxtest
