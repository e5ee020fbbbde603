// The frames of a GIF glued into one sheet, as the export composes them,
// with a data file that names each frame after the GIF ("walk_0",
// "walk_1"...), gives its duration in milliseconds and the animation of all
// frames in order, and says how often it plays. The cells form a grid as
// near to square as the frame count allows (columns: the square root of
// the count, rounded up). Memory: the sheet, filled as frames come.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/sheet_frames.h"

namespace glx {
class TPNGObject;
}

namespace glx::app {

struct Options;

// Columns and rows of the grid of n frames.
struct SheetGrid {
    int32_t columns = 0, rows = 0;
};
SheetGrid nearSquareGrid(int32_t frames);

class GifSheet {
public:
    // path: where the sheet goes; stem: the GIF's name without ".gif";
    // frames: how many frames will come (at least 1); width x height: the
    // logical screen; plays: 0 for ever.
    GifSheet(const std::string& path, const std::string& stem, int32_t frames, int32_t width, int32_t height,
             int32_t plays);
    ~GifSheet();
    GifSheet(const GifSheet&) = delete;
    GifSheet& operator=(const GifSheet&) = delete;

    // Frame i in its cell, with its delay in hundredths of a second.
    void add(int i, const TPNGObject& picture, int delay);
    // Writes the sheet and its data files (the JSON hash unless the options
    // name others), each whole through a temporary file; only the frames
    // added are described.
    void write(const Options& options);

    const SheetDescription& description() const { return m_sheet; }

private:
    std::string m_path, m_stem;
    SheetGrid m_grid;
    int32_t m_width, m_height;
    std::unique_ptr<TPNGObject> m_picture;
    SheetDescription m_sheet;
};

}  // namespace glx::app
