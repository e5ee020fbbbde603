#include "raster/canvas.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "raster/graphic.h"

namespace glx {

namespace {

// Converts columns [x0, x0 + count) of source row y to blue-green-red. A
// one-bit surface without a colour table takes its two colours from the
// canvas: 0 bits the text colour, 1 bits the background (brush) colour.
void sourceRowBGR(const Dib& src, int32_t y, int32_t x0, int32_t count, TColor zeroColor, TColor oneColor,
                  uint8_t* out) {
    if (src.bitsPerPixel() == 1 && src.colorTable().empty()) {
        const uint8_t* r = src.row(y);
        for (int32_t i = 0; i < count; ++i) {
            int32_t x = x0 + i;
            TColor c = ((r[x >> 3] >> (7 - (x & 7))) & 1) ? oneColor : zeroColor;
            out[3 * i] = getBValue(c);
            out[3 * i + 1] = getGValue(c);
            out[3 * i + 2] = getRValue(c);
        }
        return;
    }
    src.rowToBGR(y, x0, count, out);
}

bool sameFormat(const Dib& a, const Dib& b) {
    if (a.bitsPerPixel() != b.bitsPerPixel() || a.bitsPerPixel() < 8) return false;
    if (a.masks() != b.masks()) return false;
    return !a.indexed() || a.colorTable() == b.colorTable();
}

}  // namespace

void TCanvas::FillArea(const TRect& rect) {
    if (!m_surface || Brush.style == TBrushStyle::Clear) return;
    m_surface->fill(rect.Left, rect.Top, rect.Right, rect.Bottom, colorToRGB(Brush.color));
    if (OnChange) OnChange();
}

void TCanvas::DrawAt(int32_t x, int32_t y, const TGraphic* picture) {
    if (!picture || picture->IsEmpty()) return;
    picture->PaintOn(*this, makeRect(x, y, x + picture->Width(), y + picture->Height()));
}

void TCanvas::DrawScaled(const TRect& rect, const TGraphic* picture) {
    if (!picture) return;
    picture->PaintOn(*this, rect);
}

TColor TCanvas::Pixel(int32_t x, int32_t y) const { return m_surface ? m_surface->pixel(x, y) : 0; }

void TCanvas::SetPixel(int32_t x, int32_t y, TColor color) {
    if (!m_surface) return;
    m_surface->setPixel(x, y, colorToRGB(color));
    if (OnChange) OnChange();
}

void TCanvas::stretchDraw(const Dib& source, const TRect& rect) { stretchDrawKeyed(source, rect, clNone); }

void TCanvas::stretchDrawKeyed(const Dib& source, const TRect& rect, TColor key) {
    Dib* dst = m_surface;
    if (!dst || source.empty() || dst->empty()) return;
    const int64_t dstW = rect.width(), dstH = rect.height();
    if (dstW <= 0 || dstH <= 0) return;
    const int64_t srcW = source.width(), srcH = source.height();

    const int32_t xBegin = std::max<int32_t>(rect.Left, 0), xEnd = std::min<int32_t>(rect.Right, dst->width());
    const int32_t yBegin = std::max<int32_t>(rect.Top, 0), yEnd = std::min<int32_t>(rect.Bottom, dst->height());
    if (xBegin >= xEnd || yBegin >= yEnd) return;
    const int32_t count = xEnd - xBegin;
    const bool keyed = key != clNone;
    const TColor keyColor = keyed ? colorToRGB(key) : 0;
    const bool unscaled = dstW == srcW && dstH == srcH;

    // Whole-row copy when nothing needs converting.
    if (unscaled && !keyed && sameFormat(source, *dst)) {
        const size_t bytes = static_cast<size_t>(dst->bitsPerPixel() / 8);
        const size_t span = bytes * static_cast<size_t>(count);
        const size_t srcOffset = bytes * static_cast<size_t>(xBegin - rect.Left);
        const size_t dstOffset = bytes * static_cast<size_t>(xBegin);
        for (int32_t y = yBegin; y < yEnd; ++y)
            std::memmove(dst->row(y) + dstOffset, source.row(y - rect.Top) + srcOffset, span);
        if (OnChange) OnChange();
        return;
    }

    // Source column of every visible destination column (colour on colour:
    // truncated, nothing averaged).
    std::vector<int32_t> columns(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i)
        columns[static_cast<size_t>(i)] = static_cast<int32_t>((int64_t(xBegin + i) - rect.Left) * srcW / dstW);
    const int32_t sxFirst = columns.front(), sxLast = columns.back();
    const int32_t srcSpan = sxLast - sxFirst + 1;
    const bool direct = srcSpan == count;  // no horizontal scaling: converted row is the output row

    const TColor zeroColor = colorToRGB(Font.color), oneColor = colorToRGB(Brush.color);
    std::vector<uint8_t> converted(3 * static_cast<size_t>(srcSpan));
    std::vector<uint8_t> out(direct ? 0 : 3 * static_cast<size_t>(count));
    int32_t convertedRow = -1;
    for (int32_t y = yBegin; y < yEnd; ++y) {
        const int32_t sy = static_cast<int32_t>((int64_t(y) - rect.Top) * srcH / dstH);
        if (sy != convertedRow) {
            sourceRowBGR(source, sy, sxFirst, srcSpan, zeroColor, oneColor, converted.data());
            convertedRow = sy;
            if (!direct) {
                for (int32_t i = 0; i < count; ++i)
                    std::memcpy(&out[3 * static_cast<size_t>(i)],
                                &converted[3 * static_cast<size_t>(columns[static_cast<size_t>(i)] - sxFirst)], 3);
            }
        }
        const uint8_t* pixels = direct ? converted.data() : out.data();
        if (!keyed) {
            dst->rowFromBGR(y, xBegin, count, pixels);
            continue;
        }
        // Write only the runs of pixels that differ from the key colour, so
        // the destination under key-coloured pixels stays exactly as it was.
        int32_t i = 0;
        while (i < count) {
            auto isKey = [&](int32_t k) {
                const uint8_t* p = pixels + 3 * static_cast<size_t>(k);
                return rgb(p[2], p[1], p[0]) == keyColor;
            };
            while (i < count && isKey(i)) ++i;
            int32_t start = i;
            while (i < count && !isKey(i)) ++i;
            if (i > start) dst->rowFromBGR(y, xBegin + start, i - start, pixels + 3 * static_cast<size_t>(start));
        }
    }
    if (OnChange) OnChange();
}

}  // namespace glx
