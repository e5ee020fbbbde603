// Dib: a device-independent pixel surface in the project's own memory. It
// stands in for the platform's bitmap sections: TBitmap, the PNG image
// object and GIF rendering keep their pixels in one, and TCanvas draws into
// one. Rows are stored top-down, each padded to a multiple of 4 bytes.
//
// Pixel formats: 1, 4 and 8 bits with a colour table; 16 bits with bit
// fields (5-5-5 by default, or the masks given); 24 bits blue-green-red;
// 32 bits blue-green-red-unused (or bit fields).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/large_buffer.h"
#include "raster/color.h"

namespace glx {

struct RGBQuad {
    uint8_t blue = 0, green = 0, red = 0, reserved = 0;
    friend bool operator==(const RGBQuad&, const RGBQuad&) = default;
};

// The pixel formats a Dib holds, which are also the bit depths a BMP file
// may have.
constexpr int kDibBitDepths[] = {1, 4, 8, 16, 24, 32};
constexpr bool isDibBitDepth(int bitsPerPixel) {
    for (int bits : kDibBitDepths)
        if (bits == bitsPerPixel) return true;
    return false;
}

struct BitMasks {
    uint32_t red = 0, green = 0, blue = 0;  // all 0: the format's default layout
    friend bool operator==(const BitMasks&, const BitMasks&) = default;
};

class Dib {
public:
    Dib() = default;
    // Allocates width x height at bitsPerPixel, all bytes 0. The size is
    // checked against the machine-protecting limits first (ELimitExceeded);
    // a failed allocation raises EOutOfMemory.
    Dib(int32_t width, int32_t height, int bitsPerPixel, std::vector<RGBQuad> colorTable = {}, BitMasks masks = {});

    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    int bitsPerPixel() const { return m_bpp; }
    size_t stride() const { return m_stride; }
    bool empty() const { return m_width <= 0 || m_height <= 0; }
    const std::vector<RGBQuad>& colorTable() const { return m_colors; }
    std::vector<RGBQuad>& colorTable() { return m_colors; }
    const BitMasks& masks() const { return m_masks; }
    bool indexed() const { return m_bpp <= 8; }

    // Row y, y = 0 the top row. y is not checked (callers stay in range).
    uint8_t* row(int32_t y) { return m_bits.data() + static_cast<size_t>(y) * m_stride; }
    const uint8_t* row(int32_t y) const { return m_bits.data() + static_cast<size_t>(y) * m_stride; }
    uint8_t* bits() { return m_bits.data(); }
    const uint8_t* bits() const { return m_bits.data(); }
    size_t byteSize() const { return m_bits.size(); }

    // Colour of one pixel as 0x00BBGGRR; 0 outside the surface. An index
    // beyond the colour table reads as black.
    TColor pixel(int32_t x, int32_t y) const;
    // Writes a colour in this surface's format (nearest colour-table entry
    // for indexed surfaces); nothing outside the surface.
    void setPixel(int32_t x, int32_t y, TColor color);
    // Raw index of an indexed pixel (no bounds check beyond the surface).
    uint32_t index(int32_t x, int32_t y) const;
    void setIndex(int32_t x, int32_t y, uint32_t value);

    // Nearest colour-table entry: smallest squared distance over red, green
    // and blue; the lowest index on a tie.
    uint32_t nearestIndex(TColor color) const;

    // Whole-row conversion to and from 24-bit blue-green-red: count pixels
    // of row y starting at column x0 (caller keeps the span inside the row).
    void rowToBGR(int32_t y, int32_t x0, int32_t count, uint8_t* out) const;
    void rowFromBGR(int32_t y, int32_t x0, int32_t count, const uint8_t* in);

    // Fills the rectangle [x0, x1) x [y0, y1), clipped, with one colour.
    void fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1, TColor color);

    // A new surface of the new size in the same format and colour table,
    // first filled with fillColor, with this surface's pixels copied to the
    // top-left (growing keeps them, shrinking crops right and bottom).
    Dib resized(int32_t newWidth, int32_t newHeight, TColor fillColor) const;
    // Keeps the top newHeight rows (0 < newHeight <= height) in place,
    // without a second buffer.
    void keepTopRows(int32_t newHeight);

private:
    int32_t m_width = 0, m_height = 0;
    int m_bpp = 24;
    size_t m_stride = 0;
    std::vector<RGBQuad> m_colors;
    BitMasks m_masks;
    LargeBuffer m_bits;
};

}  // namespace glx
