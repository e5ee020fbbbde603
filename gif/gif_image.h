// TGIFImage: a GIF file (GIF87a or GIF89a) read into memory: the logical
// screen descriptor with the global colour map, and the frames in file
// order, each with its image descriptor, local colour map, extensions and
// compressed image data. Loading decodes every frame once, to walk the
// block structure and find faults, but keeps no pixels: a frame is decoded
// again when it is drawn, so memory follows what the file holds and what
// is drawn, not the frame count. Damaged data either raises GIFException
// or, when loading can go on, reports a warning through the optional
// WarningHandler.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gif/gif_extensions.h"
#include "gif/gif_format.h"
#include "gif/gif_item.h"
#include "raster/color.h"
#include "raster/dib.h"
#include "raster/graphic.h"

namespace glx {

class TCanvas;
class TStream;
class TGIFSubImage;
struct GifFrameCache;
struct GifFrameWindow;
struct GifTransparencyMask;

// When set, every frame builds its bitmap while it is read. Off by default.
extern bool PrebuildBitmaps;

// A colour table: entries red, green, blue in file order.
class TGIFColorMap {
public:
    struct Entry {
        uint8_t Red = 0, Green = 0, Blue = 0;
    };
    explicit TGIFColorMap(const TGIFItem* owner) : m_owner(owner) {}
    virtual ~TGIFColorMap() = default;

    void Clear() { m_entries.clear(); }
    // Reads count entries (3 bytes each).
    void LoadFromStream(GifInput& input, int count);
    int EntryCount() const { return static_cast<int>(m_entries.size()); }
    int Capacity() const { return static_cast<int>(m_entries.capacity()); }
    bool Optimized() const { return false; }
    const std::vector<Entry>& Entries() const { return m_entries; }
    // red | green << 8 | blue << 16. An index outside the map warns
    // "Invalid color index" and uses entry 0; an empty map raises
    // "Color table is empty".
    TColor ColorAt(int index) const;
    void ReportWarning(int severity, const std::string& message) const;

private:
    const TGIFItem* m_owner;
    std::vector<Entry> m_entries;
};

class TGIFGlobalColorMap : public TGIFColorMap {
public:
    using TGIFColorMap::TGIFColorMap;
};
class TGIFLocalColorMap : public TGIFColorMap {
public:
    using TGIFColorMap::TGIFColorMap;
};

// The signature and logical screen descriptor with the global colour map.
class TGIFHeader : public TGIFItem {
public:
    explicit TGIFHeader(TGIFImage* image) : TGIFItem(image), m_globalColors(this) {}

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    uint8_t PackedFlags() const { return m_flags; }
    uint8_t BackgroundColorIndex() const { return m_background; }
    uint8_t AspectRatio() const { return m_aspect; }
    TGIFGlobalColorMap& GlobalColors() { return m_globalColors; }
    const TGIFGlobalColorMap& GlobalColors() const { return m_globalColors; }
    TColor BackgroundColor() const { return m_globalColors.ColorAt(m_background); }
    // Smallest b >= 1 with 2^b >= the global map's entries; 0 for an empty map.
    int BitsPerPixel() const;
    int ColorResolution() const { return BitsPerPixel() - 1; }

    void Clear();
    // Signature (also accepted 4 bytes later), descriptor, global colour map.
    void LoadFromStream(GifInput& input) override;

private:
    uint16_t m_width = 0, m_height = 0;
    uint8_t m_flags = 0, m_background = 0, m_aspect = 0;
    TGIFGlobalColorMap m_globalColors;
};

// The end of the file: a ";" or nothing.
class TGIFTrailer : public TGIFItem {
public:
    using TGIFItem::TGIFItem;
    void LoadFromStream(GifInput& input) override;
};

// One frame: image descriptor, local colours, extensions and indices.
class TGIFSubImage : public TGIFItem {
public:
    explicit TGIFSubImage(TGIFImage* image);
    ~TGIFSubImage() override;

    int Left() const { return m_left; }
    int Top() const { return m_top; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    uint8_t Separator() const { return m_separator; }
    uint8_t PackedFlags() const { return m_flags; }
    bool IsInterlaced() const { return (m_flags & kGifInterlaceFlag) != 0; }
    TRect BoundsRect() const { return TRect{m_left, m_top, m_left + m_width, m_top + m_height}; }
    // Whether an image descriptor was read (false for an extensions-only frame).
    bool HasImageDescriptor() const { return m_hasDescriptor; }

    TGIFLocalColorMap& LocalColors() { return m_localColors; }
    const TGIFLocalColorMap& LocalColors() const { return m_localColors; }
    // The local map if it has entries, else the global one if it has
    // entries, else the (empty) local map.
    const TGIFColorMap& EffectiveColors() const;
    TGIFExtensionList& ExtensionItems() { return *m_extensions; }
    const TGIFExtensionList& ExtensionItems() const { return *m_extensions; }

    // Width x Height indices, top row first; empty when a dimension is 0.
    // A frame keeps only its compressed image data: the indices are decoded
    // from it when first asked for here, and kept from then on.
    const std::vector<uint8_t>& IndexData() const;
    bool HasIndexData() const { return m_hasDescriptor && m_width > 0 && m_height > 0; }
    // Row y of the indices ("Invalid pixel coordinates", "Image is empty").
    uint8_t* RowAt(int y);
    uint8_t PixelAt(int x, int y);
    bool IsEmpty() const { return !HasIndexData(); }
    // The frame's image data as the file holds it (the minimum code size
    // byte and the data sub-blocks, as far as decoding read them).
    const std::vector<uint8_t>& ImageData() const { return m_imageData; }

    bool HasTransparency() const { return m_hasTransparency; }
    // The first graphic control extension of the frame, or none.
    TGIFGraphicControlExtension* GraphicControlExtension() const { return m_gce; }
    // The disposal method, 0 for a frame without graphic control extension.
    int DisposalMethod() const;

    void Clear();
    void LoadFromStream(GifInput& input) override;

    // Rendering. The frame's colour table (padded to 256 entries with
    // black when the bitmap is built); raises "No global or local color
    // table defined" when neither the frame nor the image has one.
    std::vector<RGBQuad> ColorTable();
    // The 8-bit bitmap of the whole frame (with the transparency mask when
    // the frame has one), built on first use; none for an empty frame.
    const Dib* FrameBitmap();
    // Whether the frame has a transparency mask: it has transparency and
    // some pixel carries the transparent index.
    bool HasMask();
    const GifTransparencyMask* TransparencyMask();
    // Draws the frame into rect of the canvas (see gif_render.h). Only the
    // part of the frame that lands on the canvas is decoded, and kept for
    // the next draw.
    void PaintTo(TCanvas& canvas, const TRect& rect, bool withTransparency, bool tiled);
    // Frees what drawing built (bitmap, mask, decoded rows); a later draw
    // decodes the frame again.
    void ReleaseBitmaps();

private:
    friend class TGIFGraphicControlExtension;
    void dropCache();
    // The index that fills pixels the data does not reach.
    uint8_t fillValue() const;
    // Decodes the kept image data again, handing the rows to sink.
    void decodeRows(const std::function<bool(int, const uint8_t*, int)>& sink) const;
    // The decoded rows of area (frame coordinates), decoding them if needed.
    const GifFrameWindow& frameWindow(const TRect& area);

    uint8_t m_separator = 0x2C;
    int m_left = 0, m_top = 0, m_width = 0, m_height = 0;
    uint8_t m_flags = 0;
    bool m_hasDescriptor = false;
    bool m_hasTransparency = false;
    TGIFGraphicControlExtension* m_gce = nullptr;
    TGIFLocalColorMap m_localColors;
    std::unique_ptr<TGIFExtensionList> m_extensions;
    std::vector<uint8_t> m_imageData;
    // Whether some pixel carries the transparent index (found while loading).
    bool m_anyTransparent = false;
    // The whole frame's indices once someone asked for them.
    mutable std::vector<uint8_t> m_indexData;
    mutable bool m_indexDecoded = false;
    std::unique_ptr<GifFrameCache> m_cache;
};

// The one walk over a GIF's frames after its header: the frame reader
// and the delay query both read a file through it, so they always see the
// same frames. Zero bytes between blocks are passed over; the walk ends at
// the trailer (left for the trailer check to read), at the end of the data,
// or at a byte that starts no block (unknown is called, and the input then
// stands one byte before that byte). Each frame is read by
// TGIFSubImage::LoadFromStream for image and handed to take; a fault
// while reading one propagates.
void walkGifFrames(GifInput& input, TGIFImage& image, const std::function<void()>& unknown,
                   const std::function<void(std::unique_ptr<TGIFSubImage>)>& take);

// The frames of an image, in file order.
class TGIFImageList : public TGIFList<TGIFSubImage> {
public:
    using TGIFList::TGIFList;
    // Reads frames until the trailer, the end of the data or an unknown block.
    void LoadFromStream(GifInput& input, TGIFImage& parent);
};

class TGIFImage : public TGraphic {
public:
    // Bits of RenderOptions read by the read and render path.
    static constexpr uint16_t goTransparent = 0x0002;
    static constexpr uint16_t goAnimate = 0x0004;
    static constexpr uint16_t goTile = 0x0100;
    static constexpr uint16_t goDither = 0x0200;
    static constexpr uint16_t goAutoDither = 0x0400;

    TGIFImage();
    ~TGIFImage() override;

    const char* ClassName() const override { return "TGIFImage"; }
    std::unique_ptr<TGraphic> NewEmpty() const override;
    // Draws frame 0 into rect (see gif_render.h).
    void PaintOn(TCanvas& canvas, const TRect& rect) const override;
    bool IsEmpty() const override { return m_frames->ItemCount() == 0; }
    int32_t Width() const override { return m_header->Width(); }
    int32_t Height() const override { return m_header->Height(); }
    // The logical screen size comes from the file only.
    void SetWidth(int32_t) override {}
    void SetHeight(int32_t) override {}
    // Replaces the content with the GIF at the stream's position. On a
    // fatal fault the stream is set back to where reading began, the frames
    // read so far stay, and the exception propagates.
    void ReadFrom(TStream& stream) override;
    // Writing GIF files is not part of this reader: EInvalidOperation.
    void WriteTo(TStream& stream) const override;

    void Clear();
    TGIFHeader& ScreenHeader() { return *m_header; }
    const TGIFHeader& ScreenHeader() const { return *m_header; }
    TGIFImageList& Frames() { return *m_frames; }
    const TGIFImageList& Frames() const { return *m_frames; }

    // The global colour table for frames without one of their own; raises
    // "No global or local color table defined" when there is none to be had.
    std::vector<RGBQuad> ColorTable();

    uint16_t RenderOptions = 0x060F;
    TGIFWarningEvent WarningHandler;
    TGIFProgressEvent OnProgress;

    void ReportWarning(const void* sender, int severity, const std::string& message) const;
    void Progress(TProgressStage stage, int percent, bool redrawNow, const std::string& message) const;

private:
    std::unique_ptr<TGIFHeader> m_header;
    std::unique_ptr<TGIFImageList> m_frames;
    std::unique_ptr<std::vector<RGBQuad>> m_palette;  // cached global table
    bool m_resolvingPalette = false;
    mutable bool m_painting = false;
};

// Registers "gif" / "GIF Image" with the picture container.
void registerGifFormat();

}  // namespace glx
