// Integer arithmetic the drawing code shares.
#pragma once

#include <algorithm>
#include <cstdint>

namespace glx {

// a * b / c, the product taken in 64 bits and the quotient rounded to the
// nearest integer, halves away from zero; -1 when c is 0. Results beyond
// 32 bits are clamped.
inline int32_t mulDiv(int64_t a, int64_t b, int64_t c) {
    if (c == 0) return -1;
    const int64_t num = a * b;
    const bool negative = (num < 0) != (c < 0);
    const int64_t an = num < 0 ? -num : num, ac = c < 0 ? -c : c;
    const int64_t q = (an + ac / 2) / ac;
    return static_cast<int32_t>(std::clamp<int64_t>(negative ? -q : q, INT32_MIN, INT32_MAX));
}

}  // namespace glx
