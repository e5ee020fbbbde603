// Per-pixel opacity of an image of any colour type, row by row.
#include <array>
#include <cstring>

#include "png/chunk_ancillary.h"
#include "png/png_format.h"
#include "png/png_object.h"

namespace glx {

void effectiveAlphaRow(const TPNGObject& image, int32_t y, uint8_t* out) {
    const TChunkIHDR& h = image.HeaderChunk();
    const size_t width = h.HeaderWidth;
    if (const uint8_t* alpha = image.AlphaRow(y)) {
        std::memcpy(out, alpha, width);
        return;
    }
    const TChunktRNS* trns = image.Chunks().FindByClass<TChunktRNS>();
    if (!trns) {
        std::memset(out, 255, width);
        return;
    }
    const uint8_t* row = image.PixelRow(y);
    if (h.ColorType == kColorRgb) {
        const TColor key = image.TransparentKeyColor();
        const uint8_t r = getRValue(key), g = getGValue(key), b = getBValue(key);
        for (size_t x = 0; x < width; ++x, row += 3) out[x] = (row[0] == b && row[1] == g && row[2] == r) ? 0 : 255;
        return;
    }
    // Indexed pixels: one opacity per index, looked up for the whole row.
    std::array<uint8_t, 256> byIndex;
    byIndex.fill(255);
    const auto& table = h.Pixels().colorTable();
    if (h.ColorType == kColorPalette) {
        byIndex = trns->AlphaValues;
    } else {
        const TColor key = image.TransparentKeyColor();
        for (size_t i = 0; i < table.size() && i < 256; ++i)
            if (rgb(table[i].red, table[i].green, table[i].blue) == key) byIndex[i] = 0;
    }
    const auto bpp = static_cast<size_t>(h.Pixels().bitsPerPixel());
    for (size_t x = 0; x < width; ++x) {
        uint32_t index;
        if (bpp == 8) {
            index = row[x];
        } else {
            const size_t bit = x * bpp;
            index = (static_cast<uint32_t>(row[bit >> 3]) >> (8 - bpp - (bit & 7))) & ((1u << bpp) - 1);
        }
        out[x] = byIndex[index];
    }
}

}  // namespace glx
