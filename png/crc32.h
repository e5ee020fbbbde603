// CRC-32 of the PNG format (reflected polynomial 0xEDB88320). The register
// starts at all ones and is complemented at the end, so a chunk's type and
// payload can be fed in separate calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace glx {

constexpr uint32_t kCrcStart = 0xFFFFFFFFu;

uint32_t updateCrc(uint32_t crc, const uint8_t* data, size_t length);
inline uint32_t finishCrc(uint32_t crc) { return crc ^ 0xFFFFFFFFu; }
// CRC of a whole chunk: its 4 type bytes followed by the payload.
uint32_t chunkCrc(const uint8_t type[4], const uint8_t* payload, size_t length);

}  // namespace glx
