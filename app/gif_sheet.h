// The frames of a GIF glued into one sheet, as the export composes them,
// with a data file that names each frame after the GIF ("walk_0",
// "walk_1"...), gives its duration in milliseconds and the animation of all
// frames in order, and says how often it plays. By default the cells form a
// grid as near to square as the frame count allows (columns: the square
// root of the count, rounded up); the layout options place them otherwise.
//
// Memory: the sheet and one frame. When the frames decide the layout
// (trimming, identical frames placed once) a first pass over them keeps
// only each frame's trimmed box and a hash, and the second pass reads the
// frame files the export has written.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/sheet_frames.h"
#include "app/sheet_layout.h"

namespace glx {
class TPNGObject;
}

namespace glx::app {

struct Options;
struct SheetPicture;

// Columns of the near-square grid of n frames.
int32_t nearSquareColumns(int32_t frames);

class GifSheet {
public:
    // path: where the (first) sheet goes; folder: the export folder the
    // frame files are in; stem: the GIF's name without ".gif"; frames: how
    // many will come (at least 1); width x height: the logical screen;
    // plays: 0 for ever; grid: the layout given on the command line (none:
    // the near-square grid).
    GifSheet(const std::string& path, const std::string& folder, const std::string& stem, int32_t frames, int32_t width,
             int32_t height, int32_t plays, const LayoutOptions& layout, GridShape grid);
    ~GifSheet();
    GifSheet(const GifSheet&) = delete;
    GifSheet& operator=(const GifSheet&) = delete;

    // Frame i (the frame file i.png holds the same picture), with its
    // delay in hundredths of a second.
    void add(int i, const TPNGObject& picture, int delay);
    // Places what the first pass could not, writes the sheets and their
    // data files (the JSON hash unless the options name others), each
    // whole through a temporary file. Only the frames added are described.
    void write(const Options& options);

    const SheetDescription& description() const { return m_sheet; }

private:
    struct Frame {
        int32_t offsetX = 0, offsetY = 0;  // the trimmed box in the frame
        uint64_t hash = 0;
    };
    bool twoPasses() const { return m_layoutOptions.trim || m_layoutOptions.alias; }
    void place(size_t i, const SheetPicture& picture);
    void layOut();
    std::string pagePath(size_t page) const;

    std::string m_path, m_folder, m_stem;
    int32_t m_width, m_height;
    LayoutOptions m_layoutOptions;
    GridShape m_grid;
    std::vector<LayoutItem> m_items;
    std::vector<Frame> m_boxes;
    std::vector<int> m_delays;
    SheetLayout m_layout;
    std::vector<std::unique_ptr<TPNGObject>> m_pages;
    SheetDescription m_sheet;
};

}  // namespace glx::app
