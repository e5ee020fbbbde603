// One run of the tool: everything its steps share, from the command line
// to the canvases. The form hands it to each run mode; run modes return the
// process's exit status, and the error report reads the phase the run had
// reached when something failed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/atlas.h"
#include "app/canvas_growth.h"
#include "app/frame_names.h"
#include "app/options.h"
#include "app/sheet_frames.h"
#include "base/limits.h"
#include "base/stream.h"
#include "base/string_list.h"
#include "platform/fs.h"
#include "raster/color.h"

namespace glx {
class TPNGObject;
}

namespace glx::app {

// Exit statuses of the process.
constexpr int kExitDone = 0;
constexpr int kExitError = 1;
constexpr int kExitHelpWithArguments = 2;

// The grid layout and the cell/position of the next picture.
struct TGridCursor {
    int32_t perRow = 0;
    int32_t perColumn = 0;
    int32_t col = 0, row = 0;
    int32_t x = 0, y = 0;
    int32_t rowHeight = 0;
    int32_t columnWidth = 0;
};

struct Run {
    // arguments: after the program name, as the shell delivered them.
    explicit Run(std::vector<std::string> arguments);
    ~Run();
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // The step under way; shown by the error report as "Tech code: #".
    uint16_t phase = 0;
    // Suppresses the closing success messages.
    bool silent = false;
    // The opened picture; later its folder; during gluing and pasting the
    // picture being placed.
    std::string picPath;
    // One list reused for the settings, the paste script and the folder
    // listing.
    TStringList sharedList;
    TColor bgColor = clWhite;
    // The RGBA canvas of gluing and of a PNG pattern, and the PNG picture
    // being placed.
    std::unique_ptr<TPNGObject> pngCanvas;
    std::unique_ptr<TPNGObject> pngFragment;
    uint16_t patternCount = 0;
    std::string xmlPath;
    // The names file beside the pictures ("patterns.xml.txt").
    std::string namesPath;
    bool pasteFound = false;

    // Working values of the run modes.
    std::string outPath;
    std::string pastePath;
    // The paste script was found beside the picture, not named by the user.
    bool pasteScriptBeside = false;
    std::string modeExt;
    std::string nameExt;
    // The listed folder, where a generated output name goes.
    std::string outputFolder;
    // The folders the run writes into, each opened once: the picture's
    // (the listed folder, the pattern's folder, the GIF's export folder)
    // and the result's (a named OUTPUT's folder, or the listed folder).
    platform::Folder folder;
    platform::Folder outFolder;
    TGridCursor cursor;

    // The command line after the program name, without the options.
    std::vector<std::string> arguments;
    // The options in force, and those the command line gave (they win over
    // the options file).
    Options options;
    std::vector<OptionSetting> givenOptions;
    // The limits and checks every picture and settings file is read under.
    ReadOptions read;
    // The names file of the atlas, read once as pictures are named.
    NamesFile names;
    // The run's lines for "patterns.xml", appended once the sheet is saved.
    std::string atlasBlock;
    // Gluing's RGBA canvas: its logical size while its memory grows ahead
    // (absent for a canvas that grows one step at a time).
    std::unique_ptr<CanvasGrowth> rgbaGrowth;

    // What the data files of the sheet describe, filled as pictures are
    // placed when options ask for frame names.
    SheetDescription sheet;
    UniqueNames usedNames;
    // The frame name of the picture placed last.
    std::string placedName;
};

// The file path names inside folder, which the run opened for it; the path
// stays for messages. A folder that could not be opened fails as creating
// the file there would: EFCreateError naming the file and the reason.
FileAt fileIn(const platform::Folder& folder, const std::string& path);

// Ends a run mode: removes the progress display, empties the shared list
// and gives the exit status for the mode to return.
int finish(Run& run, int status = kExitDone);

}  // namespace glx::app
