#include "app/sheet_builder.h"

#include <climits>
#include <cstdlib>

#include "app/atlas.h"
#include "app/atlas_formats.h"
#include "app/run.h"
#include "base/exception.h"
#include "base/strutil.h"
#include "platform/fs.h"

namespace glx::app {

bool describesFrames(const Options& options) {
    return !options.atlas.empty() || options.namesGiven || options.animations;
}

void beginSheetPage(Run& run) { run.sheet.pages.emplace_back(); }

void describeFrame(Run& run, const std::string& fileName, int32_t x, int32_t y, int32_t w, int32_t h) {
    run.phase = 2203;
    std::string name;
    if (platform::fileExists(run.namesPath))
        name = patternName(run.names, run.namesPath, run.patternCount, run.read.limits.lineLength);
    if (name.empty()) name = frameNameOf(fileName, run.options.names);
    // Engines read names as UTF-8 text: control bytes and bytes that are
    // not UTF-8 become "\xNN", before names are made unique.
    run.placedName = run.usedNames.take(printableText(name));
    if (run.sheet.pages.empty()) beginSheetPage(run);
    SheetFrame frame;
    frame.name = run.placedName;
    frame.x = x;
    frame.y = y;
    frame.w = w;
    frame.h = h;
    frame.sourceW = w;
    frame.sourceH = h;
    run.sheet.pages.back().frames.push_back(std::move(frame));
}

void settleSheetPage(Run& run, const std::string& imagePath, int32_t width, int32_t height, bool alpha) {
    if (run.sheet.pages.empty()) beginSheetPage(run);
    SheetPage& page = run.sheet.pages.back();
    page.image = extractFileName(imagePath);
    page.width = width;
    page.height = height;
    page.alpha = alpha;
}

void finishSheet(Run& run, const std::string& sheetPath) {
    if (run.options.animations) {
        std::vector<std::string> names;
        for (const auto& page : run.sheet.pages)
            for (const auto& frame : page.frames) names.push_back(frame.name);
        run.sheet.animations = groupAnimations(names);
    }
    writeAtlasFiles(run.options, run.sheet, sheetPath, run.outFolder.fd());
}

void requireDataFilesApart(const Run& run) {
    if (run.outPath.empty()) return;
    for (AtlasFormat format : run.options.atlas)
        if (atlasDataPath(format, run.options.atlas, run.outPath) == run.outPath)
            throw EInOutError(formatMessage("The data file \"%s\" would replace the sheet", run.outPath.c_str()));
}

void requirePictureInside(const Run& run, const std::string& path, const std::string& folder) {
    if (run.options.allowOutside) return;
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return;
    if (!platform::isInsideFolder(resolved, folder.empty() ? "." : folder))
        throw EFOpenError(
            formatMessage("Cannot open file \"%s\". It leads outside the picture's folder", path.c_str()));
}

}  // namespace glx::app
