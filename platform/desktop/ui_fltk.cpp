#include "platform/desktop/ui_fltk.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/progress.h"

namespace glx::platform {

namespace {

constexpr const char* kCaption = "Glumixer";
constexpr Fl_Font kFont = FL_HELVETICA;
constexpr Fl_Fontsize kFontSize = 14;

// Line ends of the workflow's texts are CR LF; FLTK breaks lines at LF.
// Trailing blanks of each line are dropped: they only widen the box.
std::vector<std::string> textLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') lines.emplace_back();
        else lines.back().push_back(c);
    }
    for (auto& line : lines)
        while (!line.empty() && line.back() == ' ') line.pop_back();
    return lines;
}

size_t utf8Length(const std::string& s, size_t at) {
    const unsigned char c = static_cast<unsigned char>(s[at]);
    size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return std::min(n, s.size() - at);
}

// Breaks the text into lines no wider than maxWidth in the dialog font:
// between words where possible, inside a word (a long path) where not.
std::string wrapText(const std::string& text, int maxWidth) {
    fl_font(kFont, kFontSize);
    std::vector<std::string> done;
    for (const auto& para : textLines(text)) {
        std::string line;
        size_t i = 0;
        while (i < para.size()) {
            size_t end = para.find(' ', i);
            if (end == std::string::npos) end = para.size();
            std::string word = para.substr(i, end - i);
            std::string candidate = line.empty() ? word : line + " " + word;
            if (fl_width(candidate.c_str()) <= maxWidth) {
                line = candidate;
            } else {
                if (!line.empty()) done.push_back(line);
                line.clear();
                // The word alone may still be too wide: cut it by characters.
                size_t k = 0;
                while (k < word.size()) {
                    size_t n = utf8Length(word, k);
                    std::string next = line + word.substr(k, n);
                    if (!line.empty() && fl_width(next.c_str()) > maxWidth) {
                        done.push_back(line);
                        line.clear();
                        continue;
                    }
                    line = next;
                    k += n;
                }
            }
            i = end + 1;
        }
        done.push_back(line);
    }
    std::string out;
    for (size_t k = 0; k < done.size(); ++k) out += (k ? "\n" : "") + done[k];
    return out;
}

// Size of a text in the dialog font, wrapped at maxWidth (0: no wrapping).
// The width gets a little slack: the measured width is rounded down, and a
// box exactly that wide would wrap its last word again.
void measure(const std::string& text, int maxWidth, int& w, int& h) {
    fl_font(kFont, kFontSize);
    w = maxWidth;
    h = 0;
    fl_measure(text.c_str(), w, h, 0);
    w += 2;
}

// Plain text in the dialog font, wrapped at the widget's width. Drawn
// without FLTK's label markup, in which "@" starts a symbol: the texts are
// file names and messages, shown as they are.
class TextBox : public Fl_Widget {
public:
    TextBox(const std::string& text, int x, int y, int w, int h, Fl_Align how = FL_ALIGN_WRAP)
        : Fl_Widget(x, y, w, h), how_(how) {
        copy_label(text.c_str());
    }

    void draw() override {
        fl_push_clip(x(), y(), w(), h());
        fl_font(kFont, kFontSize);
        fl_color(FL_FOREGROUND_COLOR);
        fl_draw(label(), x(), y(), w(), h(), FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | how_, nullptr, 0);
        fl_pop_clip();
    }

private:
    Fl_Align how_;
};

// Centres a window's client area on the primary screen's work area.
void centre(Fl_Window& win) {
    int sx, sy, sw, sh;
    Fl::screen_work_area(sx, sy, sw, sh, 0);
    win.position(sx + (sw - win.w()) / 2, sy + (sh - win.h()) / 2);
}

// The tool has no main window, so a dialog must take the foreground itself:
// ask the window manager to activate it and, when it is mapped, give it the
// keyboard focus directly (needed where no window manager runs).
void bringToFront(Fl_Window& win) {
    Window xid = fl_xid(&win);
    if (!xid || !fl_display) return;
    for (int i = 0; i < 100; ++i) {
        XWindowAttributes attrs;
        if (XGetWindowAttributes(fl_display, xid, &attrs) && attrs.map_state == IsViewable) break;
        Fl::wait(0.01);
    }
    XRaiseWindow(fl_display, xid);
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = xid;
    ev.xclient.message_type = XInternAtom(fl_display, "_NET_ACTIVE_WINDOW", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = 1;  // request from an application
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(fl_display, RootWindow(fl_display, fl_screen), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &ev);
    XWindowAttributes attrs;
    if (XGetWindowAttributes(fl_display, xid, &attrs) && attrs.map_state == IsViewable)
        XSetInputFocus(fl_display, xid, RevertToParent, CurrentTime);
    XFlush(fl_display);
}

// Shows the window modally and returns when it has been hidden.
void runModal(Fl_Window& win) {
    win.set_modal();
    centre(win);
    win.show();
    bringToFront(win);
    while (win.shown()) Fl::wait();
}

// The answer a button stands for: pressing it records the answer and closes.
struct Answer {
    Fl_Window* window = nullptr;
    int value = 0;
};

struct ButtonAnswer {
    Answer* answer;
    int value;
};

void onButton(Fl_Widget*, void* data) {
    auto* b = static_cast<ButtonAnswer*>(data);
    b->answer->value = b->value;
    b->answer->window->hide();
}

// The round icon of a message box: error, question or information.
class IconBox : public Fl_Widget {
public:
    IconBox(int x, int y, int size, unsigned kind) : Fl_Widget(x, y, size, size), kind_(kind) {}

    void draw() override {
        const Fl_Color fill = kind_ == kMbIconError ? fl_rgb_color(0xD0, 0x20, 0x20) : fl_rgb_color(0x20, 0x60, 0xC0);
        fl_color(fill);
        fl_pie(x(), y(), w(), h(), 0, 360);
        fl_color(FL_WHITE);
        if (kind_ == kMbIconError) {
            const int m = w() / 3;
            fl_line_style(FL_SOLID, std::max(2, w() / 10));
            fl_line(x() + m, y() + m, x() + w() - m, y() + h() - m);
            fl_line(x() + w() - m, y() + m, x() + m, y() + h() - m);
            fl_line_style(0);
        } else {
            fl_font(FL_HELVETICA_BOLD, h() * 2 / 3);
            fl_draw(kind_ == kMbIconQuestion ? "?" : "i", x(), y(), w(), h(), FL_ALIGN_CENTER);
        }
    }

private:
    unsigned kind_;
};

void startDetached(const std::string& program, const std::string& argument) {
    // Two forks: the middle child exits at once and is reaped here, the
    // viewer is adopted by init, so neither waits nor leaves a zombie.
    pid_t child = ::fork();
    if (child < 0) return;
    if (child == 0) {
        pid_t viewer = ::fork();
        if (viewer == 0) {
            ::setsid();
            int nul = ::open("/dev/null", O_RDWR);
            if (nul >= 0) {
                ::dup2(nul, STDIN_FILENO);
                ::dup2(nul, STDOUT_FILENO);
                ::dup2(nul, STDERR_FILENO);
            }
            ::execlp(program.c_str(), program.c_str(), argument.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

class ProgressWindow {
public:
    ProgressWindow() : window_(320, 72, kCaption), label_("", 12, 8, 296, 20, FL_ALIGN_CLIP), bar_(12, 34, 296, 24) {
        bar_.selection_color(fl_rgb_color(0x20, 0x60, 0xC0));
        bar_.minimum(0);
        window_.end();
        window_.xclass("glumixer");
        centre(window_);
    }

    void update(int done, int total, const std::string& name) {
        counter_ = std::to_string(done) + "/" + std::to_string(total);
        if (label_.label() != name) {
            label_.copy_label(name.c_str());
            window_.redraw();
        }
        bar_.maximum(static_cast<float>(std::max(total, 1)));
        bar_.value(static_cast<float>(std::clamp(done, 0, std::max(total, 1))));
        bar_.label(counter_.c_str());
        if (!window_.shown()) window_.show();
        Fl::check();
    }

    void hide() {
        window_.hide();
        Fl::check();
    }

private:
    Fl_Double_Window window_;
    TextBox label_;
    Fl_Progress bar_;
    std::string counter_;
};

class FltkBackend : public UiBackend {
public:
    FltkBackend() { Fl::scheme("gtk+"); }

    int messageBox(const std::string& caption, const std::string& text, unsigned flags) override {
        hideProgress();
        const CharSize cs = aveCharSize();
        const bool yesNo = (flags & 0x0F) == kMbYesNo;
        const unsigned icon = flags & 0xF0;
        const bool hasIcon = icon == kMbIconError || icon == kMbIconQuestion || icon == kMbIconInformation;

        int sx, sy, sw, sh;
        Fl::screen_work_area(sx, sy, sw, sh, 0);
        const std::string shown = wrapText(text, std::max(200, sw / 2));
        const int margin = mulDiv(10, cs.cx, 4);
        const int iconSize = 32;
        int tw = 0, th = 0;
        measure(shown, 0, tw, th);
        const int textLeft = hasIcon ? margin + iconSize + margin : margin;
        const int bodyHeight = std::max(hasIcon ? iconSize : 0, th);
        const int buttonW = mulDiv(50, cs.cx, 4);
        const int buttonH = mulDiv(14, cs.cy, 8);
        const int gap = mulDiv(6, cs.cx, 4);
        const int buttons = yesNo ? 2 : 1;
        const int rowWidth = buttons * buttonW + (buttons - 1) * gap;
        const int width = std::max({textLeft + tw + margin, rowWidth + 2 * margin, mulDiv(120, cs.cx, 4)});
        const int buttonTop = margin + bodyHeight + margin;
        const int height = buttonTop + buttonH + margin;

        Fl_Double_Window win(width, height, caption.c_str());
        win.xclass("glumixer");
        Answer answer{&win, yesNo ? kIdNo : kIdOk};
        if (hasIcon) new IconBox(margin, margin + std::max(0, (bodyHeight - iconSize) / 2), iconSize, icon);
        new TextBox(shown, textLeft, margin + std::max(0, (bodyHeight - th) / 2), tw, th);
        int left = (width - rowWidth) / 2;
        ButtonAnswer first{&answer, yesNo ? kIdYes : kIdOk};
        ButtonAnswer second{&answer, kIdNo};
        auto* b1 = new Fl_Return_Button(left, buttonTop, buttonW, buttonH, yesNo ? "&Yes" : "OK");
        b1->callback(onButton, &first);
        if (yesNo) {
            auto* b2 = new Fl_Button(left + buttonW + gap, buttonTop, buttonW, buttonH, "&No");
            b2->callback(onButton, &second);
        }
        win.end();
        // Escape and closing the window answer OK for a plain message and
        // No for a question.
        win.callback(
            [](Fl_Widget*, void* data) {
                auto* a = static_cast<Answer*>(data);
                a->window->hide();
            },
            &answer);
        runModal(win);
        return answer.value;
    }

    bool inputQuery(const std::string& caption, const std::string& prompt, std::string& value) override {
        hideProgress();
        const CharSize cs = aveCharSize();
        const int editHeight = cs.cy + 8;
        int lw = 0, lh = 0;
        measure(prompt, mulDiv(164, cs.cx, 4), lw, lh);
        const QueryLayout lay = layoutQuery(cs, lh, editHeight);

        Fl_Double_Window win(lay.clientWidth, lay.clientHeight, caption.c_str());
        win.xclass("glumixer");
        new TextBox(prompt, lay.label.x, lay.label.y, lw, lay.label.h);
        auto* edit = new Fl_Input(lay.edit.x, lay.edit.y, lay.edit.w, lay.edit.h);
        edit->textfont(kFont);
        edit->textsize(kFontSize);
        edit->maximum_size(255);
        edit->value(value.substr(0, 255).c_str());
        edit->position(edit->size(), 0);  // all of it selected
        Answer answer{&win, kIdCancel};
        ButtonAnswer ok{&answer, kIdOk};
        ButtonAnswer cancel{&answer, kIdCancel};
        auto* okButton = new Fl_Return_Button(lay.ok.x, lay.ok.y, lay.ok.w, lay.ok.h, "OK");
        okButton->callback(onButton, &ok);
        auto* cancelButton = new Fl_Button(lay.cancel.x, lay.cancel.y, lay.cancel.w, lay.cancel.h, "Cancel");
        cancelButton->shortcut(FL_Escape);
        cancelButton->callback(onButton, &cancel);
        win.end();
        win.callback([](Fl_Widget*, void* data) { static_cast<Answer*>(data)->window->hide(); }, &answer);
        win.set_modal();
        centre(win);
        win.show();
        edit->take_focus();
        edit->position(edit->size(), 0);
        bringToFront(win);
        while (win.shown()) Fl::wait();
        if (answer.value != kIdOk) return false;
        value = edit->value();
        return true;
    }

    void openDocument(const std::string& path) override { startDetached("xdg-open", path); }

    void progress(int done, int total, const std::string& name) override {
        if (!gate_.due(monotonicSeconds(), done, total)) return;
        if (!window_) window_ = std::make_unique<ProgressWindow>();
        window_->update(done, total, name);
    }

    void progressEnd() override {
        window_.reset();
        gate_.reset();
        Fl::check();
    }

private:
    void hideProgress() {
        if (window_) window_->hide();
    }

    ProgressGate gate_{0.5, 0.05};
    std::unique_ptr<ProgressWindow> window_;
};

// The executable that links this back-end offers it to the start-up choice.
const bool registered = (registerDesktopBackend(&makeDesktopBackend), true);

}  // namespace

QueryLayout layoutQuery(CharSize size, int labelHeight, int editHeight) {
    const int cx = size.cx, cy = size.cy;
    QueryLayout l;
    l.clientWidth = mulDiv(180, cx, 4);
    l.labelMaxWidth = mulDiv(164, cx, 4);
    l.label = Frame{mulDiv(8, cx, 4), mulDiv(8, cy, 8), l.labelMaxWidth, labelHeight};
    l.edit = Frame{l.label.x, l.label.y + l.label.h + 5, mulDiv(164, cx, 4), editHeight};
    const int buttonTop = l.edit.y + l.edit.h + 15;
    const int buttonW = mulDiv(50, cx, 4);
    const int buttonH = mulDiv(14, cy, 8);
    l.ok = Frame{mulDiv(38, cx, 4), buttonTop, buttonW, buttonH};
    l.cancel = Frame{mulDiv(92, cx, 4), buttonTop, buttonW, buttonH};
    l.clientHeight = l.cancel.y + l.cancel.h + 13;
    return l;
}

CharSize aveCharSize() {
    fl_font(kFont, kFontSize);
    const int measured = static_cast<int>(fl_width("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return CharSize{measured / 52, fl_height()};
}

std::unique_ptr<UiBackend> makeDesktopBackend() {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return nullptr;
    // Opened here rather than by FLTK, which ends the process when it fails.
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    fl_open_display(display);
    return std::make_unique<FltkBackend>();
}

}  // namespace glx::platform
