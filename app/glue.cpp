#include "app/glue.h"

#include <algorithm>

#include "app/atlas.h"
#include "app/modes.h"
#include "app/prefetch.h"
#include "app/prompts.h"
#include "app/rgba.h"
#include "app/state.h"
#include "base/limits.h"
#include "base/strutil.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/ui.h"
#include "raster/bitmap.h"
#include "raster/image.h"
#include "raster/jpeg_image.h"
#include "raster/picture.h"

namespace glx::app {

void stepCell(TGridCursor& c) {
    if (c.perRow > 0) {
        if (++c.col > c.perRow - 1) {
            c.col = 0;
            ++c.row;
        }
    } else {
        if (++c.row > c.perColumn - 1) {
            c.row = 0;
            ++c.col;
        }
    }
}

void advanceCursor(TGridCursor& c, int32_t w, int32_t h) {
    const int32_t c0 = c.col, r0 = c.row;
    stepCell(c);
    if (c.perRow > 0) {
        if (c.col > c0) c.x += w;
        if (c.rowHeight < h) c.rowHeight = h;
        if (c.row > r0) {
            c.y += c.rowHeight;
            c.rowHeight = 0;
        }
    } else {
        if (c.row > r0) c.y += h;
        if (c.columnWidth < w) c.columnWidth = w;
        if (c.col > c0) {
            c.x += c.columnWidth;
            c.columnWidth = 0;
        }
    }
    if (c.col == 0) c.x = 0;
    if (c.row == 0) c.y = 0;
}

void checkwh(TImage& control, int32_t x, int32_t y, int32_t w, int32_t h) {
    phase = 2000;
    control.SetAutoSize(false);
    phase = 2001;
    const int64_t right = int64_t(x) + w, bottom = int64_t(y) + h;
    checkCanvasExtent(right, bottom);
    TGraphic* picture = control.Picture().Graphic();
    if (right > control.Width()) {
        control.SetWidth(static_cast<int32_t>(right));
        if (picture) picture->SetWidth(control.Width());
    }
    phase = 2002;
    if (bottom > control.Height()) {
        control.SetHeight(static_cast<int32_t>(bottom));
        if (picture) picture->SetHeight(control.Height());
    }
    phase = 2003;
    if (picture) picture->SetModified(true);
}

bool isJpegExt(const std::string& ext) { return ext.size() >= 2 && (ext[1] == 'J' || ext[1] == 'j'); }

void saveImage(std::unique_ptr<TImage>& control, const std::string& fileName) {
    phase = 1920;
    if (!control) return;
    if (isJpegExt(extractFileExt(fileName))) {
        phase = 1921;
        auto jpeg = std::make_unique<TJPEGImage>();
        setJpegOptions(*jpeg);
        phase = 1924;
        jpeg->CopyFrom(&control->Picture().AsBitmap());
        phase = 1925;
        jpeg->SaveFile(fileName);
        phase = 1926;
    } else {
        control->Picture().SaveFile(fileName);
    }
    phase = 1929;
    control->Picture().Clear();
    control.reset();
}

int32_t amortisedSize(int32_t current, int32_t needed) {
    const int64_t target = std::max<int64_t>(needed, int64_t(current) + current / 2);
    return static_cast<int32_t>(std::min<int64_t>(target, std::max<int64_t>(needed, 16384)));
}

std::string outputStamp() {
    phase = 1160;
    return replaceAll(platform::timeOfDayText(), ":", "") + std::to_string(platform::random(99));
}

void applyBackground(Tf& form) {
    form.i1->Canvas().Brush.setColor(bgColor);
    form.i2->Canvas().Brush.setColor(bgColor);
}

namespace {

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The bitmap canvas grows in amortised steps: the holder keeps the logical
// size that growing one step at a time would give, while its bitmap is
// enlarged geometrically and cropped to the logical size before saving.
// Area outside the logical size is never drawn on, and every added area
// has the brush colour either way, so the saved picture is the same.
struct GrowingCanvas {
    TImage& holder;
    int32_t width, height;

    explicit GrowingCanvas(TImage& h) : holder(h), width(h.Width()), height(h.Height()) {}

    void fit(int32_t x, int32_t y, int32_t w, int32_t h) {
        phase = 2000;
        holder.SetAutoSize(false);
        phase = 2001;
        TGraphic* picture = holder.Picture().Graphic();
        const int64_t right = int64_t(x) + w, bottom = int64_t(y) + h;
        checkCanvasExtent(right, bottom);
        if (right > width) {
            width = static_cast<int32_t>(right);
            if (picture && picture->Width() < width) picture->SetWidth(amortisedSize(picture->Width(), width));
        }
        phase = 2002;
        if (bottom > height) {
            height = static_cast<int32_t>(bottom);
            if (picture && picture->Height() < height) {
                const int32_t rows = amortisedSize(picture->Height(), height);
                // Later rows rarely widen the canvas: the width slack is
                // dropped rather than copied into every new row.
                auto* bitmap = dynamic_cast<TBitmap*>(picture);
                if (bitmap && bitmap->Width() > width) bitmap->SetSize(width, rows);
                else picture->SetHeight(rows);
            }
        }
        phase = 2003;
        if (picture) picture->SetModified(true);
    }

    // Crops the bitmap to the logical size and gives the holder that size.
    void settle() {
        TGraphic* picture = holder.Picture().Graphic();
        if (picture) {
            if (picture->Width() != width) picture->SetWidth(width);
            if (picture->Height() != height) picture->SetHeight(height);
        }
        holder.SetWidth(width);
        holder.SetHeight(height);
    }
};

}  // namespace

void collectSources(RunContext& run) {
    phase = 200;
    if (platform::fileExists(picPath)) picPath = folderOf(picPath);
    platform::setCurrentDir(picPath);
    const std::string folder = platform::getCurrentDir();
    std::vector<std::string> names = platform::listFolder(".", "*.bmp;*.jpg;*.jpe;*.jpeg;*.png");
    setAtlasPath();

    phase = 205;
    sharedList->clear();
    for (auto& name : names) sharedList->add(std::move(name));

    phase = 206;
    const std::string outName = run.outPath.empty() ? std::string() : extractFileName(run.outPath);
    int i = 0;
    while (i < sharedList->count()) {
        const std::string name = (*sharedList)[i];
        if (name.find("Glumix") != std::string::npos) sharedList->remove(i);
        else if (!outName.empty() && name == outName) sharedList->remove(i);
        else ++i;
        const std::string ext = extractFileExt(name);
        if (run.nameExt.empty() || run.nameExt[0] != '.') run.nameExt = ext;
        if (run.modeExt != ".png" && (run.modeExt.empty() || ext == ".png")) run.modeExt = ext;
    }
    run.outputFolder = folder;
}

void runGluing(Tf& form) {
    RunContext& run = form.run;
    collectSources(run);
    TGridCursor& c = run.cursor;
    const bool rgba = run.modeExt == ".png";

    phase = 207;
    c.col = c.row = c.x = c.y = 0;
    int count = 0;
    if (rgba) createRgbaCanvas();
    GrowingCanvas canvas(*form.i2);
    Prefetcher prefetch(sharedList->items(), rgba);

    for (int i = 0; i < sharedList->count(); ++i) {
        phase = 208;
        picPath = (*sharedList)[i];
        phase = 209;
        const int32_t x = c.x, y = c.y;
        int32_t w, h;
        PrefetchedPicture picture = prefetch.next();
        if (rgba) {
            placeRgba(form, c, w, h, picture);
        } else {
            phase = 230;
            if (picture.loadError) std::rethrow_exception(picture.loadError);
            form.i1->Picture().SetGraphic(std::move(picture.graphic));
            phase = 231;
            form.i1->SetAutoSize(true);
            w = form.i1->Width();
            h = form.i1->Height();
            phase = 232;
            canvas.fit(x, y, w, h);
            phase = 233;
            if (picture.decodeError) std::rethrow_exception(picture.decodeError);
            form.i2->Canvas().DrawAt(x, y, form.i1->Picture().Graphic());
            phase = 234;
            form.i1->Picture().Clear();
            phase = 235;
            advanceCursor(c, w, h);
        }
        writePattern(makeRect(x, y, x + w, y + h));
        ++count;
        platform::ui().progress(count, sharedList->count(), picPath);
    }

    phase = 241;
    writePattern(TRect{});
    if (run.outPath.empty())
        run.outPath = run.outputFolder + "/" + "Glumix by Orvando_9 " + outputStamp() + run.nameExt;
    if (rgba) {
        phase = 250;
        settleRgbaCanvas();
        savePng(pngCanvas, run.outPath);
    } else {
        phase = 260;
        canvas.settle();
        saveImage(form.i2, run.outPath);
    }
    phase = 299;
    if (!silent) showMsg(std::to_string(count) + " Pictures gummed!", 64);
    finish();
}

}  // namespace glx::app
