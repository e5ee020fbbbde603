// Image data encoded row by row while the picture is still being made: the
// rows go through the same filter choice and deflate settings as writing
// the finished image, so the framed IDAT chunks are byte for byte what
// writing it would produce. TPNGObject writes them instead of encoding
// again when they were made for its current header and settings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "png/row_filters.h"

namespace glx {

class TPNGObject;

// What the chunks were made for; they stand in for the image's data only
// when every field matches the image at writing time.
struct IdatRecipe {
    uint32_t width = 0, height = 0;
    uint8_t colorType = 0, bitDepth = 0;
    RowFilterSet filters = 0;
    uint8_t level = 0;
    int32_t chunkSize = 0;
    std::array<uint8_t, 256> encodeGamma{};
    friend bool operator==(const IdatRecipe&, const IdatRecipe&) = default;
};

// The recipe writing image as it is now (non-interlaced) would follow.
IdatRecipe idatRecipeOf(const TPNGObject& image);

struct PreparedIdat {
    IdatRecipe recipe;
    // Framed IDAT chunks (length, type, data, CRC each) as they are to be
    // written, held in blocks so that no large buffer is ever copied.
    std::vector<std::vector<uint8_t>> blocks;
};

class IdatStream {
public:
    // recipe.height is ignored until finish(); interlaced images are not
    // streamed.
    explicit IdatStream(const IdatRecipe& recipe);
    ~IdatStream();
    IdatStream(const IdatStream&) = delete;
    IdatStream& operator=(const IdatStream&) = delete;

    // Bytes of one PNG row (samples in file order, no filter byte).
    size_t rowBytes() const;
    // Filters and deflates the next row.
    void addRow(const uint8_t* pngRow);
    uint32_t rows() const;
    // Ends the zlib stream; the result's recipe has the number of rows
    // added as its height.
    std::unique_ptr<PreparedIdat> finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace glx
