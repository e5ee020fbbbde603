#include "png/idat_writer.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <exception>
#include <new>

#include "base/exception.h"
#include "base/stream.h"
#include "png/crc32.h"
#include "png/deflate_pool.h"
#include "png/piece_deflate.h"
#include "png/png_io.h"

namespace glx {

namespace {

constexpr int kWindowBits = 15;

// The two header bytes zlib writes for a stream of window 2^15 at level
// with the default strategy and no preset dictionary.
std::array<uint8_t, 2> zlibHeader(int level) {
    const unsigned levelFlags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
    unsigned header = ((Z_DEFLATED + ((kWindowBits - 8) << 4)) << 8) | (levelFlags << 6);
    header += 31 - header % 31;
    return {static_cast<uint8_t>(header >> 8), static_cast<uint8_t>(header)};
}

}  // namespace

struct IdatWriter::Piece final : PoolTask {
    std::vector<uint8_t> input;  // the dictionary, then the piece's own data
    size_t dictBytes = 0;
    DeflateEngine engine = DeflateEngine::Zlib;
    int level = 0;
    bool last = false;
    PieceBuffer output;  // raw deflate of the data
    uint32_t adler = 1;  // of the data
    std::exception_ptr error;

    size_t dataBytes() const { return input.size() - dictBytes; }

    void run() noexcept override {
        try {
            deflatePiece();
        } catch (const std::bad_alloc&) {
            error = std::make_exception_ptr(EOutOfMemory("Out of memory"));
        } catch (...) {
            error = std::current_exception();
        }
    }

    void deflatePiece() {
        const uint8_t* data = input.data() + dictBytes;
        const size_t n = dataBytes();
        adler = adler32Update(1, data, n);
        glx::deflatePiece(engine, level, input.data(), dictBytes, data, n, last, output);
    }
};

IdatWriter::IdatWriter(TStream& stream, size_t chunkSize, int level, std::shared_ptr<DeflatePool> pool,
                       size_t pieceBytes, DeflateEngine engine)
    : m_stream(stream),
      m_pool(pool ? std::move(pool) : sharedDeflatePool()),
      m_engine(engine),
      m_level(std::clamp(level, 0, 9)),
      m_pieceBytes(std::clamp<size_t>(pieceBytes ? pieceBytes : deflatePieceBytes(engine), 1, size_t(1) << 30)),
      // Enough pieces queued to keep every worker busy while the oldest is
      // written out, few enough that memory stays a few pieces.
      m_maxInFlight(size_t(2) * m_pool->workers()) {
    if (chunkSize == 0) throw EInternalError("IDAT chunk size 0");
    if (!deflateEngineAvailable(engine)) throw EInternalError("deflate engine not built in");
    try {
        m_chunk.resize(chunkSize);
        m_current = std::make_shared<Piece>();
        m_current->input.reserve(m_pieceBytes);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Out of memory");
    }
}

IdatWriter::~IdatWriter() {
    for (const auto& piece : m_inFlight) DeflatePool::drop(*piece);
}

void IdatWriter::write(const uint8_t* data, size_t n) {
    if (m_finished) throw EInternalError("IDAT data after the end of the stream");
    while (n > 0) {
        // A full piece goes out only when more data follows, so that the
        // last piece, which ends the stream, is never empty.
        if (m_current->dataBytes() == m_pieceBytes) handOut(false);
        const size_t take = std::min(n, m_pieceBytes - m_current->dataBytes());
        m_current->input.insert(m_current->input.end(), data, data + take);
        data += take;
        n -= take;
    }
}

void IdatWriter::finish() {
    if (m_finished) throw EInternalError("IDAT stream finished twice");
    m_finished = true;
    handOut(true);
    while (!m_inFlight.empty()) emitOldest();
    if (m_chunkFill > 0) writeChunk(m_chunkFill);
}

void IdatWriter::handOut(bool last) {
    std::shared_ptr<Piece> piece = std::move(m_current);
    piece->engine = m_engine;
    piece->level = m_level;
    piece->last = last;
    try {
        if (!last) {
            // The next piece starts with the data before it it may refer to.
            m_current = std::make_shared<Piece>();
            std::vector<uint8_t>& next = m_current->input;
            if (!m_spareInput.empty()) {
                next = std::move(m_spareInput.back());
                m_spareInput.pop_back();
            }
            const size_t keep = std::min(deflateHistoryBytes(m_engine), piece->input.size());
            next.reserve(keep + m_pieceBytes);
            next.assign(piece->input.end() - static_cast<std::ptrdiff_t>(keep), piece->input.end());
            m_current->dictBytes = keep;
            if (!m_spareOutput.empty()) {
                piece->output = std::move(m_spareOutput.back());
                m_spareOutput.pop_back();
            }
        }
        m_inFlight.push_back(piece);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Out of memory");
    }
    if (last) {
        // The writer's own thread deflates the last piece while the pool
        // finishes the ones before it.
        m_pool->wait(*piece);
        return;
    }
    m_pool->submit(piece);
    while (m_inFlight.size() > m_maxInFlight) emitOldest();
}

void IdatWriter::emitOldest() {
    std::shared_ptr<Piece> piece = std::move(m_inFlight.front());
    m_inFlight.pop_front();
    m_pool->wait(*piece);
    if (piece->error) std::rethrow_exception(piece->error);
    emit(*piece);
    if (m_spareInput.size() < m_maxInFlight + 1) {
        piece->input.clear();
        piece->output.clear();
        m_spareInput.push_back(std::move(piece->input));
        m_spareOutput.push_back(std::move(piece->output));
    }
}

void IdatWriter::emit(Piece& piece) {
    if (!m_headerDone) {
        const std::array<uint8_t, 2> header = zlibHeader(m_level);
        emitBytes(header.data(), header.size());
        m_headerDone = true;
    }
    emitBytes(piece.output.data(), piece.output.size());
    m_adler = static_cast<uint32_t>(adler32_combine(m_adler, piece.adler, static_cast<z_off_t>(piece.dataBytes())));
    if (piece.last) {
        uint8_t trailer[4];
        putU32be(trailer, m_adler);
        emitBytes(trailer, sizeof trailer);
    }
}

void IdatWriter::emitBytes(const uint8_t* data, size_t n) {
    while (n > 0) {
        const size_t take = std::min(n, m_chunk.size() - m_chunkFill);
        std::copy(data, data + take, m_chunk.begin() + static_cast<std::ptrdiff_t>(m_chunkFill));
        m_chunkFill += take;
        data += take;
        n -= take;
        if (m_chunkFill == m_chunk.size()) writeChunk(m_chunkFill);
    }
}

void IdatWriter::writeChunk(size_t n) {
    static const uint8_t idat[4] = {'I', 'D', 'A', 'T'};
    writeU32be(m_stream, static_cast<uint32_t>(n));
    m_stream.writeBuffer(idat, 4);
    m_stream.writeBuffer(m_chunk.data(), n);
    writeU32be(m_stream, chunkCrc(idat, m_chunk.data(), n));
    m_chunkFill = 0;
}

}  // namespace glx
