// The pixels of pictures on their way to a laid-out sheet: trimming of
// transparent borders, identity of pictures, and copying onto the sheet
// with the ring of repeated edge pixels. All work goes row by row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace glx::app {

// A picture held for the sheet: rows of blue-green-red bytes and, for
// pictures with transparency, one alpha byte a pixel (empty: all opaque).
struct SheetPicture {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> bgr;  // 3 * width bytes a row
    std::vector<uint8_t> alpha;  // width bytes a row, or empty

    const uint8_t* bgrRow(int32_t y) const { return bgr.data() + 3 * size_t(width) * size_t(y); }
    const uint8_t* alphaRow(int32_t y) const {
        return alpha.empty() ? nullptr : alpha.data() + size_t(width) * size_t(y);
    }
    uint64_t bytes() const { return bgr.size() + alpha.size(); }
};

// A part of a picture.
struct PixelBox {
    int32_t x = 0, y = 0, w = 0, h = 0;
    friend bool operator==(const PixelBox&, const PixelBox&) = default;
};

// The smallest box holding every pixel whose alpha is not 0; the whole
// picture when it has no alpha, and the single pixel at (0, 0) when every
// pixel is transparent.
PixelBox opaqueBounds(const SheetPicture& picture);
// The pixels inside box (which lies inside the picture).
SheetPicture cropPicture(const SheetPicture& picture, const PixelBox& box);

// Identity in all four channels, the colour under alpha 0 included: a hash
// to find candidates, then the exact comparison.
uint64_t pictureHash(const SheetPicture& picture);
bool samePixels(const SheetPicture& a, const SheetPicture& b);

// The rows of a sheet being filled: 24-bit blue-green-red rows and, when
// the sheet has alpha, an alpha plane.
struct SheetSurface {
    int32_t width = 0, height = 0;
    uint8_t* bgr = nullptr;
    size_t bgrStride = 0;
    uint8_t* alpha = nullptr;  // null: no alpha plane
    size_t alphaStride = 0;

    uint8_t* bgrRow(int32_t y) const { return bgr + bgrStride * size_t(y); }
    uint8_t* alphaRow(int32_t y) const { return alpha ? alpha + alphaStride * size_t(y) : nullptr; }
};

// Copies the picture's pixels (alpha included, opaque without) with its
// top-left corner at (x, y); the picture lies inside the surface.
void drawPicture(const SheetSurface& sheet, const SheetPicture& picture, int32_t x, int32_t y);
// Repeats the edge pixels of the w x h frame at (x, y) ring times around
// it, corners taking the corner pixels; clipped to the surface.
void extrudeEdges(const SheetSurface& sheet, int32_t x, int32_t y, int32_t w, int32_t h, int32_t ring);

}  // namespace glx::app
