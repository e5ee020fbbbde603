// Pixel routines on PNG image objects with an alpha channel. Each takes the
// image by reference to a possibly absent object and does nothing without
// one. Rectangles are (Left, Top, Right, Bottom) with all four edges
// included, clipped to the image, except fillColor, which fills through the
// canvas (right and bottom edges excluded).
#pragma once

#include <cstdint>
#include <memory>

#include "raster/color.h"
#include "raster/geometry.h"

namespace glx {
class TPNGObject;
}

namespace glx::app {

// The alpha transfer modes of pastePng; any other mode byte leaves the
// target as it is.
constexpr uint8_t kExact = 0;
constexpr uint8_t kBlend = 1;
constexpr uint8_t kSubtract = 2;

// Each routine sets the run's phase code at fixed points (phase), so that an
// error report names the step.
void setAlpha(uint16_t& phase, const std::unique_ptr<TPNGObject>& image, const TRect& rect, uint8_t alpha);
void fillColor(uint16_t& phase, const std::unique_ptr<TPNGObject>& image, const TRect& rect, TColor color);
// Key-coloured pixels become transparent; with filter != 0, pixels with two
// or more key-coloured neighbours that pass the fringe test get the
// filter's alpha step.
void keyToAlpha(uint16_t& phase, const std::unique_ptr<TPNGObject>& image, const TRect& rect, TColor key,
                uint8_t filter);
// Transfers fragment onto target at rect's corner in mode 0 exact, 1 blend,
// 2 subtract (other modes leave the target).
void pastePng(uint16_t& phase, const std::unique_ptr<TPNGObject>& target, const std::unique_ptr<TPNGObject>& fragment,
              const TRect& rect, uint8_t mode);

// One blended pixel: the arithmetic of the blend mode, exposed for tests.
struct BlendResult {
    uint8_t red, green, blue, alpha;
};
BlendResult blendPixel(uint8_t sr, uint8_t sg, uint8_t sb, uint8_t sa, uint8_t dr, uint8_t dg, uint8_t db, uint8_t da);

}  // namespace glx::app
