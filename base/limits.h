// Limits that protect the machine from hostile or damaged pictures, and the
// one helper that computes buffer sizes in 64 bits.
#pragma once

#include <cstdint>

namespace glx {

#ifndef GLX_FUZZ_SMALL_LIMITS
// A picture or canvas above this many pixels (16384 x 16384) is refused.
constexpr uint64_t kMaxPixels = uint64_t(1) << 28;
// No pixel buffer set may exceed this many bytes.
constexpr uint64_t kMaxBufferBytes = uint64_t(4) << 30;
#else
// Fuzzing builds run the same checks at a smaller scale, so that a mutated
// size near the limit costs milliseconds, not seconds, per input.
constexpr uint64_t kMaxPixels = uint64_t(1) << 22;
constexpr uint64_t kMaxBufferBytes = uint64_t(64) << 20;
#endif

// Bytes of one row of width pixels at bitsPerPixel, rounded up to whole
// bytes, and optionally padded to a multiple of align bytes.
uint64_t rowBytes(uint64_t width, uint64_t bitsPerPixel, uint64_t align = 1);

// A picture's data must be able to fill at least 1/kMinDataShare of what its
// header declares, at the format's best ratio. Complete files carry all of
// it, and a damaged one that still holds 1/64 of its rows shows them (the
// rest stays 0); below that share the picture is refused before its memory
// is taken, so that a file makes the tool allocate at most 64 times what its
// data could fill: a 65-byte PNG can no longer ask for a gigabyte.
constexpr uint64_t kMinDataShare = 64;

// Raises ELimitExceeded naming the size when data of dataBytes bytes, which
// can fill at most canFill of the declared units (bytes or pixels; the
// caller knows the format's best ratio), could not fill 1/kMinDataShare of
// them.
void checkDataCanFill(int64_t width, int64_t height, uint64_t dataBytes, uint64_t canFill, uint64_t declared);

// Raises ELimitExceeded naming the size when width x height exceeds the
// pixel limit, or when bytesPerPixel (all planes together, may be
// fractional via bitsPerPixel) would exceed the buffer limit. Negative
// sizes are refused too.
void checkPictureSize(int64_t width, int64_t height, uint64_t bitsPerPixel = 32);
// Refuses, naming the size, a canvas whose right or bottom edge (computed
// in 64 bits from a position and a size) would not even fit 32 bits.
void checkCanvasExtent(int64_t right, int64_t bottom);

}  // namespace glx
