#include "png/chunk_ihdr.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/limits.h"
#include "base/stream.h"
#include "png/pixel_rows.h"
#include "png/png_errors.h"
#include "png/png_format.h"
#include "png/png_io.h"
#include "png/png_object.h"

namespace glx {

bool IsValidColorTypeDepth(uint32_t colorType, uint32_t bitDepth) {
    switch (colorType) {
        case kColorGrey:
            return bitDepth == kDepth1 || bitDepth == kDepth2 || bitDepth == kDepth4 || bitDepth == kDepth8 ||
                   bitDepth == kDepth16;
        case kColorPalette:
            return bitDepth == kDepth1 || bitDepth == kDepth2 || bitDepth == kDepth4 || bitDepth == kDepth8;
        case kColorRgb:
        case kColorGreyAlpha:
        case kColorRgba:
            return bitDepth == kDepth8 || bitDepth == kDepth16;
        default:
            return false;
    }
}

namespace {

// A fixed 256-colour palette for new palette images: the 20 static colours
// of a classic desktop palette at both ends, a 6 x 6 x 6 colour cube and a
// grey ramp in between.
std::vector<RGBQuad> halftonePalette() {
    static const uint8_t low[10][3] = {{0, 0, 0},     {128, 0, 0},   {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
                                       {128, 0, 128}, {0, 128, 128}, {192, 192, 192}, {192, 220, 192}, {166, 202, 240}};
    static const uint8_t high[10][3] = {{255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},
                                        {0, 255, 0},     {255, 255, 0},   {0, 0, 255},     {255, 0, 255},
                                        {0, 255, 255},   {255, 255, 255}};
    std::vector<RGBQuad> p;
    p.reserve(256);
    auto push = [&p](uint8_t r, uint8_t g, uint8_t b) { p.push_back(RGBQuad{b, g, r, 0}); };
    for (auto& c : low) push(c[0], c[1], c[2]);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) push(uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51));
    for (int i = 1; i <= 20; ++i) push(uint8_t(i * 12), uint8_t(i * 12), uint8_t(i * 12));
    for (auto& c : high) push(c[0], c[1], c[2]);
    return p;
}

}  // namespace

TChunkIHDR::TChunkIHDR(TPNGObject& image) : ChunkOfType(image) {}

TChunkIHDR::~TChunkIHDR() { ReleaseImage(); }

int TChunkIHDR::MemoryBitsPerPixel() const {
    switch (ColorType) {
        case kColorGrey:
        case kColorPalette:
            if (BitDepth == kDepth2) return 4;
            return BitDepth >= kDepth8 ? 8 : BitDepth;
        case kColorGreyAlpha:
            return 8;
        default:
            return 24;
    }
}

void TChunkIHDR::bindCanvas() {
    if (Position() == 0) Image().Canvas().bind(&m_dib);
}

void TChunkIHDR::ReleaseImage() {
    TCanvas& canvas = Image().Canvas();
    if (canvas.surface() == &m_dib) canvas.bind(nullptr);
    m_dib = Dib();
    m_palette.clear();
    m_palette.shrink_to_fit();
    m_alpha = LargeBuffer();
    m_low = LargeBuffer();
    m_rowStride = 0;
}

void TChunkIHDR::checkSize() const {
    const bool alpha = hasAlphaPlane(ColorType);
    const bool low = BitDepth == kDepth16;
    checkPictureSize(Image().ReadLimits(), HeaderWidth, HeaderHeight,
                     static_cast<uint64_t>(MemoryBitsPerPixel()) * (low ? 2 : 1) + (alpha ? 8 : 0));
}

void TChunkIHDR::AllocateImage() {
    ReleaseImage();
    m_usesColorTable = usesColorTable(ColorType);
    const int bpp = MemoryBitsPerPixel();
    const bool alpha = hasAlphaPlane(ColorType);
    const bool low = BitDepth == kDepth16;
    // Every plane together, checked before anything is allocated.
    checkSize();
    m_rowStride = static_cast<int32_t>(rowBytes(HeaderWidth, static_cast<uint64_t>(bpp), 4));

    std::vector<RGBQuad> table;
    if (m_usesColorTable) {
        if (ColorType == kColorPalette) {
            m_palette = halftonePalette();
        } else {
            m_palette.clear();
        }
        table.assign(size_t(1) << bpp, RGBQuad{});
    }
    m_dib = Dib(static_cast<int32_t>(HeaderWidth), static_cast<int32_t>(HeaderHeight), bpp, table);
    if (m_usesColorTable) {
        if (ColorType == kColorPalette) {
            m_palette.resize(size_t(1) << bpp);
            SetPalette(m_palette);
        } else {
            InstallGreyRamp();
        }
    }
    try {
        if (alpha) m_alpha = LargeBuffer(static_cast<size_t>(HeaderWidth) * HeaderHeight);
        if (low) m_low = LargeBuffer(static_cast<size_t>(m_rowStride) * HeaderHeight);
    } catch (const EOutOfMemory&) {
        ReleaseImage();
        throw;
    }
    bindCanvas();
}

void TChunkIHDR::ResizeImage(int32_t newWidth, int32_t newHeight) {
    const int bpp = MemoryBitsPerPixel();
    const bool low = !m_low.empty();
    const bool alpha = !m_alpha.empty();
    checkPictureSize(Image().ReadLimits(), newWidth, newHeight,
                     static_cast<uint64_t>(bpp) * (low ? 2 : 1) + (alpha ? 8 : 0));

    const int32_t oldWidth = static_cast<int32_t>(HeaderWidth), oldHeight = static_cast<int32_t>(HeaderHeight);
    if (newWidth == oldWidth && newHeight <= oldHeight && bpp % 8 == 0) {
        // Cropping rows off the bottom keeps the other rows where they are:
        // no second buffer, so the memory peak stays at the current size.
        m_dib.keepTopRows(newHeight);
        if (alpha) m_alpha.shrink(static_cast<size_t>(newWidth) * static_cast<size_t>(newHeight));
        if (low) m_low.shrink(static_cast<size_t>(m_rowStride) * static_cast<size_t>(newHeight));
        HeaderHeight = static_cast<uint32_t>(newHeight);
        bindCanvas();
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

    Dib dib(newWidth, newHeight, bpp, m_dib.colorTable());
    for (int32_t y = 0; y < rows; ++y) copyRow(dib.row(y), m_dib.row(y));
    const int32_t newStride = static_cast<int32_t>(dib.stride());
    const size_t newPixels = static_cast<size_t>(newWidth) * static_cast<size_t>(newHeight);

    LargeBuffer newAlpha, newLow;
    if (alpha) {
        newAlpha = LargeBuffer(newPixels);
        std::memset(newAlpha.data(), 255, newAlpha.size());
        for (int32_t y = 0; y < rows; ++y)
            std::memcpy(newAlpha.data() + static_cast<size_t>(y) * static_cast<size_t>(newWidth),
                        m_alpha.data() + static_cast<size_t>(y) * static_cast<size_t>(oldWidth),
                        static_cast<size_t>(cols));
    }
    if (low) {
        newLow = LargeBuffer(static_cast<size_t>(newStride) * static_cast<size_t>(newHeight));
        for (int32_t y = 0; y < rows; ++y)
            copyRow(newLow.data() + static_cast<size_t>(y) * static_cast<size_t>(newStride),
                    m_low.data() + static_cast<size_t>(y) * static_cast<size_t>(m_rowStride));
    }

    m_dib = std::move(dib);
    m_alpha = std::move(newAlpha);
    m_low = std::move(newLow);
    m_rowStride = newStride;
    HeaderWidth = static_cast<uint32_t>(newWidth);
    HeaderHeight = static_cast<uint32_t>(newHeight);
    bindCanvas();
}

void TChunkIHDR::SetPalette(std::vector<RGBQuad> entries) {
    if (!m_usesColorTable) return;
    auto& table = m_dib.colorTable();
    std::copy_n(entries.begin(), std::min(entries.size(), table.size()), table.begin());
    m_palette = std::move(entries);
}

void TChunkIHDR::InstallGreyRamp() {
    const size_t n = size_t(1) << MemoryBitsPerPixel();
    const auto& dg = Image().DecodeGamma();
    std::vector<RGBQuad> ramp(n);
    for (size_t i = 0; i < n; ++i) {
        uint8_t g = dg[i * 255 / (n - 1)];
        ramp[i] = RGBQuad{g, g, g, 0};
    }
    SetPalette(std::move(ramp));
}

void TChunkIHDR::CopyFrom(const TChunk& source) {
    const auto* src = dynamic_cast<const TChunkIHDR*>(&source);
    if (!src) throw EPngError(kMsgPngIncompatibleChunks);
    HeaderWidth = src->HeaderWidth;
    HeaderHeight = src->HeaderHeight;
    BitDepth = src->BitDepth;
    ColorType = src->ColorType;
    CompressionMethod = src->CompressionMethod;
    FilterMethod = src->FilterMethod;
    InterlaceMethod = src->InterlaceMethod;
    if (!src->HasImage()) {
        ReleaseImage();
        return;
    }
    AllocateImage();
    m_dib = src->m_dib;
    if (!m_alpha.empty()) m_alpha = src->m_alpha;
    m_palette = src->m_palette;
    bindCanvas();
}

namespace {

// Deflate turns one compressed byte into at most 1032 bytes (a 258-byte
// match coded in 2 bits, 4 to a byte).
constexpr uint64_t kMaxDeflateRatio = 1032;

}  // namespace

bool TChunkIHDR::ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) {
    if (!TChunk::ReadPayload(reader, type, length)) return false;
    if (PayloadSize() < 13) throw EPngInvalidIHDR();
    const uint8_t* p = Payload();
    const uint32_t width = getU32be(p), height = getU32be(p + 4);
    if (width > 65535 || height > 65535) throw EPNGSizeExceeds();
    if (p[10] != 0) throw EPNGUnknownCompression();
    if (p[12] > 1) throw EPNGUnknownInterlace();
    // Empty images and colour type / bit depth pairs outside the format
    // have no meaning: refused as a damaged header.
    if (width == 0 || height == 0 || !IsValidColorTypeDepth(p[9], p[8])) throw EPngInvalidIHDR();
    HeaderWidth = width;
    HeaderHeight = height;
    BitDepth = p[8];
    ColorType = p[9];
    CompressionMethod = p[10];
    FilterMethod = p[11];
    InterlaceMethod = p[12];
    Image().Interlacing = InterlaceMethod;
    // Before any pixel memory: a picture beyond the limits, or one whose
    // image data could not inflate to even a small share of its rows, is
    // refused. Without image data ahead the read fails on its own (no IDAT,
    // or a broken chunk).
    checkSize();
    const uint64_t declared = pngImageDataBytes(ColorType, BitDepth, width, height, InterlaceMethod == 1);
    const Limits& limits = Image().ReadLimits();
    const uint64_t unit = kMaxDeflateRatio * std::max<uint64_t>(limits.dataShare, 1);
    const uint64_t enough = (declared + unit - 1) / unit;
    if (const auto data = Image().imageDataAhead(reader, enough))
        checkDataCanFill(limits, width, height, *data, *data * kMaxDeflateRatio, declared);
    AllocateImage();
    return true;
}

bool TChunkIHDR::WritePayload(TStream& stream) const {
    uint8_t p[13];
    putU32be(p, HeaderWidth);
    putU32be(p + 4, HeaderHeight);
    p[8] = WrittenBitDepth();
    p[9] = ColorType;
    p[10] = CompressionMethod;
    p[11] = FilterMethod;
    p[12] = Image().Interlacing;
    WriteFramed(stream, m_type, p, sizeof p);
    return true;
}

}  // namespace glx
