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
#include "png/idat_stream.h"
#include "png/idat_writer.h"
#include "png/pixel_rows.h"
#include "png/png_errors.h"
#include "png/png_io.h"
#include "png/png_object.h"
#include "png/row_filters.h"

namespace glx {

bool TChunkIDAT::WritePayload(TStream& stream) const {
    const TChunkIHDR* header = HeaderChunk();
    if (!header || !header->HasImage()) throw EPNGHeaderNotPresent();
    const TPNGObject& image = Image();
    const uint8_t depth = header->WrittenBitDepth();
    // Encoded ahead from these very rows (see png/encode_ahead.h).
    if (image.writeEncodedAhead(stream)) return true;

    const uint32_t columns = header->HeaderWidth, rows = header->HeaderHeight;
    const PngRowGeometry full = pngRowGeometry(header->ColorType, depth, columns);
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
            loadPngRow(*header, raw.data(), static_cast<int32_t>(y), 0, 1, columns, image.EncodeGamma());
            writeRow(full.rowBytes);
        }
    } else {
        for (const Adam7Pass& pass : kAdam7) {
            const uint32_t width = passWidth(columns, pass);
            const uint32_t rowLength = pngRowGeometry(header->ColorType, depth, width).rowBytes;
            filterRows.length = rowLength;
            filterRows.resetPrevious();
            if (rowLength == 0) continue;
            for (uint32_t y = pass.row0; y < rows; y += pass.rowStep) {
                loadPngRow(*header, raw.data(), static_cast<int32_t>(y), pass.col0, pass.colStep, width,
                           image.EncodeGamma());
                writeRow(rowLength);
            }
        }
    }
    writer.finish();
    return true;
}

}  // namespace glx
