#include "png/zlib_buffer.h"

#include <zlib.h>

#include <climits>

namespace glx {

namespace {

// Ends the zlib stream whichever way the operation leaves.
template <int (*End)(z_streamp)>
struct StreamGuard {
    z_stream* s;
    ~StreamGuard() { End(s); }
};

}  // namespace

bool InflateBuffer(const uint8_t* data, size_t size, std::string& out, size_t maxOutput) {
    out.clear();
    if (size > UINT_MAX) return false;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    StreamGuard<inflateEnd> guard{&z};
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    unsigned char buf[4096];
    for (;;) {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        int r = inflate(&z, Z_NO_FLUSH);
        size_t produced = sizeof buf - z.avail_out;
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
    if (deflateInit(&z, level) != Z_OK) return false;
    StreamGuard<deflateEnd> guard{&z};
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    unsigned char buf[4096];
    for (;;) {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        int r = deflate(&z, Z_FINISH);
        if (r < 0 && r != Z_BUF_ERROR) {
            out.clear();
            return false;
        }
        out.append(reinterpret_cast<const char*>(buf), sizeof buf - z.avail_out);
        if (r == Z_STREAM_END) return true;
    }
}

}  // namespace glx
