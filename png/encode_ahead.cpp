#include "png/encode_ahead.h"

#include <vector>

#include "base/stream.h"
#include "png/piece_deflate.h"
#include "png/pixel_rows.h"
#include "png/png_object.h"

namespace glx {

uint32_t pngRowsChecksum(const TPNGObject& image, int32_t width, int32_t rows, uint32_t crc, int32_t from) {
    const TChunkIHDR& header = image.HeaderChunk();
    const auto w = static_cast<uint32_t>(width);
    std::vector<uint8_t> row(pngRowGeometry(header.ColorType, header.WrittenBitDepth(), w).rowBytes);
    for (int32_t y = from; y < rows; ++y) {
        loadPngRow(header, row.data(), y, 0, 1, w, image.EncodeGamma());
        crc = crc32Update(crc, row.data(), row.size());
    }
    return crc;
}

EncodeAhead::EncodeAhead() = default;
EncodeAhead::~EncodeAhead() = default;

void EncodeAhead::hand(const TPNGObject& image, int32_t toRow) {
    const TChunkIHDR& header = image.HeaderChunk();
    const auto w = static_cast<uint32_t>(m_width);
    std::vector<uint8_t> row(m_stream->rowBytes());
    for (; m_handed < toRow; ++m_handed) {
        loadPngRow(header, row.data(), m_handed, 0, 1, w, image.EncodeGamma());
        m_crc = crc32Update(m_crc, row.data(), row.size());
        m_stream->addRow(row.data());
    }
}

void EncodeAhead::offer(const TPNGObject& image, int32_t width, int32_t rows) {
    if (image.Interlacing != 0 || width < 1 || rows > image.Height() || width > image.Width()) return;
    if (width != m_width || !m_stream) {
        // A wider picture changes every row: start over from the top.
        IdatRecipe recipe = idatRecipeOf(image);
        recipe.width = static_cast<uint32_t>(width);
        recipe.height = 0;
        m_stream = std::make_unique<IdatStream>(recipe);
        m_result.reset();
        m_width = width;
        m_handed = 0;
        m_crc = 0;
    }
    if (rows > m_handed) hand(image, rows);
}

void EncodeAhead::finish(const TPNGObject& image) {
    // Nothing was final before saving (a single band): there is nothing to
    // win, and the picture encodes itself.
    if (!m_stream || image.Width() != m_width || image.Interlacing != 0) {
        m_stream.reset();
        return;
    }
    hand(image, image.Height());
    m_result = m_stream->finish();
    m_stream.reset();
}

bool EncodeAhead::writeIfMatching(const TPNGObject& image, TStream& stream) const {
    if (!m_result || image.Interlacing != 0 || !(m_result->recipe == idatRecipeOf(image))) return false;
    if (pngRowsChecksum(image, image.Width(), image.Height()) != m_crc) return false;
    for (const std::vector<uint8_t>& block : m_result->blocks) stream.writeBuffer(block.data(), block.size());
    return true;
}

}  // namespace glx
