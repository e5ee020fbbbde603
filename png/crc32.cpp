#include "png/crc32.h"

#include "png/piece_deflate.h"

namespace glx {

uint32_t updateCrc(uint32_t crc, const uint8_t* data, size_t length) {
    // The library routine is the same polynomial; it takes and returns the
    // complemented register, and works on many bytes at a time.
    if (length == 0) return crc;
    return ~crc32Update(~crc, data, length);
}

uint32_t chunkCrc(const uint8_t type[4], const uint8_t* payload, size_t length) {
    return finishCrc(updateCrc(updateCrc(kCrcStart, type, 4), payload, length));
}

}  // namespace glx
