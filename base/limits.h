// Limits that protect the machine from hostile or damaged pictures, the
// checks that apply them, and the one helper that computes buffer sizes in
// 64 bits. Limits are values handed to the readers: the tool reads with
// the defaults, a caller that wants faster refusals (the fuzz targets)
// passes smaller ones through the same calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace glx {

struct Limits {
    // A picture or canvas above this many pixels (16384 x 16384) is refused.
    uint64_t pixels = uint64_t(1) << 28;
    // No pixel buffer set may exceed this many bytes.
    uint64_t bufferBytes = uint64_t(4) << 30;
    // A picture's data must be able to fill at least 1/dataShare of what
    // its header declares, at the format's best ratio. Complete files carry
    // all of it, and a damaged one that still holds 1/64 of its rows shows
    // them (the rest stays 0); below that share the picture is refused
    // before its memory is taken, so that a file makes the tool allocate at
    // most 64 times what its data could fill: a 65-byte PNG can no longer
    // ask for a gigabyte.
    uint64_t dataShare = 64;
    // PNG chunks kept besides the header, the palette, the image data and
    // the end: a file of millions of empty chunks costs no more memory
    // than its picture.
    uint32_t chunks = 1000;
    // Bytes of a settings line that are looked at; the rest of the line is
    // never read.
    size_t lineLength = size_t(1) << 20;
    // Frames of one GIF.
    uint32_t frames = uint32_t(1) << 20;
    // A PNG whose filtered rows and image data each take at most this many
    // bytes is inflated in one call; a larger one streams, row by row, so
    // that its memory follows the work. Both ways give the same rows and
    // errors.
    size_t wholeInflateBytes = size_t(4) << 20;
};

// Whether the checksums a format carries (the PNG chunk CRC) are compared.
// Ignoring them lets mutated data reach the decoders behind them.
enum class CrcPolicy : uint8_t { Check, Ignore };

// What a reader is handed besides the data.
struct ReadOptions {
    Limits limits;
    CrcPolicy crc = CrcPolicy::Check;
    bool checksCrc() const { return crc == CrcPolicy::Check; }
};

// Bytes of one row of width pixels at bitsPerPixel, rounded up to whole
// bytes, and optionally padded to a multiple of align bytes.
uint64_t rowBytes(uint64_t width, uint64_t bitsPerPixel, uint64_t align = 1);

// Raises ELimitExceeded naming the size when data of dataBytes bytes, which
// can fill at most canFill of the declared units (bytes or pixels; the
// caller knows the format's best ratio), could not fill 1/dataShare of
// them.
void checkDataCanFill(const Limits& limits, int64_t width, int64_t height, uint64_t dataBytes, uint64_t canFill,
                      uint64_t declared);

// Raises ELimitExceeded naming the size and the limit when width x height
// exceeds the pixel limit, or when bitsPerPixel (all planes together)
// would exceed the buffer limit. Negative sizes are refused too.
void checkPictureSize(const Limits& limits, int64_t width, int64_t height, uint64_t bitsPerPixel = 32);
// Refuses, naming the size, a canvas whose right or bottom edge (computed
// in 64 bits from a position and a size) would not even fit 32 bits.
void checkCanvasExtent(const Limits& limits, int64_t right, int64_t bottom);

}  // namespace glx
