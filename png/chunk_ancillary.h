// Palette, transparency, gamma and the plain ancillary chunks.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "png/chunk.h"
#include "raster/color.h"

namespace glx {

class TChunkPLTE : public ChunkOfType<"PLTE"> {
public:
    using ChunkOfType::ChunkOfType;
    void CopyFrom(const TChunk& source) override;
    bool ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) override;
    // EntryCount entries (the header's colour count when 0), through the
    // image's EncodeGamma.
    bool WritePayload(TStream& stream) const override;

    // Colour-table entry as blue | green << 8 | red << 16; EPngError at or
    // above EntryCount.
    uint32_t Entry(int32_t index) const;

    int32_t EntryCount = 0;
};

class TChunktRNS : public ChunkOfType<"tRNS"> {
public:
    explicit TChunktRNS(TPNGObject& image) : ChunkOfType(image) {
        AlphaValues.fill(255);  // a new tRNS makes nothing transparent until set
    }
    void CopyFrom(const TChunk& source) override;
    bool ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) override;
    bool WritePayload(TStream& stream) const override;

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

class TChunkgAMA : public ChunkOfType<"gAMA"> {
public:
    explicit TChunkgAMA(TPNGObject& image);
    void CopyFrom(const TChunk& source) override;
    // Fills the image's gamma tables from the value read. A gAMA of the
    // wrong length, or one after the image data, is ignored: the tables stay.
    bool ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) override;
    // Writes nothing for a gAMA that was ignored on reading.
    bool WritePayload(TStream& stream) const override;

    // Gamma x 100000 (1 for a payload that is not 4 bytes long).
    uint32_t Gamma() const;
    void SetGamma(uint32_t value);

private:
    bool m_ignored = false;
};

class TChunkpHYs : public ChunkOfType<"pHYs"> {
public:
    using ChunkOfType::ChunkOfType;
    void CopyFrom(const TChunk& source) override;
    bool ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) override;
    bool WritePayload(TStream& stream) const override;

    uint32_t DensityX = 0;
    uint32_t DensityY = 0;
    uint8_t DensityUnit = 0;
};

class TChunktIME : public ChunkOfType<"tIME"> {
public:
    using ChunkOfType::ChunkOfType;
    void CopyFrom(const TChunk& source) override;
    bool ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) override;
    bool WritePayload(TStream& stream) const override;

    uint16_t TimeYear = 0;
    uint8_t TimeMonth = 0, TimeDay = 0, TimeHour = 0, TimeMinute = 0, TimeSecond = 0;
};

// The keyword and text of tEXt, and of zTXt, which derives from it.
class TextChunk : public TChunk {
public:
    using TChunk::TChunk;
    void CopyFrom(const TChunk& source) override;
    bool ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) override;
    bool WritePayload(TStream& stream) const override;

    std::string KeyName;
    std::string Content;
};

class TChunktEXt : public ChunkOfType<"tEXt", TextChunk> {
public:
    using ChunkOfType::ChunkOfType;
};

class TChunkzTXt : public ChunkOfType<"zTXt", TChunktEXt> {
public:
    using ChunkOfType<"zTXt", TChunktEXt>::ChunkOfType;
    // An undecodable text leaves Content empty without an error; the
    // inflated text is capped at kMaxZtxtText bytes.
    bool ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) override;
    // Empty Content is written as " "; nothing is written when compression fails.
    bool WritePayload(TStream& stream) const override;
};

constexpr size_t kMaxZtxtText = size_t(16) << 20;

}  // namespace glx
