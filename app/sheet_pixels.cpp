#include "app/sheet_pixels.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

namespace glx::app {

namespace {

// Index of the first byte that is not 0 in [from, to), or to.
int32_t firstSet(const uint8_t* row, int32_t from, int32_t to) {
    for (int32_t x = from; x < to; ++x)
        if (row[x] != 0) return x;
    return to;
}

int32_t lastSet(const uint8_t* row, int32_t from, int32_t to) {
    for (int32_t x = to - 1; x >= from; --x)
        if (row[x] != 0) return x;
    return from - 1;
}

}  // namespace

PixelBox opaqueBounds(const SheetPicture& p) {
    if (p.alpha.empty()) return PixelBox{0, 0, p.width, p.height};
    int32_t top = 0;
    while (top < p.height && firstSet(p.alphaRow(top), 0, p.width) == p.width) ++top;
    if (top == p.height) return PixelBox{0, 0, 1, 1};
    int32_t bottom = p.height - 1;
    while (firstSet(p.alphaRow(bottom), 0, p.width) == p.width) --bottom;
    int32_t left = p.width, right = -1;
    for (int32_t y = top; y <= bottom; ++y) {
        const uint8_t* row = p.alphaRow(y);
        // Only the columns outside the bounds found so far are looked at.
        left = firstSet(row, 0, left);
        right = std::max(right, lastSet(row, right + 1, p.width));
    }
    return PixelBox{left, top, right - left + 1, bottom - top + 1};
}

SheetPicture cropPicture(const SheetPicture& p, const PixelBox& box) {
    SheetPicture out;
    out.width = box.w;
    out.height = box.h;
    out.bgr.resize(3 * size_t(box.w) * size_t(box.h));
    if (!p.alpha.empty()) out.alpha.resize(size_t(box.w) * size_t(box.h));
    for (int32_t y = 0; y < box.h; ++y) {
        std::memcpy(out.bgr.data() + 3 * size_t(box.w) * size_t(y), p.bgrRow(box.y + y) + 3 * size_t(box.x),
                    3 * size_t(box.w));
        if (!p.alpha.empty())
            std::memcpy(out.alpha.data() + size_t(box.w) * size_t(y), p.alphaRow(box.y + y) + box.x, size_t(box.w));
    }
    return out;
}

uint64_t pictureHash(const SheetPicture& p) {
    const std::hash<std::string_view> hash;
    auto bytes = [&](const std::vector<uint8_t>& v) {
        return hash(std::string_view(reinterpret_cast<const char*>(v.data()), v.size()));
    };
    uint64_t h = (uint64_t(uint32_t(p.width)) << 32) | uint32_t(p.height);
    h ^= bytes(p.bgr) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    h ^= bytes(p.alpha) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    return h;
}

bool samePixels(const SheetPicture& a, const SheetPicture& b) {
    return a.width == b.width && a.height == b.height && a.bgr == b.bgr && a.alpha == b.alpha;
}

void drawPicture(const SheetSurface& s, const SheetPicture& p, int32_t x, int32_t y) {
    for (int32_t row = 0; row < p.height; ++row) {
        std::memcpy(s.bgrRow(y + row) + 3 * size_t(x), p.bgrRow(row), 3 * size_t(p.width));
        if (uint8_t* alpha = s.alphaRow(y + row)) {
            if (const uint8_t* from = p.alphaRow(row)) std::memcpy(alpha + x, from, size_t(p.width));
            else std::memset(alpha + x, 255, size_t(p.width));
        }
    }
}

void extrudeEdges(const SheetSurface& s, int32_t x, int32_t y, int32_t w, int32_t h, int32_t ring) {
    if (ring <= 0 || w <= 0 || h <= 0) return;
    const int32_t left = std::max(0, x - ring), right = std::min(s.width, x + w + ring);
    // Sideways on the frame's own rows: the first and last pixel repeated.
    for (int32_t row = y; row < y + h; ++row) {
        if (row < 0 || row >= s.height) continue;
        uint8_t* bgr = s.bgrRow(row);
        uint8_t* alpha = s.alphaRow(row);
        for (int32_t col = left; col < right; ++col) {
            if (col >= x && col < x + w) {
                col = x + w - 1;
                continue;
            }
            const int32_t from = col < x ? x : x + w - 1;
            std::memcpy(bgr + 3 * size_t(col), bgr + 3 * size_t(from), 3);
            if (alpha) alpha[col] = alpha[from];
        }
    }
    // Up and down: the first and last widened rows repeated.
    if (left >= right) return;
    const size_t span = size_t(right - left);
    for (int32_t row = y - ring; row < y + h + ring; ++row) {
        if (row >= y && row < y + h) continue;
        if (row < 0 || row >= s.height) continue;
        const int32_t from = std::clamp(row < y ? y : y + h - 1, 0, s.height - 1);
        std::memcpy(s.bgrRow(row) + 3 * size_t(left), s.bgrRow(from) + 3 * size_t(left), 3 * span);
        if (s.alpha) std::memcpy(s.alphaRow(row) + left, s.alphaRow(from) + left, span);
    }
}

}  // namespace glx::app
