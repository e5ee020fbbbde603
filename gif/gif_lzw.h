// The LZW decoder of GIF image data: the minimum code size byte and the
// data sub-blocks after an image descriptor become the frame's indices.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace glx {

class GifInput;

// Decodes one frame's image data from the cursor (standing on the minimum
// code size byte) into width x height indices, top row first, placing
// interlaced rows in their pass order. Pixels the data does not reach keep
// fillValue. Non-fatal faults go to warn; a corrupt code table raises
// GIFException "Circular decoder table entry". The caller has checked the
// size against the limits.
std::vector<uint8_t> decodeGifImageData(GifInput& input, int width, int height, bool interlaced, uint8_t fillValue,
                                        const std::function<void(const std::string&)>& warn);

}  // namespace glx
