// The header chunk. Besides the IHDR fields it builds and owns the image in
// memory: the colour pixels in a TDib (top-down rows; 24-bit blue-green-red
// for colour types 2 and 6, 1/4/8-bit indices into the colour table for
// grey and palette images), the palette, the alpha plane (colour types 4
// and 6) and the low-byte plane of 16-bit images.
#pragma once

#include <cstdint>
#include <vector>

#include "base/large_buffer.h"
#include "png/chunk.h"
#include "raster/dib.h"

namespace glx {

class TChunkIHDR : public TChunk {
public:
    static constexpr const char* kClassTypeCode = "IHDR";
    explicit TChunkIHDR(TPNGObject& image);
    ~TChunkIHDR() override;
    const char* TypeCodeOfClass() const override { return kClassTypeCode; }

    // Copies the header fields, pixels, alpha plane and palette of another
    // header (EPngError when source is not a header). The low-byte plane
    // starts zeroed.
    void CopyFrom(const TChunk& source) override;
    bool ReadPayload(StreamReader& reader, const TChunkType& type, uint32_t length) override;
    // A 2-bit depth becomes 4 here for good: 2-bit images are held and
    // written as 4-bit ones.
    bool WritePayload(TStream& stream) override;

    // Builds blank pixel memory for the header fields (all pixels 0, alpha
    // 0): checks the colour type / bit depth pair and the size limits first.
    void AllocateImage();
    void ReleaseImage();
    // ELimitExceeded when the header's picture is beyond the limits.
    void checkSize() const;

    // Bits per pixel of the in-memory colour pixels.
    int MemoryBitsPerPixel() const;
    bool HasImage() const { return !Dib.empty(); }

    uint8_t* PixelRow(int32_t y) { return Dib.row(y); }
    uint8_t* AlphaRow(int32_t y) {
        return AlphaData.empty() ? nullptr : AlphaData.data() + static_cast<size_t>(y) * HeaderWidth;
    }
    uint8_t* LowByteRow(int32_t y) {
        return LowByteData.empty() ? nullptr : LowByteData.data() + static_cast<size_t>(y) * RowStride;
    }

    // Installs palette entries: with a colour table they are copied into it
    // and kept as the palette; otherwise they are ignored.
    void SetPalette(std::vector<RGBQuad> entries);
    // The grey ramp of the in-memory depth through the image's DecodeGamma.
    void InstallGreyRamp();

    uint32_t HeaderWidth = 0;
    uint32_t HeaderHeight = 0;
    uint8_t BitDepth = 0;
    uint8_t ColorType = 0;
    uint8_t CompressionMethod = 0;
    uint8_t FilterMethod = 0;
    uint8_t InterlaceMethod = 0;

    TDib Dib;                          // colour pixels and colour table
    std::vector<RGBQuad> Palette;      // the palette, when UsesColorTable
    bool UsesColorTable = false;
    LargeBuffer AlphaData;             // HeaderWidth x HeaderHeight, top-down
    LargeBuffer LowByteData;           // RowStride x HeaderHeight, top-down
    int32_t RowStride = 0;
};

// True for the colour type / bit depth pairs of the PNG format.
bool IsValidColorTypeDepth(uint32_t colorType, uint32_t bitDepth);

}  // namespace glx
