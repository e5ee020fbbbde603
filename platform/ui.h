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
};

// The terminal back-end: messages to standard output (errors to standard
// error), answers read line by line from standard input; end of input
// answers No and Cancel.
std::unique_ptr<UiBackend> makeTerminalBackend();

UiBackend& ui();
void setUi(std::unique_ptr<UiBackend> backend);

}  // namespace glx::platform
