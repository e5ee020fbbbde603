// The RGBA composition path: gluing into a PNG image object with an alpha
// channel so that the pictures' transparency survives.
#pragma once

#include <memory>
#include <string>

#include "app/prefetch.h"

namespace glx {
class TPNGObject;
struct FileAt;
}  // namespace glx

namespace glx::app {

struct Run;
class Tf;

// pngCanvas := one black, fully transparent pixel, whose memory will grow
// ahead of its logical size (see canvas_growth.h).
void createRgbaCanvas(Run& run);
// Places the picture named by picPath, already read into picture, at the
// cursor and advances it; w and h receive its size.
void placeRgba(Tf& form, int32_t& w, int32_t& h, PrefetchedPicture& picture);
// Crops the canvas to the size growing one step at a time would have given.
void settleRgbaCanvas(Run& run);
// Saves as PNG for exactly ".png", otherwise flattened onto white and saved
// by saveImage; then frees the object.
void savePng(Run& run, std::unique_ptr<TPNGObject>& image, const FileAt& file);

}  // namespace glx::app
