#include "png/crc32.h"

#include <array>

namespace glx {

namespace {

// Four tables for slicing-by-4: table 0 is the classic byte table, table k
// advances a byte that lies k positions further ahead.
struct CrcTables {
    std::array<std::array<uint32_t, 256>, 4> t{};
    CrcTables() {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][n] = c;
        }
        for (uint32_t n = 0; n < 256; ++n)
            for (int k = 1; k < 4; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    }
};

const CrcTables& tables() {
    static const CrcTables tables;  // built on first use, kept for the process
    return tables;
}

}  // namespace

uint32_t updateCrc(uint32_t crc, const uint8_t* data, size_t length) {
    const auto& t = tables().t;
    size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        crc ^= uint32_t(data[i]) | (uint32_t(data[i + 1]) << 8) | (uint32_t(data[i + 2]) << 16) |
               (uint32_t(data[i + 3]) << 24);
        crc = t[3][crc & 0xFF] ^ t[2][(crc >> 8) & 0xFF] ^ t[1][(crc >> 16) & 0xFF] ^ t[0][crc >> 24];
    }
    for (; i < length; ++i) crc = t[0][(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint32_t chunkCrc(const uint8_t type[4], const uint8_t* payload, size_t length) {
    return finishCrc(updateCrc(updateCrc(kCrcStart, type, 4), payload, length));
}

}  // namespace glx
