// The data files that game engines and web pages read beside a sheet: the
// JSON hash and array atlases (with several pages, the multi-atlas form),
// the Godot sheet, the libGDX atlas text and CSS sprite classes.
#pragma once

#include <string>
#include <vector>

#include "app/options.h"
#include "app/sheet_frames.h"

namespace glx::app {

// The text of one data file. Names are escaped for the format; where a
// format must change a name (CSS classes, atlas text lines), changed names
// that meet get "~2", "~3"... as the frames' own names do. Lines end with
// LF when lf is set, otherwise CR LF.
std::string atlasDataText(AtlasFormat format, const SheetDescription& sheet, bool lf);

// The data file's name beside the sheet: the sheet's stem with the
// format's extension (".json", ".tpsheet", ".atlas", ".css"). With both
// JSON forms asked for, the array form takes "-array.json".
std::string atlasDataPath(AtlasFormat format, const std::vector<AtlasFormat>& all, const std::string& sheetPath);

// Writes every data file the options ask for beside the sheet, each whole
// through a temporary file renamed over the old one.
// folder: the sheet's folder, opened once (its descriptor), where every data
// file is written; AT_FDCWD writes by the path.
void writeAtlasFiles(const Options& options, const SheetDescription& sheet, const std::string& sheetPath, int folder);

}  // namespace glx::app
