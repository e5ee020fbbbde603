// Messages, the input dialog, the layout questions and the settings file.
#pragma once

#include <cstdint>
#include <string>

#include "raster/color.h"

namespace glx::app {

// Every message of the tool goes through here: the text with three blanks
// appended, caption "Glumixer", system-modal. Returns the button pressed.
int showMsg(const std::string& text, unsigned flags);
bool queryText(const std::string& caption, const std::string& prompt, std::string& value);
// The default when the dialog is cancelled; an empty caption means "Glumixer".
std::string inputText(const std::string& caption, const std::string& prompt, const std::string& def);

// Asks "Use vertical placement?" and the count; sets one of the two.
void askLayout(int32_t& perRow, int32_t& perColumn);

// Reads the background colour from "Glumix.ini" beside the opened picture
// into bgColor (white without one).
void readSettings();
// The settings file's path for an opened picture or folder.
std::string settingsPath(const std::string& opened);

uint8_t hexDigit(uint8_t c);
int64_t intPower(int64_t base, int exponent);
// Eight hexadecimal digits (shorter text padded with leading zeros), most
// significant first, giving the colour value with red in the low byte.
TColor parseColor(const std::string& text);

}  // namespace glx::app
