// Decoding of the image data: the IDAT run is inflated block by block
// straight from the reader's buffer (never across a chunk end, so each
// chunk's CRC covers exactly its own data), each row is unfiltered in place
// in one of two alternating row buffers and stored into the header's pixel
// memory. A small picture whose IDAT run is small too is gathered and
// inflated in one call instead, then unfiltered row by row; when that does
// not give every row (a damaged stream or chunk), the run is read again the
// streaming way, which keeps the rows it can and raises what it raises.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/stream_reader.h"
#include "png/chunk_idat.h"
#include "png/chunk_ihdr.h"
#include "png/crc32.h"
#include "png/pixel_rows.h"
#include "png/png_errors.h"
#include "png/png_format.h"
#include "png/png_io.h"
#include "png/png_object.h"
#include "png/row_filters.h"
#include "png/zlib_buffer.h"

namespace glx {

namespace {

constexpr size_t kInputBlock = 65535;

// The filtered rows of each pass in the order the stream carries them.
template <typename Row>
void forEachRow(const TChunkIHDR& header, bool interlaced, Row&& row) {
    const uint32_t columns = header.HeaderWidth, rows = header.HeaderHeight;
    if (!interlaced) {
        const uint32_t length = pngRowGeometry(header.ColorType, header.BitDepth, columns).rowBytes;
        for (uint32_t y = 0; y < rows; ++y)
            if (!row(y, 0u, 1u, columns, length, y == 0)) return;
        return;
    }
    for (const Adam7Pass& pass : kAdam7) {
        const uint32_t width = passWidth(columns, pass);
        const uint32_t length = pngRowGeometry(header.ColorType, header.BitDepth, width).rowBytes;
        if (length == 0 || pass.row0 >= rows) continue;
        for (uint32_t y = pass.row0; y < rows; y += pass.rowStep)
            if (!row(y, pass.col0, pass.colStep, width, length, y == pass.row0)) return;
    }
}

// Gathers the data of the IDAT run the reader is in (the first chunk's
// type already read, length bytes of it ahead): each chunk's data after
// its CRC is checked, up to the chunk before the next non-IDAT chunk.
// False, with the reader back where it was, when a CRC fails, a chunk is
// cut short, or the data passes limit bytes.
bool gatherImageData(StreamReader& reader, uint32_t length, bool checkCrc, size_t limit, std::vector<uint8_t>& data) {
    const int64_t start = reader.position();
    static const uint8_t idat[4] = {'I', 'D', 'A', 'T'};
    for (;;) {
        if (!reader.has(uint64_t(length) + 4) || length > limit - data.size()) {
            reader.seek(start);
            return false;
        }
        const size_t at = data.size();
        data.resize(at + length);
        reader.read(data.data() + at, length);
        const uint32_t crc = finishCrc(updateCrc(updateCrc(kCrcStart, idat, 4), data.data() + at, length));
        if (reader.u32be() != crc && checkCrc) {
            reader.seek(start);
            return false;
        }
        // The run goes on while the next chunk is an IDAT chunk of a length
        // the format allows.
        const int64_t next = reader.position();
        if (!reader.has(8)) return true;
        length = reader.u32be();
        if (std::memcmp(reader.take(4).data(), idat, 4) != 0 || length > 0x7FFFFFFFu) {
            reader.seek(next);
            return true;
        }
    }
}

// Inflates the run of IDAT chunks the reader is in (the first one's type
// already read) whole into the filtered rows of the image, then unfilters
// and stores them. False, with the reader back where it was and the pixels
// untouched, unless every chunk's CRC holds, the run's data is within the
// whole-inflate limit and its zlib stream gives exactly every row. On
// success the reader is behind the run, whose later chunks the stream
// reader would have skipped.
bool decodeWhole(StreamReader& reader, uint32_t length, TChunkIHDR& header, TPNGObject& image, size_t filteredBytes) {
    const int64_t start = reader.position();
    std::vector<uint8_t> data;
    const size_t limit = image.ReadLimits().wholeInflateBytes;
    if (!gatherImageData(reader, length, image.Options().checksCrc(), limit, data)) return false;
    std::unique_ptr<uint8_t[]> rows;
    try {
        rows = std::make_unique_for_overwrite<uint8_t[]>(filteredBytes);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Out of memory");
    }
    if (!InflateExactly(data.data(), data.size(), rows.get(), filteredBytes)) {
        reader.seek(start);
        return false;
    }
    const size_t distance = pngRowGeometry(header.ColorType, header.BitDepth, header.HeaderWidth).distance;
    const std::vector<uint8_t> zeros(pngRowGeometry(header.ColorType, header.BitDepth, header.HeaderWidth).rowBytes);
    uint8_t* cur = rows.get();
    const uint8_t* prev = nullptr;
    forEachRow(header, image.Interlacing != 0,
               [&](uint32_t y, uint32_t x0, uint32_t dx, uint32_t width, uint32_t rowLength, bool first) {
                   UnfilterRow(cur[0], cur + 1, first ? zeros.data() : prev, rowLength, distance);
                   storePngRow(header, cur + 1, static_cast<int32_t>(y), x0, dx, width, image.DecodeGamma());
                   prev = cur + 1;
                   cur += rowLength + 1;
                   return true;
               });
    return true;
}

class IdatReader {
public:
    IdatReader(StreamReader& reader, uint32_t length, bool checkCrc) : m_reader(reader), m_checkCrc(checkCrc) {
        static const uint8_t idat[4] = {'I', 'D', 'A', 'T'};
        m_crc = updateCrc(kCrcStart, idat, 4);
        m_chunkEnd = reader.position() + length;
        if (inflateInit(&m_z) != Z_OK)
            throw EPNGZLIBError(std::string(kMsgPngZlibError) + InflateResultText(Z_MEM_ERROR));
    }
    ~IdatReader() { inflateEnd(&m_z); }
    IdatReader(const IdatReader&) = delete;
    IdatReader& operator=(const IdatReader&) = delete;

    // Fills out with count inflated bytes; returns fewer when the data ends
    // early (the zlib stream ends, or the stream runs out). zlib reads the
    // compressed bytes where the reader buffers them; the reader is called
    // again only once zlib has taken them all.
    size_t read(uint8_t* out, size_t count) {
        if (m_ended) return 0;
        m_z.next_out = out;
        m_z.avail_out = static_cast<uInt>(count);
        while (m_z.avail_out > 0) {
            if (m_z.avail_in == 0 && m_reader.position() >= m_chunkEnd) nextChunk();
            if (m_z.avail_in == 0) {
                const int64_t left = m_chunkEnd - m_reader.position();
                if (left == 0) continue;  // an empty IDAT chunk: go on to the next one
                const std::span<const uint8_t> block = nextBlock(left);
                if (block.empty()) return count - m_z.avail_out;
                m_crc = updateCrc(m_crc, block.data(), block.size());
                m_z.next_in = const_cast<Bytef*>(block.data());
                m_z.avail_in = static_cast<uInt>(block.size());
            }
            int r = inflate(&m_z, Z_NO_FLUSH);
            if (r == Z_BUF_ERROR) continue;  // no progress possible with this input: fetch more
            if (r < 0) throw EPNGZLIBError(std::string(kMsgPngZlibError) + InflateResultText(r));
            if (r == Z_NEED_DICT) throw EPNGZLIBError(std::string(kMsgPngZlibError) + InflateResultText(r));
            if (r == Z_STREAM_END) {
                m_ended = true;
                return count - m_z.avail_out;
            }
        }
        return count;
    }

    // Reads what is left of the current chunk (its bytes still count for
    // its CRC) and checks the stored CRC.
    void finish() {
        int64_t left = m_chunkEnd - m_reader.position();
        while (left > 0) {
            const std::span<const uint8_t> block = nextBlock(left);
            if (block.empty()) pngUnexpectedEnd();
            m_crc = updateCrc(m_crc, block.data(), block.size());
            left -= static_cast<int64_t>(block.size());
        }
        checkCrc();
    }

private:
    // Up to kInputBlock of the left bytes of the current chunk, as the
    // reader buffers them.
    std::span<const uint8_t> nextBlock(int64_t left) {
        return m_reader.takeSome(static_cast<size_t>(std::min<int64_t>(kInputBlock, left)));
    }

    void checkCrc() {
        if (m_reader.u32be() != finishCrc(m_crc) && m_checkCrc) throw EPngInvalidCRC();
    }

    void nextChunk() {
        checkCrc();
        const uint32_t length = readChunkLengthChecked(m_reader, m_reader.u32be(), 4);
        const std::span<const uint8_t> type = m_reader.take(4);
        if (std::memcmp(type.data(), "IDAT", 4) != 0) throw EPNGMissingMultipleIDAT();
        m_crc = updateCrc(kCrcStart, type.data(), 4);
        m_chunkEnd = m_reader.position() + length;
    }

    StreamReader& m_reader;
    const bool m_checkCrc;
    z_stream m_z{};
    uint32_t m_crc = kCrcStart;
    int64_t m_chunkEnd = 0;
    bool m_ended = false;
};

}  // namespace

bool TChunkIDAT::ReadPayload(StreamReader& reader, const ChunkType&, uint32_t length) {
    SetPayloadSize(0);
    TChunkIHDR* header = HeaderChunk();
    if (!header || !header->HasImage()) throw EPNGHeaderNotPresent();
    TPNGObject& image = Image();
    if (header->UsesColorTable() && (header->ColorType == kColorGrey || header->ColorType == kColorGreyAlpha))
        header->InstallGreyRamp();

    const size_t wholeLimit = image.ReadLimits().wholeInflateBytes;
    size_t filteredBytes = 0;
    forEachRow(*header, image.Interlacing != 0, [&](uint32_t, uint32_t, uint32_t, uint32_t, uint32_t rowLength, bool) {
        filteredBytes += size_t(rowLength) + 1;
        return filteredBytes <= wholeLimit;
    });
    if (filteredBytes <= wholeLimit && decodeWhole(reader, length, *header, image, filteredBytes)) return true;

    const uint32_t columns = header->HeaderWidth, rows = header->HeaderHeight;
    const PngRowGeometry full = pngRowGeometry(header->ColorType, header->BitDepth, columns);
    IdatReader idat(reader, length, image.Options().checksCrc());
    // Two row buffers (filter byte + row) used alternately: one receives the
    // next row while the other holds the previous one.
    std::vector<uint8_t> buffers[2] = {std::vector<uint8_t>(full.rowBytes + 1, 0),
                                       std::vector<uint8_t>(full.rowBytes + 1, 0)};
    int active = 1;

    auto decodeRow = [&](uint32_t rowLength) -> bool {
        uint8_t* cur = buffers[active].data();
        if (idat.read(cur, rowLength + 1) != rowLength + 1) return false;
        UnfilterRow(cur[0], cur + 1, buffers[active ^ 1].data() + 1, rowLength, full.distance);
        return true;
    };

    bool complete = true;
    if (image.Interlacing == 0) {
        for (uint32_t y = 0; y < rows; ++y) {
            if (!decodeRow(full.rowBytes)) {
                complete = false;
                break;
            }
            storePngRow(*header, buffers[active].data() + 1, static_cast<int32_t>(y), 0, 1, columns,
                        image.DecodeGamma());
            active ^= 1;
        }
    } else {
        for (const Adam7Pass& pass : kAdam7) {
            const uint32_t width = passWidth(columns, pass);
            const uint32_t rowLength = pngRowGeometry(header->ColorType, header->BitDepth, width).rowBytes;
            if (rowLength == 0 || pass.row0 >= rows) continue;
            std::memset(buffers[active ^ 1].data(), 0, rowLength + 1);
            for (uint32_t y = pass.row0; y < rows; y += pass.rowStep) {
                if (!decodeRow(rowLength)) {
                    complete = false;
                    break;
                }
                storePngRow(*header, buffers[active].data() + 1, static_cast<int32_t>(y), pass.col0, pass.colStep,
                            width, image.DecodeGamma());
                active ^= 1;
            }
            if (!complete) break;
        }
    }
    // Rows never delivered keep the zero fill. The rest of the current
    // chunk is read before its CRC is checked, so a zlib trailer in a later
    // block does not break the check.
    idat.finish();
    return true;
}

}  // namespace glx
