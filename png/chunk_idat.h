// The image data chunk. Reading the first IDAT chunk decodes the whole image
// into the header's pixel memory (consuming all directly following IDAT
// chunks); writing encodes the header's image as one or more IDAT chunks.
#pragma once

#include "png/chunk.h"

namespace glx {

class TChunkIDAT : public TChunk {
public:
    static constexpr const char* kClassTypeCode = "IDAT";
    explicit TChunkIDAT(TPNGObject& image) : TChunk(image) { initTypeCode(kClassTypeCode); }
    const char* TypeCodeOfClass() const override { return kClassTypeCode; }
    bool ReadPayload(StreamReader& reader, const TChunkType& type, uint32_t length) override;
    bool WritePayload(TStream& stream) override;
};

}  // namespace glx
