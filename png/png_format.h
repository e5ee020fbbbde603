// Numbers the PNG format gives meaning to: colour types, bit depths, the
// interlace method and the flag bit of chunk type letters.
#pragma once

#include <cstdint>

namespace glx {

// Colour types (IHDR byte 9): bit 1 colour, bit 2 alpha, 3 = palette.
constexpr uint8_t kColorGrey = 0;
constexpr uint8_t kColorRgb = 2;
constexpr uint8_t kColorPalette = 3;
constexpr uint8_t kColorGreyAlpha = 4;
constexpr uint8_t kColorRgba = 6;

// Bit depths (IHDR byte 8), per sample (per index for palette images).
constexpr uint8_t kDepth1 = 1;
constexpr uint8_t kDepth2 = 2;
constexpr uint8_t kDepth4 = 4;
constexpr uint8_t kDepth8 = 8;
constexpr uint8_t kDepth16 = 16;

// Interlace methods (IHDR byte 12).
constexpr uint8_t kInterlaceNone = 0;
constexpr uint8_t kInterlaceAdam7 = 1;

// Bit 5 of a chunk type's first letter: set (lower case) for an ancillary
// chunk, clear for a critical one.
constexpr uint8_t kAncillaryBit = 0x20;

constexpr bool hasAlphaPlane(uint8_t colorType) { return colorType == kColorGreyAlpha || colorType == kColorRgba; }
// Grey, palette and grey + alpha images keep their samples as indices into
// a colour table.
constexpr bool usesColorTable(uint8_t colorType) {
    return colorType == kColorGrey || colorType == kColorPalette || colorType == kColorGreyAlpha;
}

}  // namespace glx
