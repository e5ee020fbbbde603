#include "png/encode_ahead.h"

#include <vector>

#include "base/stream.h"
#include "png/piece_deflate.h"
#include "png/pixel_rows.h"
#include "png/png_object.h"

namespace glx {

uint32_t memoryRowsChecksum(const TPNGObject& image, int32_t width, int32_t rows, uint32_t crc, int32_t from) {
    const TChunkIHDR& header = image.HeaderChunk();
    const size_t pixelBytes = (static_cast<size_t>(width) * static_cast<size_t>(header.MemoryBitsPerPixel()) + 7) / 8;
    for (int32_t y = from; y < rows; ++y) {
        crc = crc32Update(crc, header.PixelRow(y), pixelBytes);
        if (const uint8_t* alpha = header.AlphaRow(y)) crc = crc32Update(crc, alpha, static_cast<size_t>(width));
    }
    return crc;
}

EncodeAhead::EncodeAhead() = default;
EncodeAhead::~EncodeAhead() = default;

void EncodeAhead::hand(const TPNGObject& image, int32_t toRow) {
    const TChunkIHDR& header = image.HeaderChunk();
    const auto w = static_cast<uint32_t>(m_width);
    std::vector<uint8_t> row(m_stream->rowBytes());
    m_crc = memoryRowsChecksum(image, m_width, toRow, m_crc, m_handed);
    for (; m_handed < toRow; ++m_handed) {
        loadPngRow(header, row.data(), m_handed, 0, 1, w, image.EncodeGamma());
        m_stream->addRow(row.data());
    }
}

void EncodeAhead::offer(const TPNGObject& image, int32_t width, int32_t rows) {
    if (image.Interlacing != 0 || width < 1 || rows > image.Height() || width > image.Width()) return;
    if (width != m_width || !m_stream || image.EncodeGamma() != m_gamma) {
        // A wider picture changes every row: start over from the top.
        IdatRecipe recipe = idatRecipeOf(image);
        recipe.width = static_cast<uint32_t>(width);
        recipe.height = 0;
        m_stream = std::make_unique<IdatStream>(recipe);
        m_result.reset();
        m_width = width;
        m_handed = 0;
        m_crc = 0;
        m_gamma = image.EncodeGamma();
    }
    if (rows > m_handed) hand(image, rows);
}

void EncodeAhead::finish(const TPNGObject& image) {
    // Nothing was final before saving (a single band): there is nothing to
    // win, and the picture encodes itself.
    if (!m_stream || image.Width() != m_width || image.Interlacing != 0 || image.EncodeGamma() != m_gamma) {
        m_stream.reset();
        return;
    }
    hand(image, image.Height());
    m_result = m_stream->finish();
    m_stream.reset();
}

bool EncodeAhead::writeIfMatching(const TPNGObject& image, TStream& stream) const {
    if (!m_result || image.Interlacing != 0 || !(m_result->recipe == idatRecipeOf(image))) return false;
    if (image.EncodeGamma() != m_gamma) return false;
    if (memoryRowsChecksum(image, image.Width(), image.Height()) != m_crc) return false;
    for (const std::vector<uint8_t>& block : m_result->blocks) stream.writeBuffer(block.data(), block.size());
    return true;
}

}  // namespace glx
