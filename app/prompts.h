// Messages, the input dialog, the layout questions and the settings file.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui.h"
#include "raster/color.h"

namespace glx {
class LineReader;
}

namespace glx::app {

struct Run;

// The message flags the tool passes: error icon and OK (16), question icon
// with Yes and No (36), information icon and OK (64).
constexpr unsigned kMbError = platform::kMbIconError;
constexpr unsigned kMbQuestion = platform::kMbIconQuestion | platform::kMbYesNo;
constexpr unsigned kMbInformation = platform::kMbIconInformation;

// Every message of the tool goes through here: the text with three blanks
// appended, caption "Glumixer", system-modal. Returns the button pressed.
int showMsg(Run& run, const std::string& text, unsigned flags);
bool queryText(Run& run, const std::string& caption, const std::string& prompt, std::string& value);
// The default when the dialog is cancelled; an empty caption means "Glumixer".
std::string inputText(Run& run, const std::string& caption, const std::string& prompt, const std::string& def);

// Asks "Use vertical placement?" and the count; sets one of the run's
// perRow and perColumn.
void askLayout(Run& run);

// Reads the background colour from "Glumix.ini" beside the opened picture
// into the run's bgColor (white without one).
void readSettings(Run& run);
// The settings file's path for an opened picture or folder.
std::string settingsPath(const std::string& opened);

// The first line of a settings file beside the picture ("Glumix.ini",
// "gif_filter.txt"): only a regular file inside its folder is read (a link
// that leads out of the folder is refused, naming the file), and only up to
// its first line end, cut after maxLength bytes (settings files are read
// only as far as needed). A file without lines raises the list's index
// error "List index out of bounds (0)".
std::string firstLineOfSetting(const std::string& path, size_t maxLength);
// Refuses (EFOpenError naming the file) a file whose real place, links
// resolved, is not inside the folder it was named in, or that has other
// names (hard links) besides.
void requireInsideFolder(const LineReader& file);

uint8_t hexDigit(uint8_t c);
int64_t intPower(int64_t base, int exponent);
// Eight hexadecimal digits (shorter text padded with leading zeros), most
// significant first, giving the colour value with red in the low byte.
TColor parseColor(uint16_t& phase, const std::string& text);

}  // namespace glx::app
