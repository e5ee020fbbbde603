#include "base/limits.h"

#include <algorithm>
#include <cstdint>

#include "base/exception.h"

namespace glx {

uint64_t rowBytes(uint64_t width, uint64_t bitsPerPixel, uint64_t align) {
    // width is at most 2^32 and bitsPerPixel small, so the product fits.
    uint64_t bytes = (width * bitsPerPixel + 7) / 8;
    if (align > 1) bytes = (bytes + align - 1) / align * align;
    return bytes;
}

void checkPictureSize(int64_t width, int64_t height, uint64_t bitsPerPixel) {
    if (width < 0 || height < 0)
        throw ELimitExceeded(formatMessage("Invalid picture size %lld x %lld", static_cast<long long>(width),
                                           static_cast<long long>(height)));
    uint64_t w = static_cast<uint64_t>(width), h = static_cast<uint64_t>(height);
    if (w > (uint64_t(1) << 32) || h > (uint64_t(1) << 32) || w * h > kMaxPixels ||
        rowBytes(w, bitsPerPixel, 4) * h > kMaxBufferBytes)
        throw ELimitExceeded(
            formatMessage("Picture size %llu x %llu is too large (the limit is 268435456 pixels, 16384 x 16384)",
                          static_cast<unsigned long long>(w), static_cast<unsigned long long>(h)));
}

void checkCanvasExtent(int64_t right, int64_t bottom) {
    if (right > INT32_MAX || bottom > INT32_MAX)
        checkPictureSize(std::max<int64_t>(right, 1), std::max<int64_t>(bottom, 1));
}

void checkDataCanFill(int64_t width, int64_t height, uint64_t dataBytes, uint64_t canFill, uint64_t declared) {
    if (canFill >= declared / kMinDataShare + (declared % kMinDataShare != 0)) return;
    throw ELimitExceeded(
        formatMessage("Picture size %lld x %lld is refused: its %llu bytes of data could not fill 1/%llu of it",
                      static_cast<long long>(width), static_cast<long long>(height),
                      static_cast<unsigned long long>(dataBytes), static_cast<unsigned long long>(kMinDataShare)));
}

}  // namespace glx
