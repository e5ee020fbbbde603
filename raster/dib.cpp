#include "raster/dib.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "base/exception.h"
#include "base/limits.h"

namespace glx {

namespace {

// One colour channel of a bit-field pixel: where it sits and how wide it is.
struct Channel {
    int shift = 0;
    int bits = 0;

    explicit Channel(uint32_t mask) {
        if (mask == 0) return;
        shift = std::countr_zero(mask);
        bits = std::popcount(mask);
    }
    // Widens the channel's value to 8 bits by repeating its bits, so that
    // the largest value becomes 255.
    uint8_t extract(uint32_t value) const {
        if (bits == 0) return 0;
        uint32_t v = (value >> shift) & ((bits >= 32) ? 0xFFFFFFFFu : ((1u << bits) - 1));
        if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
        uint32_t out = 0;
        int pos = 8 - bits;
        out = v << pos;
        while (pos > 0) {
            pos -= bits;
            out |= pos >= 0 ? (v << pos) : (v >> -pos);
        }
        return static_cast<uint8_t>(out);
    }
    uint32_t pack(uint8_t value) const {
        if (bits == 0) return 0;
        uint32_t v = bits <= 8 ? (uint32_t(value) >> (8 - bits)) : (uint32_t(value) << (bits - 8));
        return v << shift;
    }
};

struct Layout {
    Channel red, green, blue;
};

Layout layoutFor(int bpp, const BitMasks& m) {
    BitMasks eff = m;
    if (eff.red == 0 && eff.green == 0 && eff.blue == 0) {
        if (bpp == 16) eff = BitMasks{0x7C00, 0x03E0, 0x001F};
        else eff = BitMasks{0xFF0000, 0x00FF00, 0x0000FF};
    }
    return Layout{Channel(eff.red), Channel(eff.green), Channel(eff.blue)};
}

bool defaultMasks(const BitMasks& m) { return m.red == 0 && m.green == 0 && m.blue == 0; }

}  // namespace

Dib::Dib(int32_t width, int32_t height, int bitsPerPixel, std::vector<RGBQuad> colorTable, BitMasks masks)
    : m_colors(std::move(colorTable)), m_masks(masks) {
    if (!isDibBitDepth(bitsPerPixel)) throw EInvalidGraphic("Bitmap image is not valid");
    // The machine's bound; a reader has checked the limits it was given.
    checkPictureSize(Limits{}, width, height, static_cast<uint64_t>(bitsPerPixel));
    m_width = width;
    m_height = height;
    m_bpp = bitsPerPixel;
    m_stride = static_cast<size_t>(rowBytes(static_cast<uint64_t>(width), static_cast<uint64_t>(bitsPerPixel), 4));
    m_bits = LargeBuffer(m_stride * static_cast<size_t>(height));
}

uint32_t Dib::index(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) return 0;
    const uint8_t* r = row(y);
    switch (m_bpp) {
        case 1:
            return (r[x >> 3] >> (7 - (x & 7))) & 1;
        case 4:
            return (x & 1) ? (r[x >> 1] & 0x0F) : (r[x >> 1] >> 4);
        case 8:
            return r[x];
        default:
            return 0;
    }
}

void Dib::setIndex(int32_t x, int32_t y, uint32_t value) {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) return;
    uint8_t* r = row(y);
    switch (m_bpp) {
        case 1: {
            uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
            if (value & 1) r[x >> 3] |= bit;
            else r[x >> 3] &= static_cast<uint8_t>(~bit);
            break;
        }
        case 4:
            if (x & 1) r[x >> 1] = static_cast<uint8_t>((r[x >> 1] & 0xF0) | (value & 0x0F));
            else r[x >> 1] = static_cast<uint8_t>((r[x >> 1] & 0x0F) | ((value & 0x0F) << 4));
            break;
        case 8:
            r[x] = static_cast<uint8_t>(value);
            break;
        default:
            break;
    }
}

uint32_t Dib::nearestIndex(TColor color) const {
    int r = getRValue(color), g = getGValue(color), b = getBValue(color);
    uint32_t best = 0;
    int bestDistance = 0x7FFFFFFF;
    for (size_t i = 0; i < m_colors.size(); ++i) {
        const RGBQuad& q = m_colors[i];
        int dr = q.red - r, dg = q.green - g, db = q.blue - b;
        int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<uint32_t>(i);
            if (d == 0) break;
        }
    }
    return best;
}

TColor Dib::pixel(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) return 0;
    uint8_t bgr[3];
    rowToBGR(y, x, 1, bgr);
    return rgb(bgr[2], bgr[1], bgr[0]);
}

void Dib::setPixel(int32_t x, int32_t y, TColor color) {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) return;
    uint8_t bgr[3] = {getBValue(color), getGValue(color), getRValue(color)};
    rowFromBGR(y, x, 1, bgr);
}

void Dib::rowToBGR(int32_t y, int32_t x0, int32_t count, uint8_t* out) const {
    if (count <= 0) return;
    const uint8_t* r = row(y);
    switch (m_bpp) {
        case 1:
        case 4:
        case 8: {
            const size_t n = m_colors.size();
            for (int32_t i = 0; i < count; ++i) {
                int32_t x = x0 + i;
                uint32_t idx;
                if (m_bpp == 8) idx = r[x];
                else if (m_bpp == 4) idx = (x & 1) ? (r[x >> 1] & 0x0F) : (r[x >> 1] >> 4);
                else idx = (r[x >> 3] >> (7 - (x & 7))) & 1;
                uint8_t* o = out + 3 * static_cast<size_t>(i);
                if (idx < n) {
                    o[0] = m_colors[idx].blue;
                    o[1] = m_colors[idx].green;
                    o[2] = m_colors[idx].red;
                } else {
                    o[0] = o[1] = o[2] = 0;
                }
            }
            break;
        }
        case 24:
            std::memcpy(out, r + 3 * static_cast<size_t>(x0), 3 * static_cast<size_t>(count));
            break;
        case 32:
            if (defaultMasks(m_masks) || m_masks == BitMasks{0xFF0000, 0x00FF00, 0x0000FF}) {
                const uint8_t* s = r + 4 * static_cast<size_t>(x0);
                for (int32_t i = 0; i < count; ++i, s += 4, out += 3) {
                    out[0] = s[0];
                    out[1] = s[1];
                    out[2] = s[2];
                }
                break;
            }
            [[fallthrough]];
        case 16: {
            const Layout L = layoutFor(m_bpp, m_masks);
            const size_t bytes = static_cast<size_t>(m_bpp / 8);
            const uint8_t* s = r + bytes * static_cast<size_t>(x0);
            for (int32_t i = 0; i < count; ++i, s += bytes, out += 3) {
                uint32_t v = bytes == 2 ? uint32_t(s[0] | (s[1] << 8))
                                        : uint32_t(s[0]) | (uint32_t(s[1]) << 8) | (uint32_t(s[2]) << 16) |
                                              (uint32_t(s[3]) << 24);
                out[0] = L.blue.extract(v);
                out[1] = L.green.extract(v);
                out[2] = L.red.extract(v);
            }
            break;
        }
        default:
            break;
    }
}

void Dib::rowFromBGR(int32_t y, int32_t x0, int32_t count, const uint8_t* in) {
    if (count <= 0) return;
    uint8_t* r = row(y);
    switch (m_bpp) {
        case 1:
        case 4:
        case 8: {
            // Neighbouring pixels often share a colour: remember the last lookup.
            int32_t lastColor = -1;
            uint32_t lastIndex = 0;
            for (int32_t i = 0; i < count; ++i) {
                const uint8_t* p = in + 3 * static_cast<size_t>(i);
                int32_t c = rgb(p[2], p[1], p[0]);
                if (c != lastColor) {
                    lastColor = c;
                    lastIndex = nearestIndex(c);
                }
                int32_t x = x0 + i;
                if (m_bpp == 8) {
                    r[x] = static_cast<uint8_t>(lastIndex);
                } else {
                    setIndex(x, y, lastIndex);
                }
            }
            break;
        }
        case 24:
            std::memcpy(r + 3 * static_cast<size_t>(x0), in, 3 * static_cast<size_t>(count));
            break;
        case 32:
            if (defaultMasks(m_masks) || m_masks == BitMasks{0xFF0000, 0x00FF00, 0x0000FF}) {
                uint8_t* d = r + 4 * static_cast<size_t>(x0);
                for (int32_t i = 0; i < count; ++i, d += 4, in += 3) {
                    d[0] = in[0];
                    d[1] = in[1];
                    d[2] = in[2];
                    d[3] = 0;
                }
                break;
            }
            [[fallthrough]];
        case 16: {
            const Layout L = layoutFor(m_bpp, m_masks);
            const size_t bytes = static_cast<size_t>(m_bpp / 8);
            uint8_t* d = r + bytes * static_cast<size_t>(x0);
            for (int32_t i = 0; i < count; ++i, d += bytes, in += 3) {
                uint32_t v = L.blue.pack(in[0]) | L.green.pack(in[1]) | L.red.pack(in[2]);
                for (size_t k = 0; k < bytes; ++k) d[k] = static_cast<uint8_t>(v >> (8 * k));
            }
            break;
        }
        default:
            break;
    }
}

void Dib::fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1, TColor color) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, m_width);
    y1 = std::min(y1, m_height);
    if (x0 >= x1 || y0 >= y1) return;
    const int32_t count = x1 - x0;
    if (indexed()) {
        const uint32_t idx = nearestIndex(color);
        for (int32_t y = y0; y < y1; ++y) {
            if (m_bpp == 8) {
                std::memset(row(y) + x0, static_cast<int>(idx), static_cast<size_t>(count));
            } else {
                for (int32_t x = x0; x < x1; ++x) setIndex(x, y, idx);
            }
        }
        return;
    }
    // Build the first row of the span, then copy it to the others.
    std::vector<uint8_t> bgr(3 * static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        bgr[3 * static_cast<size_t>(i)] = getBValue(color);
        bgr[3 * static_cast<size_t>(i) + 1] = getGValue(color);
        bgr[3 * static_cast<size_t>(i) + 2] = getRValue(color);
    }
    rowFromBGR(y0, x0, count, bgr.data());
    const size_t bytes = static_cast<size_t>(m_bpp / 8);
    const size_t offset = bytes * static_cast<size_t>(x0);
    const size_t span = bytes * static_cast<size_t>(count);
    for (int32_t y = y0 + 1; y < y1; ++y) std::memcpy(row(y) + offset, row(y0) + offset, span);
}

void Dib::keepTopRows(int32_t newHeight) {
    if (newHeight <= 0 || newHeight >= m_height) return;
    m_height = newHeight;
    m_bits.shrink(m_stride * static_cast<size_t>(newHeight));
}

Dib Dib::resized(int32_t newWidth, int32_t newHeight, TColor fillColor) const {
    Dib out(newWidth, newHeight, m_bpp, m_colors, m_masks);
    const int32_t w = std::min(m_width, newWidth), h = std::min(m_height, newHeight);
    if (w <= 0 || h <= 0) {
        out.fill(0, 0, newWidth, newHeight, fillColor);
        return out;
    }
    if (m_bpp >= 8) {
        // Whole-byte pixels: copy the kept part and fill only the area
        // around it, so every byte of the new buffer is written once.
        const size_t span = static_cast<size_t>(m_bpp / 8) * static_cast<size_t>(w);
        for (int32_t y = 0; y < h; ++y) std::memcpy(out.row(y), row(y), span);
        out.fill(w, 0, newWidth, h, fillColor);
        out.fill(0, h, newWidth, newHeight, fillColor);
    } else {
        out.fill(0, 0, newWidth, newHeight, fillColor);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) out.setIndex(x, y, index(x, y));
    }
    return out;
}

}  // namespace glx
