// Process-wide state of the workflow: the phase code, the silent flag, the
// picture being worked on, the shared line list and the composition canvases.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/string_list.h"
#include "raster/color.h"

namespace glx {
class TPNGObject;
}

namespace glx::app {

// The step under way; shown by the error report as "Tech code: #".
extern uint16_t phase;
// Suppresses the closing success messages.
extern bool silent;
// The opened picture; later its folder; during gluing and pasting the
// picture being placed.
extern std::string picPath;
// One list reused for the help text, the settings, the paste script and the
// folder listing; absent until the GIF test has passed.
extern std::unique_ptr<TStringList> sharedList;
extern TColor bgColor;
// The RGBA canvas of gluing and of a PNG pattern, and the PNG picture being
// placed.
extern std::unique_ptr<TPNGObject> pngCanvas;
extern std::unique_ptr<TPNGObject> pngFragment;
extern uint16_t patternCount;
extern std::string xmlPath;
extern bool pasteFound;

// Exit statuses of the process.
constexpr int kExitDone = 0;
constexpr int kExitError = 1;
constexpr int kExitHelpWithArguments = 2;

// Thrown by finish() and caught in main, so that every object on the way
// is destroyed and every file closed before the process ends.
struct FinishSignal {
    int status;
};

// Frees the shared list and ends the run with the given exit status.
[[noreturn]] void finish(int status = kExitDone);

}  // namespace glx::app
