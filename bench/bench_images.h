// Deterministic test pictures for the micro-benchmarks: a photo-like RGBA
// image (smooth gradients, grain, alpha ramp) and a sprite sheet (64 x 64
// cells of shapes on a transparent ground), both colour type 6, 8 bits.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace glx {
class TPNGObject;
}

namespace glx::bench {

enum class Kind { Photo, Sprites };

std::unique_ptr<TPNGObject> makeImage(Kind kind, int32_t width, int32_t height);
const char* kindName(Kind kind);

// The image as PNG rows (R, G, B, A a pixel), row after row.
std::vector<uint8_t> rgbaRows(const TPNGObject& image);
// The image as our encoder writes it (a whole PNG stream).
std::vector<uint8_t> encodePng(const TPNGObject& image);
// What the encoder hands to deflate: each row's filter byte and filtered
// bytes (non-interlaced, the image's RowFilters).
std::vector<uint8_t> filteredRows(const TPNGObject& image);

}  // namespace glx::bench
