// The bit fields of GIF's packed bytes, by name.
#pragma once

#include <cstdint>

namespace glx {

// Logical screen descriptor and image descriptor flags.
constexpr uint8_t kGifColorMapFlag = 0x80;  // a colour map follows
constexpr uint8_t kGifInterlaceFlag = 0x40;  // image descriptor: rows interlaced
constexpr uint8_t kGifColorMapSizeMask = 0x07;  // the map holds 2 << (flags & mask) entries

// Graphic control extension, packed byte.
constexpr uint8_t kGifTransparencyFlag = 0x01;
constexpr uint8_t kGifUserInputFlag = 0x02;
constexpr int kGifDisposalShift = 2;
constexpr uint8_t kGifDisposalMask = 0x07;

// Sub-blocks of the looping application extension, by the low bits of
// their first byte.
constexpr uint8_t kGifLoopSubBlockMask = 0x07;
constexpr uint8_t kGifLoopCountSubBlock = 1;
constexpr uint8_t kGifBufferingSubBlock = 2;

}  // namespace glx
