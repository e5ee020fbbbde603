// Gluing: source collection, the grid, canvas growth and saving.
#pragma once

#include <memory>
#include <string>

#include "app/form.h"

namespace glx {
class TImage;
}

namespace glx::app {

// Advance the grid cell by one (left to right in rows of perRow, or top to
// bottom in columns of perColumn).
void stepCell(TGridCursor& cursor);
// After a w x h picture was placed at (x, y): next cell and corner.
void advanceCursor(TGridCursor& cursor, int32_t w, int32_t h);

// Grows the holder and its picture so that a w x h picture fits at (x, y);
// never shrinks.
void checkwh(TImage& control, int32_t x, int32_t y, int32_t w, int32_t h);

// The size a canvas grows to when it must hold at least needed: half as
// much again as now (capped at the pixel limit's side), so that growing
// picture by picture stays linear.
int32_t amortisedSize(int32_t current, int32_t needed);

bool isJpegExt(const std::string& ext);
// Saves the holder's picture by the file name's extension (JPEG at quality
// 100 for ".j..." names, otherwise the picture's own format), then frees
// the holder.
void saveImage(std::unique_ptr<TImage>& control, const std::string& fileName);
// Time of day without colons followed by a random number 0..98.
std::string outputStamp();

// Lists the folder, copies the names into sharedList and drops the names
// that must not be glued; settles modeExt and nameExt.
void collectSources(RunContext& run);

}  // namespace glx::app
