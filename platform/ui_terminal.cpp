#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "base/stream.h"
#include "base/strutil.h"
#include "platform/progress.h"
#include "platform/ui.h"

namespace glx::platform {

namespace {

std::string trimRight(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    return text;
}

// A message as terminal lines: CR LF, LF or a lone CR end a line, and no
// line keeps trailing blanks (CR LF belongs to the tool's text files).
std::string terminalLines(const std::string& text) {
    std::string out, line;
    auto endLine = [&] {
        out += trimRight(line);
        out += '\n';
        line.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            endLine();
        } else {
            line.push_back(c);
        }
    }
    line = trimRight(line);
    if (!line.empty() || out.empty()) endLine();
    return out;
}

// One line from standard input without its line end; false at the end of input.
bool readLine(std::string& line) {
    std::fflush(stdout);
    line.clear();
    int c;
    bool any = false;
    while ((c = std::getchar()) != EOF) {
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

// When answers are piped in, they are not echoed by a terminal: the tool
// writes them after the prompt itself, so the transcript reads as lines.
bool inputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

// Prints a prompt, reads the answer and finishes the line.
bool ask(const std::string& prompt, std::string& answer) {
    const bool terminal = inputIsTerminal();
    std::fputs(terminal ? (prompt + " ").c_str() : prompt.c_str(), stdout);
    const bool got = readLine(answer);
    if (!terminal) {
        if (got && !answer.empty()) std::fputs((" " + printableText(answer)).c_str(), stdout);
        std::fputc('\n', stdout);
    } else if (!got) {
        std::fputc('\n', stdout);
    }
    std::fflush(stdout);
    return got;
}

int terminalColumns() {
    winsize ws{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

class TerminalBackend : public UiBackend {
public:
    int messageBox(const std::string&, const std::string& text, unsigned flags) override {
        clearProgressLine();
        std::string shown = terminalLines(text);
        if ((flags & 0x0F) == kMbYesNo) {
            shown.pop_back();  // the question and its answer share the last line
            std::string answer;
            ask(shown + " [y/N]", answer);
            std::string a;
            for (char ch : answer) a.push_back(static_cast<char>((ch >= 'A' && ch <= 'Z') ? ch + 32 : ch));
            return (a == "y" || a == "yes") ? kIdYes : kIdNo;
        }
        std::FILE* out = (flags & 0xF0) == kMbIconError ? stderr : stdout;
        std::fputs(shown.c_str(), out);
        std::fflush(out);
        return kIdOk;
    }

    bool inputQuery(const std::string&, const std::string& prompt, std::string& value) override {
        clearProgressLine();
        std::string line;
        if (!ask(trimRight(prompt + "[" + value + "]"), line)) return false;
        if (!line.empty()) value = line;
        return true;
    }

    void openDocument(const std::string& path) override {
        clearProgressLine();
        try {
            auto bytes = readWholeFile(path);
            std::fwrite(bytes.data(), 1, bytes.size(), stdout);
            std::fflush(stdout);
        } catch (...) {
            // Showing the document is best effort, like starting a viewer.
        }
    }

    // One line on standard error that overwrites itself; only on a terminal,
    // so piped or redirected output never carries it.
    void progress(int done, int total, const std::string& name) override {
        if (!onTerminal_) return;
        if (!gate_.due(monotonicSeconds(), done, total)) return;
        std::string line(1, '\r');
        line += progressText(done, total, name, terminalColumns() - 1);
        line += "\033[K";
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        lineShown_ = true;
    }

    void progressEnd() override {
        clearProgressLine();
        gate_.reset();
    }

private:
    void clearProgressLine() {
        if (!lineShown_) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        lineShown_ = false;
    }

    bool onTerminal_ = ::isatty(STDERR_FILENO) == 1;
    bool lineShown_ = false;
    ProgressGate gate_{0.5, 0.1};
};

std::unique_ptr<UiBackend>& current() {
    static std::unique_ptr<UiBackend> backend;
    return backend;
}

}  // namespace

std::unique_ptr<UiBackend> makeTerminalBackend() { return std::make_unique<TerminalBackend>(); }

UiBackend& ui() {
    auto& b = current();
    if (!b) b = makeTerminalBackend();
    return *b;
}

void setUi(std::unique_ptr<UiBackend> backend) { current() = std::move(backend); }

namespace {

DesktopFactory& desktopFactory() {
    static DesktopFactory factory = nullptr;
    return factory;
}

}  // namespace

void registerDesktopBackend(DesktopFactory factory) { desktopFactory() = factory; }

void chooseBackend(const char* argv0) {
    std::string name = argv0 ? argv0 : "";
    const size_t slash = name.rfind('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    std::unique_ptr<UiBackend> backend;
    if (name == "glumixer-gui" && desktopFactory()) backend = desktopFactory()();
    setUi(backend ? std::move(backend) : makeTerminalBackend());
}

}  // namespace glx::platform
