// BMP files: decode, then encode the pixels back (both header forms) and
// decode the result again.
#include <span>

#include "base/stream.h"
#include "fuzz_common.h"
#include "raster/bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    glxfuzz::guarded([&] {
        glx::BmpImage image = glx::decodeBmp(std::span<const uint8_t>(data, size), glxfuzz::fuzzOptions().limits);
        if (image.dib.empty()) return;
        for (bool os2 : {false, true}) {
            glx::TMemoryStream out;
            glx::encodeBmp(out, image.dib, os2, image.xPelsPerMeter, image.yPelsPerMeter);
            glx::BmpImage back = glx::decodeBmp(out.bytes(), glxfuzz::fuzzOptions().limits);
            if (back.dib.width() != image.dib.width() || back.dib.height() != image.dib.height()) std::abort();
        }
    });
    return 0;
}
