#include "app/form.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "app/args.h"
#include "app/modes.h"
#include "app/prompts.h"
#include "app/report.h"
#include "app/state.h"
#include "base/exception.h"
#include "base/strutil.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/interrupt.h"
#include "platform/ui.h"
#include "gif/gif_image.h"
#include "png/png_object.h"
#include "raster/image.h"

namespace glx::app {

Tf* f = nullptr;

// The holders' design sizes; without form scaling they are used as they are.
Tf::Tf() : i1(std::make_unique<TImage>(40, 40)), i2(std::make_unique<TImage>(41, 40)) {}
Tf::~Tf() = default;

namespace {

bool usable(const std::string& path) { return platform::fileExists(path) || platform::directoryExists(path); }

// Several pictures dropped or opened together arrive as separate arguments.
// A dropped file is never a layout: when argument 2 names an existing file
// or folder and does not read as one, the run opens argument 1 alone, in
// the whole form (so no dropped picture is ever taken as the output).
bool isDropOfSeveral(const std::string& joined) {
    if (usable(joined)) return false;
    const std::string second = getArg(2);
    return !second.empty() && usable(second) && !readsAsLayout(second);
}

}  // namespace

void Tf::FormCreate() {
    phase = 0;
    silent = false;
    picPath = joinArgs();
    run = RunContext{};
    patternCount = 0;
    phase = 1;
    const bool dropped = isDropOfSeveral(picPath);
    if (dropped) picPath = getArg(1);

    if (platform::fileExists(picPath) && extractFileExt(picPath) == ".gif") runGifExport(*this);

    sharedList = std::make_unique<TStringList>();

    if (!usable(picPath)) {
        phase = 2;
        if (!dropped && !getArg(2).empty()) {
            phase = 3;
            PositionalArgs p = readPositional();
            picPath = p.picture;
            run.cursor.perRow = p.perRow;
            run.cursor.perColumn = p.perColumn;
            run.outPath = p.outPath;
            run.pastePath = p.pastePath;
        }
    }
    if (!usable(picPath) && !platform::fileExists(run.pastePath)) {
        if (argumentCount() > 0) reportUnusable(picPath);
        runHelpPath(argumentCount() > 0);
    }

    sharedList->clear();
    run.nameExt = extractFileExt(picPath);
    run.modeExt = extractFileExt(run.outPath.empty() ? picPath : run.outPath);
    if (run.modeExt != ".png" && extractFileExt(picPath) == ".png") run.modeExt = ".png";

    phase = 10;
    if (run.cursor.perRow == 0 && run.cursor.perColumn == 0) askLayout(run.cursor.perRow, run.cursor.perColumn);

    phase = 20;
    readSettings();
    phase = 23;
    applyBackground(*this);

    phase = 24;
    const std::string script = !run.pastePath.empty() ? run.pastePath : extractFilePath(picPath) + "Glumix_paste.ini";
    pasteFound = platform::fileExists(script);
    if (pasteFound) {
        run.pasteScriptBeside = run.pastePath.empty();
        run.pastePath = script;
        runPasteScript(*this);
    }
    runGluing(*this);
}

void Tf::FormActivate() {
    phase = 65000;
    finish();
}

void Tf::FormDestroy() { finish(); }

namespace {

// The error report for anything that left FormCreate; the report itself
// ends in finish().
int report(const std::string& message) {
    try {
        aeException(message);
    } catch (const FinishSignal& done) {
        return done.status;
    } catch (...) {
        // The report could not be shown (output closed): still a failure.
    }
    return kExitError;
}

}  // namespace

int runApplication(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printHelp();
        return kExitDone;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("glumixer %s\n", GLX_VERSION);
        return kExitDone;
    }
    platform::installInterruptCleanup();
    platform::chooseBackend(argc > 0 ? argv[0] : nullptr);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    setArguments(std::move(args));
    platform::randomize();
    registerPngFormat();
    registerGifFormat();
    int status = kExitDone;
    try {
        Tf form;
        f = &form;
        try {
            form.FormCreate();
        } catch (...) {
            f = nullptr;
            throw;
        }
    } catch (const FinishSignal& done) {
        status = done.status;
    } catch (const std::bad_alloc&) {
        status = report("Out of memory");
    } catch (const std::exception& e) {
        status = report(e.what());
    } catch (...) {
        status = report("Unknown error");
    }
    f = nullptr;
    sharedList.reset();
    picPath.clear();
    xmlPath.clear();
    return status;
}

}  // namespace glx::app
