// Conversion between PNG rows (sample order of the file, unfiltered) and
// the in-memory rows of a header chunk. Each call handles one whole row or
// one Adam7 pass row: the k-th pixel of the PNG row is image column
// x0 + k x dx.
#pragma once

#include <array>
#include <cstdint>

namespace glx {

class TChunkIHDR;

struct Adam7Pass {
    uint32_t row0, col0, rowStep, colStep;
};
constexpr std::array<Adam7Pass, 7> kAdam7 = {
    {{0, 0, 8, 8}, {0, 4, 8, 8}, {4, 0, 8, 4}, {0, 2, 4, 4}, {2, 0, 4, 2}, {0, 1, 2, 2}, {1, 0, 2, 1}}};

inline uint32_t passWidth(uint32_t columns, const Adam7Pass& p) {
    return columns > p.col0 ? (columns - p.col0 + p.colStep - 1) / p.colStep : 0;
}

// Bytes of a PNG row of width pixels and the filter distance.
struct PngRowGeometry {
    uint32_t rowBytes;
    uint32_t distance;
};
PngRowGeometry pngRowGeometry(uint8_t colorType, uint8_t bitDepth, uint32_t width);
// Bytes of the whole inflated image data: every row (of every Adam7 pass
// when interlaced) with its filter byte.
uint64_t pngImageDataBytes(uint8_t colorType, uint8_t bitDepth, uint32_t width, uint32_t height, bool interlaced);

// PNG row -> memory row y. dg is the decoding gamma table.
void storePngRow(TChunkIHDR& header, const uint8_t* png, int32_t y, uint32_t x0, uint32_t dx, uint32_t count,
                 const std::array<uint8_t, 256>& dg);
// Memory row y -> PNG row (for the bit depth the header is written with).
// eg is the encoding gamma table.
void loadPngRow(const TChunkIHDR& header, uint8_t* png, int32_t y, uint32_t x0, uint32_t dx, uint32_t count,
                const std::array<uint8_t, 256>& eg);

}  // namespace glx
