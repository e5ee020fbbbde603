#include "png/zlib_buffer.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

#include "base/exception.h"
#include "png/png_errors.h"

#if GLX_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace glx {

namespace {

[[noreturn]] void zlibFailed(const char* call, int result) {
    if (result == Z_MEM_ERROR) throw EOutOfMemory("Out of memory");
    throw EInternalError(std::string(call) + " returned " + InflateResultText(result));
}

// Ends the zlib stream whichever way the operation leaves. Its result only
// tells whether the stream was complete, which the caller already knows.
template <int (*End)(z_streamp)>
struct StreamGuard {
    z_stream* s;
    ~StreamGuard() { End(s); }
};

}  // namespace

bool InflateExactly(const uint8_t* data, size_t size, uint8_t* out, size_t outSize) {
#if GLX_HAVE_LIBDEFLATE
    struct Decompressor {
        libdeflate_decompressor* d = libdeflate_alloc_decompressor();
        ~Decompressor() { libdeflate_free_decompressor(d); }
    };
    thread_local Decompressor decompressor;
    if (!decompressor.d) throw EOutOfMemory("Out of memory");
    size_t in = 0, made = 0;
    const libdeflate_result r = libdeflate_zlib_decompress_ex(decompressor.d, data, size, out, outSize, &in, &made);
    return r == LIBDEFLATE_SUCCESS && made == outSize;
#else
    if (size > UINT_MAX || outSize > UINT_MAX) return false;
    z_stream z{};
    if (const int r = inflateInit(&z); r != Z_OK) zlibFailed("inflateInit", r);
    StreamGuard<inflateEnd> guard{&z};
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(outSize);
    const int r = inflate(&z, Z_FINISH);
    if (r == Z_MEM_ERROR) throw EOutOfMemory("Out of memory");
    return r == Z_STREAM_END && z.total_out == outSize;
#endif
}

bool InflateBuffer(const uint8_t* data, size_t size, std::string& out, size_t maxOutput) {
    out.clear();
    if (size > UINT_MAX) return false;
    z_stream z{};
    if (const int r = inflateInit(&z); r != Z_OK) zlibFailed("inflateInit", r);
    StreamGuard<inflateEnd> guard{&z};
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    unsigned char buf[4096];
    for (;;) {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        const int r = inflate(&z, Z_NO_FLUSH);
        const size_t produced = sizeof buf - z.avail_out;
        if (r == Z_MEM_ERROR || r == Z_STREAM_ERROR) zlibFailed("inflate", r);
        // A stream asking for a preset dictionary cannot be inflated: inflate
        // would answer Z_NEED_DICT for ever.
        if (r == Z_NEED_DICT || (r < 0 && !(r == Z_BUF_ERROR && produced > 0))) {
            out.clear();
            return false;
        }
        if (out.size() + produced > maxOutput) {
            out.clear();
            return false;
        }
        out.append(reinterpret_cast<const char*>(buf), produced);
        if (r == Z_STREAM_END) return true;
        if (produced == 0 && z.avail_in == 0) {  // input ended before the stream did
            out.clear();
            return false;
        }
    }
}

bool DeflateBuffer(const uint8_t* data, size_t size, int level, std::string& out) {
    out.clear();
    if (size > UINT_MAX) return false;
    z_stream z{};
    if (const int r = deflateInit(&z, std::clamp(level, 0, 9)); r != Z_OK) zlibFailed("deflateInit", r);
    StreamGuard<deflateEnd> guard{&z};
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    unsigned char buf[4096];
    for (;;) {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        // Every call has fresh output room, so anything but progress is a
        // failure (Z_BUF_ERROR included).
        const int r = deflate(&z, Z_FINISH);
        if (r != Z_OK && r != Z_STREAM_END) zlibFailed("deflate", r);
        out.append(reinterpret_cast<const char*>(buf), sizeof buf - z.avail_out);
        if (r == Z_STREAM_END) return true;
    }
}

}  // namespace glx
