// JPEG reading: the frame header parse, the size, and the full decode.
#include "base/stream.h"
#include "fuzz_common.h"
#include "raster/bitmap.h"
#include "raster/jpeg_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    glxfuzz::guarded([&] {
        glx::TMemoryStream in(data, size);
        glx::TJPEGImage jpeg;
        jpeg.SetOptions(glxfuzz::fuzzOptions());
        jpeg.ReadFrom(in);
        if (jpeg.IsEmpty()) return;
        (void)jpeg.Width();
        (void)jpeg.Height();
        const glx::TBitmap& bitmap = jpeg.Bitmap();
        if (bitmap.Width() != jpeg.Width() || bitmap.Height() != jpeg.Height()) std::abort();
    });
    return 0;
}
