// The header chunk. Besides the IHDR fields it builds and owns the image in
// memory: the colour pixels in a Dib (top-down rows; 24-bit blue-green-red
// for colour types 2 and 6, 1/4/8-bit indices into the colour table for
// grey and palette images), the palette, the alpha plane (colour types 4
// and 6) and the low-byte plane of 16-bit images. The planes are private:
// the header keeps their sizes in step with each other and with the
// header fields, and the image's canvas bound to the pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "base/large_buffer.h"
#include "png/chunk.h"
#include "png/png_format.h"
#include "raster/dib.h"

namespace glx {

class TChunkIHDR : public ChunkOfType<"IHDR"> {
public:
    explicit TChunkIHDR(TPNGObject& image);
    ~TChunkIHDR() override;

    // Copies the header fields, pixels, alpha plane and palette of another
    // header (EPngError when source is not a header). The low-byte plane
    // starts zeroed.
    void CopyFrom(const TChunk& source) override;
    bool ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) override;
    // A 2-bit depth is written as 4: 2-bit images are held as 4-bit ones.
    bool WritePayload(TStream& stream) const override;

    // Builds blank pixel memory for the header fields (all pixels 0, alpha
    // 0): checks the colour type / bit depth pair and the size limits first.
    void AllocateImage();
    void ReleaseImage();
    // ELimitExceeded when the header's picture is beyond the limits.
    void checkSize() const;
    // Keeps the top-left part common to both sizes; new pixels are 0 and
    // opaque. The header fields take the new size.
    void ResizeImage(int32_t newWidth, int32_t newHeight);

    // Bits per pixel of the in-memory colour pixels.
    int MemoryBitsPerPixel() const;
    // The bit depth the image is written with (2-bit images as 4-bit).
    uint8_t WrittenBitDepth() const { return BitDepth == kDepth2 ? 4 : BitDepth; }
    bool HasImage() const { return !m_dib.empty(); }

    // The colour pixels and colour table, to read.
    const Dib& Pixels() const { return m_dib; }
    // Row y (0 = top) of the colour pixels, the alpha plane (null unless
    // colour type 4 or 6) and the low bytes (null unless 16-bit); writable
    // only through a header that may be changed. y is not checked.
    uint8_t* PixelRow(int32_t y) { return m_dib.row(y); }
    const uint8_t* PixelRow(int32_t y) const { return m_dib.row(y); }
    uint8_t* AlphaRow(int32_t y) { return planeRow(m_alpha.data(), HeaderWidth, y); }
    const uint8_t* AlphaRow(int32_t y) const { return planeRow(m_alpha.data(), HeaderWidth, y); }
    uint8_t* LowByteRow(int32_t y) { return planeRow(m_low.data(), static_cast<size_t>(m_rowStride), y); }
    const uint8_t* LowByteRow(int32_t y) const { return planeRow(m_low.data(), static_cast<size_t>(m_rowStride), y); }
    void SetIndex(int32_t x, int32_t y, uint32_t index) { m_dib.setIndex(x, y, index); }
    int32_t RowStride() const { return m_rowStride; }
    bool UsesColorTable() const { return m_usesColorTable; }
    const std::vector<RGBQuad>& Palette() const { return m_palette; }

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

private:
    void bindCanvas();
    // Row y of a plane of rows of stride bytes; null for an absent plane.
    template <class Byte>
    static Byte* planeRow(Byte* plane, size_t stride, int32_t y) {
        return plane ? plane + static_cast<size_t>(y) * stride : nullptr;
    }

    Dib m_dib;  // colour pixels and colour table
    std::vector<RGBQuad> m_palette;  // the palette, when the image uses a colour table
    bool m_usesColorTable = false;
    LargeBuffer m_alpha;  // HeaderWidth x HeaderHeight, top-down
    LargeBuffer m_low;  // RowStride x HeaderHeight, top-down
    int32_t m_rowStride = 0;
};

// True for the colour type / bit depth pairs of the PNG format.
bool IsValidColorTypeDepth(uint32_t colorType, uint32_t bitDepth);

}  // namespace glx
