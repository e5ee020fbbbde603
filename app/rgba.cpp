#include "app/rgba.h"

#include <algorithm>

#include "app/alpha.h"
#include "app/canvas_encoder.h"
#include "app/glue.h"
#include "app/state.h"
#include "base/exception.h"
#include "base/limits.h"
#include "base/strutil.h"
#include "png/png_object.h"
#include "raster/image.h"
#include "raster/picture.h"

namespace glx::app {

namespace {

// Logical size of the gluing canvas while its memory grows ahead of it.
// Everything outside the logical size is cropped before saving; every pixel
// that enters the logical size gets alpha 0 on the way, and its colour is
// the black growth leaves (nothing draws outside the logical size), so the
// result equals growing one step at a time.
struct Logical {
    bool active = false;
    int32_t width = 0, height = 0;
} logical;

// Encodes finished rows of a horizontal grid while gluing goes on (only
// when the result is to be a PNG file).
std::unique_ptr<CanvasEncoder> encoder;

bool pngOutput(const RunContext& run) {
    return (run.outPath.empty() ? run.nameExt : extractFileExt(run.outPath)) == ".png";
}

// After a placement: the bands above the cursor are final.
void bandsFinal(Tf& form, const TGridCursor& c) {
    if (c.perRow <= 0 || !pngCanvas) return;
    if (!encoder) {
        if (!pngOutput(form.run)) return;
        encoder = std::make_unique<CanvasEncoder>();
    }
    encoder->rowsFinal(*pngCanvas, logical.width, c.y);
}

// Makes the buffer hold the logical size, with half as much again on each
// side that must grow, so that gluing copies the canvas O(log n) times.
// Adding rows drops the width slack, which the rows below would only copy.
// When that slack would pass the pixel limit or memory runs short, the
// buffer takes exactly the logical size, as growing one step at a time
// would, so limit and memory errors name the same sizes.
void growBuffer() {
    int64_t w = pngCanvas->Width(), h = pngCanvas->Height();
    const bool taller = h < logical.height;
    if (w < logical.width) w = std::max<int64_t>(logical.width, w + w / 2);
    else if (taller) w = logical.width;  // later rows rarely widen: no width slack in every new row
    if (taller) h = std::max<int64_t>(logical.height, h + h / 2);
    if (w * h <= int64_t(kMaxPixels)) {
        try {
            pngCanvas->ChangeSize(static_cast<int32_t>(w), static_cast<int32_t>(h));
            return;
        } catch (const EOutOfMemory&) {
            // fall back to the exact size below
        }
    }
    pngCanvas->ChangeSize(logical.width, logical.height);
}

void growLogical(int32_t x, int32_t y, int32_t w, int32_t h) {
    phase = 2100;
    if (!pngCanvas) return;
    phase = 2101;
    const int64_t right = int64_t(x) + w, bottom = int64_t(y) + h;
    checkCanvasExtent(right, bottom);
    if (logical.width < right) {
        const int32_t w0 = logical.width;
        logical.width = static_cast<int32_t>(right);
        if (pngCanvas->Width() < logical.width) growBuffer();
        setAlpha(pngCanvas, makeRect(w0, 0, logical.width, logical.height), 0);
    }
    phase = 2102;
    if (logical.height < bottom) {
        const int32_t h0 = logical.height;
        logical.height = static_cast<int32_t>(bottom);
        if (pngCanvas->Height() < logical.height) growBuffer();
        setAlpha(pngCanvas, makeRect(0, h0, logical.width, logical.height), 0);
    }
}

}  // namespace

void createRgbaCanvas() {
    encoder.reset();
    pngCanvas = TPNGObject::CreateNew(6, 8, 1, 1);
    logical = Logical{true, 1, 1};
}

void checkwhp(int32_t x, int32_t y, int32_t w, int32_t h) {
    phase = 2100;
    if (!pngCanvas) return;
    phase = 2101;
    const int64_t right = int64_t(x) + w, bottom = int64_t(y) + h;
    checkCanvasExtent(right, bottom);
    if (pngCanvas->Width() < right) {
        const int32_t w0 = pngCanvas->Width();
        pngCanvas->ChangeSize(static_cast<int32_t>(right), pngCanvas->Height());
        setAlpha(pngCanvas, makeRect(w0, 0, pngCanvas->Width(), pngCanvas->Height()), 0);
    }
    phase = 2102;
    if (pngCanvas->Height() < bottom) {
        const int32_t h0 = pngCanvas->Height();
        pngCanvas->ChangeSize(pngCanvas->Width(), static_cast<int32_t>(bottom));
        setAlpha(pngCanvas, makeRect(0, h0, pngCanvas->Width(), pngCanvas->Height()), 0);
    }
}

void settleRgbaCanvas() {
    if (!logical.active || !pngCanvas) return;
    if (pngCanvas->Width() != logical.width || pngCanvas->Height() != logical.height)
        pngCanvas->ChangeSize(logical.width, logical.height);
    logical.active = false;
}

void placeRgba(Tf& form, TGridCursor& c, int32_t& w, int32_t& h, PrefetchedPicture& picture) {
    const int32_t x = c.x, y = c.y;
    if (extractFileExt(picPath) == ".png") {
        phase = 210;
        pngFragment = std::make_unique<TPNGObject>();
        phase = 211;
        if (picture.loadError) std::rethrow_exception(picture.loadError);
        pngFragment.reset(static_cast<TPNGObject*>(picture.graphic.release()));
        w = pngFragment->Width();
        h = pngFragment->Height();
        phase = 213;
        growLogical(x, y, w, h);
        phase = 214;
        pastePng(pngCanvas, pngFragment, makeRect(x, y, x + w, y + h), kExact);
        phase = 216;
        advanceCursor(c, w, h);
        bandsFinal(form, c);
        pngFragment.reset();
        return;
    }
    phase = 220;
    if (picture.loadError) std::rethrow_exception(picture.loadError);
    form.i1->Picture().SetGraphic(std::move(picture.graphic));
    phase = 221;
    form.i1->SetAutoSize(true);
    w = form.i1->Width();
    h = form.i1->Height();
    phase = 222;
    growLogical(x, y, w, h);
    phase = 223;
    setAlpha(pngCanvas, makeRect(x, y, x + w, y + h), 255);
    phase = 224;
    if (picture.decodeError) std::rethrow_exception(picture.decodeError);
    pngCanvas->Canvas().DrawAt(x, y, form.i1->Picture().Graphic());
    phase = 225;
    form.i1->Picture().Clear();
    phase = 226;
    advanceCursor(c, w, h);
    bandsFinal(form, c);
}

void savePng(std::unique_ptr<TPNGObject>& image, const std::string& fileName) {
    phase = 1930;
    if (!image) return;
    if (extractFileExt(fileName) == ".png") {
        if (encoder && image.get() == pngCanvas.get()) encoder->attach(*image);
        encoder.reset();
        image->SaveFile(fileName);
    } else {
        phase = 1931;
        auto holder = std::make_unique<TImage>(image->Width(), image->Height());
        phase = 1932;
        TCanvas& canvas = holder->Canvas();
        phase = 1933;
        image->PaintOn(canvas, makeRect(0, 0, image->Width(), image->Height()));
        phase = 1934;
        saveImage(holder, fileName);
    }
    phase = 1939;
    image.reset();
}

}  // namespace glx::app
