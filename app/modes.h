// The run modes FormCreate chooses between; each gives the exit status.
#pragma once

namespace glx::app {

class Tf;

int runGifExport(Tf& form);
int runPasteScript(Tf& form);
int runGluing(Tf& form);
// Gluing when a layout option asks for more than the grid (padding, trim,
// packing...): the sources are collected, the rest is the layout engine's.
int runLayoutGluing(Tf& form);
// Puts the background colour on the brushes of both holders' canvases.
void applyBackground(Tf& form);

}  // namespace glx::app
