#include "png/idat_writer.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <exception>
#include <new>

#include "base/exception.h"
#include "base/stream.h"
#include "png/crc32.h"
#include "png/deflate_pool.h"
#include "png/png_errors.h"
#include "png/png_io.h"

namespace glx {

namespace {

constexpr int kWindowBits = 15;
constexpr size_t kWindowBytes = size_t(1) << kWindowBits;
constexpr int kDefaultMemLevel = 8;  // what deflateInit uses
// Room beyond deflateBound for the sync flush's empty stored block.
constexpr size_t kFlushRoom = 64;

[[noreturn]] void zlibFailed(const char* call, int result) {
    if (result == Z_MEM_ERROR) throw EOutOfMemory("Out of memory");
    throw EInternalError(std::string(call) + " returned " + InflateResultText(result));
}

// The two header bytes zlib writes for a stream of window 2^15 at level
// with the default strategy and no preset dictionary.
std::array<uint8_t, 2> zlibHeader(int level) {
    const unsigned levelFlags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
    unsigned header = ((Z_DEFLATED + ((kWindowBits - 8) << 4)) << 8) | (levelFlags << 6);
    header += 31 - header % 31;
    return {static_cast<uint8_t>(header >> 8), static_cast<uint8_t>(header)};
}

// One raw deflate state per thread, reset for every piece: the same output
// as a fresh one, without allocating its quarter megabyte each time.
class PieceDeflater {
public:
    PieceDeflater() = default;
    PieceDeflater(const PieceDeflater&) = delete;
    PieceDeflater& operator=(const PieceDeflater&) = delete;
    ~PieceDeflater() {
        // Z_DATA_ERROR only says the last piece was left after its sync flush,
        // as intended; a destructor has nobody to tell of anything else.
        if (m_ready) deflateEnd(&m_z);
    }

    z_stream& start(int level) {
        if (m_ready && m_level == level) {
            const int r = deflateReset(&m_z);
            if (r != Z_OK) zlibFailed("deflateReset", r);
            return m_z;
        }
        if (m_ready) {
            m_ready = false;
            const int r = deflateEnd(&m_z);
            if (r != Z_OK && r != Z_DATA_ERROR) zlibFailed("deflateEnd", r);
        }
        m_z = z_stream{};
        const int r = deflateInit2(&m_z, level, Z_DEFLATED, -kWindowBits, kDefaultMemLevel, Z_DEFAULT_STRATEGY);
        if (r != Z_OK) zlibFailed("deflateInit2", r);
        m_ready = true;
        m_level = level;
        return m_z;
    }

private:
    z_stream m_z{};
    int m_level = -1;
    bool m_ready = false;
};

thread_local PieceDeflater t_deflater;

}  // namespace

struct IdatWriter::Piece final : PoolTask {
    std::vector<uint8_t> input;  // the dictionary, then the piece's own data
    size_t dictBytes = 0;
    int level = 0;
    bool last = false;
    std::vector<uint8_t> output;  // raw deflate of the data
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
        adler = static_cast<uint32_t>(adler32_z(1, data, n));
        z_stream& z = t_deflater.start(level);
        if (dictBytes > 0) {
            const int r = deflateSetDictionary(&z, input.data(), static_cast<uInt>(dictBytes));
            if (r != Z_OK) zlibFailed("deflateSetDictionary", r);
        }
        output.clear();
        output.resize(deflateBound(&z, static_cast<uLong>(n)) + kFlushRoom);
        z.next_in = const_cast<Bytef*>(data);
        z.avail_in = static_cast<uInt>(n);
        z.next_out = output.data();
        z.avail_out = static_cast<uInt>(output.size());
        const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
        for (;;) {
            const int r = deflate(&z, flush);
            if (r == Z_STREAM_END) break;
            if (r != Z_OK && r != Z_BUF_ERROR) zlibFailed("deflate", r);
            if (z.avail_out != 0) {
                // A sync flush is complete once deflate leaves output room;
                // anything else with room left made no progress.
                if (flush == Z_SYNC_FLUSH && r == Z_OK && z.avail_in == 0) break;
                zlibFailed("deflate", r);
            }
            const size_t used = output.size();
            output.resize(used + used / 2 + kFlushRoom);
            z.next_out = output.data() + used;
            z.avail_out = static_cast<uInt>(output.size() - used);
        }
        output.resize(output.size() - z.avail_out);
    }
};

IdatWriter::IdatWriter(TStream& stream, size_t chunkSize, int level, std::shared_ptr<DeflatePool> pool,
                       size_t pieceBytes)
    : m_stream(stream),
      m_pool(pool ? std::move(pool) : sharedDeflatePool()),
      m_level(std::clamp(level, 0, 9)),
      m_pieceBytes(std::clamp<size_t>(pieceBytes, 1, size_t(1) << 30)),
      // Enough pieces queued to keep every worker busy while the oldest is
      // written out, few enough that memory stays a few pieces.
      m_maxInFlight(size_t(2) * m_pool->workers()) {
    if (chunkSize == 0) throw EInternalError("IDAT chunk size 0");
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
    piece->level = m_level;
    piece->last = last;
    try {
        if (!last) {
            // The next piece starts with the window of data before it.
            m_current = std::make_shared<Piece>();
            std::vector<uint8_t>& next = m_current->input;
            if (!m_spare.empty()) {
                next = std::move(m_spare.back());
                m_spare.pop_back();
            }
            const size_t keep = std::min(kWindowBytes, piece->input.size());
            next.reserve(keep + m_pieceBytes);
            next.assign(piece->input.end() - static_cast<std::ptrdiff_t>(keep), piece->input.end());
            m_current->dictBytes = keep;
            if (!m_spare.empty()) {
                piece->output = std::move(m_spare.back());
                m_spare.pop_back();
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
    if (m_spare.size() < 2 * m_maxInFlight + 2) {
        piece->input.clear();
        piece->output.clear();
        m_spare.push_back(std::move(piece->input));
        m_spare.push_back(std::move(piece->output));
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
