// "patterns.xml": one line per glued picture with its name and rectangle.
// A run collects its lines as the pictures are placed and appends them as
// one block once its sheet is saved.
#pragma once

#include <memory>
#include <string>

#include "base/line_reader.h"
#include "base/stream.h"
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
// Adds the line for one placement rectangle to the run's block; an empty
// rectangle (Left = Right and Top = Bottom) adds the closing line. The
// first call of a run checks that the file could be written, so that a
// run that could not record its pictures fails before it glues them.
void writePattern(Run& run, const TRect& rect);
// Appends the run's block once its sheet is saved (see appendAtlasBlock).
void commitAtlas(Run& run);
// Appends text to the file in one write under an exclusive lock, preceded
// by the two header lines when the file is missing or empty; the header is
// decided under the lock, so runs at once neither interleave nor both write
// it. A write that fails takes back what it wrote, leaving the file as it
// was. The file is written in place, so never through a symbolic link and
// only as a regular file.
void appendAtlasBlock(const FileAt& file, const std::string& text, const std::string& header);
// The name of picture number index (from 0) from the names file, "" when
// the file is shorter; CR LF, LF or a lone CR end a line. Only a regular
// file inside the pictures' folder is read, and a line longer than the
// settings line cap is an error naming the file.
std::string patternName(NamesFile& names, const std::string& namesPath, unsigned index, size_t maxLine);
// A name as an attribute value: & < > " become entities, a tab &#9;. Other
// control characters have no place in XML: EInOutError naming the names
// file and the line.
std::string xmlAttribute(const std::string& name, const std::string& namesPath, unsigned index);

}  // namespace glx::app
