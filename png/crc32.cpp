#include "png/crc32.h"

#include <zlib.h>

namespace glx {

uint32_t updateCrc(uint32_t crc, const uint8_t* data, size_t length) {
    // zlib's CRC-32 is the same polynomial; it takes and returns the
    // complemented register, and works on several bytes at a time.
    if (length == 0) return crc;
    return static_cast<uint32_t>(~crc32_z(~crc & 0xFFFFFFFFu, data, length)) & 0xFFFFFFFFu;
}

uint32_t chunkCrc(const uint8_t type[4], const uint8_t* payload, size_t length) {
    return finishCrc(updateCrc(updateCrc(kCrcStart, type, 4), payload, length));
}

}  // namespace glx
