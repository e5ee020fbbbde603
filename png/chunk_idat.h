// The image data chunk. Reading the first IDAT chunk decodes the whole image
// into the header's pixel memory (consuming all directly following IDAT
// chunks); writing encodes the header's image as one or more IDAT chunks.
#pragma once

#include "png/chunk.h"

namespace glx {

class TChunkIDAT : public ChunkOfType<"IDAT"> {
public:
    using ChunkOfType::ChunkOfType;
    bool ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) override;
    bool WritePayload(TStream& stream) const override;
};

}  // namespace glx
