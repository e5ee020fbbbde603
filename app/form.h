// The main form: it is never shown; the whole job runs while it is created
// and every path ends through finish().
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace glx {
class TImage;
}

namespace glx::app {

// The grid layout and the cell/position of the next picture.
struct TGridCursor {
    int32_t perRow = 0;
    int32_t perColumn = 0;
    int32_t col = 0, row = 0;
    int32_t x = 0, y = 0;
    int32_t rowHeight = 0;
    int32_t columnWidth = 0;
};

// Working values of one run, shared by the run modes.
struct RunContext {
    std::string outPath;
    std::string pastePath;
    // The paste script was found beside the picture, not named by the user.
    bool pasteScriptBeside = false;
    std::string modeExt;
    std::string nameExt;
    // The listed folder, where a generated output name goes.
    std::string outputFolder;
    TGridCursor cursor;
};

class Tf {
public:
    Tf();
    ~Tf();

    // Runs the whole job; never returns normally.
    [[noreturn]] void FormCreate();
    [[noreturn]] void FormActivate();
    [[noreturn]] void FormDestroy();

    // Hidden picture holders: i1 holds the picture being placed (or the
    // pattern), i2 the bitmap canvas of gluing (or a fragment).
    std::unique_ptr<TImage> i1;
    std::unique_ptr<TImage> i2;
    RunContext run;
};

// The one form of the process (set while it exists).
extern Tf* f;

// Runs the application: creates the form, runs FormCreate and turns every
// way out (finish, any exception) into the exit status.
int runApplication(int argc, char** argv);

}  // namespace glx::app
