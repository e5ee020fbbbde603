// The options taken from the front of the command line ("--name=value",
// ended by "--") and from "Glumix_options.ini" beside the picture (the same
// names without the dashes, one "key=value" a line). Every option is
// opt-in: with none given, a run is what it was without them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace glx::app {

// Data files written beside the sheet, with the sheet's stem.
enum class AtlasFormat { Json, JsonArray, Godot, LibGdx, Css };
// Order in which a folder's pictures are glued.
enum class SortOrder { Alphabetical, Natural };
// How a frame is named in the data files when the names file gives none.
enum class FrameNames { FileName, Stem };
// Where pictures go on the sheet.
enum class PackMode { Grid, MaxRects };
// Grid cells: as the described grid grows them, or all of the largest size.
enum class CellMode { Natural, Max };
// Where a picture sits inside a larger uniform cell.
enum class CellAlign { TopLeft, Center, Bottom };
// How GIF frames are composed.
enum class Compose { Described, Browser };

// The options that change where and how pictures are placed on a sheet.
struct LayoutOptions {
    int32_t padding = 0;  // pixels between frames
    int32_t border = 0;  // pixels around the sheet
    int32_t extrude = 0;  // edge pixels repeated around each frame
    bool pot = false;  // both sides powers of two
    CellMode cell = CellMode::Natural;
    CellAlign align = CellAlign::TopLeft;
    bool trim = false;  // cut transparent borders
    bool alias = false;  // identical pictures placed once
    PackMode pack = PackMode::Grid;
    int32_t maxSize = 4096;  // largest side of one sheet when packing

    // Whether any option asks for more than the described grid.
    bool any() const {
        return padding != 0 || border != 0 || extrude != 0 || pot || cell != CellMode::Natural || trim || alias ||
               pack != PackMode::Grid;
    }
};

struct Options {
    std::vector<AtlasFormat> atlas;  // data files to write, in order given
    FrameNames names = FrameNames::FileName;
    bool namesGiven = false;  // --names given: "patterns.xml" uses the frame names too
    SortOrder sort = SortOrder::Alphabetical;
    LayoutOptions layout;
    bool patternsNone = false;  // --patterns=none: no "patterns.xml"
    std::string patternsPath;  // --patterns=PATH: "patterns.xml" there instead
    bool newlineLf = false;  // text files end their lines with LF, not CR LF
    bool animations = false;  // names ending in a number grouped into animations
    bool allowOutside = false;  // pictures and fragments may lie outside the folder

    // GIF export.
    bool sheet = false;  // frames glued into one sheet with a data file
    bool gifMeta = false;  // "frames.json" beside "delays.txt"
    Compose compose = Compose::Described;
    bool apng = false;  // an animated PNG of the animation
};

// One option as it was given: its key (the name without dashes) and its
// value, absent for a flag given alone ("--trim").
struct OptionSetting {
    std::string key;
    std::optional<std::string> value;
};

// Applies one setting. On a bad setting returns what the message after
// the option should say (the accepted values, or the known options for
// an unknown key) and leaves options unchanged where it was refused.
std::optional<std::string> applyOption(Options& options, const OptionSetting& setting);
// Whether key names an option.
bool isOptionKey(const std::string& key);
// "--key=value" or "--key" read as a setting ("" key for text without the
// two dashes).
OptionSetting parseOptionText(const std::string& text);

// What the front of the command line asked for.
enum class FrontAction { Run, Help, Version, Error };
struct FrontOptions {
    FrontAction action = FrontAction::Run;
    std::vector<OptionSetting> given;  // in the order given
    std::string errorLine;  // FrontAction::Error: the line for standard error
};
// Takes the options from the front of arguments (removed from it): while
// an argument starts with "--"; a lone "--" ends them and is removed too.
// An argument that starts with "--" but is no option and names an existing
// file or folder ends them as well, so such a picture still opens as it
// always did. The settings come back applied to options.
FrontOptions takeFrontOptions(std::vector<std::string>& arguments, Options& options);

// The help lines of every option, one a line, LF ends.
std::string optionsHelp();

// The options file beside a picture.
constexpr const char* kOptionsFileName = "Glumix_options.ini";
// Reads an options file: "key=value" or "key" a line, "#" starts a comment
// line, blank lines skipped. Only a regular file inside its folder with one
// link is read, lines no longer than the settings line cap. An unknown key
// or a bad value is an EInOutError naming the file and the key.
std::vector<OptionSetting> readOptionsFile(const std::string& path, size_t maxLine);

struct Run;
// Reads the options file in folder (a path ending in "/", or "" for the
// current folder) when there is one: its settings, then the command line's
// on top, become the run's options.
void readOptionsBeside(Run& run, const std::string& folder);

}  // namespace glx::app
