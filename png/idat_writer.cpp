#include "png/idat_writer.h"

#include <algorithm>
#include <new>

#include "base/exception.h"
#include "base/stream.h"
#include "png/crc32.h"
#include "png/png_io.h"

namespace glx {

IdatWriter::IdatWriter(TStream& stream, size_t chunkSize, int level) : m_stream(stream) {
    try {
        m_output.resize(chunkSize);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Out of memory");
    }
    if (deflateInit(&m_z, std::clamp(level, 0, 9)) != Z_OK) throw EOutOfMemory("Out of memory");
    resetOutput();
}

IdatWriter::~IdatWriter() { deflateEnd(&m_z); }

void IdatWriter::write(const uint8_t* data, size_t n) {
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

void IdatWriter::finish() {
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

void IdatWriter::resetOutput() {
    m_z.next_out = m_output.data();
    m_z.avail_out = static_cast<uInt>(m_output.size());
}

void IdatWriter::emit(const uint8_t* data, size_t n) {
    static const uint8_t idat[4] = {'I', 'D', 'A', 'T'};
    writeU32be(m_stream, static_cast<uint32_t>(n));
    m_stream.writeBuffer(idat, 4);
    m_stream.writeBuffer(data, n);
    writeU32be(m_stream, chunkCrc(idat, data, n));
}

}  // namespace glx
