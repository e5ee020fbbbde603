#include "app/rgba.h"

#include <algorithm>

#include "app/alpha.h"
#include "app/canvas_growth.h"
#include "app/form.h"
#include "app/glue.h"
#include "app/run.h"
#include "base/exception.h"
#include "base/limits.h"
#include "base/strutil.h"
#include "png/png_format.h"
#include "png/png_object.h"
#include "raster/image.h"
#include "raster/picture.h"

namespace glx::app {

namespace {

bool pngOutput(const Run& run) { return isPngName(run.outPath.empty() ? run.nameExt : run.outPath); }

// After a placement in rows: the bands above the cursor are final, and a
// PNG result starts encoding them while gluing goes on.
void bandsFinal(Run& run) {
    if (run.cursor.perRow <= 0 || !run.pngCanvas || !run.rgbaGrowth || !pngOutput(run)) return;
    run.pngCanvas->OfferFinalRows(run.rgbaGrowth->logical().width, run.cursor.y);
}

// Grows the canvas's logical size so a w x h picture fits at (x, y), its
// memory ahead of it; every pixel that enters the logical size gets alpha 0
// (its colour is the black growth leaves, since nothing draws outside the
// logical size), so the result equals growing one step at a time.
void growLogical(Run& run, int32_t x, int32_t y, int32_t w, int32_t h) {
    run.phase = 2100;
    if (!run.pngCanvas) return;
    CanvasGrowth& growth = *run.rgbaGrowth;
    TPNGObject& canvas = *run.pngCanvas;
    auto fitBuffer = [&] {
        growth.fitBuffer(CanvasSize{canvas.Width(), canvas.Height()},
                         [&canvas](CanvasSize size) { canvas.ChangeSize(size.width, size.height); });
    };
    run.phase = 2101;
    const int64_t right = int64_t(x) + w, bottom = int64_t(y) + h;
    checkCanvasExtent(run.read.limits, right, bottom);
    if (growth.logical().width < right) {
        const int32_t w0 = growth.widen(right);
        fitBuffer();
        setAlpha(run.phase, run.pngCanvas, makeRect(w0, 0, growth.logical().width, growth.logical().height), 0);
    }
    run.phase = 2102;
    if (growth.logical().height < bottom) {
        const int32_t h0 = growth.deepen(bottom);
        fitBuffer();
        setAlpha(run.phase, run.pngCanvas, makeRect(0, h0, growth.logical().width, growth.logical().height), 0);
    }
}

}  // namespace

void createRgbaCanvas(Run& run) {
    run.pngCanvas = TPNGObject::CreateNew(kColorRgba, kDepth8, 1, 1);
    run.rgbaGrowth = std::make_unique<CanvasGrowth>(1, 1);
}

void Tf::checkwhp(int32_t x, int32_t y, int32_t w, int32_t h) {
    run.phase = 2100;
    if (!run.pngCanvas) return;
    TPNGObject& canvas = *run.pngCanvas;
    run.phase = 2101;
    const int64_t right = int64_t(x) + w, bottom = int64_t(y) + h;
    checkCanvasExtent(run.read.limits, right, bottom);
    if (canvas.Width() < right) {
        const int32_t w0 = canvas.Width();
        canvas.ChangeSize(static_cast<int32_t>(right), canvas.Height());
        setAlpha(run.phase, run.pngCanvas, makeRect(w0, 0, canvas.Width(), canvas.Height()), 0);
    }
    run.phase = 2102;
    if (canvas.Height() < bottom) {
        const int32_t h0 = canvas.Height();
        canvas.ChangeSize(canvas.Width(), static_cast<int32_t>(bottom));
        setAlpha(run.phase, run.pngCanvas, makeRect(0, h0, canvas.Width(), canvas.Height()), 0);
    }
}

void settleRgbaCanvas(Run& run) {
    if (!run.rgbaGrowth || !run.pngCanvas) return;
    const CanvasSize size = run.rgbaGrowth->logical();
    if (run.pngCanvas->Width() != size.width || run.pngCanvas->Height() != size.height)
        run.pngCanvas->ChangeSize(size.width, size.height);
    run.rgbaGrowth.reset();
}

void placeRgba(Tf& form, int32_t& w, int32_t& h, PrefetchedPicture& picture) {
    Run& run = form.run;
    TGridCursor& c = run.cursor;
    const int32_t x = c.x, y = c.y;
    if (extractFileExt(run.picPath) == ".png") {
        run.phase = 210;
        run.pngFragment = std::make_unique<TPNGObject>();
        run.phase = 211;
        if (picture.loadError) std::rethrow_exception(picture.loadError);
        run.pngFragment.reset(static_cast<TPNGObject*>(picture.graphic.release()));
        w = run.pngFragment->Width();
        h = run.pngFragment->Height();
        run.phase = 213;
        growLogical(run, x, y, w, h);
        run.phase = 214;
        pastePng(run.phase, run.pngCanvas, run.pngFragment, makeRect(x, y, x + w, y + h), kExact);
        run.phase = 216;
        advanceCursor(c, w, h);
        bandsFinal(run);
        run.pngFragment.reset();
        return;
    }
    holdPicture(form, picture, 220, w, h);
    growLogical(run, x, y, w, h);
    run.phase = 223;
    setAlpha(run.phase, run.pngCanvas, makeRect(x, y, x + w, y + h), 255);
    run.phase = 224;
    if (picture.decodeError) std::rethrow_exception(picture.decodeError);
    run.pngCanvas->Canvas().DrawAt(x, y, form.i1->Picture().Graphic());
    run.phase = 225;
    form.i1->Picture().Clear();
    run.phase = 226;
    advanceCursor(c, w, h);
    bandsFinal(run);
}

void savePng(Run& run, std::unique_ptr<TPNGObject>& image, const FileAt& file) {
    const std::string& fileName = file.shown;
    run.phase = 1930;
    if (!image) return;
    if (isPngName(fileName)) {
        image->FinishEncodingAhead();
        image->SaveFile(file);
    } else {
        run.phase = 1931;
        auto holder = std::make_unique<TImage>(image->Width(), image->Height());
        run.phase = 1932;
        TCanvas& canvas = holder->Canvas();
        run.phase = 1933;
        image->PaintOn(canvas, makeRect(0, 0, image->Width(), image->Height()));
        run.phase = 1934;
        saveImage(run.phase, holder, file);
    }
    run.phase = 1939;
    image.reset();
}

}  // namespace glx::app
