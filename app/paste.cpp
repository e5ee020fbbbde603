#include "app/paste.h"

#include "app/alpha.h"
#include "app/form.h"
#include "app/glue.h"
#include "app/modes.h"
#include "app/prompts.h"
#include "app/rgba.h"
#include "app/state.h"
#include "base/exception.h"
#include "base/strutil.h"
#include "platform/fs.h"
#include "platform/ui.h"
#include "png/png_object.h"
#include "raster/bitmap.h"
#include "raster/image.h"
#include "raster/jpeg_image.h"
#include "raster/picture.h"

namespace glx::app {

namespace {

// Field k (from 1) of a ";"-separated line; "" past the last one.
std::string field(const std::string& line, int k) {
    size_t start = 0;
    for (int i = 1; i < k; ++i) {
        size_t semi = line.find(';', start);
        if (semi == std::string::npos) return "";
        start = semi + 1;
    }
    size_t end = line.find(';', start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

uint8_t modeOf(int32_t z) { return static_cast<uint8_t>(z > 0 ? z - 1 : z); }

// Where cell (from 1) lands: the cell stepCell reaches after cell - 1
// steps from (0, 0), computed directly so a huge number cannot stall.
void cellOf(const TGridCursor& grid, int32_t cell, int32_t& col, int32_t& row) {
    col = row = 0;
    if (cell <= 1) return;
    const int64_t steps = int64_t(cell) - 1;
    if (grid.perRow > 0) {
        col = static_cast<int32_t>(steps % grid.perRow);
        row = static_cast<int32_t>(steps / grid.perRow);
    } else {
        const int64_t perColumn = grid.perColumn > 0 ? grid.perColumn : 1;
        row = static_cast<int32_t>(steps % perColumn);
        col = static_cast<int32_t>(steps / perColumn);
    }
}

int32_t placement(int32_t given, int32_t index, int32_t size) {
    if (given > -32000) return given;
    const int64_t p = int64_t(index) * size;
    if (p > INT32_MAX / 2)
        throw ELimitExceeded(formatMessage("Cell position %lld is too large", static_cast<long long>(p)));
    return static_cast<int32_t>(p);
}

// A blank one-pixel pattern when the opened picture does not exist yet.
void createBlankPattern(const std::string& path) {
    phase = 1940;
    const std::string ext = extractFileExt(path);
    if (ext == ".png") {
        phase = 1941;
        TPNGObject::CreateNew(6, 8, 1, 1)->SaveFile(path);
        return;
    }
    phase = 1942;
    TBitmap bitmap(1, 1);
    phase = 1943;
    bitmap.Canvas().Brush.setColor(bgColor);
    bitmap.Canvas().FillArea(makeRect(0, 0, 1, 1));
    if (isJpegExt(ext)) {
        phase = 1945;
        TJPEGImage jpeg;
        setJpegOptions(jpeg);
        jpeg.CopyFrom(&bitmap);
        phase = 1946;
        jpeg.SaveFile(path);
    } else {
        bitmap.SaveFile(path);
    }
}

}  // namespace

PastePosition parsePositionLine(const std::string& line) {
    PastePosition pos;
    phase = 106;
    if (line.find(';') == std::string::npos) {
        pos.cell = strToInt(line);
        return pos;
    }
    phase = 107;
    const std::string fields = line[0] == ';' ? line.substr(1) : line;
    const int32_t z = strToIntDef(field(fields, 3), 2);
    if (line.find(";;") != std::string::npos) {
        pos.cell = strToIntDef(field(fields, 1), 0);
    } else {
        pos.x = strToIntDef(field(fields, 1), -32000);
        pos.y = strToIntDef(field(fields, 2), -32000);
    }
    pos.mode = modeOf(z);
    return pos;
}

void runPasteScript(Tf& form) {
    RunContext& run = form.run;
    phase = 100;
    if (!platform::fileExists(picPath)) {
        if (run.outPath.empty()) finish();
        picPath = run.outPath;
        createBlankPattern(picPath);
    }
    const std::string pattern = picPath;
    sharedList->loadFromFile(run.pastePath);
    phase = 101;

    const bool pngOutput = run.modeExt == ".png";
    const std::string patternFolder = extractFilePath(pattern);
    if (pngOutput && extractFileExt(picPath) == ".png") {
        pngCanvas = std::make_unique<TPNGObject>();
        pngCanvas->LoadFile(picPath);
    } else if (pngOutput) {
        phase = 102;
        form.i2->Picture().LoadFile(picPath);
        form.i2->SetAutoSize(true);
        pngCanvas = TPNGObject::CreateNew(6, 8, form.i2->Width(), form.i2->Height());
        setAlpha(pngCanvas, makeRect(0, 0, pngCanvas->Width(), pngCanvas->Height()), 255);
        pngCanvas->Canvas().DrawAt(0, 0, form.i2->Picture().Graphic());
        form.i2->Picture().Clear();
    } else {
        phase = 103;
        form.i1->Picture().LoadFile(picPath);
        phase = 104;
        form.i1->SetAutoSize(true);
        if (auto* jpeg = dynamic_cast<TJPEGImage*>(form.i1->Picture().Graphic())) {
            // A JPEG pattern becomes a bitmap so that it can be drawn on and
            // grown; its added area takes the background colour.
            phase = 1900;
            auto bitmap = std::make_unique<TBitmap>();
            phase = 1901;
            bitmap->CopyFrom(jpeg);
            phase = 1902;
            form.i1->Picture().SetGraphic(std::move(bitmap));
            phase = 1903;
            form.i1->Canvas().Brush.setColor(bgColor);
            phase = 1904;
        }
    }

    phase = 105;
    const int pairs = sharedList->count() / 2;
    if (pairs == 0) finish();
    TGridCursor& grid = run.cursor;
    for (int k = 0; k < pairs; ++k) {
        const PastePosition pos = parsePositionLine((*sharedList)[2 * k]);
        const std::string& fileLine = (*sharedList)[2 * k + 1];
        phase = 110;
        const std::string name = platform::fileExists(fileLine) ? fileLine : patternFolder + fileLine;
        picPath = name;
        cellOf(grid, pos.cell, grid.col, grid.row);
        phase = 111;

        if (extractFileExt(name) == ".png") {
            phase = 120;
            pngFragment = std::make_unique<TPNGObject>();
            pngFragment->LoadFile(name);
            phase = 121;
            const int32_t w = pngFragment->Width(), h = pngFragment->Height();
            const int32_t px = placement(pos.x, grid.col, w), py = placement(pos.y, grid.row, h);
            const TRect rect = makeRect(px, py, px + w, py + h);
            if (pngOutput) {
                phase = 125;
                checkwhp(px, py, w, h);
                phase = 126;
                pastePng(pngCanvas, pngFragment, rect, pos.mode);
            } else {
                phase = 130;
                checkwh(*form.i1, px, py, w, h);
                phase = 131;
                pngFragment->PaintOn(form.i1->Canvas(), rect);
            }
            phase = 133;
            pngFragment.reset();
            platform::ui().progress(k + 1, pairs, name);
            continue;
        }
        phase = 140;
        form.i2->Picture().LoadFile(name);
        phase = 141;
        form.i2->SetAutoSize(true);
        phase = 142;
        const int32_t w = form.i2->Width(), h = form.i2->Height();
        const int32_t px = placement(pos.x, grid.col, w), py = placement(pos.y, grid.row, h);
        phase = 143;
        if (pngOutput) {
            phase = 150;
            checkwhp(px, py, w, h);
            phase = 151;
            setAlpha(pngCanvas, makeRect(px, py, px + w, py + h), 255);
            phase = 152;
            pngCanvas->Canvas().DrawAt(px, py, form.i2->Picture().Graphic());
        } else {
            phase = 160;
            checkwh(*form.i1, px, py, w, h);
            phase = 161;
            form.i1->Canvas().DrawAt(px, py, form.i2->Picture().Graphic());
        }
        phase = 166;
        form.i2->Picture().Clear();
        platform::ui().progress(k + 1, pairs, name);
    }

    phase = 170;
    const std::string target = run.outPath.empty() ? pattern : run.outPath;
    if (pngOutput) {
        phase = 171;
        savePng(pngCanvas, target);
    } else {
        phase = 172;
        saveImage(form.i1, target);
    }
    phase = 199;
    if (!silent) showMsg("Picture pasted!", 64);
    finish();
}

}  // namespace glx::app
