// Encoding the image data of a picture that is still being made. Gluing
// finishes its canvas band by band: the rows above the band under way will
// not change any more unless the canvas gets wider. They are offered here
// in order and filtered and deflated at once (the pieces on the writer's
// pool) while gluing goes on, so that at saving little is left to encode.
// A checksum of every row offered (its pixel and alpha bytes in memory) and
// the encoding gamma table are kept; the encoded data stands in for
// encoding at writing time only when the header and settings are the ones
// it was made for, the gamma table is the same and every row of the picture
// still has that checksum, so the file is byte for byte what encoding the
// finished picture gives. Checking needs no second conversion of the rows.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "png/idat_stream.h"

namespace glx {

class TPNGObject;
class TStream;

class EncodeAhead {
public:
    EncodeAhead();
    ~EncodeAhead();
    EncodeAhead(const EncodeAhead&) = delete;
    EncodeAhead& operator=(const EncodeAhead&) = delete;

    // Rows [0, rows) of the left width columns of image are final. A width
    // other than the one offered before starts over from the top.
    void offer(const TPNGObject& image, int32_t width, int32_t rows);
    // Offers the remaining rows of image at its own width and ends the
    // stream. Nothing is kept when the picture is interlaced or narrower
    // than what was offered.
    void finish(const TPNGObject& image);
    // Writes the encoded IDAT chunks when they match image as it is now;
    // false (nothing written) otherwise.
    bool writeIfMatching(const TPNGObject& image, TStream& stream) const;

private:
    void hand(const TPNGObject& image, int32_t toRow);

    int32_t m_width = 0;
    int32_t m_handed = 0;
    uint32_t m_crc = 0;  // of the memory rows handed, in order
    std::array<uint8_t, 256> m_gamma{};  // the encoding gamma table they were converted with
    std::unique_ptr<IdatStream> m_stream;
    std::unique_ptr<PreparedIdat> m_result;
};

// The checksum of rows [from, rows) of image's memory, the left width
// columns of each (pixel bytes, then alpha bytes), continuing crc: the one
// EncodeAhead keeps of what it was offered. The PNG rows of that width are
// made of these bytes and the encoding gamma table alone.
uint32_t memoryRowsChecksum(const TPNGObject& image, int32_t width, int32_t rows, uint32_t crc = 0, int32_t from = 0);

}  // namespace glx
