// The run modes FormCreate chooses between.
#pragma once

namespace glx::app {

class Tf;

[[noreturn]] void runGifExport(Tf& form);
[[noreturn]] void runPasteScript(Tf& form);
[[noreturn]] void runGluing(Tf& form);
// Puts the background colour on the brushes of both holders' canvases.
void applyBackground(Tf& form);

}  // namespace glx::app
