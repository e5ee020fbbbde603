// Frame rendering: the frame's 8-bit bitmap with its colour table, the
// transparency mask built from the transparent colour index, and drawing a
// frame (or a whole GIF) into a rectangle of a canvas. Transparent pixels
// leave the canvas untouched; nothing is blended.
//
// A draw decodes only the rows and columns of the frame that land on the
// canvas, wherever the frame lies: a frame reaching beyond the logical
// screen is not cut at the screen's edge, because a GIF drawn as a picture
// into a larger canvas shows such parts beyond its rectangle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "raster/dib.h"
#include "raster/geometry.h"

namespace glx {

// 1 bit per pixel, most significant bit first, rows padded to 16 bits;
// bit 1 marks a pixel carrying the transparent colour index.
struct GifTransparencyMask {
    int32_t width = 0, height = 0;
    size_t stride = 0;
    std::vector<uint8_t> bits;
    bool transparent(int32_t x, int32_t y) const {
        return (bits[static_cast<size_t>(y) * stride + static_cast<size_t>(x >> 3)] & (0x80 >> (x & 7))) != 0;
    }
};

// The decoded rows of a rectangle of a frame (frame coordinates): what a
// draw needs of it. Rows the image data never reached are not stored; they
// hold the fill value throughout.
struct GifFrameWindow {
    TRect area;
    std::vector<std::vector<uint8_t>> rows;  // per row of area; empty: all fill
    std::vector<uint8_t> fillRow;  // area width times the fill value
    // Row y of the frame from column area.Left on (area.Top <= y < area.Bottom).
    const uint8_t* row(int32_t y) const {
        const auto& r = rows[static_cast<size_t>(y - area.Top)];
        return r.empty() ? fillRow.data() : r.data();
    }
};

// What a frame keeps for drawing; built on first use, dropped on Clear and
// by ReleaseBitmaps.
struct GifFrameCache {
    std::unique_ptr<Dib> bitmap;  // the whole frame, for FrameBitmap
    std::unique_ptr<GifTransparencyMask> mask;
    std::unique_ptr<GifFrameWindow> window;  // what the last draw decoded
    std::unique_ptr<std::vector<RGBQuad>> palette;  // from the local colour map
};

}  // namespace glx
