#include "png/pixel_rows.h"

#include <cstring>

#include "base/limits.h"
#include "png/chunk_ihdr.h"

namespace glx {

namespace {

inline uint32_t getPacked(const uint8_t* row, uint32_t k, uint32_t bits) {
    uint32_t bit = k * bits;
    return (row[bit >> 3] >> (8 - bits - (bit & 7))) & ((1u << bits) - 1);
}

inline void setPacked(uint8_t* row, uint32_t x, uint32_t bits, uint32_t value) {
    uint32_t bit = x * bits;
    uint32_t shift = 8 - bits - (bit & 7);
    uint8_t mask = static_cast<uint8_t>(((1u << bits) - 1) << shift);
    row[bit >> 3] = static_cast<uint8_t>((row[bit >> 3] & ~mask) | ((value << shift) & mask));
}

// The identity table: no gamma to apply, so rows can be moved without
// looking every sample up.
bool isIdentity(const std::array<uint8_t, 256>& table) {
    static const std::array<uint8_t, 256> identity = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i) t[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
        return t;
    }();
    return std::memcmp(table.data(), identity.data(), identity.size()) == 0;
}

}  // namespace

PngRowGeometry pngRowGeometry(uint8_t colorType, uint8_t bitDepth, uint32_t width) {
    const uint32_t channels = colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
    const uint32_t bits = channels * bitDepth;
    uint32_t distance = bits / 8;
    if (distance < 1) distance = 1;
    return {static_cast<uint32_t>(rowBytes(width, bits)), distance};
}

uint64_t pngImageDataBytes(uint8_t colorType, uint8_t bitDepth, uint32_t width, uint32_t height, bool interlaced) {
    if (!interlaced) return uint64_t(height) * (uint64_t(pngRowGeometry(colorType, bitDepth, width).rowBytes) + 1);
    uint64_t total = 0;
    for (const Adam7Pass& pass : kAdam7) {
        const uint32_t bytes = pngRowGeometry(colorType, bitDepth, passWidth(width, pass)).rowBytes;
        if (bytes == 0 || pass.row0 >= height) continue;
        total += uint64_t((height - pass.row0 + pass.rowStep - 1) / pass.rowStep) * (uint64_t(bytes) + 1);
    }
    return total;
}

void storePngRow(TChunkIHDR& h, const uint8_t* s, int32_t y, uint32_t x0, uint32_t dx, uint32_t n,
                 const std::array<uint8_t, 256>& dg) {
    uint8_t* d = h.PixelRow(y);
    uint8_t* a = h.AlphaRow(y);
    uint8_t* lo = h.LowByteRow(y);
    const uint32_t depth = h.BitDepth;
    switch (h.ColorType) {
        case 0:
        case 3:
            if (depth == 16) {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx) {
                    d[x] = s[2 * k];
                    lo[x] = s[2 * k + 1];
                }
            } else if (depth == 2) {
                // Held as 4-bit indices. Grey samples widen by 5 onto the
                // 16-step grey ramp (0, 85, 170, 255 stay exact); palette
                // indices stay as they are.
                const uint32_t scale = h.ColorType == 0 ? 5 : 1;
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx) setPacked(d, x, 4, getPacked(s, k, 2) * scale);
            } else if (dx == 1 && x0 == 0) {
                std::memcpy(d, s, static_cast<size_t>(rowBytes(n, depth)));
            } else if (depth == 8) {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx) d[x] = s[k];
            } else {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx) setPacked(d, x, depth, getPacked(s, k, depth));
            }
            break;
        case 2:
            if (depth == 8 && dx == 1 && isIdentity(dg)) {
                uint8_t* p = d + 3 * size_t(x0);
                for (uint32_t k = 0; k < n; ++k, s += 3, p += 3) {
                    p[0] = s[2];
                    p[1] = s[1];
                    p[2] = s[0];
                }
            } else if (depth == 8) {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx, s += 3) {
                    uint8_t* p = d + 3 * x;
                    p[0] = dg[s[2]];
                    p[1] = dg[s[1]];
                    p[2] = dg[s[0]];
                }
            } else {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx, s += 6) {
                    uint8_t* p = d + 3 * x;
                    uint8_t* q = lo + 3 * x;
                    p[0] = dg[s[4]];
                    p[1] = dg[s[2]];
                    p[2] = dg[s[0]];
                    q[0] = dg[s[5]];
                    q[1] = dg[s[3]];
                    q[2] = dg[s[1]];
                }
            }
            break;
        case 4:
            if (depth == 8) {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx, s += 2) {
                    d[x] = s[0];
                    a[x] = s[1];
                }
            } else {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx, s += 4) {
                    d[x] = s[0];
                    lo[x] = s[1];
                    a[x] = s[2];
                }
            }
            break;
        case 6:
            if (depth == 8 && dx == 1 && isIdentity(dg)) {
                uint8_t* p = d + 3 * size_t(x0);
                uint8_t* q = a + x0;
                for (uint32_t k = 0; k < n; ++k, s += 4, p += 3) {
                    p[0] = s[2];
                    p[1] = s[1];
                    p[2] = s[0];
                    q[k] = s[3];
                }
            } else if (depth == 8) {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx, s += 4) {
                    uint8_t* p = d + 3 * x;
                    p[0] = dg[s[2]];
                    p[1] = dg[s[1]];
                    p[2] = dg[s[0]];
                    a[x] = s[3];
                }
            } else {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx, s += 8) {
                    uint8_t* p = d + 3 * x;
                    uint8_t* q = lo + 3 * x;
                    p[0] = dg[s[4]];
                    p[1] = dg[s[2]];
                    p[2] = dg[s[0]];
                    q[0] = dg[s[5]];
                    q[1] = dg[s[3]];
                    q[2] = dg[s[1]];
                    a[x] = s[6];
                }
            }
            break;
        default:
            break;
    }
}

void loadPngRow(const TChunkIHDR& h, uint8_t* r, int32_t y, uint32_t x0, uint32_t dx, uint32_t n,
                const std::array<uint8_t, 256>& eg) {
    const uint8_t* s = h.PixelRow(y);
    const uint8_t* a = h.AlphaRow(y);
    const uint32_t depth = h.WrittenBitDepth();
    switch (h.ColorType) {
        case 0:
        case 3:
            if (depth == 16) {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx) {
                    r[2 * k] = s[x];
                    r[2 * k + 1] = 0;
                }
            } else if (dx == 1 && x0 == 0) {
                std::memcpy(r, s, static_cast<size_t>(rowBytes(n, depth)));
            } else if (depth == 8) {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx) r[k] = s[x];
            } else {
                std::memset(r, 0, static_cast<size_t>(rowBytes(n, depth)));
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx) setPacked(r, k, depth, getPacked(s, x, depth));
            }
            break;
        case 2:
            if (depth == 8) {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx, r += 3) {
                    const uint8_t* p = s + 3 * x;
                    r[0] = eg[p[2]];
                    r[1] = eg[p[1]];
                    r[2] = eg[p[0]];
                }
            } else {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx, r += 6) {
                    const uint8_t* p = s + 3 * x;
                    r[0] = eg[p[2]];
                    r[1] = 0;
                    r[2] = eg[p[1]];
                    r[3] = 0;
                    r[4] = eg[p[0]];
                    r[5] = 0;
                }
            }
            break;
        case 4:
            if (depth == 8) {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx, r += 2) {
                    r[0] = s[x];
                    r[1] = a[x];
                }
            } else {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx, r += 4) {
                    r[0] = s[x];
                    r[1] = 0;
                    r[2] = a[x];
                    r[3] = 0;
                }
            }
            break;
        case 6:
            if (depth == 8 && dx == 1 && isIdentity(eg)) {
                const uint8_t* p = s + 3 * size_t(x0);
                const uint8_t* q = a + x0;
                for (uint32_t k = 0; k < n; ++k, r += 4, p += 3) {
                    r[0] = p[2];
                    r[1] = p[1];
                    r[2] = p[0];
                    r[3] = q[k];
                }
            } else if (depth == 8) {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx, r += 4) {
                    const uint8_t* p = s + 3 * x;
                    r[0] = eg[p[2]];
                    r[1] = eg[p[1]];
                    r[2] = eg[p[0]];
                    r[3] = a[x];
                }
            } else {
                for (uint32_t k = 0, x = x0; k < n; ++k, x += dx, r += 8) {
                    const uint8_t* p = s + 3 * x;
                    r[0] = eg[p[2]];
                    r[1] = 0;
                    r[2] = eg[p[1]];
                    r[3] = 0;
                    r[4] = eg[p[0]];
                    r[5] = 0;
                    r[6] = a[x];
                    r[7] = 0;
                }
            }
            break;
        default:
            break;
    }
}

}  // namespace glx
