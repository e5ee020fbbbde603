// Helpers shared by the PNG tests: hand-built PNG streams, loading from
// bytes, the expected-pixel files of the conformance suite, and libpng as an
// independent reference decoder and encoder.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "base/stream.h"
#include "png/png_object.h"
#include "support/json_numbers.h"

namespace glx::pngtest {

using Bytes = std::vector<uint8_t>;

// A PNG stream assembled chunk by chunk, CRCs computed by zlib.
class PngBuilder {
public:
    PngBuilder& signature();
    PngBuilder& chunk(const std::string& type, const Bytes& payload);
    // A chunk whose stored CRC is deliberately wrong.
    PngBuilder& badCrcChunk(const std::string& type, const Bytes& payload);
    PngBuilder& raw(const Bytes& bytes);
    PngBuilder& ihdr(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, uint8_t interlace = 0);
    PngBuilder& iend() { return chunk("IEND", {}); }
    const Bytes& bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
};

Bytes be32(uint32_t v);
Bytes zlibCompress(const Bytes& data, int level = 6);
// Inflates one whole zlib stream (a test failure when it is not one).
Bytes zlibInflate(const Bytes& stream);
// Unfiltered image data: every row gets filter byte 0 in front.
Bytes filterNone(const std::vector<Bytes>& rows);

Bytes saveToBytes(const TPNGObject& image);
void loadFromBytes(TPNGObject& image, const Bytes& bytes);

using glxtest::readNumbers;
Bytes readFile(const std::string& path);
std::string suiteDir();

// Splits a PNG stream into its chunks (type and payload), after the signature.
struct RawChunk {
    std::string type;
    Bytes payload;
};
std::vector<RawChunk> splitChunks(const Bytes& png);

// libpng's view of a stream: the raw PNG samples of every row, without
// transformations (interlaced images come back de-interlaced).
struct RefImage {
    uint32_t width = 0, height = 0;
    int colorType = 0, bitDepth = 0, interlace = 0;
    std::vector<Bytes> rows;
    std::vector<std::array<uint8_t, 3>> palette;
    Bytes trns;
    // The sample of channel c of pixel x in row y (16-bit: the whole value).
    uint32_t sample(int32_t x, int32_t y, int c) const;
    int channels() const;
};
RefImage libpngDecode(const Bytes& png);
Bytes libpngEncode(const RefImage& image);

}  // namespace glx::pngtest
