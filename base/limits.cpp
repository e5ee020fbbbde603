#include "base/limits.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/exception.h"

namespace glx {

namespace {

// The side of the largest square within the pixel limit.
uint64_t squareSide(uint64_t pixels) {
    auto side = static_cast<uint64_t>(std::sqrt(static_cast<double>(pixels)));
    while (side * side > pixels) --side;
    while ((side + 1) * (side + 1) <= pixels) ++side;
    return side;
}

}  // namespace

uint64_t rowBytes(uint64_t width, uint64_t bitsPerPixel, uint64_t align) {
    // width is at most 2^32 and bitsPerPixel small, so the product fits.
    uint64_t bytes = (width * bitsPerPixel + 7) / 8;
    if (align > 1) bytes = (bytes + align - 1) / align * align;
    return bytes;
}

void checkPictureSize(const Limits& limits, int64_t width, int64_t height, uint64_t bitsPerPixel) {
    if (width < 0 || height < 0)
        throw ELimitExceeded(formatMessage("Invalid picture size %lld x %lld", static_cast<long long>(width),
                                           static_cast<long long>(height)));
    uint64_t w = static_cast<uint64_t>(width), h = static_cast<uint64_t>(height);
    if (w > (uint64_t(1) << 32) || h > (uint64_t(1) << 32) || w * h > limits.pixels ||
        rowBytes(w, bitsPerPixel, 4) * h > limits.bufferBytes) {
        const auto side = static_cast<unsigned long long>(squareSide(limits.pixels));
        throw ELimitExceeded(
            formatMessage("Picture size %llu x %llu is too large (the limit is %llu pixels, %llu x %llu)",
                          static_cast<unsigned long long>(w), static_cast<unsigned long long>(h),
                          static_cast<unsigned long long>(limits.pixels), side, side));
    }
}

void checkCanvasExtent(const Limits& limits, int64_t right, int64_t bottom) {
    if (right > INT32_MAX || bottom > INT32_MAX)
        checkPictureSize(limits, std::max<int64_t>(right, 1), std::max<int64_t>(bottom, 1));
}

void checkDataCanFill(const Limits& limits, int64_t width, int64_t height, uint64_t dataBytes, uint64_t canFill,
                      uint64_t declared) {
    const uint64_t share = std::max<uint64_t>(limits.dataShare, 1);
    if (canFill >= declared / share + (declared % share != 0)) return;
    throw ELimitExceeded(
        formatMessage("Picture size %lld x %lld is refused: its %llu bytes of data could not fill 1/%llu of it",
                      static_cast<long long>(width), static_cast<long long>(height),
                      static_cast<unsigned long long>(dataBytes), static_cast<unsigned long long>(share)));
}

}  // namespace glx
