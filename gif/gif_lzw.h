// The LZW decoder of GIF image data: the minimum code size byte and the
// data sub-blocks after an image descriptor become the frame's indices.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace glx {

class GifInput;

// Receives the rows of a frame as the decoder places them: row y (interlaced
// rows come in their pass order), with its first count values (fewer than
// the width only in the row where the data ran out). A row never handed
// over, and the rest of a short row, keep the fill value. Returns false
// when it needs no further rows; decoding then stops where it is.
using GifRowSink = std::function<bool(int y, const uint8_t* values, int count)>;
using GifWarning = std::function<void(const std::string&)>;

// Decodes one frame's image data from the cursor (standing on the minimum
// code size byte) as width x height indices, handing each row to sink.
// Non-fatal faults go to warn; a corrupt code table raises GIFException
// "Circular decoder table entry". Unless the sink stopped it early, the
// cursor is left where the frame's data ends, as the block structure needs
// it. Memory: one row, whatever the frame's size. Returns how many values
// were placed.
uint64_t decodeGifRows(GifInput& input, int width, int height, bool interlaced, const GifWarning& warn,
                       const GifRowSink& sink);

// The whole frame: width x height indices, top row first, pixels the data
// does not reach at fillValue. The caller has checked the size against the
// limits.
std::vector<uint8_t> decodeGifImageData(GifInput& input, int width, int height, bool interlaced, uint8_t fillValue,
                                        const GifWarning& warn);

}  // namespace glx
