// Small big-endian helpers shared by the codec's .cpp files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace glx {

class TStream;
class StreamReader;

void writeU32be(TStream& stream, uint32_t value);
// The short-read handler of the PNG reader's StreamReader: a stream that
// ends before what the file promises is EPngUnexpectedEnd.
[[noreturn]] void pngUnexpectedEnd();
// Refuses (EPngUnexpectedEnd) a chunk length of 2^31 or more, or one whose
// data and CRC do not fit in the rest of the stream; headerLeft = bytes of
// the chunk header (its type) still to be read at the reader's position.
uint32_t readChunkLengthChecked(const StreamReader& reader, uint32_t length, uint32_t headerLeft);

inline uint32_t getU32be(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void putU32be(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

}  // namespace glx
