// The paste script: pairs of lines, a position and a fragment file, pasted
// into the opened picture (the pattern).
#pragma once

#include <cstdint>
#include <string>

#include "app/run.h"
#include "raster/geometry.h"

namespace glx::app {

struct PastePosition {
    int32_t x = -32000;  // -32000 or less: not given
    int32_t y = -32000;
    uint8_t mode = 1;  // 0 exact, 1 blend, 2 subtract, others leave the pattern
    int32_t cell = 0;  // grid cell from 1; 0 or below: the first
};

// Reads a position line: "N", "N;;Z", "X;Y" or "X;Y;Z". A plain "N" that is
// not an integer raises EConvertError "'%s' is not a valid integer value".
PastePosition parsePositionLine(uint16_t& phase, const std::string& line);

// Puts the grid on cell (from 1; 0 or below: the first): the cell stepCell
// reaches after cell - 1 steps from (0, 0), computed directly so that a
// huge number cannot stall.
void cellOf(TGridCursor& grid, int32_t cell);
// The top-left corner of a w x h fragment: the given coordinates, or the
// grid's cell measured in the fragment's own size (ELimitExceeded when that
// lies beyond any canvas).
void fragmentCorner(TGridCursor& grid, const PastePosition& pos, int32_t w, int32_t h, int32_t& px, int32_t& py);
// The fragment's rectangle (px, py, px + w, py + h), computed in 64 bits;
// ELimitExceeded naming the size when an edge would not fit 32 bits.
TRect placedRect(int32_t px, int32_t py, int32_t w, int32_t h);

}  // namespace glx::app
