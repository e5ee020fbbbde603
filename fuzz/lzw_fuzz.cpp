// The GIF LZW decoder alone. The first three bytes choose the frame size
// and interlacing; the rest is the code size byte and sub-blocks.
#include <span>

#include "fuzz_common.h"
#include "gif/gif_input.h"
#include "gif/gif_lzw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    int width = data[0] + 1, height = data[1] + 1;
    bool interlaced = (data[2] & 1) != 0;
    glxfuzz::guarded([&] {
        glx::GifInput input(std::span<const uint8_t>(data + 3, size - 3));
        auto pixels = glx::decodeGifImageData(input, width, height, interlaced, 0, [](const std::string&) {});
        if (pixels.size() != static_cast<size_t>(width) * height) std::abort();
    });
    return 0;
}
