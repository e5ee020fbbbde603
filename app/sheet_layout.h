// Where each picture of a sheet goes: the grid of gluing widened by
// padding, border, extruded rings and uniform cells, or tight packing of
// free rectangles over one or more pages. Pure arithmetic on sizes: no
// pixels, no files.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "app/options.h"

namespace glx::app {

struct LayoutItem {
    int32_t width = 0, height = 0;  // the picture's own pixels (after trimming)
    // Index of an earlier identical item whose rectangle this one shares,
    // -1 when it is placed itself.
    int32_t sameAs = -1;
};

// Where one picture's own pixels (never padding or the ring) start.
struct LayoutPlace {
    int32_t page = 0;
    int32_t x = 0, y = 0;
};

struct LayoutPageSize {
    int32_t width = 0, height = 0;
};

// Uniform cells: the cell size and the distances loaders cut by.
struct LayoutCells {
    int32_t width = 0, height = 0;
    int32_t margin = 0, spacing = 0;
};

struct SheetLayout {
    std::vector<LayoutPlace> places;  // one per item, in item order
    std::vector<LayoutPageSize> pages;  // at least one
    std::optional<LayoutCells> cells;  // --cell=max
};

// The grid of gluing: rows of perRow pictures when perRow > 0, otherwise
// columns of perColumn (below 1 acts as 1).
struct GridShape {
    int32_t perRow = 0;
    int32_t perColumn = 0;
};

// A picture that does not fit on a page of maxSize x maxSize even alone.
class LayoutTooLarge : public std::runtime_error {
public:
    LayoutTooLarge(size_t item, int32_t maxSize)
        : std::runtime_error("picture larger than the sheet"), m_item(item), m_maxSize(maxSize) {}
    size_t item() const { return m_item; }
    int32_t maxSize() const { return m_maxSize; }

private:
    size_t m_item;
    int32_t m_maxSize;
};

// Lays the items out. With the grid, items follow each other as gluing
// places them (each step by the item's slot: its size, or the cell, plus
// twice the ring and the padding); with MaxRects the items are packed
// tightly, no rotation, on as few pages of at most maxSize x maxSize as the
// packing manages, each page as small as the search finds. --pot rounds
// every page side up to a power of two. Identical items share the
// rectangle of the first. Deterministic: equal input, equal layout.
// Throws LayoutTooLarge (packing) when one item cannot fit a page.
SheetLayout layoutSheet(const std::vector<LayoutItem>& items, GridShape grid, const LayoutOptions& options);

// The smallest power of two >= v (v >= 1).
int64_t powerOfTwoAtLeast(int64_t v);

}  // namespace glx::app
