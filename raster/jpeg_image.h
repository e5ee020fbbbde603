// TJPEGImage: a JPEG picture. It keeps the file's compressed bytes as they
// are (from its start to its end-of-image marker), decodes them into a
// bitmap only when pixels are needed (once), and encodes a bitmap into JPEG
// bytes only when saved without compressed bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/exception.h"
#include "raster/graphic.h"

namespace glx {

class TBitmap;

// A fatal error of the JPEG library: "JPEG error #%d" with its message code.
class EJPEG : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

enum class TJPEGPerformance { BestQuality = 0, BestSpeed = 1 };
enum class TJPEGPixelFormat { Bits24 = 0, Bits8 = 1 };
enum class TJPEGScale { FullSize = 0, Half = 1, Quarter = 2, Eighth = 3 };

// The settings of a JPEG picture, with the values a new picture starts
// with unless jpegDefaults() were changed.
struct TJPEGSettings {
    int CompressionQuality = 90;  // 1..100
    bool Grayscale = false;
    TJPEGPerformance Performance = TJPEGPerformance::BestQuality;
    TJPEGPixelFormat PixelFormat = TJPEGPixelFormat::Bits24;
    bool ProgressiveDisplay = false;
    bool ProgressiveEncoding = false;
    TJPEGScale Scale = TJPEGScale::FullSize;
};
// The settings a new picture starts with.
struct TJPEGDefaults : TJPEGSettings {
    bool Smoothing = true;
};
TJPEGDefaults& jpegDefaults();

// Progressive files with more scans than this are refused.
constexpr int kMaxJpegScans = 100;

// The settings are public fields (TJPEGSettings); smoothing is set through
// SetSmoothing, which drops pixels decoded without it.
class TJPEGImage : public TGraphic, public TJPEGSettings {
public:
    TJPEGImage();
    ~TJPEGImage() override;

    const char* ClassName() const override { return "TJPEGImage"; }
    std::unique_ptr<TGraphic> NewEmpty() const override;

    // From a TJPEGImage (shares its bytes, copies its decoded bitmap) or a
    // TBitmap (drops the bytes, keeps a copy of the bitmap to encode).
    void CopyFrom(const TGraphic* source) override;
    // Into a TBitmap: the decoded pixels.
    void CopyTo(TGraphic& dest) const override;

    void PaintOn(TCanvas& canvas, const TRect& rect) const override;
    bool IsEmpty() const override;
    int32_t Width() const override;
    int32_t Height() const override;
    // Both raise EInvalidGraphicOperation "Cannot change the size of a JPEG image".
    void SetWidth(int32_t value) override;
    void SetHeight(int32_t value) override;

    // Reads the file from the stream's position as far as its end-of-image
    // marker (bytes behind it are neither read nor kept, and the stream is
    // left just behind it), parsing only the frame header (size, greyscale,
    // progressive); the frame header is read before the rest, so that an
    // oversized picture is refused first.
    void ReadFrom(TStream& stream) override;
    // The compressed bytes, encoded from the bitmap first when there are none.
    void WriteTo(TStream& stream) const override;

    // The decoded (or copied-in) pixels, decoding first when needed.
    const TBitmap& Bitmap() const;
    // Whether pixels are held (decoded, or copied in).
    bool HasBitmap() const { return m_bitmap != nullptr; }
    // Discards the decoded pixels; they are decoded again when needed.
    void DropBitmap();

    // Compressed bytes (empty when there are none yet).
    const std::vector<uint8_t>& Data() const;
    // Encodes from the bitmap now if there are no compressed bytes.
    void Compress();

    bool Smoothing() const { return m_smoothing; }
    void SetSmoothing(bool value);

private:
    struct TJPEGData;  // compressed bytes and frame header facts, shared between copies

    void decode() const;
    void encode() const;
    int decodeKey() const;  // the settings a decode depends on
    bool bitmapCurrent() const;  // pixels held and made with the current settings

    mutable std::shared_ptr<const TJPEGData> m_data;
    mutable std::unique_ptr<TBitmap> m_bitmap;
    mutable int m_decodedWith = 0;
    bool m_smoothing = true;
};

// The tool's settings for every JPEG it writes: quality 100, progressive
// off, block smoothing off.
void setJpegOptions(TJPEGImage& image);

}  // namespace glx
