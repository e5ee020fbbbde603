// The desktop back-end's windows on a private X display: what they show,
// where their controls sit, and that keys typed by a user come back as the
// answers.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Window.H>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "gui/xsession.h"
#include "platform/desktop/ui_fltk.h"
#include "platform/ui.h"

using namespace glx;
using namespace glxtest;

namespace {

struct Control {
    std::string kind;  // "button", "input" or "other"
    std::string label;
    int x = 0, y = 0, w = 0, h = 0;
};

// What the open dialog looked like from inside, recorded on the FLTK thread
// while the dialog ran its modal loop.
struct Snapshot {
    bool taken = false;
    std::string caption;
    int width = 0, height = 0;
    std::vector<Control> controls;
    std::string inputValue;
    int inputPosition = -1, inputMark = -1;
    std::string allText;
};

struct Inspector {
    std::mutex lock;
    Snapshot shot;
    std::atomic<bool> done{false};
    int ticks = 0;
};

void inspect(void* data) {
    auto* in = static_cast<Inspector*>(data);
    Fl_Window* win = Fl::first_window();
    if (win && win->shown()) {
        std::lock_guard<std::mutex> g(in->lock);
        if (!in->shot.taken) {
            Snapshot& s = in->shot;
            s.taken = true;
            s.caption = win->label() ? win->label() : "";
            s.width = win->w();
            s.height = win->h();
            for (int i = 0; i < win->children(); ++i) {
                Fl_Widget* w = win->child(i);
                Control c;
                c.label = w->label() ? w->label() : "";
                c.x = w->x();
                c.y = w->y();
                c.w = w->w();
                c.h = w->h();
                if (auto* input = dynamic_cast<Fl_Input*>(w)) {
                    c.kind = "input";
                    s.inputValue = input->value();
                    s.inputPosition = input->position();
                    s.inputMark = input->mark();
                } else if (dynamic_cast<Fl_Button*>(w)) {
                    c.kind = "button";
                } else {
                    c.kind = "other";
                    s.allText += c.label;
                }
                s.controls.push_back(c);
            }
        }
    }
    // A safety net: a dialog nobody answers is closed after about 10 s so a
    // broken test fails instead of hanging.
    if (++in->ticks > 1000) {
        if (win) win->hide();
        return;
    }
    if (!in->done) Fl::repeat_timeout(0.01, inspect, data);
}

std::vector<Control> buttons(const Snapshot& s) {
    std::vector<Control> out;
    for (const auto& c : s.controls)
        if (c.kind == "button") out.push_back(c);
    return out;
}

class Desktop : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string missing = desktopUnavailable();
        if (!missing.empty()) GTEST_SKIP() << "desktop tests skipped: " << missing;
        backend_ = sharedBackend();
    }

    // Runs a dialog on this thread while a user, played by xdotool on
    // another thread, answers it; gives the window as xdotool saw it and as
    // it looked from inside.
    template <typename Dialog>
    void answer(Dialog dialog, std::vector<std::string> userActions, WindowInfo& seen, Snapshot& shot) {
        Inspector in;
        Fl::add_timeout(0.01, inspect, &in);
        std::optional<WindowInfo> found;
        std::thread user([&] {
            found = waitForNewWindow(seen_);
            if (!found) return;
            // Act only once the dialog has been looked at from inside.
            for (int i = 0; i < 500; ++i) {
                {
                    std::lock_guard<std::mutex> g(in.lock);
                    if (in.shot.taken) break;
                }
                pause(10);
            }
            for (const auto& action : userActions) {
                if (action.rfind("type:", 0) == 0) typeText(action.substr(5));
                else typeKeys(action);
            }
        });
        dialog();
        user.join();
        in.done = true;
        Fl::remove_timeout(inspect, &in);
        ASSERT_TRUE(found.has_value()) << "no window captioned Glumixer appeared";
        seen = *found;
        std::lock_guard<std::mutex> g(in.lock);
        shot = in.shot;
        ASSERT_TRUE(shot.taken);
    }

    platform::UiBackend* backend_ = nullptr;
    static inline std::set<std::string> seen_;
};

TEST_F(Desktop, MessageBoxesShowCaptionTextIconAndTheButtonsAsked) {
    struct Case {
        unsigned flags;
        std::vector<std::string> keys;
        int expected;
        std::vector<std::string> buttonLabels;
    };
    const Case cases[] = {
        {16 + platform::kMbSystemModal, {"Return"}, platform::kIdOk, {"OK"}},
        {64 + platform::kMbSystemModal, {"Escape"}, platform::kIdOk, {"OK"}},
        {36 + platform::kMbSystemModal, {"Return"}, platform::kIdYes, {"&Yes", "&No"}},
        {36 + platform::kMbSystemModal, {"n"}, platform::kIdNo, {"&Yes", "&No"}},
        {36 + platform::kMbSystemModal, {"Escape"}, platform::kIdNo, {"&Yes", "&No"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        int result = -1;
        WindowInfo win;
        Snapshot shot;
        answer([&] { result = backend_->messageBox("Glumixer", "3 Pictures gummed!   ", c.flags); }, c.keys, win, shot);
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(shot.caption, "Glumixer");
        // Trailing blanks are not drawn; the text is.
        EXPECT_NE(shot.allText.find("3 Pictures gummed!"), std::string::npos) << shot.allText;
        std::vector<std::string> labels;
        for (const auto& b : buttons(shot)) labels.push_back(b.label);
        EXPECT_EQ(labels, c.buttonLabels);
        // The window the user saw is the one inspected, and it holds all of
        // its controls.
        EXPECT_EQ(win.width, shot.width);
        EXPECT_EQ(win.height, shot.height);
        for (const auto& control : shot.controls) {
            EXPECT_GE(control.x, 0);
            EXPECT_LE(control.x + control.w, shot.width);
            EXPECT_LE(control.y + control.h, shot.height);
        }
        // An icon is drawn next to the text for every kind the tool uses.
        EXPECT_EQ(shot.controls.size(), c.buttonLabels.size() + 2);
    }
}

TEST_F(Desktop, LongMessagesWrapAndMultiLineReportsKeepTheirLines) {
    const std::string report = std::string(300, 'w') + "   \r\nLast picture: a.bmp\r\nTech code: #21";
    int result = -1;
    WindowInfo win;
    Snapshot shot;
    answer([&] { result = backend_->messageBox("Glumixer", report + "   ", 16 + platform::kMbSystemModal); },
           {"Return"}, win, shot);
    EXPECT_EQ(result, platform::kIdOk);
    EXPECT_EQ(shot.allText.find('\r'), std::string::npos);
    EXPECT_NE(shot.allText.find("\nLast picture: a.bmp\nTech code: #21"), std::string::npos);
    int sx, sy, sw, sh;
    Fl::screen_work_area(sx, sy, sw, sh, 0);
    EXPECT_LE(win.width, sw);
}

TEST_F(Desktop, InputDialogFollowsTheLayoutAndReturnsWhatWasTyped) {
    const platform::CharSize cs = platform::aveCharSize();
    ASSERT_GT(cs.cx, 0);
    ASSERT_GT(cs.cy, 0);
    struct Case {
        std::vector<std::string> actions;
        bool ok;
        std::string value;
    };
    const Case cases[] = {
        {{"Return"}, true, "8"},  // Enter confirms the pre-filled text
        {{"Escape"}, false, "8"},  // Escape cancels and keeps it
        {{"type:x12", "Return"}, true, "x12"},  // typing replaces the selection
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        std::string value = "8";
        bool ok = !c.ok;
        WindowInfo win;
        Snapshot shot;
        answer([&] { ok = backend_->inputQuery("Glumixer", "Horizontal Pics = ", value); }, c.actions, win, shot);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(value, c.value);

        EXPECT_EQ(shot.caption, "Glumixer");
        EXPECT_EQ(shot.allText, "Horizontal Pics = ");
        // The pre-filled text is shown whole and selected.
        EXPECT_EQ(shot.inputValue, "8");
        EXPECT_EQ(std::abs(shot.inputPosition - shot.inputMark), 1);

        EXPECT_EQ(win.width, glx::mulDiv(180, cs.cx, 4));
        EXPECT_EQ(win.width, shot.width);
        EXPECT_EQ(win.height, shot.height);
        auto b = buttons(shot);
        ASSERT_EQ(b.size(), 2u);
        EXPECT_EQ(b[0].label, "OK");
        EXPECT_EQ(b[1].label, "Cancel");
        EXPECT_EQ(b[0].x, glx::mulDiv(38, cs.cx, 4));
        EXPECT_EQ(b[1].x, glx::mulDiv(92, cs.cx, 4));
        for (const auto& button : b) {
            EXPECT_EQ(button.w, glx::mulDiv(50, cs.cx, 4));
            EXPECT_EQ(button.h, glx::mulDiv(14, cs.cy, 8));
        }
        EXPECT_EQ(shot.height, b[1].y + b[1].h + 13);
        const Control* input = nullptr;
        for (const auto& control : shot.controls)
            if (control.kind == "input") input = &control;
        ASSERT_NE(input, nullptr);
        EXPECT_EQ(input->x, glx::mulDiv(8, cs.cx, 4));
        EXPECT_EQ(input->w, glx::mulDiv(164, cs.cx, 4));
        EXPECT_EQ(b[0].y, input->y + input->h + 15);
    }
}

TEST_F(Desktop, InputDialogKeepsAtMost255Characters) {
    std::string value(300, '7');
    WindowInfo win;
    Snapshot shot;
    bool ok = false;
    answer([&] { ok = backend_->inputQuery("Glumixer", "Vertical Pics = ", value); }, {"End", "9", "Return"}, win,
           shot);
    EXPECT_TRUE(ok);
    EXPECT_EQ(value, std::string(255, '7'));
}

TEST(DialogLayout, SizesAreMultipliedThenDividedAndRounded) {
    EXPECT_EQ(glx::mulDiv(180, 7, 4), 315);
    EXPECT_EQ(glx::mulDiv(14, 17, 8), 30);  // 29.75
    EXPECT_EQ(glx::mulDiv(50, 7, 4), 88);  // 87.5 rounds up
    EXPECT_EQ(glx::mulDiv(-50, 7, 4), -88);  // halves away from zero
    EXPECT_EQ(glx::mulDiv(1 << 30, 8, 16), 1 << 29);
    const platform::QueryLayout l = platform::layoutQuery({7, 17}, 34, 25);
    EXPECT_EQ(l.clientWidth, 315);
    EXPECT_EQ(l.label.x, 14);
    EXPECT_EQ(l.label.y, 17);
    EXPECT_EQ(l.labelMaxWidth, 287);
    EXPECT_EQ(l.edit.y, 17 + 34 + 5);
    EXPECT_EQ(l.ok.y, l.edit.y + 25 + 15);
    EXPECT_EQ(l.ok.x, 67);  // 66.5
    EXPECT_EQ(l.cancel.x, 161);
    EXPECT_EQ(l.clientHeight, l.cancel.y + 30 + 13);
}

}  // namespace
