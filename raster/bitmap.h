// TBitmap: a picture whose pixels are a Dib. New bitmaps are 24 bits per
// pixel; a bitmap read from a BMP file keeps the file's pixel format.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "raster/canvas.h"
#include "raster/color.h"
#include "raster/dib.h"
#include "raster/graphic.h"

namespace glx {

class TBitmap : public TGraphic {
public:
    TBitmap();
    // A new 24-bit bitmap of the given size, painted white.
    TBitmap(int32_t width, int32_t height);
    ~TBitmap() override;

    const char* ClassName() const override { return "TBitmap"; }
    std::unique_ptr<TGraphic> NewEmpty() const override;

    // From another bitmap: a copy of its pixels, format, transparency
    // settings and kept file bytes. Other kinds are asked to copy
    // themselves into this bitmap (their CopyTo); failing that,
    // "Cannot assign a %s to a %s".
    void CopyFrom(const TGraphic* source) override;
    void assign(const TBitmap& source);

    void PaintOn(TCanvas& canvas, const TRect& rect) const override;
    bool IsEmpty() const override;
    int32_t Width() const override { return m_dib.width(); }
    int32_t Height() const override { return m_dib.height(); }
    // Grow or shrink in place: the old pixels stay at the top-left, new
    // area takes the canvas brush colour (white when there is no canvas).
    void SetWidth(int32_t value) override;
    void SetHeight(int32_t value) override;
    void SetSize(int32_t width, int32_t height);

    void ReadFrom(TStream& stream) override;
    void WriteTo(TStream& stream) const override;

    // The canvas drawing into this bitmap, created on first use.
    TCanvas& Canvas();
    bool HasCanvas() const { return m_canvas != nullptr; }

    // The pixels. The non-const form counts as a change of the picture's
    // content (kept file bytes are dropped) but announces nothing; call
    // NotifyChange after editing.
    const Dib& Pixels() const { return m_dib; }
    Dib& Pixels();
    // Replaces the pixels and announces a change.
    void SetDib(Dib dib);

    // Converts the pixels to another format (1, 4, 8, 16, 24 or 32 bits);
    // indexed formats keep the colour table, or get a grey ramp when there
    // is none.
    int BitsPerPixel() const { return m_dib.bitsPerPixel(); }
    void SetBitsPerPixel(int bitsPerPixel);

    // clDefault means the colour of the bottom-left pixel (white for a
    // one-bit bitmap).
    TColor TransparentColor() const;
    TColor TransparentColorSetting() const { return m_transparentColor; }
    void SetTransparentColor(TColor color);

    // Set when the bitmap was read from a file with the 12-byte OS/2
    // header; it is written back in that form.
    bool FromOS2() const { return m_os2; }
    // The file as read, kept while the picture is unchanged (run-length
    // encoded files); empty otherwise.
    const std::vector<uint8_t>& KeptFileBytes() const { return m_keptBytes; }

private:
    // The pixels changed: kept file bytes no longer describe them.
    void contentChanged();
    TColor growthFill() const;

    Dib m_dib;
    std::unique_ptr<TCanvas> m_canvas;
    TColor m_transparentColor = clDefault;
    bool m_os2 = false;
    int32_t m_xPelsPerMeter = 0, m_yPelsPerMeter = 0;
    std::vector<uint8_t> m_keptBytes;
    bool m_inCopy = false;
};

}  // namespace glx
