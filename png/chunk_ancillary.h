// Palette, transparency, gamma and the plain ancillary chunks.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "png/chunk.h"
#include "raster/color.h"

namespace glx {

class TChunkPLTE : public TChunk {
public:
    static constexpr const char* kClassTypeCode = "PLTE";
    explicit TChunkPLTE(TPNGObject& image) : TChunk(image) { initTypeCode(kClassTypeCode); }
    const char* TypeCodeOfClass() const override { return kClassTypeCode; }
    void CopyFrom(const TChunk& source) override;
    bool ReadPayload(StreamReader& reader, const TChunkType& type, uint32_t length) override;
    bool WritePayload(TStream& stream) override;

    // Colour-table entry as blue | green << 8 | red << 16; EPngError at or
    // above EntryCount.
    uint32_t Entry(int32_t index) const;

    int32_t EntryCount = 0;
};

class TChunktRNS : public TChunk {
public:
    static constexpr const char* kClassTypeCode = "tRNS";
    explicit TChunktRNS(TPNGObject& image) : TChunk(image) {
        initTypeCode(kClassTypeCode);
        AlphaValues.fill(255);  // a new tRNS makes nothing transparent until set
    }
    const char* TypeCodeOfClass() const override { return kClassTypeCode; }
    void CopyFrom(const TChunk& source) override;
    bool ReadPayload(StreamReader& reader, const TChunkType& type, uint32_t length) override;
    bool WritePayload(TStream& stream) override;

    // The transparent colour (red in the low byte); 0 when there is none.
    TColor KeyColor() const;
    // Makes color the one transparent colour. On a palette image without an
    // entry of that colour nothing changes.
    void SetKeyColor(TColor color);

    bool SingleKey = false;
    // Palette images: alpha of each entry. Grey and RGB images: the raw
    // big-endian key samples as read.
    std::array<uint8_t, 256> AlphaValues{};
};

class TChunkgAMA : public TChunk {
public:
    static constexpr const char* kClassTypeCode = "gAMA";
    explicit TChunkgAMA(TPNGObject& image);
    const char* TypeCodeOfClass() const override { return kClassTypeCode; }
    void CopyFrom(const TChunk& source) override;
    // Fills the image's gamma tables from the value read. A gAMA of the
    // wrong length, or one after the image data, is ignored: the tables stay.
    bool ReadPayload(StreamReader& reader, const TChunkType& type, uint32_t length) override;
    // Writes nothing for a gAMA that was ignored on reading.
    bool WritePayload(TStream& stream) override;

    // Gamma x 100000.
    uint32_t Gamma();
    void SetGamma(uint32_t value);

private:
    bool m_ignored = false;
};

class TChunkpHYs : public TChunk {
public:
    static constexpr const char* kClassTypeCode = "pHYs";
    explicit TChunkpHYs(TPNGObject& image) : TChunk(image) { initTypeCode(kClassTypeCode); }
    const char* TypeCodeOfClass() const override { return kClassTypeCode; }
    void CopyFrom(const TChunk& source) override;
    bool ReadPayload(StreamReader& reader, const TChunkType& type, uint32_t length) override;
    bool WritePayload(TStream& stream) override;

    uint32_t DensityX = 0;
    uint32_t DensityY = 0;
    uint8_t DensityUnit = 0;
};

class TChunktIME : public TChunk {
public:
    static constexpr const char* kClassTypeCode = "tIME";
    explicit TChunktIME(TPNGObject& image) : TChunk(image) { initTypeCode(kClassTypeCode); }
    const char* TypeCodeOfClass() const override { return kClassTypeCode; }
    void CopyFrom(const TChunk& source) override;
    bool ReadPayload(StreamReader& reader, const TChunkType& type, uint32_t length) override;
    bool WritePayload(TStream& stream) override;

    uint16_t TimeYear = 0;
    uint8_t TimeMonth = 0, TimeDay = 0, TimeHour = 0, TimeMinute = 0, TimeSecond = 0;
};

class TChunktEXt : public TChunk {
public:
    static constexpr const char* kClassTypeCode = "tEXt";
    explicit TChunktEXt(TPNGObject& image) : TChunk(image) { initTypeCode(kClassTypeCode); }
    const char* TypeCodeOfClass() const override { return kClassTypeCode; }
    void CopyFrom(const TChunk& source) override;
    bool ReadPayload(StreamReader& reader, const TChunkType& type, uint32_t length) override;
    bool WritePayload(TStream& stream) override;

    std::string KeyName;
    std::string Content;
};

class TChunkzTXt : public TChunktEXt {
public:
    static constexpr const char* kClassTypeCode = "zTXt";
    explicit TChunkzTXt(TPNGObject& image) : TChunktEXt(image) { initTypeCode(kClassTypeCode); }
    const char* TypeCodeOfClass() const override { return kClassTypeCode; }
    // An undecodable text leaves Content empty without an error; the
    // inflated text is capped at kMaxZtxtText bytes.
    bool ReadPayload(StreamReader& reader, const TChunkType& type, uint32_t length) override;
    // Empty Content is written as " "; nothing is written when compression fails.
    bool WritePayload(TStream& stream) override;
};

constexpr size_t kMaxZtxtText = size_t(16) << 20;

}  // namespace glx
