// The five PNG row filters: undoing them when decoding and choosing one
// when encoding. Rows are plain byte ranges without the filter-type byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace glx {

enum TRowFilter : uint8_t { rfNone = 0, rfSub = 1, rfUp = 2, rfAverage = 3, rfPaeth = 4 };

// A set of row filters held as a bit mask (bit n = filter type n).
using RowFilterSet = uint8_t;
constexpr RowFilterSet rowFilterBit(TRowFilter f) { return static_cast<RowFilterSet>(1u << f); }

uint8_t paethPredictor(uint8_t a, uint8_t b, uint8_t c);

// Undoes filter type filterType on row in place; prev is the previous
// unfiltered row (all zero for the first). distance = bytes per complete
// pixel of a PNG row: 1, 2, 3, 4, 6 or 8 (EInternalError otherwise). An
// unknown filter type leaves the row unchanged.
void UnfilterRow(uint8_t filterType, uint8_t* row, const uint8_t* prev, size_t length, size_t distance);

// Working rows of the encoder: the previous raw row (which doubles as the
// None candidate) and one candidate row per filter in the set.
struct FilterRows {
    FilterRows(size_t length, RowFilterSet filters);
    // Starts a new pass: the previous row becomes all zero.
    void resetPrevious();
    size_t length;
    RowFilterSet filters;
    std::array<std::vector<uint8_t>, 5> candidates;  // [0] = raw/previous row
};

// Filters raw (length bytes) with every filter in rows.filters against the
// previous row, makes raw the new previous row and returns the chosen filter
// type: 0 for an empty set or {rfNone}; the only member of a one-filter set;
// otherwise the candidate with the most bytes equal to one of the two bytes
// before it (ties to the lower type, 0 when nothing scores).
uint8_t ChooseRowFilter(const uint8_t* raw, FilterRows& rows, size_t distance);

}  // namespace glx
