#include "png/png_object.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/limits.h"
#include "png/chunk_ancillary.h"
#include "png/chunk_idat.h"
#include "png/encode_ahead.h"
#include "png/pixel_rows.h"
#include "png/png_format.h"
#include "raster/bitmap.h"
#include "raster/picture.h"

namespace glx {

TPNGObject::TPNGObject() : m_chunks(this) { ResetGamma(); }

TPNGObject::TPNGObject(uint32_t colorType, uint32_t bitDepth, int32_t width, int32_t height) : TPNGObject() {
    // Only the pairs of the PNG format, and at least one pixel.
    if (!IsValidColorTypeDepth(colorType, bitDepth) || width < 1 || height < 1) throw EPNGInvalidSpec();
    if (bitDepth == 2) bitDepth = 4;
    ResetGamma();
    m_constructing = true;
    m_chunks.AddChunkOfClass<TChunkIEND>();
    auto* header = m_chunks.AddChunkOfClass<TChunkIHDR>();
    header->ColorType = static_cast<uint8_t>(colorType);
    header->BitDepth = static_cast<uint8_t>(bitDepth);
    header->HeaderWidth = static_cast<uint32_t>(width);
    header->HeaderHeight = static_cast<uint32_t>(height);
    header->AllocateImage();
    if (colorType == kColorPalette) m_chunks.AddChunkOfClass<TChunkPLTE>()->EntryCount = 1 << bitDepth;
    m_chunks.AddChunkOfClass<TChunkIDAT>();
    m_constructing = false;
}

TPNGObject::~TPNGObject() { RemoveAllChunks(); }

void TPNGObject::ResetGamma() {
    for (size_t i = 0; i < 256; ++i) m_decodeGamma[i] = m_encodeGamma[i] = static_cast<uint8_t>(i);
}

void TPNGObject::SetGammaTables(const GammaTable& decode, const GammaTable& encode) {
    m_decodeGamma = decode;
    m_encodeGamma = encode;
}

void TPNGObject::OfferFinalRows(int32_t width, int32_t rows) {
    if (!HasHeader()) return;
    if (!m_ahead) m_ahead = std::make_unique<EncodeAhead>();
    m_ahead->offer(*this, width, rows);
}

void TPNGObject::FinishEncodingAhead() {
    if (m_ahead && HasHeader()) m_ahead->finish(*this);
}

bool TPNGObject::writeEncodedAhead(TStream& stream) const { return m_ahead && m_ahead->writeIfMatching(*this, stream); }

void TPNGObject::RemoveAllChunks() {
    m_ahead.reset();
    ResetGamma();
    m_chunks.Clear();
    m_canvas.bind(nullptr);
}

TChunkIHDR& TPNGObject::HeaderChunk() {
    TChunkIHDR* header = m_chunks.Header();
    if (!header) throw EPNGHeaderNotPresent();
    return *header;
}

const TChunkIHDR& TPNGObject::HeaderChunk() const {
    const TChunkIHDR* header = m_chunks.Header();
    if (!header) throw EPNGHeaderNotPresent();
    return *header;
}

int32_t TPNGObject::Width() const { return HasHeader() ? static_cast<int32_t>(HeaderChunk().HeaderWidth) : 0; }
int32_t TPNGObject::Height() const { return HasHeader() ? static_cast<int32_t>(HeaderChunk().HeaderHeight) : 0; }

TPNGObject::RowGeometryInfo TPNGObject::RowGeometry() const {
    if (!HasHeader()) return {};
    const TChunkIHDR& h = HeaderChunk();
    PngRowGeometry g = pngRowGeometry(h.ColorType, h.BitDepth, h.HeaderWidth);
    return {g.rowBytes, g.distance};
}

TTransparencyKind TPNGObject::TransparencyKind() const {
    const TChunkIHDR& h = HeaderChunk();
    const auto* trns = m_chunks.FindByClass<TChunktRNS>();
    switch (h.ColorType) {
        case kColorGrey:
        case kColorRgb:
            return trns ? trKeyed : trNone;
        case kColorPalette:
            if (!trns) return trNone;
            return trns->SingleKey ? trKeyed : trPartial;
        case kColorGreyAlpha:
        case kColorRgba:
            return trPartial;
        default:
            return trNone;
    }
}

TColor TPNGObject::TransparentKeyColor() const {
    const auto* trns = m_chunks.FindByClass<TChunktRNS>();
    return trns ? trns->KeyColor() : 0;
}

TColor TPNGObject::PixelAt(int32_t x, int32_t y) const {
    if (!HasHeader() || x < 0 || y < 0 || x >= Width() || y >= Height()) return 0;
    const TChunkIHDR& h = HeaderChunk();
    const uint8_t* row = h.PixelRow(y);
    switch (h.ColorType) {
        case kColorRgb:
        case kColorRgba: {
            const uint8_t* p = row + 3 * static_cast<size_t>(x);
            return rgb(p[2], p[1], p[0]);
        }
        case kColorGreyAlpha:
            return rgb(row[x], row[x], row[x]);
        case kColorPalette: {
            // The colour table already carries the decoding gamma.
            uint32_t index = h.Pixels().index(x, y);
            const auto& table = h.Pixels().colorTable();
            if (index >= table.size()) return 0;
            return rgb(table[index].red, table[index].green, table[index].blue);
        }
        case kColorGrey: {
            const int bpp = h.MemoryBitsPerPixel();
            uint32_t s = h.Pixels().index(x, y);
            uint8_t g = bpp == 1 ? (s ? 255 : 0) : bpp == 4 ? static_cast<uint8_t>(s * 17) : static_cast<uint8_t>(s);
            g = m_decodeGamma[g];
            return rgb(g, g, g);
        }
        default:
            return 0;
    }
}

void TPNGObject::SetPixelAt(int32_t x, int32_t y, TColor color) {
    if (!HasHeader() || x < 0 || y < 0 || x >= Width() || y >= Height()) return;
    TChunkIHDR& h = HeaderChunk();
    color = colorToRGB(color);
    uint8_t* row = h.PixelRow(y);
    switch (h.ColorType) {
        case kColorGrey:
        case kColorPalette:
            h.SetIndex(x, y, h.Pixels().nearestIndex(color));
            break;
        case kColorGreyAlpha:
            row[x] = getRValue(color);
            break;
        case kColorRgb:
        case kColorRgba: {
            uint8_t* p = row + 3 * static_cast<size_t>(x);
            p[0] = getBValue(color);
            p[1] = getGValue(color);
            p[2] = getRValue(color);
            break;
        }
        default:
            break;
    }
}

void TPNGObject::ChangeSize(int32_t newWidth, int32_t newHeight) {
    if (newWidth < 1 || newHeight < 1) throw EPNGInvalidNewSize();
    HeaderChunk().ResizeImage(newWidth, newHeight);
}

// ---------------------------------------------------------------- copying

void TPNGObject::CopyPNG(const TPNGObject& source) {
    if (&source == this) return;
    Interlacing = source.Interlacing;
    SetIdatChunkSize(source.IdatChunkSize());
    DeflateLevel = source.DeflateLevel;
    RowFilters = source.RowFilters;
    RemoveAllChunks();
    for (uint32_t i = 0; i < source.m_chunks.SlotCount(); ++i) {
        const TChunk* from = source.m_chunks.Item(i);
        m_chunks.Append(NewChunkForType(*this, from->TypeCode()))->CopyFrom(*from);
    }
    // The samples carry the source's decoding gamma; writing them needs
    // the matching encoding table.
    SetGammaTables(source.m_decodeGamma, source.m_encodeGamma);
}

void TPNGObject::CopyFrom(const TGraphic* source) {
    if (!source) {
        RemoveAllChunks();
        return;
    }
    if (const auto* png = dynamic_cast<const TPNGObject*>(source)) {
        CopyPNG(*png);
        return;
    }
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
        TakeBitmap(*bitmap, bitmap->IsTransparent(), colorToRGB(bitmap->TransparentColor()));
        return;
    }
    TGraphic::CopyFrom(source);
}

// ---------------------------------------------------------------- registration

void registerPngFormat() {
    // Once, however often a program runs the application.
    static const bool registered = [] {
        RegisterFileFormat(
            "png", "Portable Network Graphics", [] { return std::make_unique<TPNGObject>(); }, "TPNGObject");
        return true;
    }();
    (void)registered;
}

}  // namespace glx
