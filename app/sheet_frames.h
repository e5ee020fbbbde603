// What the data files of a sheet describe: its pages (sheet pictures) and,
// on each, the frames with their rectangles. Filled by gluing, read by the
// atlas data-file writers.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace glx::app {

struct SheetFrame {
    std::string name;  // unescaped; each writer escapes for its format
    // The frame's own pixels on its page: never padding or the extruded ring.
    int32_t x = 0, y = 0, w = 0, h = 0;
    // Trimming: where (x, y, w, h) came from inside the source picture.
    bool trimmed = false;
    int32_t offsetX = 0, offsetY = 0;
    int32_t sourceW = 0, sourceH = 0;
    // GIF sheets: the frame's duration in milliseconds.
    std::optional<int32_t> durationMs;
};

struct SheetPage {
    std::string image;  // the page's file name, without folder
    int32_t width = 0, height = 0;
    bool alpha = false;  // RGBA8888 or RGB888
    std::vector<SheetFrame> frames;
};

// Uniform cells (--cell=max): what loaders that cut by frame size need.
struct GridMeta {
    int32_t frameWidth = 0, frameHeight = 0;
    int32_t margin = 0, spacing = 0;
};

struct SheetDescription {
    std::vector<SheetPage> pages;
    std::optional<GridMeta> grid;
    // Animation name -> frame names in play order.
    std::map<std::string, std::vector<std::string>> animations;
    // GIF sheets: plays (0 = forever) and the tags of the whole animation.
    std::optional<int32_t> loop;
    struct FrameTag {
        std::string name;
        int32_t from = 0, to = 0;
    };
    std::vector<FrameTag> frameTags;
};

}  // namespace glx::app
