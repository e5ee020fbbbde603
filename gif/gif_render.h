// Frame rendering: the frame's 8-bit bitmap with its colour table, the
// transparency mask built from the transparent colour index, and drawing a
// frame (or a whole GIF) into a rectangle of a canvas. Transparent pixels
// leave the canvas untouched; nothing is blended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "raster/dib.h"

namespace glx {

// 1 bit per pixel, most significant bit first, rows padded to 16 bits;
// bit 1 marks a pixel carrying the transparent colour index.
struct TGIFTransparencyMask {
    int32_t width = 0, height = 0;
    size_t stride = 0;
    std::vector<uint8_t> bits;
    bool transparent(int32_t x, int32_t y) const {
        return (bits[static_cast<size_t>(y) * stride + static_cast<size_t>(x >> 3)] & (0x80 >> (x & 7))) != 0;
    }
};

// What a frame keeps for drawing; built on first use, dropped on Clear.
struct TGIFFrameCache {
    std::unique_ptr<TDib> bitmap;
    std::unique_ptr<TGIFTransparencyMask> mask;
    bool maskPending = true;
    std::unique_ptr<std::vector<RGBQuad>> palette;  // from the local colour map
};

// a * b / c in 64 bits, rounded to nearest with halves away from zero;
// a divisor of 0 gives -1.
int32_t mulDiv(int64_t a, int64_t b, int64_t c);

}  // namespace glx
