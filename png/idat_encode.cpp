// Encoding of the image data: each row is converted back into PNG sample
// order, filtered with the filter the image's settings choose, deflated,
// and the compressed bytes go out as IDAT chunks of IdatChunkSize bytes
// (the last one shorter).
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "base/exception.h"
#include "base/stream.h"
#include "png/chunk_idat.h"
#include "png/chunk_ihdr.h"
#include "png/crc32.h"
#include "png/pixel_rows.h"
#include "png/png_errors.h"
#include "png/png_io.h"
#include "png/png_object.h"
#include "png/row_filters.h"

namespace glx {

namespace {

class IdatWriter {
public:
    IdatWriter(TStream& stream, size_t chunkSize, int level) : m_stream(stream) {
        try {
            m_output.resize(chunkSize);
        } catch (const std::bad_alloc&) {
            throw EOutOfMemory("Out of memory");
        }
        if (deflateInit(&m_z, std::clamp(level, 0, 9)) != Z_OK) throw EOutOfMemory("Out of memory");
        resetOutput();
    }
    ~IdatWriter() { deflateEnd(&m_z); }
    IdatWriter(const IdatWriter&) = delete;
    IdatWriter& operator=(const IdatWriter&) = delete;

    void write(const uint8_t* data, size_t n) {
        m_z.next_in = const_cast<Bytef*>(data);
        m_z.avail_in = static_cast<uInt>(n);
        while (m_z.avail_in > 0) {
            deflate(&m_z, Z_NO_FLUSH);
            if (m_z.avail_out == 0) {
                emit(m_output.data(), m_output.size());
                resetOutput();
            }
        }
    }

    void finish() {
        m_z.next_in = nullptr;
        m_z.avail_in = 0;
        for (;;) {
            int r = deflate(&m_z, Z_FINISH);
            if (r == Z_STREAM_END || r < 0) break;
            if (m_z.avail_out == 0) {
                emit(m_output.data(), m_output.size());
                resetOutput();
            }
        }
        size_t used = m_output.size() - m_z.avail_out;
        if (used > 0) emit(m_output.data(), used);
    }

private:
    void resetOutput() {
        m_z.next_out = m_output.data();
        m_z.avail_out = static_cast<uInt>(m_output.size());
    }

    void emit(const uint8_t* data, size_t n) {
        static const uint8_t idat[4] = {'I', 'D', 'A', 'T'};
        writeU32be(m_stream, static_cast<uint32_t>(n));
        m_stream.writeBuffer(idat, 4);
        m_stream.writeBuffer(data, n);
        writeU32be(m_stream, chunkCrc(idat, data, n));
    }

    TStream& m_stream;
    std::vector<uint8_t> m_output;
    z_stream m_z{};
};

}  // namespace

bool TChunkIDAT::WritePayload(TStream& stream) {
    TChunkIHDR* header = HeaderChunk();
    if (!header || !header->HasImage()) throw EPNGHeaderNotPresent();
    TPNGObject& image = Image();
    if (header->BitDepth == 2) header->BitDepth = 4;  // 2-bit images are held and written as 4-bit

    const uint32_t columns = header->HeaderWidth, rows = header->HeaderHeight;
    const PngRowGeometry full = pngRowGeometry(header->ColorType, header->BitDepth, columns);
    std::vector<uint8_t> raw(full.rowBytes);
    FilterRows filterRows(full.rowBytes, image.RowFilters);
    IdatWriter writer(stream, static_cast<size_t>(image.IdatChunkSize()), image.DeflateLevel);

    auto writeRow = [&](uint32_t rowLength) {
        filterRows.length = rowLength;
        uint8_t f = ChooseRowFilter(raw.data(), filterRows, full.distance);
        writer.write(&f, 1);
        writer.write(filterRows.candidates[f].data(), rowLength);
    };

    if (image.Interlacing == 0) {
        for (uint32_t y = 0; y < rows; ++y) {
            loadPngRow(*header, raw.data(), static_cast<int32_t>(y), 0, 1, columns, image.EncodeGamma);
            writeRow(full.rowBytes);
        }
    } else {
        for (const Adam7Pass& pass : kAdam7) {
            const uint32_t width = passWidth(columns, pass);
            const uint32_t rowLength = pngRowGeometry(header->ColorType, header->BitDepth, width).rowBytes;
            filterRows.length = rowLength;
            filterRows.resetPrevious();
            if (rowLength == 0) continue;
            for (uint32_t y = pass.row0; y < rows; y += pass.rowStep) {
                loadPngRow(*header, raw.data(), static_cast<int32_t>(y), pass.col0, pass.colStep, width,
                           image.EncodeGamma);
                writeRow(rowLength);
            }
        }
    }
    writer.finish();
    return true;
}

}  // namespace glx
