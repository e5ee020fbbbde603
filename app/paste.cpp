#include "app/paste.h"

#include <fcntl.h>
#include <algorithm>
#include <climits>

#include "app/alpha.h"
#include "app/form.h"
#include "app/glue.h"
#include "app/modes.h"
#include "app/prompts.h"
#include "app/rgba.h"
#include "app/run.h"
#include "app/sheet_builder.h"
#include "base/exception.h"
#include "base/limits.h"
#include "base/line_reader.h"
#include "base/stream.h"
#include "base/strutil.h"
#include "platform/fs.h"
#include "platform/ui.h"
#include "png/png_format.h"
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

}  // namespace

void cellOf(TGridCursor& grid, int32_t cell) {
    int32_t& col = grid.col;
    int32_t& row = grid.row;
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

namespace {

int32_t placement(int32_t given, int32_t index, int32_t size) {
    if (given > -32000) return given;
    const int64_t p = int64_t(index) * size;
    if (p > INT32_MAX / 2)
        throw ELimitExceeded(formatMessage("Cell position %lld is too large", static_cast<long long>(p)));
    return static_cast<int32_t>(p);
}

// A blank one-pixel pattern when the opened picture does not exist yet: the
// bytes of the file it would be, kept in memory so that nothing is written
// under the final name unless the run succeeds.
TMemoryStream createBlankPattern(Run& run, const std::string& path) {
    TMemoryStream file;
    run.phase = 1940;
    const std::string ext = extractFileExt(path);
    if (ext == ".png") {
        run.phase = 1941;
        TPNGObject::CreateNew(kColorRgba, kDepth8, 1, 1)->WriteTo(file);
        return file;
    }
    run.phase = 1942;
    TBitmap bitmap(1, 1);
    run.phase = 1943;
    bitmap.Canvas().Brush.setColor(run.bgColor);
    bitmap.Canvas().FillArea(makeRect(0, 0, 1, 1));
    if (isJpegExt(ext)) {
        run.phase = 1945;
        TJPEGImage jpeg;
        setJpegOptions(jpeg);
        jpeg.CopyFrom(&bitmap);
        run.phase = 1946;
        jpeg.WriteTo(file);
    } else {
        bitmap.WriteTo(file);
    }
    return file;
}

// The pattern picture: its file, or the blank pattern standing in for it.
struct PatternSource {
    std::string path;
    std::unique_ptr<TMemoryStream> blank;
    ReadOptions options;

    void readInto(TPNGObject& png) const {
        png.SetOptions(options);
        if (!blank) return png.LoadFile(path);
        blank->setPosition(0);
        png.ReadFrom(*blank);
    }
    void readInto(TPicture& picture) const {
        if (!blank) return picture.LoadFile(path, options);
        blank->setPosition(0);
        picture.LoadFromStream(*blank, path, options);
    }
    // A run that ends without pasting still leaves the blank pattern, as
    // creating it first would have; it goes into folder, opened for it.
    void keepBlank(const platform::Folder& folder) const {
        if (!blank) return;
        SafeFileStream file(fileIn(folder, path));
        file.writeBuffer(blank->bytes().data(), blank->bytes().size());
        file.commit();
    }
};

// The paste script, read a pair of lines at a time as the pasting goes, so
// memory follows the lines in use, not the script's size. It is counted
// first (the number of pairs steers the progress display), each line whole
// up to the settings line cap; a longer line is an error naming the script.
// A script found beside the picture is part of what arrived with it: it is
// read only when it is a regular file inside that folder. A script named
// on the command line is the user's own choice.
class PasteScript {
public:
    PasteScript(const std::string& path, bool foundBeside, size_t maxLine) : m_reader(path), m_maxLine(maxLine) {
        if (foundBeside) requireInsideFolder(m_reader);
        std::string line;
        while (m_reader.nextWhole(line, m_maxLine)) ++m_lines;
        m_reader.rewind();
    }
    uint64_t pairs() const { return m_lines / 2; }
    // The next pair: position line and file line.
    void next(std::string& position, std::string& file) {
        if (!m_reader.nextWhole(position, m_maxLine)) position.clear();
        if (!m_reader.nextWhole(file, m_maxLine)) file.clear();
    }

private:
    LineReader m_reader;
    size_t m_maxLine;
    uint64_t m_lines = 0;
};

}  // namespace

// The fragment's rectangle, computed in 64 bits. By the time it is drawn
// the pattern has grown to hold it, so it fits in 32 bits; a corner no
// pattern could reach is refused naming the size.
TRect placedRect(int32_t px, int32_t py, int32_t w, int32_t h) {
    const int64_t right = int64_t(px) + w, bottom = int64_t(py) + h;
    checkCanvasExtent(Limits{}, right, bottom);
    return makeRect(px, py, static_cast<int32_t>(right), static_cast<int32_t>(bottom));
}

void fragmentCorner(TGridCursor& grid, const PastePosition& pos, int32_t w, int32_t h, int32_t& px, int32_t& py) {
    px = placement(pos.x, grid.col, w);
    py = placement(pos.y, grid.row, h);
}

PastePosition parsePositionLine(uint16_t& phase, const std::string& line) {
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

namespace {

// Reads the pattern the fragments are pasted into: the RGBA canvas when the
// result is a PNG, otherwise the bitmap holder (a JPEG pattern becomes a
// bitmap, so that it can be drawn on and grown).
void openPattern(Tf& form, PatternSource& source, bool pngOutput) {
    Run& run = form.run;
    if (pngOutput && extractFileExt(run.picPath) == ".png") {
        run.pngCanvas = std::make_unique<TPNGObject>();
        source.readInto(*run.pngCanvas);
    } else if (pngOutput) {
        run.phase = 102;
        source.readInto(form.i2->Picture());
        form.i2->SetAutoSize(true);
        run.pngCanvas = TPNGObject::CreateNew(kColorRgba, kDepth8, form.i2->Width(), form.i2->Height());
        setAlpha(run.phase, run.pngCanvas, makeRect(0, 0, run.pngCanvas->Width(), run.pngCanvas->Height()), 255);
        run.pngCanvas->Canvas().DrawAt(0, 0, form.i2->Picture().Graphic());
        form.i2->Picture().Clear();
    } else {
        run.phase = 103;
        source.readInto(form.i1->Picture());
        run.phase = 104;
        form.i1->SetAutoSize(true);
        if (auto* jpeg = dynamic_cast<TJPEGImage*>(form.i1->Picture().Graphic())) {
            // Its added area takes the background colour.
            run.phase = 1900;
            auto bitmap = std::make_unique<TBitmap>();
            run.phase = 1901;
            bitmap->CopyFrom(jpeg);
            run.phase = 1902;
            form.i1->Picture().SetGraphic(std::move(bitmap));
            run.phase = 1903;
            form.i1->Canvas().Brush.setColor(run.bgColor);
            run.phase = 1904;
        }
    }
}

// A PNG fragment keeps its alpha: transferred by the line's mode onto an
// RGBA pattern, painted over a bitmap pattern.
void pastePngFragment(Tf& form, const PastePosition& pos, const std::string& name, bool pngOutput) {
    Run& run = form.run;
    run.phase = 120;
    run.pngFragment = std::make_unique<TPNGObject>();
    run.pngFragment->SetOptions(run.read);
    run.pngFragment->LoadFile(name);
    run.phase = 121;
    const int32_t w = run.pngFragment->Width(), h = run.pngFragment->Height();
    int32_t px, py;
    fragmentCorner(run.cursor, pos, w, h, px, py);
    if (pngOutput) {
        run.phase = 125;
        form.checkwhp(px, py, w, h);
        run.phase = 126;
        pastePng(run.phase, run.pngCanvas, run.pngFragment, placedRect(px, py, w, h), pos.mode);
    } else {
        run.phase = 130;
        form.checkwh(*form.i1, px, py, w, h);
        run.phase = 131;
        run.pngFragment->PaintOn(form.i1->Canvas(), placedRect(px, py, w, h));
    }
    run.phase = 133;
    run.pngFragment.reset();
}

// Any other fragment is drawn as it is, opaque on an RGBA pattern.
void pasteOtherFragment(Tf& form, const PastePosition& pos, const std::string& name, bool pngOutput) {
    Run& run = form.run;
    run.phase = 140;
    form.i2->Picture().LoadFile(name, run.read);
    run.phase = 141;
    form.i2->SetAutoSize(true);
    run.phase = 142;
    const int32_t w = form.i2->Width(), h = form.i2->Height();
    int32_t px, py;
    fragmentCorner(run.cursor, pos, w, h, px, py);
    run.phase = 143;
    if (pngOutput) {
        run.phase = 150;
        form.checkwhp(px, py, w, h);
        run.phase = 151;
        setAlpha(run.phase, run.pngCanvas, placedRect(px, py, w, h), 255);
        run.phase = 152;
        run.pngCanvas->Canvas().DrawAt(px, py, form.i2->Picture().Graphic());
    } else {
        run.phase = 160;
        form.checkwh(*form.i1, px, py, w, h);
        run.phase = 161;
        form.i1->Canvas().DrawAt(px, py, form.i2->Picture().Graphic());
    }
    run.phase = 166;
    form.i2->Picture().Clear();
}

// Every pair of the script: where, then which fragment, from the pattern's
// folder unless the line names a file as it stands.
void pasteFragments(Tf& form, PasteScript& script, const std::string& patternFolder, bool pngOutput) {
    Run& run = form.run;
    const uint64_t pairs = script.pairs();
    const int shownPairs = static_cast<int>(std::min<uint64_t>(pairs, INT_MAX));
    std::string positionLine, fileLine;
    for (uint64_t k = 0; k < pairs; ++k) {
        script.next(positionLine, fileLine);
        const PastePosition pos = parsePositionLine(run.phase, positionLine);
        const int shown = static_cast<int>(std::min<uint64_t>(k + 1, INT_MAX));
        run.phase = 110;
        const std::string name = platform::fileExists(fileLine) ? fileLine : patternFolder + fileLine;
        run.picPath = name;
        requirePictureInside(run, name, patternFolder);
        cellOf(run.cursor, pos.cell);
        run.phase = 111;
        if (extractFileExt(name) == ".png") pastePngFragment(form, pos, name, pngOutput);
        else pasteOtherFragment(form, pos, name, pngOutput);
        platform::ui().progress(shown, shownPairs, name);
    }
}

// The result replaces the pattern inside the folder it was opened from, or
// goes to the named output.
void savePattern(Tf& form, const std::string& pattern, bool pngOutput) {
    Run& run = form.run;
    run.phase = 170;
    const auto target = [&] {
        return run.outPath.empty() ? fileIn(run.folder, pattern) : fileIn(run.outFolder, run.outPath);
    };
    if (pngOutput) {
        run.phase = 171;
        savePng(run, run.pngCanvas, target());
    } else {
        run.phase = 172;
        saveImage(run.phase, form.i1, target());
    }
}

}  // namespace

int runPasteScript(Tf& form) {
    Run& run = form.run;
    run.phase = 100;
    PatternSource source{run.picPath, nullptr, run.read};
    if (!platform::fileExists(run.picPath)) {
        if (run.outPath.empty()) return finish(run);
        run.picPath = run.outPath;
        source =
            PatternSource{run.picPath, std::make_unique<TMemoryStream>(createBlankPattern(run, run.picPath)), run.read};
    }
    const std::string pattern = run.picPath;
    // The pattern is replaced inside the folder it was opened from, whatever
    // happens to that folder's path meanwhile.
    if (!source.blank) run.folder = platform::Folder(AT_FDCWD, extractFilePath(pattern));
    PasteScript script(run.pastePath, run.pasteScriptBeside, run.read.limits.lineLength);
    run.phase = 101;
    const bool pngOutput = run.modeExt == ".png";
    openPattern(form, source, pngOutput);

    run.phase = 105;
    if (script.pairs() == 0) {
        source.keepBlank(run.outFolder);
        return finish(run);
    }
    pasteFragments(form, script, extractFilePath(pattern), pngOutput);
    savePattern(form, pattern, pngOutput);
    run.phase = 199;
    if (!run.silent) showMsg(run, "Picture pasted!", kMbInformation);
    return finish(run);
}

}  // namespace glx::app
