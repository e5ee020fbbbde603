// "patterns.xml": one line per glued picture with its name and rectangle,
// appended as the pictures are placed.
#pragma once

#include <string>

#include "raster/geometry.h"

namespace glx::app {

// Sets xmlPath for the listed folder (picPath is the folder by then).
void setAtlasPath();
// Appends the line for one placement rectangle; an empty rectangle
// (Left = Right and Top = Bottom) appends the closing line. The file gets
// its two header lines when it does not exist yet, and is opened and closed
// for every line.
void writePattern(const TRect& rect);
// The name of picture number index (from 0) from the names file, "" when
// the file is shorter; lines end at CR LF or LF.
std::string patternName(const std::string& namesPath, unsigned index);

}  // namespace glx::app
