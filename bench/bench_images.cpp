#include "bench/bench_images.h"

#include <algorithm>

#include "base/stream.h"
#include "png/pixel_rows.h"
#include "png/png_object.h"
#include "png/row_filters.h"

namespace glx::bench {

namespace {

// Small linear congruential generator: the same pictures on every run.
struct Lcg {
    uint32_t s;
    uint32_t next() { return s = s * 1664525u + 1013904223u; }
    uint8_t byte() { return static_cast<uint8_t>(next() >> 24); }
};

void photo(TPNGObject& img, Lcg& rng) {
    const int32_t w = img.Width(), h = img.Height();
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* p = img.PixelRow(y);
        uint8_t* a = img.AlphaRow(y);
        for (int32_t x = 0; x < w; ++x) {
            const int grain = (rng.byte() & 7) - 4;
            p[3 * x + 0] = static_cast<uint8_t>((x * 255 / w + grain) & 255);
            p[3 * x + 1] = static_cast<uint8_t>(((x + y) * 127 / (w + h) + 64 + grain) & 255);
            p[3 * x + 2] = static_cast<uint8_t>((y * 255 / h + grain) & 255);
            a[x] = static_cast<uint8_t>(128 + (x * 127 / w));
        }
    }
}

void sprites(TPNGObject& img, Lcg& rng) {
    const int32_t w = img.Width(), h = img.Height();
    for (int32_t cy = 0; cy < h; cy += 64)
        for (int32_t cx = 0; cx < w; cx += 64) {
            const uint8_t r = rng.byte(), g = rng.byte(), b = rng.byte();
            const int32_t radius = 12 + (rng.byte() & 15);
            for (int32_t y = cy; y < std::min(h, cy + 64); ++y) {
                uint8_t* p = img.PixelRow(y);
                uint8_t* a = img.AlphaRow(y);
                for (int32_t x = cx; x < std::min(w, cx + 64); ++x) {
                    const int32_t dx = x - cx - 32, dy = y - cy - 32;
                    const int32_t d2 = dx * dx + dy * dy;
                    if (d2 < radius * radius) {
                        p[3 * x + 0] = static_cast<uint8_t>(b + dy);
                        p[3 * x + 1] = static_cast<uint8_t>(g + dx);
                        p[3 * x + 2] = r;
                        a[x] = d2 > (radius - 2) * (radius - 2) ? 128 : 255;
                    }
                }
            }
        }
}

}  // namespace

const char* kindName(Kind kind) { return kind == Kind::Photo ? "photo" : "sprites"; }

std::unique_ptr<TPNGObject> makeImage(Kind kind, int32_t width, int32_t height) {
    auto img = TPNGObject::CreateNew(6, 8, width, height);
    Lcg rng{12345};
    if (kind == Kind::Photo) photo(*img, rng);
    else sprites(*img, rng);
    return img;
}

std::vector<uint8_t> rgbaRows(const TPNGObject& image) {
    const int32_t w = image.Width(), h = image.Height();
    std::vector<uint8_t> out(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    uint8_t* o = out.data();
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* p = image.PixelRow(y);
        const uint8_t* a = image.AlphaRow(y);
        for (int32_t x = 0; x < w; ++x, o += 4) {
            o[0] = p[3 * x + 2];
            o[1] = p[3 * x + 1];
            o[2] = p[3 * x + 0];
            o[3] = a[x];
        }
    }
    return out;
}

std::vector<uint8_t> encodePng(const TPNGObject& image) {
    TMemoryStream out;
    image.WriteTo(out);
    return out.bytes();
}

std::vector<uint8_t> filteredRows(const TPNGObject& image) {
    const TChunkIHDR& header = image.HeaderChunk();
    const auto width = static_cast<uint32_t>(image.Width());
    const PngRowGeometry g = pngRowGeometry(header.ColorType, header.BitDepth, width);
    FilterRows rows(g.rowBytes, image.RowFilters);
    std::vector<uint8_t> raw(g.rowBytes), out;
    out.reserve((size_t(g.rowBytes) + 1) * static_cast<size_t>(image.Height()));
    for (int32_t y = 0; y < image.Height(); ++y) {
        loadPngRow(header, raw.data(), y, 0, 1, width, image.EncodeGamma());
        const uint8_t f = ChooseRowFilter(raw.data(), rows, g.distance);
        out.push_back(f);
        out.insert(out.end(), rows.candidates[f].begin(), rows.candidates[f].begin() + g.rowBytes);
    }
    return out;
}

}  // namespace glx::bench
