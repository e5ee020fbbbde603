// BMP files: the Windows and OS/2 device-independent bitmap file format.
// All multi-byte numbers are little-endian.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/limits.h"
#include "raster/dib.h"

namespace glx {

class TStream;

// What reading a BMP file yields.
struct BmpImage {
    Dib dib;  // top row first, the file's pixel format
    bool os2 = false;  // the file had the 12-byte OS/2 core header
    int32_t xPelsPerMeter = 0, yPelsPerMeter = 0;
    // The file up to the end of its run-length data, kept for files whose
    // pixels are compressed (RLE4, RLE8) so that an unchanged picture is
    // written back byte for byte (empty when that data is out of all
    // proportion to the picture).
    std::vector<uint8_t> keptBytes;
};

// Reads a BMP file from the stream's position: the headers and colour
// table, then the pixel data, uncompressed rows straight into the picture
// and run-length data as far as it goes, through one buffered reader.
// Afterwards the stream is at its end (the rest of it counts as the file).
// An empty remainder yields an empty picture.
// Failures: EInvalidGraphic "Bitmap image is not valid" (not "BM", planes
// other than 1, unsupported format), EReadError "Stream read error" (the
// data ends inside the headers or the colour table), ELimitExceeded for
// sizes above the limits and for pixel data that could not fill the data
// share of the picture (both checked before any pixel memory is allocated). Pixel
// data shorter than the header promises leaves the missing rows 0.
BmpImage readBmp(TStream& stream, const Limits& limits = {});
// readBmp over bytes in memory.
BmpImage decodeBmp(std::span<const uint8_t> file, const Limits& limits = {});

// Writes dib as a BMP file: bottom-up rows, a 40-byte information header
// (with bit masks for 16/32-bit surfaces that have masks), or the OS/2 core
// form when os2 is set and the size fits it.
void encodeBmp(TStream& out, const Dib& dib, bool os2 = false, int32_t xPelsPerMeter = 0, int32_t yPelsPerMeter = 0);

}  // namespace glx
