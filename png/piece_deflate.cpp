#include "png/piece_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <string>

#include "base/exception.h"
#include "png/png_errors.h"

#if GLX_HAVE_LIBDEFLATE
#include <libdeflate.h>

#include "png/deflate_join.h"
#endif

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

// One raw deflate state per thread, reset for every piece: the same output
// as a fresh one, without allocating its quarter megabyte each time.
class ZlibDeflater {
public:
    ZlibDeflater() = default;
    ZlibDeflater(const ZlibDeflater&) = delete;
    ZlibDeflater& operator=(const ZlibDeflater&) = delete;
    ~ZlibDeflater() {
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

void zlibPiece(int level, const uint8_t* history, size_t historyBytes, const uint8_t* data, size_t n, bool last,
               PieceBuffer& out) {
    thread_local ZlibDeflater deflater;
    z_stream& z = deflater.start(level);
    if (historyBytes > 0) {
        const int r = deflateSetDictionary(&z, history, static_cast<uInt>(historyBytes));
        if (r != Z_OK) zlibFailed("deflateSetDictionary", r);
    }
    out.clear();
    out.reserve(deflateBound(&z, static_cast<uLong>(n)) + kFlushRoom);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(n);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(std::min<size_t>(out.capacity(), UINT_MAX));
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
        const size_t used = static_cast<size_t>(z.next_out - out.data());
        out.setSize(used);
        out.reserve(used + used / 2 + kFlushRoom);
        z.next_out = out.data() + used;
        z.avail_out = static_cast<uInt>(std::min<size_t>(out.capacity() - used, UINT_MAX));
    }
    out.setSize(static_cast<size_t>(z.next_out - out.data()));
}

#if GLX_HAVE_LIBDEFLATE

// One compressor per thread, kept while the level stays the same.
class LibdeflateCompressor {
public:
    LibdeflateCompressor() = default;
    LibdeflateCompressor(const LibdeflateCompressor&) = delete;
    LibdeflateCompressor& operator=(const LibdeflateCompressor&) = delete;
    ~LibdeflateCompressor() { libdeflate_free_compressor(m_c); }

    libdeflate_compressor* at(int level) {
        if (m_c && m_level == level) return m_c;
        libdeflate_free_compressor(m_c);
        m_c = libdeflate_alloc_compressor(level);
        if (!m_c) throw EOutOfMemory("Out of memory");
        m_level = level;
        return m_c;
    }

private:
    libdeflate_compressor* m_c = nullptr;
    int m_level = -1;
};

void libdeflatePiece(int level, const uint8_t* data, size_t n, bool last, PieceBuffer& out) {
    thread_local LibdeflateCompressor compressor;
    libdeflate_compressor* c = compressor.at(level);
    out.clear();
    const size_t bound = libdeflate_deflate_compress_bound(c, n);
    out.reserve(bound + kDeflateJoinRoom);
    // The bound always suffices: 0 can only be a failure.
    size_t size = libdeflate_deflate_compress(c, data, n, out.data(), bound);
    if (size == 0) throw EInternalError("libdeflate_deflate_compress returned 0");
    if (!last) {
        size = continueDeflateStream(out.data(), size);
        if (size == 0) throw EInternalError("libdeflate_deflate_compress gave a stream that cannot be continued");
    }
    out.setSize(size);
}

#endif

}  // namespace

DeflateEngine defaultDeflateEngine() {
#if GLX_HAVE_LIBDEFLATE
    return DeflateEngine::Libdeflate;
#else
    return DeflateEngine::Zlib;
#endif
}

bool deflateEngineAvailable(DeflateEngine engine) {
#if GLX_HAVE_LIBDEFLATE
    (void)engine;
    return true;
#else
    return engine == DeflateEngine::Zlib;
#endif
}

size_t deflatePieceBytes(DeflateEngine engine) {
    return engine == DeflateEngine::Zlib ? size_t(256) << 10 : size_t(1) << 20;
}

size_t deflateHistoryBytes(DeflateEngine engine) { return engine == DeflateEngine::Zlib ? kWindowBytes : 0; }

int deflateEngineLevel(DeflateEngine engine, int level) {
    level = std::clamp(level, 0, 9);
    if (engine == DeflateEngine::Zlib) return level;
    // Measured on sprite sheets and a 4000 x 3000 photo (Sub-filtered rows,
    // 1 MiB pieces): each is the fastest libdeflate level whose files are no
    // larger than zlib's at that level, on both. From 5 on libdeflate needs
    // one level more than zlib (at 7: +0.84 % on the photo at its 7, -0.08 %
    // at 8); 10 is its first level of optimal parsing, still faster than
    // zlib's 9.
    static constexpr int kLibdeflateLevel[10] = {0, 1, 2, 3, 4, 6, 7, 8, 9, 10};
    return kLibdeflateLevel[level];
}

void PieceBuffer::reserve(size_t n) {
    if (n <= m_capacity) return;
    try {
        auto bigger = std::make_unique_for_overwrite<uint8_t[]>(n);
        if (m_size > 0) std::memcpy(bigger.get(), m_data.get(), m_size);
        m_data = std::move(bigger);
        m_capacity = n;
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Out of memory");
    }
}

void deflatePiece(DeflateEngine engine, int level, const uint8_t* history, size_t historyBytes, const uint8_t* data,
                  size_t n, bool last, PieceBuffer& out) {
    level = deflateEngineLevel(engine, level);
#if GLX_HAVE_LIBDEFLATE
    if (engine == DeflateEngine::Libdeflate) return libdeflatePiece(level, data, n, last, out);
#endif
    if (engine != DeflateEngine::Zlib) throw EInternalError("deflate engine not built in");
    zlibPiece(level, history, historyBytes, data, n, last, out);
}

uint32_t adler32Update(uint32_t adler, const uint8_t* data, size_t n) {
#if GLX_HAVE_LIBDEFLATE
    return libdeflate_adler32(adler, data, n);
#else
    return static_cast<uint32_t>(adler32_z(adler, data, n));
#endif
}

uint32_t crc32Update(uint32_t crc, const uint8_t* data, size_t n) {
#if GLX_HAVE_LIBDEFLATE
    return libdeflate_crc32(crc, data, n);
#else
    return static_cast<uint32_t>(crc32_z(crc, data, n));
#endif
}

}  // namespace glx
