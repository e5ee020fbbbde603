// TCanvas: the drawing surface of a bitmap or of a PNG image object. It
// draws into a Dib it is bound to; it does not own the surface.
#pragma once

#include <functional>

#include "raster/color.h"
#include "raster/dib.h"
#include "raster/geometry.h"

namespace glx {

class TGraphic;

enum class TBrushStyle { Solid, Clear };

struct TBrush {
    TColor color = clWhite;
    TBrushStyle style = TBrushStyle::Solid;
    void setColor(TColor c) {
        color = c;
        style = TBrushStyle::Solid;
    }
};

struct TFont {
    TColor color = clBlack;  // the text colour
};

constexpr uint32_t cmSrcCopy = 0x00CC0020;

class TCanvas {
public:
    TCanvas() = default;
    explicit TCanvas(Dib* surface) : m_surface(surface) {}

    TBrush Brush;
    TFont Font;
    uint32_t CopyMode = cmSrcCopy;

    void bind(Dib* surface) { m_surface = surface; }
    Dib* surface() const { return m_surface; }

    // Fills columns Left <= x < Right and rows Top <= y < Bottom with the
    // brush colour (nothing with a clear brush); clipped to the surface.
    void FillArea(const TRect& rect);
    // Draws the whole picture at its own size with its top-left at (x, y):
    // nothing for an absent or empty picture; otherwise the picture's
    // PaintOn with (x, y, x + width, y + height).
    void DrawAt(int32_t x, int32_t y, const TGraphic* picture);
    // The picture's PaintOn with rect.
    void DrawScaled(const TRect& rect, const TGraphic* picture);

    // Raster operations the picture kinds paint with. Each clips to the
    // surface; the destination rectangle may be of any size (stretching is
    // colour-on-colour: destination pixel (x, y) takes source pixel
    // (trunc(x * srcW / dstW), trunc(y * srcH / dstH)) counted from the
    // rectangle's corner).
    //
    // Opaque copy of the whole source into rect. A one-bit source without
    // a colour table draws 0 bits in the font colour and 1 bits in the brush
    // colour.
    void stretchDraw(const Dib& source, const TRect& rect);
    // Like stretchDraw, but source pixels whose colour equals key leave the
    // destination unchanged.
    void stretchDrawKeyed(const Dib& source, const TRect& rect, TColor key);

    // One pixel of the surface (0 outside it) and writing one pixel in the
    // surface's format (nearest colour-table entry for indexed surfaces).
    TColor Pixel(int32_t x, int32_t y) const;
    void SetPixel(int32_t x, int32_t y, TColor color);

    // Called after every operation that may have changed the surface's
    // pixels; the owning bitmap uses it to drop cached file bytes.
    std::function<void()> OnChange;

private:
    Dib* m_surface = nullptr;
};

}  // namespace glx
