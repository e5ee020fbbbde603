// Filling the sheet description as gluing places pictures, and writing the
// data files once the sheet is saved. Used by every gluing layout.
#pragma once

#include <cstdint>
#include <string>

#include "app/options.h"

namespace glx::app {

struct Run;

// Whether the options need frame names at all (data files, --names,
// --animations); without them gluing describes nothing.
bool describesFrames(const Options& options);
// Starts a new page of the description.
void beginSheetPage(Run& run);
// Names picture fileName (the names file's line first, then the file name
// or its stem, made unique), records its rectangle on the current page and
// leaves the name in placedName for "patterns.xml".
void describeFrame(Run& run, const std::string& fileName, int32_t x, int32_t y, int32_t w, int32_t h);
// Gives the current page its file and size.
void settleSheetPage(Run& run, const std::string& imagePath, int32_t width, int32_t height, bool alpha);
// Groups the animations when asked and writes the data files beside the
// first page's sheet.
void finishSheet(Run& run, const std::string& sheetPath);
// Refuses (before anything is glued) an output named like one of its own
// data files ("sheet.json" with --atlas=json).
void requireDataFilesApart(const Run& run);

// Refuses (EFOpenError naming it) a picture whose real place, links
// resolved, lies outside folder ("" for the current folder), unless the
// options allow it. A path that cannot be resolved is left to fail where
// it is read.
void requirePictureInside(const Run& run, const std::string& path, const std::string& folder);

}  // namespace glx::app
