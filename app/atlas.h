// "patterns.xml": one line per glued picture with its name and rectangle,
// appended as the pictures are placed.
#pragma once

#include <memory>
#include <string>

#include "base/line_reader.h"
#include "raster/geometry.h"

namespace glx::app {

struct Run;

// The names file ("patterns.xml.txt"), read once from its start as the
// pictures are named: line k names picture k, so the file is never read
// again for later pictures.
struct NamesFile {
    std::string path;
    std::unique_ptr<LineReader> reader;
    unsigned next = 0;  // index of the line the reader gives next
    bool ended = false;
    std::string last;  // the line of index next - 1, asked for again by the data files
};

// Sets xmlPath in the listed folder, which the listing has made the
// current folder (or to where --patterns puts it), and namesPath beside the
// pictures; absolute, so that they stay there whatever happens next.
void setAtlasPath(Run& run);
// Appends the line for one placement rectangle; an empty rectangle
// (Left = Right and Top = Bottom) appends the closing line. The file gets
// its two header lines when it does not exist yet, and is opened and closed
// for every line. It is written in place, so never through a symbolic link
// and only as a regular file.
void writePattern(Run& run, const TRect& rect);
// The name of picture number index (from 0) from the names file, "" when
// the file is shorter; CR LF, LF or a lone CR end a line. Only a regular
// file inside the pictures' folder is read.
std::string patternName(NamesFile& names, const std::string& namesPath, unsigned index);

}  // namespace glx::app
