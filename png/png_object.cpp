#include "png/png_object.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/limits.h"
#include "png/chunk_ancillary.h"
#include "png/chunk_idat.h"
#include "png/pixel_rows.h"
#include "raster/bitmap.h"
#include "raster/picture.h"

namespace glx {

TPNGObject::TPNGObject() : m_chunks(this) { ResetGamma(); }

TPNGObject::TPNGObject(uint32_t colorType, uint32_t bitDepth, int32_t width, int32_t height) : TPNGObject() {
    // Only the pairs of the PNG format, and at least one pixel.
    if (!IsValidColorTypeDepth(colorType, bitDepth) || width < 1 || height < 1) throw EPNGInvalidSpec();
    if (bitDepth == 2) bitDepth = 4;
    ResetGamma();
    Constructing = true;
    m_chunks.AddChunkOfClass<TChunkIEND>();
    auto* header = m_chunks.AddChunkOfClass<TChunkIHDR>();
    header->ColorType = static_cast<uint8_t>(colorType);
    header->BitDepth = static_cast<uint8_t>(bitDepth);
    header->HeaderWidth = static_cast<uint32_t>(width);
    header->HeaderHeight = static_cast<uint32_t>(height);
    header->AllocateImage();
    if (colorType == 3) m_chunks.AddChunkOfClass<TChunkPLTE>()->EntryCount = 1 << bitDepth;
    m_chunks.AddChunkOfClass<TChunkIDAT>();
    Constructing = false;
}

TPNGObject::~TPNGObject() { RemoveAllChunks(); }

void TPNGObject::ResetGamma() {
    for (int i = 0; i < 256; ++i) {
        DecodeGamma[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
        EncodeGamma[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    }
}

void TPNGObject::RemoveAllChunks() {
    ResetGamma();
    for (uint32_t i = 0; i < m_chunks.SlotCount(); ++i) {
        TChunk* c = m_chunks.Item(i);
        m_chunks.PutAt(i, nullptr);
        delete c;
    }
    m_chunks.SetCount(0);
    m_canvas.bind(nullptr);
}

bool TPNGObject::HasHeader() const { return dynamic_cast<TChunkIHDR*>(m_chunks.Item(0)) != nullptr; }

TChunkIHDR& TPNGObject::HeaderChunk() const {
    auto* header = dynamic_cast<TChunkIHDR*>(m_chunks.Item(0));
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
        case 0:
        case 2: return trns ? trKeyed : trNone;
        case 3:
            if (!trns) return trNone;
            return trns->SingleKey ? trKeyed : trPartial;
        case 4:
        case 6: return trPartial;
        default: return trNone;
    }
}

TColor TPNGObject::TransparentKeyColor() const {
    const auto* trns = m_chunks.FindByClass<TChunktRNS>();
    return trns ? trns->KeyColor() : 0;
}

TColor TPNGObject::PixelAt(int32_t x, int32_t y) const {
    if (!HasHeader() || x < 0 || y < 0 || x >= Width() || y >= Height()) return 0;
    TChunkIHDR& h = HeaderChunk();
    const uint8_t* row = h.PixelRow(y);
    switch (h.ColorType) {
        case 2:
        case 6: {
            const uint8_t* p = row + 3 * static_cast<size_t>(x);
            return rgb(p[2], p[1], p[0]);
        }
        case 4: return rgb(row[x], row[x], row[x]);
        case 3: {
            // The colour table already carries the decoding gamma.
            uint32_t index = h.Dib.index(x, y);
            const auto& table = h.Dib.colorTable();
            if (index >= table.size()) return 0;
            return rgb(table[index].red, table[index].green, table[index].blue);
        }
        case 0: {
            const int bpp = h.MemoryBitsPerPixel();
            uint32_t s = h.Dib.index(x, y);
            uint8_t g = bpp == 1 ? (s ? 255 : 0) : bpp == 4 ? static_cast<uint8_t>(s * 17) : static_cast<uint8_t>(s);
            g = DecodeGamma[g];
            return rgb(g, g, g);
        }
        default: return 0;
    }
}

void TPNGObject::SetPixelAt(int32_t x, int32_t y, TColor color) {
    if (!HasHeader() || x < 0 || y < 0 || x >= Width() || y >= Height()) return;
    TChunkIHDR& h = HeaderChunk();
    color = colorToRGB(color);
    uint8_t* row = h.PixelRow(y);
    switch (h.ColorType) {
        case 0:
        case 3: h.Dib.setIndex(x, y, h.Dib.nearestIndex(color)); break;
        case 4: row[x] = getRValue(color); break;
        case 2:
        case 6: {
            uint8_t* p = row + 3 * static_cast<size_t>(x);
            p[0] = getBValue(color);
            p[1] = getGValue(color);
            p[2] = getRValue(color);
            break;
        }
        default: break;
    }
}

void TPNGObject::ChangeSize(int32_t newWidth, int32_t newHeight) {
    if (newWidth < 1 || newHeight < 1) throw EPNGInvalidNewSize();
    m_prepared.reset();
    TChunkIHDR& h = HeaderChunk();
    const int bpp = h.MemoryBitsPerPixel();
    const bool low = !h.LowByteData.empty();
    const bool alpha = !h.AlphaData.empty();
    checkPictureSize(newWidth, newHeight, static_cast<uint64_t>(bpp) * (low ? 2 : 1) + (alpha ? 8 : 0));

    const int32_t oldWidth = static_cast<int32_t>(h.HeaderWidth), oldHeight = static_cast<int32_t>(h.HeaderHeight);
    if (newWidth == oldWidth && newHeight <= oldHeight && bpp % 8 == 0) {
        // Cropping rows off the bottom keeps the other rows where they are:
        // no second buffer, so the memory peak stays at the current size.
        h.Dib.keepTopRows(newHeight);
        if (alpha) h.AlphaData.shrink(static_cast<size_t>(newWidth) * static_cast<size_t>(newHeight));
        if (low) h.LowByteData.shrink(static_cast<size_t>(h.RowStride) * static_cast<size_t>(newHeight));
        h.HeaderHeight = static_cast<uint32_t>(newHeight);
        m_canvas.bind(&h.Dib);
        return;
    }
    const int32_t rows = std::min(newHeight, oldHeight);
    const int32_t cols = std::min(newWidth, oldWidth);
    // Whole bytes of the common columns, then the bits of a partly shared byte.
    const uint64_t commonBits = static_cast<uint64_t>(cols) * static_cast<uint64_t>(bpp);
    const size_t fullBytes = static_cast<size_t>(commonBits / 8);
    const unsigned restBits = static_cast<unsigned>(commonBits % 8);
    const uint8_t restMask = static_cast<uint8_t>(0xFF00u >> restBits);
    auto copyRow = [&](uint8_t* dst, const uint8_t* src) {
        std::memcpy(dst, src, fullBytes);
        if (restBits) dst[fullBytes] = static_cast<uint8_t>(src[fullBytes] & restMask);
    };

    TDib dib(newWidth, newHeight, bpp, h.Dib.colorTable());
    for (int32_t y = 0; y < rows; ++y) copyRow(dib.row(y), h.Dib.row(y));
    const int32_t newStride = static_cast<int32_t>(dib.stride());

    LargeBuffer newAlpha, newLow;
    if (alpha) {
        newAlpha = LargeBuffer(static_cast<size_t>(newWidth) * static_cast<size_t>(newHeight));
        std::memset(newAlpha.data(), 255, newAlpha.size());
    }
    if (low) newLow = LargeBuffer(static_cast<size_t>(newStride) * static_cast<size_t>(newHeight));
    if (alpha) {
        for (int32_t y = 0; y < rows; ++y)
            std::memcpy(newAlpha.data() + static_cast<size_t>(y) * static_cast<size_t>(newWidth),
                        h.AlphaData.data() + static_cast<size_t>(y) * static_cast<size_t>(oldWidth),
                        static_cast<size_t>(cols));
    }
    if (low) {
        for (int32_t y = 0; y < rows; ++y)
            copyRow(newLow.data() + static_cast<size_t>(y) * static_cast<size_t>(newStride),
                    h.LowByteData.data() + static_cast<size_t>(y) * static_cast<size_t>(h.RowStride));
    }

    h.Dib = std::move(dib);
    h.AlphaData = std::move(newAlpha);
    h.LowByteData = std::move(newLow);
    h.RowStride = newStride;
    h.HeaderWidth = static_cast<uint32_t>(newWidth);
    h.HeaderHeight = static_cast<uint32_t>(newHeight);
    m_canvas.bind(&h.Dib);
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
        TChunk* chunk = NewChunkForType(*this, from->TypeCode());
        m_chunks.Append(chunk);
        chunk->CopyFrom(*from);
    }
    // The samples carry the source's decoding gamma; writing them needs
    // the matching encoding table.
    DecodeGamma = source.DecodeGamma;
    EncodeGamma = source.EncodeGamma;
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
    RegisterFileFormat("png", "Portable Network Graphics", [] { return std::make_unique<TPNGObject>(); },
                       "TPNGObject");
}

}  // namespace glx
