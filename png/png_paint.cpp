// Drawing a PNG image onto a canvas: opaque, keyed on one colour, or
// blended through its alpha channel.
#include <cmath>
#include <vector>

#include "png/chunk_ancillary.h"
#include "png/png_format.h"
#include "png/png_object.h"

namespace glx {

void TPNGObject::PaintOn(TCanvas& canvas, const TRect& rect) const {
    if (IsEmpty()) return;
    const TChunkIHDR& h = HeaderChunk();
    switch (TransparencyKind()) {
        case trNone:
            canvas.stretchDraw(h.Pixels(), rect);
            break;
        case trKeyed:
            canvas.stretchDrawKeyed(h.Pixels(), rect, colorToRGB(TransparentKeyColor()));
            break;
        case trPartial:
            BlendOnto(canvas, rect);
            break;
    }
}

namespace {

// Source coordinate of each destination offset 0 .. count - 1: the same
// coordinate when the sizes agree, else trunc(offset / (dest / source)).
std::vector<uint32_t> sourceMap(int32_t dest, int32_t source, int32_t first, int32_t count) {
    std::vector<uint32_t> map(static_cast<size_t>(count));
    const double factor = static_cast<double>(dest) / source;
    for (int32_t i = 0; i < count; ++i) {
        int32_t off = first + i;
        int64_t s = dest == source ? off : static_cast<int64_t>(std::trunc(off / factor));
        if (s >= source) s = source - 1;
        map[static_cast<size_t>(i)] = static_cast<uint32_t>(s);
    }
    return map;
}

inline uint8_t blend(uint8_t src, uint8_t dst, uint8_t a) {
    return static_cast<uint8_t>((src * a + dst * (255 - a) + 255) >> 8);
}

}  // namespace

void TPNGObject::BlendOnto(TCanvas& canvas, const TRect& rect) const {
    Dib* surface = canvas.surface();
    if (!surface) throw EPNGOutMemory();
    const TChunkIHDR& h = HeaderChunk();
    int32_t left = std::min(rect.Left, rect.Right), right = std::max(rect.Left, rect.Right);
    int32_t top = std::min(rect.Top, rect.Bottom), bottom = std::max(rect.Top, rect.Bottom);
    const int32_t w = right - left, hgt = bottom - top;
    if (w == 0 || hgt == 0) return;

    // The part of the rectangle that lies on the surface.
    const int32_t x0 = std::max(left, 0), x1 = std::min(right, surface->width());
    const int32_t y0 = std::max(top, 0), y1 = std::min(bottom, surface->height());
    if (x0 >= x1 || y0 >= y1) return;
    const int32_t span = x1 - x0;
    const auto xs = sourceMap(w, Width(), x0 - left, span);
    const auto ys = sourceMap(hgt, Height(), y0 - top, y1 - y0);

    const TChunktRNS* trns = m_chunks.FindByClass<TChunktRNS>();
    const auto& table = h.Pixels().colorTable();
    std::vector<uint8_t> buffer(static_cast<size_t>(span) * 3);
    const bool direct = surface->bitsPerPixel() == 24;
    for (int32_t y = y0; y < y1; ++y) {
        const int32_t sy = static_cast<int32_t>(ys[static_cast<size_t>(y - y0)]);
        uint8_t* d = direct ? surface->row(y) + 3 * static_cast<size_t>(x0) : buffer.data();
        if (!direct) surface->rowToBGR(y, x0, span, d);
        const uint8_t* src = h.Pixels().row(sy);
        const uint8_t* alpha = h.AlphaRow(sy);
        switch (h.ColorType) {
            case kColorRgba:
                for (int32_t i = 0; i < span; ++i, d += 3) {
                    const uint32_t sx = xs[static_cast<size_t>(i)];
                    const uint8_t a = alpha[sx];
                    if (a == 0) continue;
                    const uint8_t* s = src + 3 * static_cast<size_t>(sx);
                    if (a == 255) {
                        d[0] = s[0];
                        d[1] = s[1];
                        d[2] = s[2];
                    } else {
                        d[0] = blend(s[0], d[0], a);
                        d[1] = blend(s[1], d[1], a);
                        d[2] = blend(s[2], d[2], a);
                    }
                }
                break;
            case kColorGreyAlpha:
                // The grey byte itself, not looked up in the colour table.
                for (int32_t i = 0; i < span; ++i, d += 3) {
                    const uint32_t sx = xs[static_cast<size_t>(i)];
                    const uint8_t a = alpha[sx], g = src[sx];
                    d[0] = blend(g, d[0], a);
                    d[1] = blend(g, d[1], a);
                    d[2] = blend(g, d[2], a);
                }
                break;
            case kColorPalette:
                for (int32_t i = 0; i < span; ++i, d += 3) {
                    const uint32_t sx = xs[static_cast<size_t>(i)];
                    const uint32_t index = h.Pixels().index(static_cast<int32_t>(sx), sy);
                    const uint8_t a = trns && index < 256 ? trns->AlphaValues[index] : 255;
                    const RGBQuad c = index < table.size() ? table[index] : RGBQuad{};
                    d[0] = blend(c.blue, d[0], a);
                    d[1] = blend(c.green, d[1], a);
                    d[2] = blend(c.red, d[2], a);
                }
                break;
            default:
                break;
        }
        if (!direct) surface->rowFromBGR(y, x0, span, buffer.data());
    }
    if (canvas.OnChange) canvas.OnChange();
}

}  // namespace glx
