#include "png/chunk_ancillary.h"

#include <cmath>
#include <cstring>

#include "base/stream.h"
#include "png/chunk_idat.h"
#include "png/chunk_ihdr.h"
#include "png/png_errors.h"
#include "png/png_format.h"
#include "png/png_io.h"
#include "png/png_object.h"
#include "png/zlib_buffer.h"

namespace glx {

// ---------------------------------------------------------------- PLTE

void TChunkPLTE::CopyFrom(const TChunk& source) {
    const auto* src = dynamic_cast<const TChunkPLTE*>(&source);
    if (!src) throw EPngError(kMsgPngIncompatibleChunks);
    EntryCount = src->EntryCount;
}

bool TChunkPLTE::ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) {
    if (!TChunk::ReadPayload(reader, type, length)) return false;
    if (length % 3 != 0 || length / 3 > 256) throw EPNGInvalidPalette();
    EntryCount = static_cast<int32_t>(length / 3);
    const auto& dg = Image().DecodeGamma();
    std::vector<RGBQuad> entries(static_cast<size_t>(EntryCount));
    const uint8_t* p = Payload();
    for (int32_t i = 0; i < EntryCount; ++i, p += 3)
        entries[static_cast<size_t>(i)] = RGBQuad{dg[p[2]], dg[p[1]], dg[p[0]], 0};
    if (TChunkIHDR* header = HeaderChunk()) header->SetPalette(std::move(entries));
    return true;
}

bool TChunkPLTE::WritePayload(TStream& stream) const {
    const TChunkIHDR* header = HeaderChunk();
    const std::vector<RGBQuad> none;
    const auto& table = header ? header->Pixels().colorTable() : none;
    const size_t count = EntryCount == 0 ? table.size() : static_cast<size_t>(EntryCount);
    // The palette itself when it covers every entry, else the colour table.
    const auto& source = header && header->Palette().size() >= count ? header->Palette() : table;
    const auto& eg = Image().EncodeGamma();
    std::vector<uint8_t> bytes(count * 3);
    for (size_t i = 0; i < count; ++i) {
        const RGBQuad c = i < source.size() ? source[i] : RGBQuad{};
        bytes[3 * i] = eg[c.red];
        bytes[3 * i + 1] = eg[c.green];
        bytes[3 * i + 2] = eg[c.blue];
    }
    WriteFramed(stream, m_type, bytes.data(), bytes.size());
    return true;
}

uint32_t TChunkPLTE::Entry(int32_t index) const {
    TChunkIHDR* header = HeaderChunk();
    if (index < 0 || index >= EntryCount || !header ||
        static_cast<size_t>(index) >= header->Pixels().colorTable().size())
        throw EPngError(kMsgPngNoSuchPaletteEntry);
    const RGBQuad& c = header->Pixels().colorTable()[static_cast<size_t>(index)];
    return uint32_t(c.blue) | (uint32_t(c.green) << 8) | (uint32_t(c.red) << 16);
}

// ---------------------------------------------------------------- tRNS

void TChunktRNS::CopyFrom(const TChunk& source) {
    if (const auto* src = dynamic_cast<const TChunktRNS*>(&source)) {
        AlphaValues = src->AlphaValues;
        SingleKey = src->SingleKey;
    }
    TChunk::CopyFrom(source);
}

bool TChunktRNS::ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) {
    if (!TChunk::ReadPayload(reader, type, length)) return false;
    if (length > 256) throw EPNGInvalidPalette();
    AlphaValues.fill(255);
    if (length > 0) std::memcpy(AlphaValues.data(), Payload(), length);
    TChunkIHDR* header = HeaderChunk();
    const uint8_t colorType = header ? header->ColorType : 0;
    if (colorType == kColorGrey || colorType == kColorRgb) {
        SingleKey = true;
        // 2-bit grey is held (and written) as 4-bit samples s x 5: the key
        // moves onto the same scale.
        if (colorType == kColorGrey && header->BitDepth == kDepth2) {
            AlphaValues[1] = static_cast<uint8_t>((AlphaValues[1] & 3) * 5);
            if (PayloadSize() >= 2) Payload()[1] = AlphaValues[1];
        }
    } else if (colorType == kColorPalette) {
        // One key colour only when exactly one entry is not opaque and that
        // entry is fully transparent; anything else is per-entry alpha.
        int notOpaque = 0;
        bool transparent = false;
        for (uint32_t i = 0; i < length; ++i) {
            if (AlphaValues[i] != 255) {
                ++notOpaque;
                transparent = AlphaValues[i] == 0;
            }
        }
        SingleKey = notOpaque == 1 && transparent;
    }
    return true;
}

bool TChunktRNS::WritePayload(TStream& stream) const {
    std::vector<uint8_t> bytes(m_payload);
    if (!bytes.empty() && bytes.size() <= 256) std::memcpy(bytes.data(), AlphaValues.data(), bytes.size());
    // 16-bit samples are written with a zero low byte; the key follows them
    // so that it still matches the pixels it matched in memory.
    const TChunkIHDR* header = HeaderChunk();
    if (header && header->BitDepth == kDepth16 && (header->ColorType == kColorGrey || header->ColorType == kColorRgb))
        for (size_t i = 1; i < bytes.size(); i += 2) bytes[i] = 0;
    WriteFramed(stream, m_type, bytes.data(), bytes.size());
    return true;
}

TColor TChunktRNS::KeyColor() const {
    const TChunkIHDR* header = HeaderChunk();
    if (!header) return 0;
    const auto& dg = Image().DecodeGamma();
    const bool wide = header->BitDepth == kDepth16;
    switch (header->ColorType) {
        case kColorGrey: {
            // The sample as an in-memory index (16-bit grey keeps its high byte).
            const auto& table = header->Pixels().colorTable();
            size_t index = wide ? AlphaValues[0] : AlphaValues[1];
            if (index >= table.size()) return 0;
            uint8_t g = table[index].red;
            return rgb(g, g, g);
        }
        case kColorRgb:
            if (wide) return rgb(dg[AlphaValues[0]], dg[AlphaValues[2]], dg[AlphaValues[4]]);
            return rgb(dg[AlphaValues[1]], dg[AlphaValues[3]], dg[AlphaValues[5]]);
        case kColorPalette: {
            const auto* plte = Image().Chunks().FindByClass<TChunkPLTE>();
            const auto& table = header->Pixels().colorTable();
            for (int32_t i = 0; i < PayloadSize() && i < 256; ++i) {
                if (AlphaValues[static_cast<size_t>(i)] != 0) continue;
                if (plte && i < plte->EntryCount && static_cast<size_t>(i) < table.size()) {
                    uint32_t e = plte->Entry(i);
                    return rgb(uint8_t(e >> 16), uint8_t(e >> 8), uint8_t(e));
                }
                return 0;
            }
            return 0;
        }
        default:
            return 0;
    }
}

void TChunktRNS::SetKeyColor(TColor color) {
    TChunkIHDR* header = HeaderChunk();
    if (!header) return;
    color = colorToRGB(color);
    const uint8_t r = getRValue(color), g = getGValue(color), b = getBValue(color);
    const bool wide = header->BitDepth == kDepth16;
    switch (header->ColorType) {
        case kColorGrey: {
            AlphaValues.fill(0);
            // The key is a sample: the nearest ramp index below 8 bits, the
            // grey level itself at 8 bits, the high byte at 16 bits.
            uint8_t sample =
                header->BitDepth < kDepth8 ? static_cast<uint8_t>(header->Pixels().nearestIndex(color)) : r;
            AlphaValues[wide ? 0 : 1] = sample;
            SetPayloadSize(2);
            break;
        }
        case kColorRgb:
            AlphaValues.fill(0);
            AlphaValues[wide ? 0 : 1] = r;
            AlphaValues[wide ? 2 : 3] = g;
            AlphaValues[wide ? 4 : 5] = b;
            SetPayloadSize(6);
            break;
        case kColorPalette: {
            const auto& table = header->Pixels().colorTable();
            size_t i = 0;
            while (i < table.size() && !(table[i].red == r && table[i].green == g && table[i].blue == b)) ++i;
            if (i == table.size()) return;  // no entry of that colour: nothing to key on
            AlphaValues.fill(0);
            for (size_t k = 0; k < i; ++k) AlphaValues[k] = 255;
            SetPayloadSize(static_cast<int32_t>(i + 1));
            break;
        }
        default:
            return;
    }
    SingleKey = true;
    std::memcpy(Payload(), AlphaValues.data(), static_cast<size_t>(PayloadSize()));
}

// ---------------------------------------------------------------- gAMA

TChunkgAMA::TChunkgAMA(TPNGObject& image) : ChunkOfType(image) { SetGamma(1); }

uint32_t TChunkgAMA::Gamma() const { return PayloadSize() == 4 ? getU32be(Payload()) : 1; }

void TChunkgAMA::SetGamma(uint32_t value) {
    if (PayloadSize() != 4) SetPayloadSize(4);
    putU32be(Payload(), value);
    m_ignored = false;
}

void TChunkgAMA::CopyFrom(const TChunk& source) {
    auto* src = dynamic_cast<const TChunkgAMA*>(&source);
    if (!src) throw EPngError(kMsgPngIncompatibleChunks);
    SetGamma(src->PayloadSize() == 4 ? getU32be(src->Payload()) : 1);
    m_ignored = src->m_ignored;
}

bool TChunkgAMA::ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) {
    if (!TChunk::ReadPayload(reader, type, length)) return false;
    // A gAMA of the wrong length carries no value. One after the image data
    // comes too late: the rows were decoded (and will be written back)
    // without it. Either way the tables stay as they are, and the chunk is
    // not written again, so that a re-saved file reads as this one did.
    if (length != 4) SetGamma(1);
    if (length != 4 || Image().Chunks().FindByClass<TChunkIDAT>()) {
        m_ignored = true;
        return true;
    }
    const uint32_t gamma = Gamma();
    if (gamma == 0) return true;
    GammaTable dg = Image().DecodeGamma(), eg = Image().EncodeGamma();
    const double exponent = 1.0 / (gamma / 100000.0 * 2.2);
    for (size_t i = 0; i < 256; ++i) {
        const double x = static_cast<double>(i) / 255.0;
        const double v = i == 0 ? 0.0 : std::nearbyint(255.0 * std::pow(x, exponent));
        const uint8_t b = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        dg[i] = b;
        eg[b] = static_cast<uint8_t>(i);
    }
    Image().SetGammaTables(dg, eg);
    return true;
}

bool TChunkgAMA::WritePayload(TStream& stream) const { return m_ignored ? true : TChunk::WritePayload(stream); }

// ---------------------------------------------------------------- pHYs

void TChunkpHYs::CopyFrom(const TChunk& source) {
    if (const auto* src = dynamic_cast<const TChunkpHYs*>(&source)) {
        DensityX = src->DensityX;
        DensityY = src->DensityY;
        DensityUnit = src->DensityUnit;
    }
}

bool TChunkpHYs::ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) {
    if (!TChunk::ReadPayload(reader, type, length)) return false;
    if (length == 9) {
        DensityX = getU32be(Payload());
        DensityY = getU32be(Payload() + 4);
        DensityUnit = Payload()[8];
    }
    return true;
}

bool TChunkpHYs::WritePayload(TStream& stream) const {
    uint8_t bytes[9];
    putU32be(bytes, DensityX);
    putU32be(bytes + 4, DensityY);
    bytes[8] = DensityUnit;
    WriteFramed(stream, m_type, bytes, sizeof bytes);
    return true;
}

// ---------------------------------------------------------------- tIME

void TChunktIME::CopyFrom(const TChunk& source) {
    if (const auto* src = dynamic_cast<const TChunktIME*>(&source)) {
        TimeYear = src->TimeYear;
        TimeMonth = src->TimeMonth;
        TimeDay = src->TimeDay;
        TimeHour = src->TimeHour;
        TimeMinute = src->TimeMinute;
        TimeSecond = src->TimeSecond;
    }
}

bool TChunktIME::ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) {
    if (!TChunk::ReadPayload(reader, type, length)) return false;
    if (length == 7) {
        const uint8_t* p = Payload();
        TimeYear = static_cast<uint16_t>((p[0] << 8) | p[1]);
        TimeMonth = p[2];
        TimeDay = p[3];
        TimeHour = p[4];
        TimeMinute = p[5];
        TimeSecond = p[6];
    }
    return true;
}

bool TChunktIME::WritePayload(TStream& stream) const {
    const uint8_t bytes[7] = {
        uint8_t(TimeYear >> 8), uint8_t(TimeYear), TimeMonth, TimeDay, TimeHour, TimeMinute, TimeSecond};
    WriteFramed(stream, m_type, bytes, sizeof bytes);
    return true;
}

// ---------------------------------------------------------------- tEXt, zTXt

namespace {

// Length of the keyword: the bytes before the first zero (all without one).
size_t keywordLength(const uint8_t* p, size_t n) {
    const void* zero = n ? std::memchr(p, 0, n) : nullptr;
    return zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - p) : n;
}

}  // namespace

void TextChunk::CopyFrom(const TChunk& source) {
    if (const auto* src = dynamic_cast<const TextChunk*>(&source)) {
        KeyName = src->KeyName;
        Content = src->Content;
    }
}

bool TextChunk::ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) {
    if (!TChunk::ReadPayload(reader, type, length)) return false;
    if (length > 2) {
        const uint8_t* p = Payload();
        size_t key = keywordLength(p, length);
        KeyName.assign(reinterpret_cast<const char*>(p), key);
        if (key + 1 < length) Content.assign(reinterpret_cast<const char*>(p + key + 1), length - key - 1);
        else Content.clear();
    }
    return true;
}

bool TextChunk::WritePayload(TStream& stream) const {
    std::vector<uint8_t> bytes(KeyName.begin(), KeyName.end());
    bytes.push_back(0);
    bytes.insert(bytes.end(), Content.begin(), Content.end());
    WriteFramed(stream, m_type, bytes.data(), bytes.size());
    return true;
}

bool TChunkzTXt::ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) {
    if (!TChunktEXt::ReadPayload(reader, type, length)) return false;
    if (length >= 4) {
        const uint8_t* p = Payload();
        size_t key = keywordLength(p, length);
        KeyName.assign(reinterpret_cast<const char*>(p), key);
        Content.clear();
        if (key + 2 <= length && p[key + 1] == 0) {
            std::string text;
            if (InflateBuffer(p + key + 2, length - key - 2, text, kMaxZtxtText)) Content = std::move(text);
        }
    }
    return true;
}

bool TChunkzTXt::WritePayload(TStream& stream) const {
    const std::string text = Content.empty() ? std::string(1, ' ') : Content;
    std::string packed;
    if (!DeflateBuffer(reinterpret_cast<const uint8_t*>(text.data()), text.size(), Image().DeflateLevel, packed))
        return true;
    std::vector<uint8_t> bytes(KeyName.begin(), KeyName.end());
    bytes.push_back(0);
    bytes.push_back(0);
    bytes.insert(bytes.end(), packed.begin(), packed.end());
    WriteFramed(stream, m_type, bytes.data(), bytes.size());
    return true;
}

}  // namespace glx
