// Gluing: source collection, the grid, canvas growth and saving.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/canvas_growth.h"
#include "app/run.h"

namespace glx {
class TImage;
struct FileAt;
}  // namespace glx

namespace glx::app {

class Tf;
struct PrefetchedPicture;

// Puts a picture read ahead into the first holder at its own size and gives
// that size. Phases: first while its reading failure is raised, first + 1
// while sizing, first + 2 afterwards.
void holdPicture(Tf& form, PrefetchedPicture& picture, uint16_t first, int32_t& w, int32_t& h);

// Advance the grid cell by one (left to right in rows of perRow, or top to
// bottom in columns of perColumn).
void stepCell(TGridCursor& cursor);
// After a w x h picture was placed at (x, y): next cell and corner.
void advanceCursor(TGridCursor& cursor, int32_t w, int32_t h);

// The canvas size gluing names in the grid of cursor gives, starting from
// a canvas of start, read from the pictures' headers; nullopt when a header
// cannot be read or the size would pass limits.
std::optional<CanvasSize> expectedCanvas(TGridCursor cursor, CanvasSize start, const std::vector<std::string>& names,
                                         const Limits& limits);

bool isJpegExt(const std::string& ext);
// Whether a file name asks for PNG: ".png" in any letter case.
bool isPngName(const std::string& fileName);
// Whether an output name's extension, in any letter case, names a format
// the tool writes: PNG, JPEG (.jpg, .jpeg, .jpe) or BMP.
bool writesFormatOf(const std::string& fileName);
// Saves the holder's picture by the file name's extension (PNG for ".png"
// in any case, JPEG at quality 100 for ".j..." names, otherwise the
// picture's own format), then frees the holder.
void saveImage(uint16_t& phase, std::unique_ptr<TImage>& control, const FileAt& file);
// Time of day without colons followed by a random number 0..98.
std::string outputStamp(uint16_t& phase);

// Lists the folder, copies the names into the shared list and drops the
// names that must not be glued; settles modeExt and nameExt.
void collectSources(Run& run);

}  // namespace glx::app
