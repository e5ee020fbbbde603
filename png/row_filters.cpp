#include "png/row_filters.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/exception.h"

namespace glx {

uint8_t paethPredictor(uint8_t a, uint8_t b, uint8_t c) {
    int p = int(a) + int(b) - int(c);
    int pa = std::abs(p - int(a)), pb = std::abs(p - int(b)), pc = std::abs(p - int(c));
    if (pa <= pb && pa <= pc) return a;
    if (pb <= pc) return b;
    return c;
}

namespace {

// The Paeth choice without branches on the pixel data: the same ties (a
// before b before c) as paethPredictor.
inline uint8_t paethFast(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    const int bc = pb <= pc ? b : c;
    return static_cast<uint8_t>((pa <= pb && pa <= pc) ? a : bc);
}

// One filter undone over a whole row with the pixel distance D known at
// compile time, so the loops keep the left neighbour in registers.
template <size_t D>
void unfilterFixed(uint8_t filterType, uint8_t* r, const uint8_t* p, size_t n) {
    const size_t lead = D < n ? D : n;
    switch (filterType) {
        case 1:
            for (size_t i = D; i < n; ++i) r[i] = uint8_t(r[i] + r[i - D]);
            break;
        case 2:
            for (size_t i = 0; i < n; ++i) r[i] = uint8_t(r[i] + p[i]);
            break;
        case 3:
            for (size_t i = 0; i < lead; ++i) r[i] = uint8_t(r[i] + (p[i] >> 1));
            for (size_t i = D; i < n; ++i) r[i] = uint8_t(r[i] + ((unsigned(p[i]) + r[i - D]) >> 1));
            break;
        case 4:
            for (size_t i = 0; i < lead; ++i) r[i] = uint8_t(r[i] + p[i]);  // Paeth(0, b, 0) = b
            for (size_t i = D; i < n; ++i) r[i] = uint8_t(r[i] + paethFast(r[i - D], p[i], p[i - D]));
            break;
        default:
            break;  // None, and unknown types: the row stays as it is
    }
}

}  // namespace

void UnfilterRow(uint8_t filterType, uint8_t* r, const uint8_t* p, size_t n, size_t d) {
    switch (d) {
        case 1:
            return unfilterFixed<1>(filterType, r, p, n);
        case 2:
            return unfilterFixed<2>(filterType, r, p, n);
        case 3:
            return unfilterFixed<3>(filterType, r, p, n);
        case 4:
            return unfilterFixed<4>(filterType, r, p, n);
        case 6:
            return unfilterFixed<6>(filterType, r, p, n);
        case 8:
            return unfilterFixed<8>(filterType, r, p, n);
        default:
            // Every colour type and depth has one of the distances above.
            throw EInternalError("no unfilter for a pixel distance of " + std::to_string(d) + " bytes");
    }
}

FilterRows::FilterRows(size_t len, RowFilterSet set) : length(len), filters(set) {
    candidates[0].assign(len, 0);
    for (int f = 1; f < 5; ++f)
        if (filters & (1u << f)) candidates[static_cast<size_t>(f)].assign(len, 0);
}

void FilterRows::resetPrevious() { std::memset(candidates[0].data(), 0, length); }

namespace {

// Bytes that repeat one of the two bytes before them: a cheap measure of
// how well the candidate will compress.
int score(const uint8_t* c, size_t n) {
    int s = 0;
    for (size_t j = 2; j < n; ++j)
        if (c[j] == c[j - 1] || c[j] == c[j - 2]) ++s;
    return s;
}

}  // namespace

uint8_t ChooseRowFilter(const uint8_t* raw, FilterRows& rows, size_t d) {
    const size_t n = rows.length;
    const uint8_t* p = rows.candidates[0].data();
    const RowFilterSet set = rows.filters;
    const size_t lead = d < n ? d : n;
    if (set & (1u << 1)) {
        uint8_t* c = rows.candidates[1].data();
        std::memcpy(c, raw, lead);
        for (size_t i = d; i < n; ++i) c[i] = uint8_t(raw[i] - raw[i - d]);
    }
    if (set & (1u << 2)) {
        uint8_t* c = rows.candidates[2].data();
        for (size_t i = 0; i < n; ++i) c[i] = uint8_t(raw[i] - p[i]);
    }
    if (set & (1u << 3)) {
        uint8_t* c = rows.candidates[3].data();
        for (size_t i = 0; i < lead; ++i) c[i] = uint8_t(raw[i] - (p[i] >> 1));
        for (size_t i = d; i < n; ++i) c[i] = uint8_t(raw[i] - ((unsigned(p[i]) + raw[i - d]) >> 1));
    }
    if (set & (1u << 4)) {
        uint8_t* c = rows.candidates[4].data();
        for (size_t i = 0; i < lead; ++i) c[i] = uint8_t(raw[i] - p[i]);
        for (size_t i = d; i < n; ++i) c[i] = uint8_t(raw[i] - paethPredictor(raw[i - d], p[i], p[i - d]));
    }
    std::memcpy(rows.candidates[0].data(), raw, n);

    if ((set & 0x1F) == 0 || (set & 0x1F) == 1) return 0;
    uint8_t choice = 0;
    int best = 0;
    for (uint8_t f = 0; f < 5; ++f) {
        if (!(set & (1u << f))) continue;
        if ((set & 0x1F) == (1u << f)) return f;
        int s = score(rows.candidates[f].data(), n);
        if (s > best) {
            best = s;
            choice = f;
        }
    }
    return choice;
}

}  // namespace glx
