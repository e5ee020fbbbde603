// Exchange with bitmaps: importing a bitmap's pixels and producing a bitmap
// of the image.
#include <algorithm>
#include <cstring>

#include "png/chunk_ancillary.h"
#include "png/chunk_idat.h"
#include "png/png_format.h"
#include "png/png_object.h"
#include "raster/bitmap.h"

namespace glx {

void TPNGObject::TakeBitmap(const TBitmap& bitmap, bool transparent, TColor keyColor) {
    const Dib& src = bitmap.Pixels();
    RemoveAllChunks();
    if (src.empty()) return;
    const int bpp = src.bitsPerPixel();
    const bool indexed = bpp < 16;

    auto* header = static_cast<TChunkIHDR*>(m_chunks.Append(std::make_unique<TChunkIHDR>(*this)));
    header->HeaderWidth = static_cast<uint32_t>(src.width());
    header->HeaderHeight = static_cast<uint32_t>(src.height());
    header->BitDepth = static_cast<uint8_t>(indexed ? bpp : 8);
    header->ColorType = indexed ? 3 : 2;
    header->AllocateImage();

    if (indexed) {
        const size_t bytes = std::min(src.stride(), header->Pixels().stride());
        for (int32_t y = 0; y < src.height(); ++y) std::memcpy(header->PixelRow(y), src.row(y), bytes);
        std::vector<RGBQuad> palette(size_t(1) << bpp);
        const auto& table = src.colorTable();
        std::copy_n(table.begin(), std::min(table.size(), palette.size()), palette.begin());
        if (table.empty()) {
            // An indexed bitmap without a table shows a grey ramp.
            for (size_t i = 0; i < palette.size(); ++i) {
                uint8_t g = static_cast<uint8_t>(i * 255 / (palette.size() - 1));
                palette[i] = RGBQuad{g, g, g, 0};
            }
        }
        header->SetPalette(std::move(palette));
        static_cast<TChunkPLTE*>(m_chunks.Append(std::make_unique<TChunkPLTE>(*this)))->EntryCount = 1 << bpp;
    } else {
        for (int32_t y = 0; y < src.height(); ++y) src.rowToBGR(y, 0, src.width(), header->PixelRow(y));
    }
    TChunktRNS* trns = nullptr;
    if (transparent) trns = static_cast<TChunktRNS*>(m_chunks.Append(std::make_unique<TChunktRNS>(*this)));
    m_chunks.Append(std::make_unique<TChunkIDAT>(*this));
    m_chunks.Append(std::make_unique<TChunkIEND>(*this));
    if (trns) {
        trns->SetKeyColor(keyColor);
        // The key colour is not in the palette: nothing is transparent.
        if (trns->PayloadSize() == 0) m_chunks.Remove(trns);
    }
}

void TPNGObject::CopyTo(TGraphic& dest) const {
    if (auto* png = dynamic_cast<TPNGObject*>(&dest)) {
        png->CopyPNG(*this);
        return;
    }
    auto* bitmap = dynamic_cast<TBitmap*>(&dest);
    if (!bitmap || !HasHeader()) {
        TGraphic::CopyTo(dest);
        return;
    }
    const TChunkIHDR& h = HeaderChunk();
    const TTransparencyKind kind = TransparencyKind();
    const int32_t w = Width(), hgt = Height();
    if (kind == trPartial) {
        // Blended over a new bitmap's white.
        bitmap->SetDib(Dib());
        bitmap->SetBitsPerPixel(24);
        bitmap->SetSize(w, hgt);
        TCanvas canvas(&bitmap->Pixels());
        PaintOn(canvas, makeRect(0, 0, w, hgt));
        bitmap->NotifyChange();
        return;
    }
    int bpp = 0;
    switch (h.BitDepth) {
        case kDepth1:
            bpp = 1;
            break;
        case kDepth2:
        case kDepth4:
            bpp = 4;
            break;
        case kDepth8:
        case kDepth16:
            if (h.ColorType == kColorGrey || h.ColorType == kColorRgb) bpp = 24;
            else if (h.ColorType == kColorPalette) bpp = 8;
            break;
        default:
            break;
    }
    if (bpp == 0) throw Exception("");
    if (bpp == h.MemoryBitsPerPixel()) {
        // Same format: indices and colour table carry over unchanged.
        bitmap->SetDib(h.Pixels());
    } else {
        Dib dib(w, hgt, bpp);
        TCanvas canvas(&dib);
        canvas.stretchDraw(h.Pixels(), makeRect(0, 0, w, hgt));
        bitmap->SetDib(std::move(dib));
    }
    if (kind == trKeyed) {
        bitmap->SetTransparentColor(colorToRGB(TransparentKeyColor()));
        bitmap->SetTransparent(true);
    }
}

}  // namespace glx
