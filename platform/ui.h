// Messages, questions and the input dialog. The workflow talks to the user
// only through this interface; which back-end answers (terminal or desktop
// windows) is decided once at start-up.
#pragma once

#include <memory>
#include <string>

namespace glx::platform {

// Message box flags as the workflow passes them.
constexpr unsigned kMbOk = 0x00;
constexpr unsigned kMbYesNo = 0x04;
constexpr unsigned kMbIconError = 0x10;
constexpr unsigned kMbIconQuestion = 0x20;
constexpr unsigned kMbIconInformation = 0x40;
constexpr unsigned kMbSystemModal = 0x1000;
// Button identifiers a message box returns.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

class UiBackend {
public:
    virtual ~UiBackend() = default;
    // Shows text with the caption, icon and buttons the flags ask for and
    // returns the identifier of the button pressed.
    virtual int messageBox(const std::string& caption, const std::string& text, unsigned flags) = 0;
    // The input dialog: value is the initial text and, on OK, the answer.
    virtual bool inputQuery(const std::string& caption, const std::string& prompt, std::string& value) = 0;
    // Shows a text file to the user without waiting (the help text).
    virtual void openDocument(const std::string& path) = 0;
    // Progress of a long loop: done of total items finished, name the item
    // under way. Back-ends show it only when a run lasts long enough to be
    // worth it and redraw at a limited rate, so calling it once per item is
    // cheap. progressEnd removes whatever was shown.
    virtual void progress(int done, int total, const std::string& name) {
        (void)done;
        (void)total;
        (void)name;
    }
    virtual void progressEnd() {}
};

// The terminal back-end: messages to standard output (errors to standard
// error), answers read line by line from standard input; end of input
// answers No and Cancel.
std::unique_ptr<UiBackend> makeTerminalBackend();

UiBackend& ui();
void setUi(std::unique_ptr<UiBackend> backend);

// A desktop back-end linked into the executable registers its factory here;
// the factory gives nullptr when no display can be opened.
using DesktopFactory = std::unique_ptr<UiBackend> (*)();
void registerDesktopBackend(DesktopFactory factory);

// Picks the back-end once at start-up from the name the program was started
// by: "glumixer-gui" asks for the desktop back-end and falls back to the
// terminal when none is linked in or no display is available.
void chooseBackend(const char* argv0);

}  // namespace glx::platform
