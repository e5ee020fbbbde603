// PNG reading: TPNGObject from memory, drawn into a bitmap canvas and
// written back.
#include <algorithm>

#include "base/stream.h"
#include "fuzz_common.h"
#include "png/png_object.h"
#include "raster/bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    glxfuzz::guarded([&] {
        glx::TMemoryStream in(data, size);
        glx::TPNGObject png;
        png.SetOptions(glxfuzz::fuzzOptions());
        png.ReadFrom(in);
        if (png.IsEmpty()) return;
        glx::TBitmap target(64, 64);
        png.PaintOn(target.Canvas(), glx::TRect{0, 0, png.Width(), png.Height()});
        png.PaintOn(target.Canvas(), glx::TRect{-3, -5, 40, 33});
        (void)png.PixelAt(0, 0);
        glx::TMemoryStream out;
        png.WriteTo(out);
        out.setPosition(0);
        glx::TPNGObject again;
        again.SetOptions(glxfuzz::fuzzOptions());
        again.ReadFrom(out);
    });
    return 0;
}
