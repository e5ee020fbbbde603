// The zlib wrapper of compressed text chunks: inflate with an output cap,
// and a deflate/inflate round trip of whatever came out.
#include <string>

#include "fuzz_common.h"
#include "png/zlib_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string out;
    if (glx::InflateBuffer(data, size, out, 1 << 20)) {
        if (out.size() > (1u << 20)) std::abort();
        std::string packed, back;
        if (!glx::DeflateBuffer(reinterpret_cast<const uint8_t*>(out.data()), out.size(), 9, packed)) std::abort();
        if (!glx::InflateBuffer(reinterpret_cast<const uint8_t*>(packed.data()), packed.size(), back, 1 << 20))
            std::abort();
        if (back != out) std::abort();
    } else if (!out.empty()) {
        std::abort();
    }
    // A small cap must stop a large output.
    std::string small;
    if (glx::InflateBuffer(data, size, small, 64) && small.size() > 64) std::abort();
    return 0;
}
