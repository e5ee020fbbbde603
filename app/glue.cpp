#include "app/glue.h"

#include <algorithm>

#include "app/atlas.h"
#include "app/canvas_growth.h"
#include "app/form.h"
#include "app/modes.h"
#include "app/prefetch.h"
#include "app/prompts.h"
#include "app/report.h"
#include "app/rgba.h"
#include "app/run.h"
#include "app/sheet_builder.h"
#include "base/limits.h"
#include "base/strutil.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/ui.h"
#include "png/png_object.h"
#include "raster/bitmap.h"
#include "raster/declared_size.h"
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

std::optional<CanvasSize> expectedCanvas(TGridCursor cursor, CanvasSize start, const std::vector<std::string>& names,
                                         const Limits& limits) {
    CanvasGrowth growth(start.width, start.height);
    for (const std::string& name : names) {
        const std::optional<DeclaredSize> size = declaredPictureSize(name, limits);
        if (!size) return std::nullopt;
        const int64_t right = int64_t(cursor.x) + size->width, bottom = int64_t(cursor.y) + size->height;
        if (right > INT32_MAX || bottom > INT32_MAX) return std::nullopt;
        growth.widen(right);
        growth.deepen(bottom);
        advanceCursor(cursor, size->width, size->height);
    }
    const CanvasSize& reached = growth.logical();
    if (uint64_t(reached.width) * uint64_t(reached.height) > limits.pixels) return std::nullopt;
    return reached;
}

void Tf::checkwh(TImage& control, int32_t x, int32_t y, int32_t w, int32_t h) {
    run.phase = 2000;
    control.SetAutoSize(false);
    run.phase = 2001;
    const int64_t right = int64_t(x) + w, bottom = int64_t(y) + h;
    checkCanvasExtent(run.read.limits, right, bottom);
    TGraphic* picture = control.Picture().Graphic();
    if (right > control.Width()) {
        control.SetWidth(static_cast<int32_t>(right));
        if (picture) picture->SetWidth(control.Width());
    }
    run.phase = 2002;
    if (bottom > control.Height()) {
        control.SetHeight(static_cast<int32_t>(bottom));
        if (picture) picture->SetHeight(control.Height());
    }
    run.phase = 2003;
    if (picture) picture->SetModified(true);
}

void holdPicture(Tf& form, PrefetchedPicture& picture, uint16_t first, int32_t& w, int32_t& h) {
    Run& run = form.run;
    run.phase = first;
    if (picture.loadError) std::rethrow_exception(picture.loadError);
    form.i1->Picture().SetGraphic(std::move(picture.graphic));
    run.phase = static_cast<uint16_t>(first + 1);
    form.i1->SetAutoSize(true);
    w = form.i1->Width();
    h = form.i1->Height();
    run.phase = static_cast<uint16_t>(first + 2);
}

bool isJpegExt(const std::string& ext) { return ext.size() >= 2 && (ext[1] == 'J' || ext[1] == 'j'); }

bool isPngName(const std::string& fileName) { return lowerCaseAscii(extractFileExt(fileName)) == ".png"; }

bool writesFormatOf(const std::string& fileName) {
    const std::string ext = lowerCaseAscii(extractFileExt(fileName));
    return ext == ".png" || ext == ".bmp" || ext == ".jpg" || ext == ".jpeg" || ext == ".jpe";
}

void saveImage(uint16_t& phase, std::unique_ptr<TImage>& control, const FileAt& file) {
    const std::string& fileName = file.shown;
    phase = 1920;
    if (!control) return;
    if (isPngName(fileName)) {
        phase = 1922;
        auto png = std::make_unique<TPNGObject>();
        png->CopyFrom(&control->Picture().AsBitmap());
        phase = 1923;
        png->SaveFile(file);
    } else if (isJpegExt(extractFileExt(fileName))) {
        phase = 1921;
        auto jpeg = std::make_unique<TJPEGImage>();
        setJpegOptions(*jpeg);
        phase = 1924;
        jpeg->CopyFrom(&control->Picture().AsBitmap());
        phase = 1925;
        jpeg->SaveFile(file);
        phase = 1926;
    } else {
        control->Picture().SaveFile(file);
    }
    phase = 1929;
    control->Picture().Clear();
    control.reset();
}

std::string outputStamp(uint16_t& phase) {
    phase = 1160;
    return replaceAll(platform::timeOfDayText(), ":", "") + std::to_string(platform::random(99));
}

void applyBackground(Tf& form) {
    form.i1->Canvas().Brush.setColor(form.run.bgColor);
    form.i2->Canvas().Brush.setColor(form.run.bgColor);
}

namespace {

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The bitmap canvas of gluing: the holder keeps the logical size growing
// one step at a time gives, while its bitmap grows ahead of it (see
// canvas_growth.h) and is cropped to the logical size before saving. Every
// area the bitmap adds has the brush colour, so the saved picture is the
// one step-by-step growth gives.
class BitmapCanvas {
public:
    BitmapCanvas(Run& run, TImage& holder) : m_run(run), m_holder(holder), m_growth(holder.Width(), holder.Height()) {}

    void expect(CanvasSize size) { m_growth.expect(size); }

    void fit(int32_t x, int32_t y, int32_t w, int32_t h) {
        m_run.phase = 2000;
        m_holder.SetAutoSize(false);
        m_run.phase = 2001;
        const int64_t right = int64_t(x) + w, bottom = int64_t(y) + h;
        checkCanvasExtent(m_run.read.limits, right, bottom);
        m_growth.widen(right);
        growBitmap();
        m_run.phase = 2002;
        m_growth.deepen(bottom);
        growBitmap();
        m_run.phase = 2003;
        if (TGraphic* picture = m_holder.Picture().Graphic()) picture->SetModified(true);
    }

    // Crops the bitmap to the logical size and gives the holder that size.
    void settle() {
        const CanvasSize& size = m_growth.logical();
        if (TGraphic* picture = m_holder.Picture().Graphic()) resize(*picture, size);
        m_holder.SetWidth(size.width);
        m_holder.SetHeight(size.height);
    }

private:
    static void resize(TGraphic& picture, CanvasSize size) {
        if (picture.Width() == size.width && picture.Height() == size.height) return;
        if (auto* bitmap = dynamic_cast<TBitmap*>(&picture)) return bitmap->SetSize(size.width, size.height);
        picture.SetWidth(size.width);
        picture.SetHeight(size.height);
    }

    void growBitmap() {
        TGraphic* picture = m_holder.Picture().Graphic();
        if (!picture) return;
        m_growth.fitBuffer(CanvasSize{picture->Width(), picture->Height()},
                           [picture](CanvasSize size) { resize(*picture, size); });
    }

    Run& m_run;
    TImage& m_holder;
    CanvasGrowth m_growth;
};

}  // namespace

void collectSources(Run& run) {
    run.phase = 200;
    if (platform::fileExists(run.picPath)) run.picPath = folderOf(run.picPath);
    platform::setCurrentDir(run.picPath);
    run.folder = platform::Folder(AT_FDCWD, "");
    const std::string cwd = platform::getCurrentDir();
    const std::string folder = cwd.empty() ? "." : cwd;
    std::vector<std::string> names = platform::listFolder(".", "*.bmp;*.jpg;*.jpe;*.jpeg;*.png");
    if (run.options.sort == SortOrder::Natural) sortNatural(names);
    setAtlasPath(run);

    run.phase = 205;
    TStringList& list = run.sharedList;
    list.clear();
    for (auto& name : names) list.add(std::move(name));

    run.phase = 206;
    const std::string outName = run.outPath.empty() ? std::string() : extractFileName(run.outPath);
    int i = 0;
    while (i < list.count()) {
        const std::string name = list[i];
        // Earlier results ("Glumix" in the name) and the output file itself.
        if (name.find("Glumix") != std::string::npos || (!outName.empty() && name == outName)) list.remove(i);
        else ++i;
        const std::string ext = extractFileExt(name);
        if (run.nameExt.empty() || run.nameExt[0] != '.') run.nameExt = ext;
        if (run.modeExt != ".png" && (run.modeExt.empty() || ext == ".png")) run.modeExt = ext;
    }
    run.outputFolder = folder;
    // A planted link must not put a picture from elsewhere into the sheet.
    const std::string opened = run.picPath;
    for (int k = 0; k < list.count(); ++k) {
        run.picPath = list[k];
        requirePictureInside(run, list[k], "");
    }
    run.picPath = opened;
}

int runGluing(Tf& form) {
    Run& run = form.run;
    collectSources(run);
    requireDataFilesApart(run);
    // The one way into the layout engine.
    if (run.options.layout.any()) return runLayoutGluing(form);
    const bool describe = describesFrames(run.options);
    TGridCursor& c = run.cursor;
    const bool rgba = run.modeExt == ".png";
    const TStringList& list = run.sharedList;
    if (list.count() == 0) reportNote("no pictures in \"" + run.outputFolder + "\", the sheet is empty");

    run.phase = 207;
    c.col = c.row = c.x = c.y = 0;
    int count = 0;
    if (rgba) createRgbaCanvas(run);
    BitmapCanvas canvas(run, *form.i2);
    Prefetcher prefetch(list.items(), rgba, run.read);
    // The headers give the final size while the first pictures are read:
    // the canvas is then allocated once.
    const CanvasSize start = rgba ? run.rgbaGrowth->logical() : CanvasSize{form.i2->Width(), form.i2->Height()};
    if (const auto expected = expectedCanvas(c, start, list.items(), run.read.limits)) {
        if (rgba) run.rgbaGrowth->expect(*expected);
        else canvas.expect(*expected);
    }

    for (int i = 0; i < list.count(); ++i) {
        run.phase = 208;
        run.picPath = list[i];
        run.phase = 209;
        const int32_t x = c.x, y = c.y;
        int32_t w, h;
        PrefetchedPicture picture = prefetch.next();
        if (rgba) {
            placeRgba(form, w, h, picture);
        } else {
            holdPicture(form, picture, 230, w, h);
            canvas.fit(x, y, w, h);
            run.phase = 233;
            if (picture.decodeError) std::rethrow_exception(picture.decodeError);
            form.i2->Canvas().DrawAt(x, y, form.i1->Picture().Graphic());
            run.phase = 234;
            form.i1->Picture().Clear();
            run.phase = 235;
            advanceCursor(c, w, h);
        }
        if (describe) describeFrame(run, list[i], x, y, w, h);
        writePattern(run, makeRect(x, y, x + w, y + h));
        ++count;
        platform::ui().progress(count, list.count(), run.picPath);
    }

    run.phase = 241;
    writePattern(run, TRect{});
    if (run.outPath.empty()) {
        run.outPath = run.outputFolder + "/" + "Glumix by Orvando_9 " + outputStamp(run.phase) + run.nameExt;
        run.outFolder = platform::Folder(run.folder.fd(), "");
    }
    if (rgba) {
        run.phase = 250;
        settleRgbaCanvas(run);
        if (describe)
            settleSheetPage(run, run.outPath, run.pngCanvas->Width(), run.pngCanvas->Height(),
                            extractFileExt(run.outPath) == ".png");
        savePng(run, run.pngCanvas, fileIn(run.outFolder, run.outPath));
    } else {
        run.phase = 260;
        canvas.settle();
        if (describe) settleSheetPage(run, run.outPath, form.i2->Width(), form.i2->Height(), false);
        saveImage(run.phase, form.i2, fileIn(run.outFolder, run.outPath));
    }
    commitAtlas(run);
    if (describe) finishSheet(run, run.outPath);
    run.phase = 299;
    if (!run.silent) showMsg(run, std::to_string(count) + " Pictures gummed!", kMbInformation);
    return finish(run);
}

}  // namespace glx::app
