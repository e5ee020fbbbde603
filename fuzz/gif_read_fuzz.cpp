// GIF reading: TGIFImage from memory, every frame painted onto a canvas,
// and the preview control loading and composing the same bytes.
#include "base/stream.h"
#include "fuzz_common.h"
#include "gif/gdip_gif.h"
#include "gif/gif_image.h"
#include "raster/canvas.h"
#include "raster/dib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    glxfuzz::guarded([&] {
        glx::TMemoryStream in(data, size);
        glx::TGIFImage gif;
        gif.SetOptions(glxfuzz::fuzzOptions());
        gif.ReadFrom(in);
        glx::Dib surface(48, 48, 24);
        glx::TCanvas canvas(&surface);
        for (int i = 0; i < gif.Frames().ItemCount(); ++i) {
            glx::TGIFSubImage& frame = gif.Frames()[i];
            glxfuzz::guarded([&] {
                frame.PaintTo(canvas, frame.BoundsRect(), true, false);
                frame.PaintTo(canvas, glx::TRect{0, 0, 20, 20}, false, true);
            });
        }
        glxfuzz::guarded([&] { gif.PaintOn(canvas, glx::TRect{0, 0, gif.Width(), gif.Height()}); });
    });
    glxfuzz::guarded([&] {
        glx::TMemoryStream in(data, size);
        glx::TGdipGIF control;
        control.Options = glxfuzz::fuzzOptions();
        control.LoadStream(in);
        control.SetBounds(0, 0, 32, 32);
        for (int i = 0; i < 4; ++i) control.TimerTick();
        control.Paint();
    });
    return 0;
}
