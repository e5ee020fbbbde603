// Colour values: 0x00BBGGRR, red in the low byte.
#pragma once

#include <cstdint>

namespace glx {

using TColor = int32_t;

constexpr TColor clNone = 0x1FFFFFFF;  // no colour
constexpr TColor clDefault = 0x20000000;  // default colour (a bitmap's transparent colour)
constexpr TColor clWhite = 0x00FFFFFF;
constexpr TColor clBlack = 0x00000000;

constexpr uint8_t getRValue(TColor c) { return static_cast<uint8_t>(c & 0xFF); }
constexpr uint8_t getGValue(TColor c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
constexpr uint8_t getBValue(TColor c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }
constexpr TColor rgb(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<TColor>(uint32_t(r) | (uint32_t(g) << 8) | (uint32_t(b) << 16));
}

// A system colour (negative value) becomes the standard scheme's colour for
// number (value AND 0xFF), black for numbers the scheme lacks; a value whose
// high byte is 0x01..0x7F is the colour of its low 24 bits.
TColor colorToRGB(TColor color);

}  // namespace glx
