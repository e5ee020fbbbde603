// The desktop back-end of the message and dialog interface: real modal
// windows on the X display. Linked only into the executables; the program
// uses it when started as "glumixer-gui" and a display can be opened.
#pragma once

#include "base/arith.h"

#include <memory>

#include "platform/ui.h"

namespace glx::platform {

// nullptr when no X display can be opened.
std::unique_ptr<UiBackend> makeDesktopBackend();

// The dialog font's average character size: the width of "A".."Z" "a".."z"
// divided by 52 (integer division) and the font's line height. Needs an
// open display.
struct CharSize {
    int cx = 0;
    int cy = 0;
};
CharSize aveCharSize();

struct Frame {
    int x = 0, y = 0, w = 0, h = 0;
};

// The input dialog's client area, from the character size, the prompt's
// wrapped height and the edit box's height.
struct QueryLayout {
    int clientWidth = 0;
    int clientHeight = 0;
    int labelMaxWidth = 0;
    Frame label;  // w is the maximum width
    Frame edit;
    Frame ok;
    Frame cancel;
};
QueryLayout layoutQuery(CharSize size, int labelHeight, int editHeight);

}  // namespace glx::platform
