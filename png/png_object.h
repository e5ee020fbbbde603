// TPNGObject: a PNG image in memory. Its chunk list holds the file's chunks
// in order; the header chunk at position 0 owns the pixels (a Dib the
// canvas draws into, rows top-down), the alpha plane (colour types 4 and
// 6, one byte per pixel, rows top-down, no padding) and the low-byte plane
// of 16-bit images.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "png/chunk.h"
#include "png/chunk_ihdr.h"
#include "png/png_errors.h"
#include "png/row_filters.h"
#include "raster/canvas.h"
#include "raster/graphic.h"

namespace glx {

class TBitmap;
class EncodeAhead;

enum TTransparencyKind { trNone, trKeyed, trPartial };

// A sample table of 256 entries (the decoding and encoding gamma).
using GammaTable = std::array<uint8_t, 256>;

class TPNGObject : public TGraphic {
public:
    // An empty image (no chunks).
    TPNGObject();
    // A blank image: all pixels black, alpha 0 (fully transparent). Refuses
    // invalid colour type / bit depth pairs and sizes below 1 x 1 with
    // EPNGInvalidSpec; a bit depth of 2 becomes 4.
    TPNGObject(uint32_t colorType, uint32_t bitDepth, int32_t width, int32_t height);
    static std::unique_ptr<TPNGObject> CreateNew(uint32_t colorType, uint32_t bitDepth, int32_t width, int32_t height) {
        return std::make_unique<TPNGObject>(colorType, bitDepth, width, height);
    }
    ~TPNGObject() override;

    // TGraphic
    const char* ClassName() const override { return "TPNGObject"; }
    std::unique_ptr<TGraphic> NewEmpty() const override { return std::make_unique<TPNGObject>(); }
    void CopyFrom(const TGraphic* source) override;
    void CopyTo(TGraphic& dest) const override;
    void PaintOn(TCanvas& canvas, const TRect& rect) const override;
    bool IsEmpty() const override { return m_chunks.SlotCount() == 0; }
    int32_t Width() const override;
    int32_t Height() const override;
    void SetWidth(int32_t value) override { ChangeSize(value, Height()); }
    void SetHeight(int32_t value) override { ChangeSize(Width(), value); }
    bool IsTransparent() const override { return TransparencyKind() != trNone; }
    void ReadFrom(TStream& stream) override;
    void WriteTo(TStream& stream) const override;

    virtual TColor PixelAt(int32_t x, int32_t y) const;
    virtual void SetPixelAt(int32_t x, int32_t y, TColor color);

    // EPNGHeaderNotPresent unless list item 0 is a header chunk.
    TChunkIHDR& HeaderChunk();
    const TChunkIHDR& HeaderChunk() const;
    bool HasHeader() const { return m_chunks.Header() != nullptr; }

    // Row y (0 = top): colour pixels (blue-green-red for colour types 2 and
    // 6), the alpha plane (null unless colour type 4 or 6) and the low bytes
    // of 16-bit images (null otherwise). y is not checked.
    // Writable only through an image that may be changed.
    uint8_t* PixelRow(int32_t y) { return HeaderChunk().PixelRow(y); }
    uint8_t* AlphaRow(int32_t y) { return HeaderChunk().AlphaRow(y); }
    uint8_t* LowByteRow(int32_t y) { return HeaderChunk().LowByteRow(y); }
    const uint8_t* PixelRow(int32_t y) const { return HeaderChunk().PixelRow(y); }
    const uint8_t* AlphaRow(int32_t y) const { return HeaderChunk().AlphaRow(y); }
    const uint8_t* LowByteRow(int32_t y) const { return HeaderChunk().LowByteRow(y); }

    TTransparencyKind TransparencyKind() const;
    TColor TransparentKeyColor() const;

    // Keeps the top-left part common to both sizes; new pixels are black
    // and opaque. EPNGInvalidNewSize below 1 x 1.
    void ChangeSize(int32_t newWidth, int32_t newHeight);

    void RemoveAllChunks();
    void ResetGamma();

    struct RowGeometryInfo {
        uint32_t rowBytes = 0;
        uint32_t filterDistance = 0;
    };
    // Bytes of one full-width PNG row and the filter distance; (0, 0) without a header.
    RowGeometryInfo RowGeometry() const;

    // The canvas bound to the image's pixels (unbound without a header).
    TCanvas& Canvas() const { return m_canvas; }
    TPNGList& Chunks() { return m_chunks; }
    const TPNGList& Chunks() const { return m_chunks; }

    // Imports a bitmap: palette image below 16 bits per pixel, RGB otherwise;
    // transparent bitmaps get a tRNS chunk keyed on keyColor.
    void TakeBitmap(const TBitmap& bitmap, bool transparent, TColor keyColor);

    // Encoder settings.
    RowFilterSet RowFilters = rowFilterBit(rfSub);
    uint8_t DeflateLevel = 7;
    uint8_t Interlacing = 0;
    int32_t IdatChunkSize() const { return m_idatChunkSize; }
    // Values below 65535 are stored as 65535.
    void SetIdatChunkSize(int32_t value) { m_idatChunkSize = value < 65535 ? 65535 : value; }

    // Encoding ahead of saving, for a picture made band by band: rows
    // [0, rows) of its left width columns will not change any more unless
    // the picture gets wider. They are filtered and deflated now, on the
    // writer's pool, while the caller goes on; a different width starts
    // over. FinishEncodingAhead encodes the rows not offered yet. Writing
    // then uses that data only when the header, the settings and every row
    // still match what was offered (a checksum is kept), so the file is the
    // one encoding the finished picture gives.
    void OfferFinalRows(int32_t width, int32_t rows);
    void FinishEncodingAhead();

    // Applied to samples when reading, and its inverse when writing; both
    // the identity after ResetGamma. A gAMA chunk read before the image
    // data sets them; the samples in memory carry the decoding table.
    const GammaTable& DecodeGamma() const { return m_decodeGamma; }
    const GammaTable& EncodeGamma() const { return m_encodeGamma; }
    void SetGammaTables(const GammaTable& decode, const GammaTable& encode);
    // While an image is being built, its critical chunks may be added.
    bool IsConstructing() const { return m_constructing; }

private:
    friend class TChunkIHDR;
    friend class TChunkIDAT;

    // Writes the data encoded ahead when it matches the picture; false
    // (nothing written) otherwise.
    bool writeEncodedAhead(TStream& stream) const;

    // What one reading pass has learnt of the first run of IDAT chunks
    // ahead: chunk headers are looked at once, however many header chunks
    // ask (png_stream.cpp).
    struct ImageDataProbe {
        int64_t next = -1;  // the next chunk header to look at
        uint64_t bytes = 0;  // data bytes of the run counted so far
        bool run = false;  // an IDAT chunk was found
        bool ended = false;  // the run ended, or no IDAT chunk can follow
    };
    // The data bytes of the first run of IDAT chunks after the reader's
    // position, counted until at least `enough` (the reader is left where
    // it was); nullopt when no image data comes before IEND or before the
    // chunk framing breaks, which makes the read fail on its own.
    std::optional<uint64_t> imageDataAhead(StreamReader& reader, uint64_t enough);

    void CopyPNG(const TPNGObject& source);
    void BlendOnto(TCanvas& canvas, const TRect& rect) const;

    GammaTable m_decodeGamma{};
    GammaTable m_encodeGamma{};
    bool m_constructing = false;
    int32_t m_idatChunkSize = 65535;
    ImageDataProbe m_probe;
    std::unique_ptr<EncodeAhead> m_ahead;
    mutable TCanvas m_canvas;
    TPNGList m_chunks;
};

// The opacity of each pixel of row y as the image's transparency defines it,
// for any colour type: the alpha plane (colour types 4 and 6), the tRNS
// alpha of each pixel's palette entry (colour type 3), 0 on the key colour
// and 255 elsewhere (keyed grey and RGB images), 255 without transparency.
// out receives Width() bytes.
void effectiveAlphaRow(const TPNGObject& image, int32_t y, uint8_t* out);

// Registers TPNGObject with the picture container for ".png" (once).
void registerPngFormat();

}  // namespace glx
