// The RGBA composition path: gluing into a PNG image object with an alpha
// channel so that the pictures' transparency survives.
#pragma once

#include <memory>
#include <string>

#include "app/form.h"
#include "app/prefetch.h"

namespace glx {
class TPNGObject;
}

namespace glx::app {

// pngCanvas := one black, fully transparent pixel.
void createRgbaCanvas();
// Grows pngCanvas so a w x h picture fits at (x, y); added area is black
// with alpha 0. Never shrinks.
void checkwhp(int32_t x, int32_t y, int32_t w, int32_t h);
// Places the picture named by picPath, already read into picture, at the
// cursor and advances it; w and h receive its size.
void placeRgba(Tf& form, TGridCursor& cursor, int32_t& w, int32_t& h, PrefetchedPicture& picture);
// Gluing grows the canvas in amortised steps; this crops it to the size
// growing one step at a time would have given.
void settleRgbaCanvas();
// Saves as PNG for exactly ".png", otherwise flattened onto white and saved
// by saveImage; then frees the object.
void savePng(std::unique_ptr<TPNGObject>& image, const std::string& fileName);

}  // namespace glx::app
