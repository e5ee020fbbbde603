// The paste script: pairs of lines, a position and a fragment file, pasted
// into the opened picture (the pattern).
#pragma once

#include <cstdint>
#include <string>

namespace glx::app {

struct PastePosition {
    int32_t x = -32000;  // -32000 or less: not given
    int32_t y = -32000;
    uint8_t mode = 1;    // 0 exact, 1 blend, 2 subtract, others leave the pattern
    int32_t cell = 0;    // grid cell from 1; 0 or below: the first
};

// Reads a position line: "N", "N;;Z", "X;Y" or "X;Y;Z". A plain "N" that is
// not an integer raises EConvertError "'%s' is not a valid integer value".
PastePosition parsePositionLine(const std::string& line);

}  // namespace glx::app
