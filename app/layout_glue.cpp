// Gluing with the layout options: every picture is read into memory
// (trimmed when asked), identical ones found, the layout engine places
// them, and each sheet page is filled row by row and saved.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "app/alpha.h"
#include "app/atlas.h"
#include "app/form.h"
#include "app/glue.h"
#include "app/modes.h"
#include "app/prefetch.h"
#include "app/prompts.h"
#include "app/rgba.h"
#include "app/run.h"
#include "app/sheet_builder.h"
#include "app/sheet_layout.h"
#include "app/sheet_pixels.h"
#include "base/exception.h"
#include "base/limits.h"
#include "base/strutil.h"
#include "platform/ui.h"
#include "png/png_format.h"
#include "png/png_object.h"
#include "raster/bitmap.h"
#include "raster/image.h"

namespace glx::app {

namespace {

void copyRows(const TPNGObject& image, int32_t w, int32_t h, SheetPicture& out) {
    out.width = w;
    out.height = h;
    out.bgr.resize(3 * size_t(w) * size_t(h));
    out.alpha.resize(size_t(w) * size_t(h));
    for (int32_t y = 0; y < h; ++y) {
        std::memcpy(out.bgr.data() + 3 * size_t(w) * size_t(y), image.PixelRow(y), 3 * size_t(w));
        std::memcpy(out.alpha.data() + size_t(w) * size_t(y), image.AlphaRow(y), size_t(w));
    }
}

// A picture as the RGBA path puts it on its canvas: PNG pictures copied
// exactly (colour and alpha), others drawn and opaque.
SheetPicture rgbaPicture(Tf& form, PrefetchedPicture& picture) {
    Run& run = form.run;
    int32_t w = 0, h = 0;
    std::unique_ptr<TPNGObject> canvas;
    if (extractFileExt(run.picPath) == ".png") {
        run.phase = 211;
        if (picture.loadError) std::rethrow_exception(picture.loadError);
        std::unique_ptr<TPNGObject> fragment(static_cast<TPNGObject*>(picture.graphic.release()));
        w = fragment->Width();
        h = fragment->Height();
        run.phase = 213;
        checkPictureSize(run.read.limits, w, h);
        canvas = TPNGObject::CreateNew(kColorRgba, kDepth8, w, h);
        run.phase = 214;
        pastePng(run.phase, canvas, fragment, makeRect(0, 0, w, h), kExact);
    } else {
        holdPicture(form, picture, 220, w, h);
        checkPictureSize(run.read.limits, w, h);
        canvas = TPNGObject::CreateNew(kColorRgba, kDepth8, w, h);
        run.phase = 223;
        setAlpha(run.phase, canvas, makeRect(0, 0, w, h), 255);
        run.phase = 224;
        if (picture.decodeError) std::rethrow_exception(picture.decodeError);
        canvas->Canvas().DrawAt(0, 0, form.i1->Picture().Graphic());
        run.phase = 225;
        form.i1->Picture().Clear();
    }
    SheetPicture out;
    copyRows(*canvas, w, h, out);
    return out;
}

// A picture as the bitmap path draws it: onto the background colour,
// pictures with alpha mixed by it.
SheetPicture bitmapPicture(Tf& form, PrefetchedPicture& picture) {
    Run& run = form.run;
    int32_t w = 0, h = 0;
    holdPicture(form, picture, 230, w, h);
    checkPictureSize(run.read.limits, w, h);
    TImage holder(w, h);
    TCanvas& canvas = holder.Canvas();
    canvas.Brush.setColor(run.bgColor);
    canvas.FillArea(makeRect(0, 0, w, h));
    run.phase = 233;
    if (picture.decodeError) std::rethrow_exception(picture.decodeError);
    canvas.DrawAt(0, 0, form.i1->Picture().Graphic());
    run.phase = 234;
    form.i1->Picture().Clear();
    const Dib& dib = dynamic_cast<const TBitmap&>(*holder.Picture().Graphic()).Pixels();
    SheetPicture out;
    out.width = w;
    out.height = h;
    out.bgr.resize(3 * size_t(w) * size_t(h));
    for (int32_t y = 0; y < h; ++y) dib.rowToBGR(y, 0, w, out.bgr.data() + 3 * size_t(w) * size_t(y));
    return out;
}

// "sheet.png", "sheet-1.png", "sheet-2.png"...
std::string pagePath(const std::string& first, size_t page) {
    if (page == 0) return first;
    const std::string ext = extractFileExt(first);
    return first.substr(0, first.size() - ext.size()) + "-" + std::to_string(page) + ext;
}

// Whether name is a further sheet of the output ("sheet-1.png" beside
// "sheet.png"): like the output itself, an earlier one is never glued.
bool isFurtherPage(const std::string& name, const std::string& output) {
    const std::string ext = extractFileExt(output);
    const std::string stem = output.substr(0, output.size() - ext.size()) + "-";
    if (name.size() <= stem.size() + ext.size() || name.compare(0, stem.size(), stem) != 0 ||
        name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
        return false;
    const std::string number = name.substr(stem.size(), name.size() - stem.size() - ext.size());
    return number[0] != '0' && std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// One sheet picture: each distinct frame copied to its place, with its ring.
void fillPage(const SheetSurface& surface, const std::vector<SheetPicture>& pictures,
              const std::vector<LayoutItem>& items, const SheetLayout& layout, int32_t page, int32_t ring) {
    for (size_t i = 0; i < pictures.size(); ++i) {
        const LayoutPlace& at = layout.places[i];
        if (at.page != page || items[i].sameAs >= 0) continue;
        drawPicture(surface, pictures[i], at.x, at.y);
        // With uniform cells, loaders that cut by frame size draw whole
        // cells: the cell's edges are repeated, so that no ring pixel shows
        // inside a cell.
        if (layout.cells) extrudeEdges(surface, at.cellX, at.cellY, layout.cells->width, layout.cells->height, ring);
        else extrudeEdges(surface, at.x, at.y, pictures[i].width, pictures[i].height, ring);
    }
}

}  // namespace

int runLayoutGluing(Tf& form) {
    Run& run = form.run;
    const LayoutOptions& options = run.options.layout;
    const bool rgba = run.modeExt == ".png";
    TStringList& list = run.sharedList;
    if (options.pack == PackMode::MaxRects && !run.outPath.empty()) {
        const std::string output = extractFileName(run.outPath);
        for (int i = list.count() - 1; i >= 0; --i)
            if (isFurtherPage(list[i], output)) list.remove(i);
    }
    const size_t count = static_cast<size_t>(list.count());

    // Every picture in memory, trimmed; their bytes together stay below the
    // buffer limit.
    run.phase = 207;
    std::vector<SheetPicture> pictures;
    std::vector<SheetFrame> sources(count);  // trim offset and source size
    std::vector<LayoutItem> items(count);
    uint64_t held = 0;
    {
        Prefetcher prefetch(list.items(), rgba, run.read);
        for (size_t i = 0; i < count; ++i) {
            run.phase = 208;
            run.picPath = list[static_cast<int>(i)];
            run.phase = 209;
            PrefetchedPicture loaded = prefetch.next();
            SheetPicture picture = rgba ? rgbaPicture(form, loaded) : bitmapPicture(form, loaded);
            SheetFrame& source = sources[i];
            source.sourceW = picture.width;
            source.sourceH = picture.height;
            if (options.trim) {
                const PixelBox box = opaqueBounds(picture);
                if (box != PixelBox{0, 0, picture.width, picture.height}) {
                    picture = cropPicture(picture, box);
                    source.trimmed = true;
                    source.offsetX = box.x;
                    source.offsetY = box.y;
                }
            }
            held += picture.bytes();
            if (held > run.read.limits.bufferBytes)
                throw ELimitExceeded(formatMessage("The pictures of the sheet need more than %llu bytes",
                                                   static_cast<unsigned long long>(run.read.limits.bufferBytes)));
            items[i] = LayoutItem{picture.width, picture.height, -1};
            pictures.push_back(std::move(picture));
            platform::ui().progress(static_cast<int>(i + 1), static_cast<int>(count), run.picPath);
        }
    }

    // Identical pictures: the first of them is placed, the others share it.
    if (options.alias) {
        std::unordered_map<uint64_t, std::vector<size_t>> seen;
        for (size_t i = 0; i < count; ++i) {
            std::vector<size_t>& same = seen[pictureHash(pictures[i])];
            for (size_t j : same)
                if (samePixels(pictures[j], pictures[i])) {
                    items[i].sameAs = static_cast<int32_t>(j);
                    break;
                }
            if (items[i].sameAs < 0) same.push_back(i);
        }
    }

    run.phase = 240;
    SheetLayout layout;
    try {
        layout = layoutSheet(items, GridShape{run.cursor.perRow, run.cursor.perColumn}, options);
    } catch (const LayoutTooLarge& e) {
        run.picPath = list[static_cast<int>(e.item())];
        const SheetFrame& s = sources[e.item()];
        throw ELimitExceeded(formatMessage("The picture \"%s\" (%d x %d) does not fit on a sheet of %d x %d",
                                           run.picPath.c_str(), s.sourceW, s.sourceH, e.maxSize(), e.maxSize()));
    }

    // The atlas lines in gluing order, with each frame's own pixels.
    const bool describe = describesFrames(run.options);
    if (describe)
        while (run.sheet.pages.size() < layout.pages.size()) beginSheetPage(run);
    for (size_t i = 0; i < count; ++i) {
        run.picPath = list[static_cast<int>(i)];
        const LayoutPlace& at = layout.places[i];
        const int32_t w = items[i].width, h = items[i].height;
        if (describe) {
            describeFrame(run, run.picPath, at.x, at.y, w, h);
            std::vector<SheetFrame>& last = run.sheet.pages.back().frames;
            SheetFrame frame = std::move(last.back());
            last.pop_back();
            frame.trimmed = sources[i].trimmed;
            frame.offsetX = sources[i].offsetX;
            frame.offsetY = sources[i].offsetY;
            frame.sourceW = sources[i].sourceW;
            frame.sourceH = sources[i].sourceH;
            run.sheet.pages[static_cast<size_t>(at.page)].frames.push_back(std::move(frame));
        }
        writePattern(run, makeRect(at.x, at.y, at.x + w, at.y + h));
    }
    run.phase = 241;
    writePattern(run, TRect{});
    if (layout.cells)
        run.sheet.grid =
            GridMeta{layout.cells->width, layout.cells->height, layout.cells->margin, layout.cells->spacing};

    if (run.outPath.empty()) {
        run.outPath = run.outputFolder + "/" + "Glumix by Orvando_9 " + outputStamp(run.phase) + run.nameExt;
        run.outFolder = platform::Folder(run.folder.fd(), "");
    }
    for (size_t p = 0; p < layout.pages.size(); ++p) {
        const LayoutPageSize size = layout.pages[p];
        const std::string path = pagePath(run.outPath, p);
        checkPictureSize(run.read.limits, size.width, size.height);
        const int32_t page = static_cast<int32_t>(p);
        if (describe) {
            SheetPage& described = run.sheet.pages[p];
            described.image = extractFileName(path);
            described.width = size.width;
            described.height = size.height;
            described.alpha = rgba && extractFileExt(path) == ".png";
        }
        if (rgba) {
            run.phase = 250;
            // Blank: black and fully transparent, as the canvas grows.
            std::unique_ptr<TPNGObject> sheet = TPNGObject::CreateNew(kColorRgba, kDepth8, size.width, size.height);
            SheetSurface surface{
                size.width,         size.height,
                sheet->PixelRow(0), size.height > 1 ? size_t(sheet->PixelRow(1) - sheet->PixelRow(0)) : 0,
                sheet->AlphaRow(0), size_t(size.width)};
            fillPage(surface, pictures, items, layout, page, options.extrude);
            savePng(run, sheet, fileIn(run.outFolder, path));
        } else {
            run.phase = 260;
            auto holder = std::make_unique<TImage>(size.width, size.height);
            TCanvas& canvas = holder->Canvas();
            canvas.Brush.setColor(run.bgColor);
            canvas.FillArea(makeRect(0, 0, size.width, size.height));
            Dib& dib = dynamic_cast<TBitmap&>(*holder->Picture().Graphic()).Pixels();
            SheetSurface surface{size.width, size.height, dib.row(0), dib.stride(), nullptr, 0};
            fillPage(surface, pictures, items, layout, page, options.extrude);
            saveImage(run.phase, holder, fileIn(run.outFolder, path));
        }
    }
    commitAtlas(run);
    if (describe) finishSheet(run, run.outPath);
    run.phase = 299;
    if (!run.silent) showMsg(run, std::to_string(count) + " Pictures gummed!", kMbInformation);
    return finish(run);
}

}  // namespace glx::app
