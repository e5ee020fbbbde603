#include "app/alpha.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "png/chunk_ancillary.h"
#include "png/png_format.h"
#include "png/png_object.h"

namespace glx::app {

namespace {

bool hasAlpha(const TPNGObject& image) {
    const uint8_t ct = image.HeaderChunk().ColorType;
    return ct == 4 || ct == 6;
}

// 8-bit RGB in memory: blue, green, red bytes a pixel.
bool isRgb(const TPNGObject& image) {
    const uint8_t ct = image.HeaderChunk().ColorType;
    return ct == 2 || ct == 6;
}

// The visited span of an inclusive range clipped to [0, size - 1].
struct Span {
    int32_t first, last;  // empty when first > last
};
Span clip(int64_t from, int64_t to, int64_t size) {
    return Span{static_cast<int32_t>(std::max<int64_t>(from, 0)),
                static_cast<int32_t>(std::min<int64_t>(to, size - 1))};
}

inline TColor bgrAt(const uint8_t* row, int32_t x) {
    const uint8_t* p = row + 3 * static_cast<size_t>(x);
    return rgb(p[2], p[1], p[0]);
}

// v / 255 rounded to single precision.
float unit(uint8_t v) { return static_cast<float>(static_cast<long double>(v) / 255.0L); }

uint8_t scaleRound(long double v) {
    // 255 * v rounded to nearest, ties to even; the low byte is kept.
    long double scaled = 255.0L * v;
    long long r = std::llrint(scaled);
    return static_cast<uint8_t>(r & 0xFF);
}

// Alpha of a fragment pixel that has no alpha plane but a tRNS chunk.
class TrnsAlpha {
public:
    explicit TrnsAlpha(const TPNGObject& image) : m_image(image) {
        const TChunkIHDR& header = image.HeaderChunk();
        m_palette = header.ColorType == kColorPalette;
        if (auto* trns = image.Chunks().FindByClass<TChunktRNS>()) {
            m_values = trns->AlphaValues;
            m_count = m_palette ? std::min<int32_t>(trns->PayloadSize(), 256) : 0;
        }
        m_key = image.TransparentKeyColor();
    }
    uint8_t at(int32_t x, int32_t y, TColor color) const {
        if (m_palette) {
            uint32_t index = m_image.HeaderChunk().Pixels().index(x, y);
            return static_cast<int32_t>(index) < m_count ? m_values[index] : 255;
        }
        return color == m_key ? 0 : 255;
    }

private:
    const TPNGObject& m_image;
    bool m_palette = false;
    std::array<uint8_t, 256> m_values{};
    int32_t m_count = 0;
    TColor m_key = 0;
};

}  // namespace

BlendResult blendPixel(uint8_t sr, uint8_t sg, uint8_t sb, uint8_t sa, uint8_t dr, uint8_t dg, uint8_t db, uint8_t da) {
    const float as = unit(sa), ad = unit(da);
    const float e = static_cast<float>(static_cast<long double>(as) +
                                       (1.0L - static_cast<long double>(as)) * static_cast<long double>(ad));
    const long double reciprocal = e > 0 ? 1.0L / static_cast<long double>(e) : 0.0L;
    auto channel = [&](uint8_t s, uint8_t d) -> uint8_t {
        const float cs = unit(s), cd = unit(d);
        float c = cs;
        if (e > 0)
            c = static_cast<float>(reciprocal *
                                   (static_cast<long double>(cs) * as +
                                    static_cast<long double>(cd) * ad * (1.0L - static_cast<long double>(as))));
        return scaleRound(c);
    };
    BlendResult out;
    out.red = channel(sr, dr);
    out.green = channel(sg, dg);
    out.blue = channel(sb, db);
    out.alpha = scaleRound(e);
    return out;
}

void setAlpha(uint16_t& phase, const std::unique_ptr<TPNGObject>& image, const TRect& rect, uint8_t alpha) {
    phase = 1000;
    if (!image || !hasAlpha(*image)) return;
    phase = 1001;
    const Span xs = clip(rect.Left, rect.Right, image->Width());
    const Span ys = clip(rect.Top, rect.Bottom, image->Height());
    if (xs.first > xs.last) return;
    for (int32_t y = ys.first; y <= ys.last; ++y)
        std::memset(image->AlphaRow(y) + xs.first, alpha,
                    static_cast<size_t>(xs.last) - static_cast<size_t>(xs.first) + 1);
}

void fillColor(uint16_t& phase, const std::unique_ptr<TPNGObject>& image, const TRect& rect, TColor color) {
    phase = 1010;
    if (!image) return;
    TCanvas& canvas = image->Canvas();
    canvas.Brush.setColor(color);
    canvas.FillArea(rect);
}

void keyToAlpha(uint16_t& phase, const std::unique_ptr<TPNGObject>& image, const TRect& rect, TColor key,
                uint8_t filter) {
    phase = 1000;
    if (!image || !hasAlpha(*image)) return;
    phase = 1001;
    TPNGObject& img = *image;
    const int32_t w = img.Width(), h = img.Height();
    const Span xs = clip(rect.Left, rect.Right, w);
    const Span ys = clip(rect.Top, rect.Bottom, h);
    if (xs.first > xs.last || ys.first > ys.last) return;

    const bool rgbRows = isRgb(img);
    // Row y's colour bytes when they can be read directly (found once per
    // row, not per pixel), otherwise null and each pixel goes through PixelAt.
    auto rowOf = [&](int32_t y) -> const uint8_t* { return rgbRows ? img.PixelRow(y) : nullptr; };
    auto colorAt = [&](const uint8_t* row, int32_t x, int32_t y) { return row ? bgrAt(row, x) : img.PixelAt(x, y); };

    // Key flags of rows y - 1, y and y + 1 (with a zero border column each
    // side), rolled down the image; colours are only read, so the results
    // do not depend on the visiting order.
    const size_t rowLen = static_cast<size_t>(w) + 2;
    std::vector<uint8_t> flags(3 * rowLen, 0);
    auto fillFlags = [&](uint8_t* out, int32_t y) {
        std::memset(out, 0, rowLen);
        if (y < 0 || y >= h) return;
        const uint8_t* row = rowOf(y);
        for (int32_t x = 0; x < w; ++x) out[x + 1] = colorAt(row, x, y) == key;
    };
    uint8_t* above = flags.data();
    uint8_t* here = above + rowLen;
    uint8_t* below = here + rowLen;
    if (filter != 0) {
        fillFlags(above, ys.first - 1);
        fillFlags(here, ys.first);
    }
    const int32_t step = 10 * (filter % 10);
    const int32_t tens = filter / 10;

    for (int32_t y = ys.first; y <= ys.last; ++y) {
        uint8_t* alpha = img.AlphaRow(y);
        const uint8_t* row = rowOf(y);
        if (filter == 0) {
            for (int32_t x = xs.first; x <= xs.last; ++x)
                if (colorAt(row, x, y) == key) alpha[x] = 0;
            continue;
        }
        fillFlags(below, y + 1);
        for (int32_t x = xs.first; x <= xs.last; ++x) {
            const size_t i = static_cast<size_t>(x) + 1;
            if (here[i]) alpha[x] = 0;
            const int n = above[i - 1] + above[i] + above[i + 1] + here[i - 1] + here[i + 1] + below[i - 1] + below[i] +
                          below[i + 1];
            if (n < 2) continue;
            const uint8_t a = static_cast<uint8_t>((n == 2 ? 55 : 0) + step);
            const TColor c = colorAt(row, x, y);
            const int sum = getRValue(c) + getGValue(c) + getBValue(c);
            if (tens >= 10) {
                if (sum <= (tens - 10) * 30) alpha[x] = a;
            } else {
                if (765 - sum <= tens * 30) alpha[x] = a;
            }
        }
        std::swap(above, here);
        std::swap(here, below);
    }
}

void pastePng(uint16_t& phase, const std::unique_ptr<TPNGObject>& target, const std::unique_ptr<TPNGObject>& fragment,
              const TRect& rect, uint8_t mode) {
    phase = 1030;
    if (!target || !fragment) return;
    TPNGObject& p = *target;
    TPNGObject& q = *fragment;
    if (!hasAlpha(p)) {
        q.PaintOn(p.Canvas(), rect);
        return;
    }
    // A fragment without an alpha plane but with a tRNS chunk keeps its
    // transparency: its alpha comes from the chunk, pixel by pixel.
    const bool trns = !hasAlpha(q) && q.TransparencyKind() != trNone;
    if (!hasAlpha(q) && !trns) {
        setAlpha(phase, target, rect, 255);
        q.PaintOn(p.Canvas(), rect);
        return;
    }
    phase = 1031;
    // Visited positions: inside the rectangle (edges included), the target
    // and the fragment placed at the rectangle's corner.
    const Span xs = clip(rect.Left, std::min<int64_t>(rect.Right, int64_t(rect.Left) + q.Width() - 1), p.Width());
    const Span ys = clip(rect.Top, std::min<int64_t>(rect.Bottom, int64_t(rect.Top) + q.Height() - 1), p.Height());
    if (xs.first > xs.last || ys.first > ys.last || mode > kSubtract) return;
    const int32_t count = xs.last - xs.first + 1;
    const bool fastTarget = isRgb(p), fastSource = isRgb(q);
    std::unique_ptr<TrnsAlpha> trnsAlpha = trns ? std::make_unique<TrnsAlpha>(q) : nullptr;

    for (int32_t y = ys.first; y <= ys.last; ++y) {
        const int32_t sy = y - rect.Top;
        uint8_t* da = p.AlphaRow(y);
        const uint8_t* sa = trns ? nullptr : q.AlphaRow(sy);
        const int32_t sx0 = xs.first - rect.Left;

        if (mode == kSubtract) {
            for (int32_t i = 0; i < count; ++i) {
                const int32_t x = xs.first + i;
                const uint8_t s = trns ? trnsAlpha->at(sx0 + i, sy, q.PixelAt(sx0 + i, sy)) : sa[sx0 + i];
                da[x] = da[x] > s ? static_cast<uint8_t>(da[x] - s) : 0;
            }
            continue;
        }
        if (mode == kExact && fastTarget && fastSource && !trns) {
            std::memcpy(da + xs.first, sa + sx0, static_cast<size_t>(count));
            std::memcpy(p.PixelRow(y) + 3 * static_cast<size_t>(xs.first),
                        q.PixelRow(sy) + 3 * static_cast<size_t>(sx0), 3 * static_cast<size_t>(count));
            continue;
        }
        uint8_t* drow = fastTarget ? p.PixelRow(y) : nullptr;
        const uint8_t* srow = fastSource ? q.PixelRow(sy) : nullptr;
        for (int32_t i = 0; i < count; ++i) {
            const int32_t x = xs.first + i, sx = sx0 + i;
            const TColor sc = srow ? bgrAt(srow, sx) : q.PixelAt(sx, sy);
            const uint8_t s = trns ? trnsAlpha->at(sx, sy, sc) : sa[sx];
            TColor dc;
            if (mode == kExact) {
                da[x] = s;
                dc = sc;
            } else {
                const TColor old = drow ? bgrAt(drow, x) : p.PixelAt(x, y);
                BlendResult b = blendPixel(getRValue(sc), getGValue(sc), getBValue(sc), s, getRValue(old),
                                           getGValue(old), getBValue(old), da[x]);
                da[x] = b.alpha;
                dc = rgb(b.red, b.green, b.blue);
            }
            if (drow) {
                uint8_t* d = drow + 3 * static_cast<size_t>(x);
                d[0] = getBValue(dc);
                d[1] = getGValue(dc);
                d[2] = getRValue(dc);
            } else {
                p.SetPixelAt(x, y, dc);
            }
        }
    }
}

}  // namespace glx::app
