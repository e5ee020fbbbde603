#include "gif/gif_render.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "gif/gif_image.h"
#include "raster/canvas.h"

namespace glx {

namespace {

const char* const kRendering = "Rendering...";

std::vector<RGBQuad> tableFromMap(const TGIFColorMap& map) {
    std::vector<RGBQuad> table;
    table.reserve(static_cast<size_t>(map.EntryCount()));
    for (const auto& e : map.Entries()) table.push_back(RGBQuad{e.Blue, e.Green, e.Red, 0});
    return table;
}

// Clears a flag when the scope ends, also by an exception.
struct FlagGuard {
    bool& flag;
    explicit FlagGuard(bool& f) : flag(f) { flag = true; }
    ~FlagGuard() { flag = false; }
};

// Floor division for a positive divisor.
int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// Tiles k = 0, 1, ... start at base + k * step while the start lies before
// limit; only those that reach into [0, surfaceEnd) matter. A step of 0
// places a single tile. Answers the range [first, end) of such k.
void tileRange(int64_t base, int64_t step, int64_t size, int64_t limit, int64_t surfaceEnd, int64_t& first,
               int64_t& end) {
    first = 0;
    end = base < limit ? 1 : 0;
    if (step <= 0 || end == 0) return;
    end = (limit - base + step - 1) / step;
    // Tiles that end at or before 0 and those that start at or after the
    // surface's end change nothing.
    if (base + size <= 0) first = std::max<int64_t>(first, floorDiv(-(base + size), step) + 1);
    if (surfaceEnd - base <= 0)
        end = 0;
    else
        end = std::min<int64_t>(end, (surfaceEnd - base + step - 1) / step);
}

// Draws the frame bitmap into target: pixels under a mask bit 1 keep the
// surface's pixel, the others take the frame pixel's table colour. Scaled
// by sampling (destination pixel takes the source pixel at the truncated
// scaled position), as the canvas scales. Works on whole rows, writing
// only the runs of opaque pixels.
void drawMasked(TDib& dst, const TDib& src, const TGIFTransparencyMask& mask, const TRect& target) {
    const int64_t dstW = target.width(), dstH = target.height();
    if (dstW <= 0 || dstH <= 0 || src.empty() || dst.empty()) return;
    const int64_t srcW = src.width(), srcH = src.height();
    const int32_t xBegin = std::max<int32_t>(target.Left, 0), xEnd = std::min<int32_t>(target.Right, dst.width());
    const int32_t yBegin = std::max<int32_t>(target.Top, 0), yEnd = std::min<int32_t>(target.Bottom, dst.height());
    if (xBegin >= xEnd || yBegin >= yEnd) return;
    const int32_t count = xEnd - xBegin;

    std::vector<int32_t> columns(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i)
        columns[static_cast<size_t>(i)] = static_cast<int32_t>((int64_t(xBegin + i) - target.Left) * srcW / dstW);

    std::array<uint8_t, 256 * 3> bgr{};  // black beyond the table
    const auto& table = src.colorTable();
    for (size_t i = 0; i < table.size() && i < 256; ++i) {
        bgr[i * 3] = table[i].blue;
        bgr[i * 3 + 1] = table[i].green;
        bgr[i * 3 + 2] = table[i].red;
    }

    std::vector<uint8_t> out(3 * static_cast<size_t>(count));
    for (int32_t y = yBegin; y < yEnd; ++y) {
        const int32_t sy = static_cast<int32_t>((int64_t(y) - target.Top) * srcH / dstH);
        const uint8_t* srow = src.row(sy);
        int32_t i = 0;
        while (i < count) {
            while (i < count && mask.transparent(columns[static_cast<size_t>(i)], sy)) ++i;
            const int32_t start = i;
            while (i < count && !mask.transparent(columns[static_cast<size_t>(i)], sy)) {
                const uint8_t* c = &bgr[size_t(srow[columns[static_cast<size_t>(i)]]) * 3];
                uint8_t* o = &out[static_cast<size_t>(i) * 3];
                o[0] = c[0];
                o[1] = c[1];
                o[2] = c[2];
                ++i;
            }
            if (i > start) dst.rowFromBGR(y, xBegin + start, i - start, &out[static_cast<size_t>(start) * 3]);
        }
    }
}

}  // namespace

int32_t mulDiv(int64_t a, int64_t b, int64_t c) {
    if (c == 0) return -1;
    int64_t num = a * b;
    bool negative = (num < 0) != (c < 0);
    int64_t an = num < 0 ? -num : num, ac = c < 0 ? -c : c;
    int64_t q = (an + ac / 2) / ac;  // halves away from zero
    if (negative) q = -q;
    return static_cast<int32_t>(std::clamp<int64_t>(q, INT32_MIN, INT32_MAX));
}

// ---------------------------------------------------------------- colour tables

std::vector<RGBQuad> TGIFImage::ColorTable() {
    if (m_palette) return *m_palette;
    // The dithering path of palette displays is never taken here: the
    // target system always has a true-colour display.
    if (m_header->GlobalColors().EntryCount() > 0) {
        m_palette = std::make_unique<std::vector<RGBQuad>>(tableFromMap(m_header->GlobalColors()));
        return *m_palette;
    }
    if (m_frames->ItemCount() == 0) return {};
    if (m_resolvingPalette) throw GIFException("No global or local color table defined");
    FlagGuard guard(m_resolvingPalette);
    return (*m_frames)[0].ColorTable();
}

std::vector<RGBQuad> TGIFSubImage::ColorTable() {
    if (m_cache && m_cache->bitmap) return m_cache->bitmap->colorTable();
    if (m_cache && m_cache->palette) return *m_cache->palette;
    if (m_localColors.EntryCount() > 0) {
        if (!m_cache) m_cache = std::make_unique<TGIFFrameCache>();
        m_cache->palette = std::make_unique<std::vector<RGBQuad>>(tableFromMap(m_localColors));
        return *m_cache->palette;
    }
    return m_image->ColorTable();
}

// ---------------------------------------------------------------- bitmap and mask

void TGIFSubImage::dropCache() { m_cache.reset(); }

const TDib* TGIFSubImage::FrameBitmap() {
    if (IsEmpty()) return nullptr;
    if (!m_cache) m_cache = std::make_unique<TGIFFrameCache>();
    if (m_cache->bitmap) return m_cache->bitmap.get();

    m_image->Progress(TProgressStage::Starting, 0, false, kRendering);
    try {
        const bool buildMask = m_cache->maskPending && m_hasTransparency;
        m_cache->maskPending = false;
        const uint8_t transparentIndex = m_gce ? m_gce->TransparentIndex() : 0;

        std::vector<RGBQuad> table = ColorTable();
        table.resize(256);  // indices beyond the frame's table show black
        auto bitmap = std::make_unique<TDib>(m_width, m_height, 8, std::move(table));

        std::unique_ptr<TGIFTransparencyMask> mask;
        if (buildMask) {
            mask = std::make_unique<TGIFTransparencyMask>();
            mask->width = m_width;
            mask->height = m_height;
            mask->stride = (static_cast<size_t>(m_width) + 15) / 16 * 2;
            mask->bits.assign(mask->stride * static_cast<size_t>(m_height), 0);
        }
        bool anyTransparent = false;
        const size_t w = static_cast<size_t>(m_width);
        for (int32_t y = 0; y < m_height; ++y) {
            if (y % 32 == 0)
                m_image->Progress(TProgressStage::Running, static_cast<int>(std::lround(y * 100.0 / m_height)), false,
                                  kRendering);
            const uint8_t* src = m_indexData.data() + static_cast<size_t>(y) * w;
            std::copy(src, src + w, bitmap->row(y));
            if (mask) {
                uint8_t* mrow = mask->bits.data() + static_cast<size_t>(y) * mask->stride;
                for (size_t x = 0; x < w; ++x)
                    if (src[x] == transparentIndex) {
                        mrow[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
                        anyTransparent = true;
                    }
            }
        }
        m_cache->bitmap = std::move(bitmap);
        if (mask && anyTransparent) m_cache->mask = std::move(mask);
    } catch (...) {
        m_image->Progress(TProgressStage::Ending, 0, false, kRendering);
        throw;
    }
    m_image->Progress(TProgressStage::Ending, 100, false, kRendering);
    return m_cache->bitmap.get();
}

bool TGIFSubImage::HasMask() {
    if (IsEmpty()) return false;
    if (!m_cache || (m_cache->maskPending && m_hasTransparency)) {
        if (m_cache) m_cache->bitmap.reset();
        FrameBitmap();
    }
    return m_cache && m_cache->mask != nullptr;
}

const TGIFTransparencyMask* TGIFSubImage::TransparencyMask() { return HasMask() ? m_cache->mask.get() : nullptr; }

// ---------------------------------------------------------------- drawing

void TGIFSubImage::PaintTo(TCanvas& canvas, const TRect& rect, bool withTransparency, bool tiled) {
    if (IsEmpty() || !canvas.surface()) return;
    const TDib* bitmap = FrameBitmap();
    if (!bitmap) return;
    const bool transparent = withTransparency && m_hasTransparency && HasMask();
    bitmap = FrameBitmap();  // HasMask may have rebuilt it
    const TGIFTransparencyMask* mask = transparent ? m_cache->mask.get() : nullptr;
    TDib& surface = *canvas.surface();

    auto drawTile = [&](const TRect& target) {
        if (mask)
            drawMasked(surface, *bitmap, *mask, target);
        else
            canvas.stretchDraw(*bitmap, target);
    };

    if (!tiled) {
        const int64_t W = m_image->Width(), H = m_image->Height();
        const int64_t rw = int64_t(rect.Right) - rect.Left, rh = int64_t(rect.Bottom) - rect.Top;
        auto coord = [](int64_t origin, int32_t offset) {
            return static_cast<int32_t>(std::clamp<int64_t>(origin + offset, INT32_MIN, INT32_MAX));
        };
        const TRect target{coord(rect.Left, mulDiv(m_left, rw, W)), coord(rect.Top, mulDiv(m_top, rh, H)),
                           coord(rect.Left, mulDiv(int64_t(m_left) + m_width, rw, W)),
                           coord(rect.Top, mulDiv(int64_t(m_top) + m_height, rh, H))};
        drawTile(target);
    } else {
        // Unscaled tiles of the frame, one logical screen apart, column by
        // column. A logical screen dimension of 0 places a single tile in
        // that direction.
        const int64_t W = m_image->Width(), H = m_image->Height();
        const int64_t baseX = int64_t(rect.Left) + m_left, baseY = int64_t(rect.Top) + m_top;
        int64_t i0, i1, j0, j1;
        tileRange(baseX, W, m_width, rect.Right, surface.width(), i0, i1);
        tileRange(baseY, H, m_height, rect.Bottom, surface.height(), j0, j1);
        for (int64_t i = i0; i < i1; ++i)
            for (int64_t j = j0; j < j1; ++j) {
                const int64_t x = baseX + i * W, y = baseY + j * H;
                drawTile(TRect{static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(x + m_width),
                               static_cast<int32_t>(y + m_height)});
            }
    }
    if (mask && canvas.OnChange) canvas.OnChange();
}

void TGIFImage::PaintOn(TCanvas& canvas, const TRect& rect) const {
    // A nested draw of the same image (a change handler drawing it again)
    // returns at once.
    if (m_frames->ItemCount() == 0 || m_painting) return;
    FlagGuard guard(m_painting);
    // Frame 0 composed with its transparency over the target: what a GIF
    // drawn as a picture shows, whether it has one frame or several.
    (*m_frames)[0].PaintTo(canvas, rect, (RenderOptions & goTransparent) != 0, (RenderOptions & goTile) != 0);
}

}  // namespace glx
