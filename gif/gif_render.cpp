#include "gif/gif_render.h"

#include "base/arith.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

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
    if (surfaceEnd - base <= 0) end = 0;
    else end = std::min<int64_t>(end, (surfaceEnd - base + step - 1) / step);
}

// The frame's rows as a draw reads them: row(sy) points at column left of
// frame row sy.
struct FrameRows {
    const GifFrameWindow* window = nullptr;  // decoded rows of part of the frame, or
    const uint8_t* indices = nullptr;  // the whole frame's indices
    size_t stride = 0;
    int32_t left = 0;
    const uint8_t* row(int32_t sy) const {
        return window ? window->row(sy) : indices + static_cast<size_t>(sy) * stride;
    }
};

// What a draw into target on surface samples of a srcW x srcH frame: each
// visible destination pixel takes the source pixel at the truncated scaled
// position, as the canvas scales. Empty when nothing is visible.
TRect sampledArea(const TRect& target, const Dib& surface, int64_t srcW, int64_t srcH) {
    const int64_t dstW = int64_t(target.Right) - target.Left, dstH = int64_t(target.Bottom) - target.Top;
    if (dstW <= 0 || dstH <= 0 || srcW <= 0 || srcH <= 0 || surface.empty()) return TRect{};
    const int32_t xBegin = std::max<int32_t>(target.Left, 0), xEnd = std::min<int32_t>(target.Right, surface.width());
    const int32_t yBegin = std::max<int32_t>(target.Top, 0), yEnd = std::min<int32_t>(target.Bottom, surface.height());
    if (xBegin >= xEnd || yBegin >= yEnd) return TRect{};
    auto at = [](int64_t d, int32_t origin, int64_t src, int64_t dst) {
        return static_cast<int32_t>((d - origin) * src / dst);
    };
    return TRect{at(xBegin, target.Left, srcW, dstW), at(yBegin, target.Top, srcH, dstH),
                 at(xEnd - 1, target.Left, srcW, dstW) + 1, at(yEnd - 1, target.Top, srcH, dstH) + 1};
}

TRect unite(const TRect& a, const TRect& b) {
    if (a.width() <= 0 || a.height() <= 0) return b;
    if (b.width() <= 0 || b.height() <= 0) return a;
    return TRect{std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
                 std::max(a.Bottom, b.Bottom)};
}

bool contains(const TRect& outer, const TRect& inner) {
    return inner.Left >= outer.Left && inner.Top >= outer.Top && inner.Right <= outer.Right &&
           inner.Bottom <= outer.Bottom;
}

// Draws a srcW x srcH frame into target on the surface, scaled by sampling
// (see sampledArea), row by row. With a transparent index (>= 0) the pixels
// carrying it keep the surface's pixel and only the runs of the others are
// written; otherwise every pixel is written in its table colour, as the
// canvas draws an 8-bit bitmap with that table (a surface of the very same
// format takes the indices as they are). Answers whether anything was
// written or could have been.
bool drawFrame(Dib& dst, const FrameRows& rows, const std::vector<RGBQuad>& table, int64_t srcW, int64_t srcH,
               const TRect& target, int transparentIndex) {
    const TRect area = sampledArea(target, dst, srcW, srcH);
    if (area.width() <= 0) return false;
    const int64_t dstW = int64_t(target.Right) - target.Left, dstH = int64_t(target.Bottom) - target.Top;
    const int32_t xBegin = std::max<int32_t>(target.Left, 0), xEnd = std::min<int32_t>(target.Right, dst.width());
    const int32_t yBegin = std::max<int32_t>(target.Top, 0), yEnd = std::min<int32_t>(target.Bottom, dst.height());
    const int32_t count = xEnd - xBegin;
    const bool unscaled = dstW == srcW && dstH == srcH;

    // Source column (relative to rows.left) of every visible destination column.
    std::vector<int32_t> columns(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i)
        columns[static_cast<size_t>(i)] =
            static_cast<int32_t>((int64_t(xBegin + i) - target.Left) * srcW / dstW) - rows.left;

    if (transparentIndex < 0 && unscaled && dst.bitsPerPixel() == 8 && dst.masks() == BitMasks{} &&
        dst.colorTable() == table) {
        for (int32_t y = yBegin; y < yEnd; ++y)
            std::memcpy(dst.row(y) + xBegin, rows.row(y - target.Top) + columns[0], static_cast<size_t>(count));
        return true;
    }

    std::array<uint8_t, 256 * 3> bgr{};  // black beyond the table
    for (size_t i = 0; i < table.size() && i < 256; ++i) {
        bgr[i * 3] = table[i].blue;
        bgr[i * 3 + 1] = table[i].green;
        bgr[i * 3 + 2] = table[i].red;
    }
    std::vector<uint8_t> out(3 * static_cast<size_t>(count));
    for (int32_t y = yBegin; y < yEnd; ++y) {
        const int32_t sy = static_cast<int32_t>((int64_t(y) - target.Top) * srcH / dstH);
        const uint8_t* srow = rows.row(sy);
        int32_t i = 0;
        while (i < count) {
            if (transparentIndex >= 0)
                while (i < count && srow[columns[static_cast<size_t>(i)]] == transparentIndex) ++i;
            const int32_t start = i;
            while (i < count) {
                const uint8_t index = srow[columns[static_cast<size_t>(i)]];
                if (index == transparentIndex) break;
                std::memcpy(&out[static_cast<size_t>(i) * 3], &bgr[size_t(index) * 3], 3);
                ++i;
            }
            if (i > start) dst.rowFromBGR(y, xBegin + start, i - start, &out[static_cast<size_t>(start) * 3]);
        }
    }
    return true;
}

}  // namespace

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
        if (!m_cache) m_cache = std::make_unique<GifFrameCache>();
        m_cache->palette = std::make_unique<std::vector<RGBQuad>>(tableFromMap(m_localColors));
        return *m_cache->palette;
    }
    return m_image->ColorTable();
}

// ---------------------------------------------------------------- bitmap and mask

void TGIFSubImage::dropCache() { m_cache.reset(); }

void TGIFSubImage::ReleaseBitmaps() {
    if (!m_cache) return;
    m_cache->bitmap.reset();
    m_cache->mask.reset();
    m_cache->window.reset();
}

const Dib* TGIFSubImage::FrameBitmap() {
    if (IsEmpty()) return nullptr;
    if (!m_cache) m_cache = std::make_unique<GifFrameCache>();
    if (m_cache->bitmap) return m_cache->bitmap.get();

    m_image->Progress(TProgressStage::Starting, 0, false, kRendering);
    try {
        const uint8_t transparentIndex = m_gce ? m_gce->TransparentIndex() : 0;
        std::vector<RGBQuad> table = ColorTable();
        table.resize(256);  // indices beyond the frame's table show black
        const std::vector<uint8_t>& indices = IndexData();
        auto bitmap = std::make_unique<Dib>(m_width, m_height, 8, std::move(table));

        std::unique_ptr<GifTransparencyMask> mask;
        if (m_hasTransparency) {
            mask = std::make_unique<GifTransparencyMask>();
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
            const uint8_t* src = indices.data() + static_cast<size_t>(y) * w;
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
    if (IsEmpty() || !m_hasTransparency) return false;
    if (!m_indexDecoded) return m_anyTransparent;
    // The indices in memory are the frame's (they may have been written to).
    const uint8_t transparentIndex = m_gce ? m_gce->TransparentIndex() : 0;
    return std::find(m_indexData.begin(), m_indexData.end(), transparentIndex) != m_indexData.end();
}

const GifTransparencyMask* TGIFSubImage::TransparencyMask() {
    if (!HasMask()) return nullptr;
    if (m_cache && m_cache->bitmap && !m_cache->mask) m_cache->bitmap.reset();
    FrameBitmap();
    return m_cache->mask.get();
}

const GifFrameWindow& TGIFSubImage::frameWindow(const TRect& area) {
    if (!m_cache) m_cache = std::make_unique<GifFrameCache>();
    if (m_cache->window && contains(m_cache->window->area, area)) return *m_cache->window;
    m_cache->window.reset();

    m_image->Progress(TProgressStage::Starting, 0, false, kRendering);
    auto window = std::make_unique<GifFrameWindow>();
    try {
        window->area = area;
        const uint8_t fill = fillValue();
        const size_t width = static_cast<size_t>(area.width());
        window->rows.resize(static_cast<size_t>(area.height()));
        window->fillRow.assign(width, fill);
        int32_t missing = area.height(), done = 0;
        decodeRows([&](int y, const uint8_t* values, int count) {
            if (++done % 32 == 0)
                m_image->Progress(TProgressStage::Running, static_cast<int>(std::lround(done * 100.0 / m_height)),
                                  false, kRendering);
            if (y < area.Top || y >= area.Bottom) return true;
            std::vector<uint8_t>& row = window->rows[static_cast<size_t>(y - area.Top)];
            row.assign(width, fill);
            const int32_t end = std::min<int32_t>(area.Right, count);
            if (end > area.Left) std::copy(values + area.Left, values + end, row.begin());
            return --missing > 0;  // later rows are not needed
        });
    } catch (...) {
        m_image->Progress(TProgressStage::Ending, 0, false, kRendering);
        throw;
    }
    m_image->Progress(TProgressStage::Ending, 100, false, kRendering);
    m_cache->window = std::move(window);
    return *m_cache->window;
}

// ---------------------------------------------------------------- drawing

void TGIFSubImage::PaintTo(TCanvas& canvas, const TRect& rect, bool withTransparency, bool tiled) {
    if (IsEmpty() || !canvas.surface()) return;
    std::vector<RGBQuad> table = ColorTable();
    table.resize(256);  // indices beyond the frame's table show black
    const bool transparent = withTransparency && m_hasTransparency && HasMask();
    const int transparentIndex = transparent ? (m_gce ? m_gce->TransparentIndex() : 0) : -1;
    Dib& surface = *canvas.surface();

    // The rectangles the frame is drawn into: one, scaled into rect, or
    // unscaled tiles one logical screen apart, column by column (a logical
    // screen dimension of 0 places a single tile in that direction).
    const int64_t W = m_image->Width(), H = m_image->Height();
    auto forEachTarget = [&](const auto& visit) {
        if (!tiled) {
            const int64_t rw = int64_t(rect.Right) - rect.Left, rh = int64_t(rect.Bottom) - rect.Top;
            auto coord = [](int64_t origin, int32_t offset) {
                return static_cast<int32_t>(std::clamp<int64_t>(origin + offset, INT32_MIN, INT32_MAX));
            };
            visit(TRect{coord(rect.Left, mulDiv(m_left, rw, W)), coord(rect.Top, mulDiv(m_top, rh, H)),
                        coord(rect.Left, mulDiv(int64_t(m_left) + m_width, rw, W)),
                        coord(rect.Top, mulDiv(int64_t(m_top) + m_height, rh, H))});
            return;
        }
        const int64_t baseX = int64_t(rect.Left) + m_left, baseY = int64_t(rect.Top) + m_top;
        int64_t i0, i1, j0, j1;
        tileRange(baseX, W, m_width, rect.Right, surface.width(), i0, i1);
        tileRange(baseY, H, m_height, rect.Bottom, surface.height(), j0, j1);
        for (int64_t i = i0; i < i1; ++i)
            for (int64_t j = j0; j < j1; ++j) {
                const int64_t x = baseX + i * W, y = baseY + j * H;
                visit(TRect{static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(x + m_width),
                            static_cast<int32_t>(y + m_height)});
            }
    };

    // Only the part of the frame that the visible targets sample is decoded.
    TRect needed{};
    forEachTarget(
        [&](const TRect& target) { needed = unite(needed, sampledArea(target, surface, m_width, m_height)); });
    if (needed.width() > 0) {
        FrameRows rows;
        if (m_indexDecoded) {
            rows.indices = m_indexData.data();
            rows.stride = static_cast<size_t>(m_width);
        } else {
            rows.window = &frameWindow(needed);
            rows.left = needed.Left;
        }
        forEachTarget([&](const TRect& target) {
            if (drawFrame(surface, rows, table, m_width, m_height, target, transparentIndex) && !transparent &&
                canvas.OnChange)
                canvas.OnChange();
        });
    }
    if (transparent && canvas.OnChange) canvas.OnChange();
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
