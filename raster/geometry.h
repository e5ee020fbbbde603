#pragma once

#include <cstdint>

namespace glx {

// (Left, Top, Right, Bottom); whether the right and bottom edges are
// included is up to the routine that takes it.
struct TRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    constexpr int32_t width() const { return Right - Left; }
    constexpr int32_t height() const { return Bottom - Top; }
    friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

constexpr TRect makeRect(int32_t l, int32_t t, int32_t r, int32_t b) { return TRect{l, t, r, b}; }

}  // namespace glx
