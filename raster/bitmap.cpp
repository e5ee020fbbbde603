#include "raster/bitmap.h"

#include <algorithm>
#include <new>
#include <vector>

#include "base/exception.h"
#include "base/stream.h"
#include "raster/bmp.h"

namespace glx {

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int32_t width, int32_t height) { SetSize(width, height); }

TBitmap::~TBitmap() = default;

std::unique_ptr<TGraphic> TBitmap::NewEmpty() const { return std::make_unique<TBitmap>(); }

void TBitmap::assign(const TBitmap& source) {
    if (&source == this) return;
    m_dib = source.m_dib;
    m_transparentColor = source.m_transparentColor;
    m_transparent = source.m_transparent;
    m_os2 = source.m_os2;
    m_xPelsPerMeter = source.m_xPelsPerMeter;
    m_yPelsPerMeter = source.m_yPelsPerMeter;
    m_keptBytes = source.m_keptBytes;
    NotifyChange();
}

void TBitmap::CopyFrom(const TGraphic* source) {
    if (!source) {
        // Assigning nothing empties the bitmap.
        m_dib = Dib();
        m_keptBytes.clear();
        m_os2 = false;
        NotifyChange();
        return;
    }
    if (auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
        assign(*bitmap);
        return;
    }
    // Let the other kind copy itself in; its default CopyTo comes straight
    // back here, which the guard turns into the assignment error.
    if (m_inCopy) TGraphic::CopyFrom(source);
    m_inCopy = true;
    try {
        source->CopyTo(*this);
    } catch (...) {
        m_inCopy = false;
        throw;
    }
    m_inCopy = false;
}

void TBitmap::PaintOn(TCanvas& canvas, const TRect& rect) const {
    if (IsEmpty()) return;
    if (IsTransparent()) canvas.stretchDrawKeyed(m_dib, rect, TransparentColor());
    else canvas.stretchDraw(m_dib, rect);
}

bool TBitmap::IsEmpty() const { return m_dib.empty(); }

TColor TBitmap::growthFill() const {
    if (!m_canvas) return clWhite;
    if (m_canvas->Brush.style == TBrushStyle::Clear) return clBlack;  // nothing painted: cleared memory
    return colorToRGB(m_canvas->Brush.color);
}

void TBitmap::SetWidth(int32_t value) { SetSize(value, Height()); }

void TBitmap::SetHeight(int32_t value) { SetSize(Width(), value); }

void TBitmap::SetSize(int32_t width, int32_t height) {
    if (width == Width() && height == Height()) return;
    m_dib = m_dib.resized(width, height, growthFill());
    contentChanged();
    NotifyChange();
}

TCanvas& TBitmap::Canvas() {
    if (!m_canvas) {
        m_canvas = std::make_unique<TCanvas>(&m_dib);
        m_canvas->OnChange = [this] {
            contentChanged();
            NotifyChange();
        };
    }
    return *m_canvas;
}

Dib& TBitmap::Pixels() {
    contentChanged();
    return m_dib;
}

void TBitmap::SetDib(Dib dib) {
    m_dib = std::move(dib);
    contentChanged();
    NotifyChange();
}

void TBitmap::SetBitsPerPixel(int bitsPerPixel) {
    if (bitsPerPixel == m_dib.bitsPerPixel()) return;
    std::vector<RGBQuad> table;
    if (bitsPerPixel <= 8) {
        const size_t entries = size_t(1) << bitsPerPixel;
        if (m_dib.indexed() && !m_dib.colorTable().empty() && m_dib.colorTable().size() <= entries) {
            table = m_dib.colorTable();
        } else {
            table.resize(entries);
            for (size_t i = 0; i < entries; ++i) {
                auto v = static_cast<uint8_t>(i * 255 / (entries - 1));
                table[i] = RGBQuad{v, v, v, 0};
            }
        }
    }
    Dib converted(m_dib.width(), m_dib.height(), bitsPerPixel, std::move(table));
    std::vector<uint8_t> bgr(3 * static_cast<size_t>(std::max(m_dib.width(), 0)));
    for (int32_t y = 0; y < m_dib.height(); ++y) {
        m_dib.rowToBGR(y, 0, m_dib.width(), bgr.data());
        converted.rowFromBGR(y, 0, m_dib.width(), bgr.data());
    }
    m_dib = std::move(converted);
    m_os2 = false;
    contentChanged();
    NotifyChange();
}

TColor TBitmap::TransparentColor() const {
    if (m_transparentColor != clDefault) return colorToRGB(m_transparentColor);
    if (m_dib.bitsPerPixel() == 1) return clWhite;
    if (m_dib.empty()) return clBlack;
    return m_dib.pixel(0, m_dib.height() - 1);
}

void TBitmap::SetTransparentColor(TColor color) {
    if (color == m_transparentColor) return;
    m_transparentColor = color;
    NotifyChange();
}

void TBitmap::contentChanged() { m_keptBytes.clear(); }

void TBitmap::ReadFrom(TStream& stream) {
    // Decode completely before touching this bitmap, so a failure keeps
    // the previous content.
    BmpImage image = readBmp(stream, ReadLimits());
    m_dib = std::move(image.dib);
    m_os2 = image.os2;
    m_xPelsPerMeter = image.xPelsPerMeter;
    m_yPelsPerMeter = image.yPelsPerMeter;
    m_keptBytes = std::move(image.keptBytes);
    NotifyChange();
}

void TBitmap::WriteTo(TStream& stream) const {
    if (!m_keptBytes.empty()) {
        stream.writeBuffer(m_keptBytes.data(), m_keptBytes.size());
        return;
    }
    if (m_dib.empty()) return;  // an empty bitmap is an empty file
    encodeBmp(stream, m_dib, m_os2, m_xPelsPerMeter, m_yPelsPerMeter);
}

}  // namespace glx
