#include "app/form.h"

#include <fcntl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "app/args.h"
#include "app/glue.h"
#include "app/modes.h"
#include "app/options.h"
#include "app/prompts.h"
#include "app/report.h"
#include "base/exception.h"
#include "base/strutil.h"
#include "gif/gif_image.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/interrupt.h"
#include "platform/ui.h"
#include "png/png_object.h"
#include "raster/image.h"
#include "raster/picture.h"

namespace glx::app {

// The holders' design sizes; without form scaling they are used as they are.
Tf::Tf(std::vector<std::string> arguments)
    : run(std::move(arguments)), i1(std::make_unique<TImage>(40, 40)), i2(std::make_unique<TImage>(41, 40)) {}

Tf::~Tf() = default;

namespace {

bool usable(const std::string& path) { return platform::fileExists(path) || platform::directoryExists(path); }

// Several pictures dropped or opened together arrive as separate arguments.
// A dropped file is never a layout: when argument 2 names an existing file
// or folder and does not read as one, the run opens argument 1 alone, in
// the whole form (so no dropped picture is ever taken as the output).
bool isDropOfSeveral(Run& run, const std::string& joined) {
    if (usable(joined)) return false;
    const std::string second = getArg(run, 2);
    return !second.empty() && usable(second) && !readsAsLayout(second);
}

// An output name whose extension names no format the tool writes is
// refused before anything is glued: one line on standard error, as for a
// picture that cannot be opened.
int refuseOutput(Run& run) {
    reportNote("cannot write \"" + run.outPath + "\": not a picture format it writes (.png, .jpg, .jpeg, .jpe, .bmp)");
    return finish(run, kExitHelpWithArguments);
}

}  // namespace

int Tf::FormCreate() {
    run.phase = 0;
    run.silent = false;
    run.picPath = joinArgs(run);
    run.outPath.clear();
    run.pastePath.clear();
    run.cursor = TGridCursor{};
    run.pngCanvas.reset();
    run.pngFragment.reset();
    run.patternCount = 0;
    run.phase = 1;
    const bool dropped = isDropOfSeveral(run, run.picPath);
    if (dropped) run.picPath = getArg(run, 1);

    // A GIF made into a sheet or an animated PNG may be followed by the
    // layout and the output, as a picture is.
    if ((run.options.sheet || run.options.apng) && !dropped && !platform::fileExists(run.picPath) &&
        platform::fileExists(getArg(run, 1)) && extractFileExt(getArg(run, 1)) == ".gif") {
        PositionalArgs p = readPositional(run);
        run.picPath = p.picture;
        run.cursor.perRow = p.perRow;
        run.cursor.perColumn = p.perColumn;
        run.outPath = p.outPath;
    }
    if (platform::fileExists(run.picPath) && extractFileExt(run.picPath) == ".gif") {
        readOptionsBeside(run, extractFilePath(run.picPath));
        return runGifExport(*this);
    }

    if (!usable(run.picPath)) {
        run.phase = 2;
        if (!dropped && !getArg(run, 2).empty()) {
            run.phase = 3;
            PositionalArgs p = readPositional(run);
            run.picPath = p.picture;
            run.cursor.perRow = p.perRow;
            run.cursor.perColumn = p.perColumn;
            run.outPath = p.outPath;
            run.pastePath = p.pastePath;
            if (!run.outPath.empty() && !writesFormatOf(run.outPath)) return refuseOutput(run);
            // Opened now, before gluing enters the pictures' folder.
            if (!run.outPath.empty()) run.outFolder = platform::Folder(AT_FDCWD, extractFilePath(run.outPath));
        }
    }
    if (!usable(run.picPath) && !platform::fileExists(run.pastePath)) {
        if (!run.arguments.empty()) reportUnusable(run.picPath);
        return runHelpPath(run, !run.arguments.empty());
    }

    run.sharedList.clear();
    run.nameExt = extractFileExt(run.picPath);
    run.modeExt = extractFileExt(run.outPath.empty() ? run.picPath : run.outPath);
    if (run.modeExt != ".png" && extractFileExt(run.picPath) == ".png") run.modeExt = ".png";

    run.phase = 10;
    if (run.cursor.perRow == 0 && run.cursor.perColumn == 0) askLayout(run);

    run.phase = 20;
    readSettings(run);
    const bool folderOpened = !platform::fileExists(run.picPath);
    readOptionsBeside(run, folderOpened && !run.picPath.empty() && run.picPath.back() != '/'
                               ? run.picPath + "/"
                               : extractFilePath(run.picPath));
    run.phase = 23;
    applyBackground(*this);

    run.phase = 24;
    const std::string script =
        !run.pastePath.empty() ? run.pastePath : extractFilePath(run.picPath) + "Glumix_paste.ini";
    run.pasteFound = platform::fileExists(script);
    if (!run.pasteFound && !run.pastePath.empty())
        reportNote("paste script \"" + run.pastePath + "\" not found, the folder is glued instead");
    if (run.pasteFound) {
        run.pasteScriptBeside = run.pastePath.empty();
        run.pastePath = script;
        return runPasteScript(*this);
    }
    return runGluing(*this);
}

int Tf::aeException(const std::string& message) {
    showMsg(run, errorReportText(run, message), kMbError);
    return finish(run, kExitError);
}

int Tf::FormActivate() {
    run.phase = 65000;
    return finish(run);
}

int Tf::FormDestroy() { return finish(run); }

namespace {

// The error report for anything that left FormCreate. When even the report
// cannot be shown (output closed), the run still failed.
int report(Tf& form, const std::string& message) {
    try {
        return form.aeException(message);
    } catch (...) {
        return kExitError;
    }
}

}  // namespace

int runApplication(int argc, char** argv, const AppOptions& options) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printHelp();
        return kExitDone;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("glumixer %s\n", GLX_VERSION);
        return kExitDone;
    }
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    Options chosen;
    FrontOptions front;
    {
        // A file named like an option still opens when the whole command
        // line names it.
        Run whole(args);
        if (!usable(joinArgs(whole))) front = takeFrontOptions(args, chosen);
    }
    if (front.action == FrontAction::Run && args.empty() && argc > 1) {
        front.action = FrontAction::Error;
        front.errorLine = "glumixer: no picture after the options\n";
    }
    switch (front.action) {
        case FrontAction::Help:
            printHelp();
            return kExitDone;
        case FrontAction::Version:
            std::printf("glumixer %s\n", GLX_VERSION);
            return kExitDone;
        case FrontAction::Error:
            std::fputs(front.errorLine.c_str(), stderr);
            return kExitHelpWithArguments;
        case FrontAction::Run:
            break;
    }
    if (!chosen.patternsPath.empty()) chosen.patternsPath = platform::absolutePath(chosen.patternsPath);
    platform::installInterruptCleanup();
    platform::chooseBackend(argc > 0 ? argv[0] : nullptr);
    platform::randomize();
    // The registries are complete before any thread starts.
    registerPngFormat();
    registerGifFormat();
    SealFileFormats();
    Tf form(std::move(args));
    form.run.options = std::move(chosen);
    form.run.givenOptions = std::move(front.given);
    form.run.read = options.read;
    try {
        return form.FormCreate();
    } catch (const EInternalError& e) {
        if (!options.abortOnInternalError) return report(form, e.what());
        // A broken invariant is a finding for a fuzz target, never a report.
        std::fprintf(stderr, "%s\n", e.what());
        std::abort();
    } catch (const std::bad_alloc&) {
        return report(form, "Out of memory");
    } catch (const std::exception& e) {
        return report(form, e.what());
    } catch (...) {
        return report(form, "Unknown error");
    }
}

}  // namespace glx::app
