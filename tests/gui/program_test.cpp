// The program started as glumixer-gui, as the desktop launcher starts it:
// a whole run answered through its windows, the fall-back to the terminal
// without a display, the viewer start, the progress window, and the
// installed launcher and manual page.
#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <thread>

// The shared tool runner defaults to the program under test.
#define GLX_BINARY GLX_GUI_BINARY
#include "gui/xsession.h"
#include "platform/desktop/ui_fltk.h"
#include "support/pictures.h"
#include "support/process.h"

using namespace glxtest;
namespace fs = std::filesystem;

namespace {

fs::path freshFolder(const std::string& name) {
    auto dir = fs::temp_directory_path() / ("glx_gui_" + name + "_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

int zombieChildren() {
    int zombies = 0;
    for (const auto& e : fs::directory_iterator("/proc")) {
        std::string stat = readFile(e.path() / "stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 4 >= stat.size()) continue;
        char state = stat[close + 2];
        int ppid = std::atoi(stat.c_str() + close + 4);
        if (ppid == ::getpid() && state == 'Z') ++zombies;
    }
    return zombies;
}

std::vector<fs::path> gluedResults(const fs::path& dir) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind("Glumix by ", 0) == 0) out.push_back(e.path());
    return out;
}

TEST(GuiProgram, WholeRunIsAnsweredThroughItsWindows) {
    const std::string missing = desktopUnavailable();
    if (!missing.empty()) GTEST_SKIP() << "desktop test skipped: " << missing;

    auto dir = freshFolder("run");
    writeFile(dir / "a.bmp", solidBmp(4, 3, {255, 0, 0}));
    writeFile(dir / "b.bmp", solidBmp(4, 3, {0, 0, 255}));
    writeFile(dir / "c.bmp", solidBmp(4, 3, {0, 255, 0}));

    std::set<std::string> seen;
    std::vector<WindowInfo> windows;
    std::thread user([&] {
        // "Use vertical placement?": No; "Horizontal Pics = ": 2; the count.
        const char* keys[] = {"n", nullptr, "Return"};
        for (int step = 0; step < 3; ++step) {
            auto w = waitForNewWindow(seen);
            if (!w) return;
            windows.push_back(*w);
            if (keys[step]) {
                typeKeys(keys[step]);
            } else {
                typeText("2");
                typeKeys("Return");
            }
        }
    });
    // A dialog left unanswered must fail the test, not hang it.
    const std::string cmd = "cd " + quote(dir.string()) + " && DISPLAY=" + sharedDisplay() + " timeout 60 " +
                            quote(GLX_GUI_BINARY) + " a.bmp </dev/null >out.txt 2>err.txt";
    const int status = run(cmd);
    user.join();

    EXPECT_EQ(status, 0) << readFile(dir / "err.txt");
    ASSERT_EQ(windows.size(), 3u) << "expected the question, the count dialog and the closing message";
    // Nothing went to the terminal: every exchange happened in windows.
    EXPECT_EQ(readFile(dir / "out.txt"), "");
    auto results = gluedResults(dir);
    ASSERT_EQ(results.size(), 1u);
    // Two per row; the canvas starts at the holder's size and only grows.
    Picture24 sheet = readBmp24(readFile(results[0]));
    ASSERT_GE(sheet.width, 8);
    ASSERT_GE(sheet.height, 6);
    EXPECT_EQ(sheet.at(0, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(sheet.at(4, 0), (Rgb{0, 0, 255}));
    EXPECT_EQ(sheet.at(0, 3), (Rgb{0, 255, 0}));
    fs::remove_all(dir);
}

TEST(GuiProgram, FallsBackToTheTerminalWithoutADisplay) {
    auto dir = freshFolder("nodisplay");
    writeFile(dir / "a.bmp", solidBmp(2, 2, {9, 9, 9}));
    // No display named at all, and one that cannot be opened.
    for (const std::string env : {"env -u DISPLAY -u WAYLAND_DISPLAY", "env DISPLAY=:nothing-here"}) {
        SCOPED_TRACE(env);
        const std::string cmd = "cd " + quote(dir.string()) + " && " + env + " " + quote(GLX_GUI_BINARY) +
                                " a.bmp </dev/null >out.txt 2>err.txt";
        EXPECT_EQ(run(cmd), 0) << readFile(dir / "err.txt");
        // The terminal asked, found no answers, and used the defaults.
        const std::string out = readFile(dir / "out.txt");
        EXPECT_NE(out.find("Use vertical placement? [y/N]"), std::string::npos) << out;
        EXPECT_NE(out.find("Horizontal Pics = [8]"), std::string::npos) << out;
        EXPECT_NE(out.find("1 Pictures gummed!"), std::string::npos) << out;
        for (const auto& p : gluedResults(dir)) fs::remove(p);
    }
    fs::remove_all(dir);
}

TEST(GuiProgram, OpeningADocumentStartsTheViewerWithoutWaitingOrLeavingAZombie) {
    const std::string missing = desktopUnavailable();
    if (!missing.empty()) GTEST_SKIP() << "desktop test skipped: " << missing;
    glx::platform::UiBackend* backend = sharedBackend();

    // A stand-in viewer first on the search path records what it was asked
    // to open, after a pause the caller must not wait for.
    auto dir = freshFolder("viewer");
    writeFile(dir / "xdg-open", "#!/bin/sh\nsleep 1\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/opened.txt\"\n");
    ::chmod((dir / "xdg-open").c_str(), 0755);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (dir.string() + ":" + oldPath).c_str(), 1);
    backend->openDocument("/some where/glumixer-gui.txt");
    // Returned before the viewer finished.
    EXPECT_FALSE(fs::exists(dir / "opened.txt"));
    // Its helper process was reaped at once: no child of ours is a zombie.
    EXPECT_EQ(zombieChildren(), 0);
    for (int i = 0; i < 100 && !fs::exists(dir / "opened.txt"); ++i) pause(50);
    EXPECT_EQ(readFile(dir / "opened.txt"), "/some where/glumixer-gui.txt");

    // A viewer that is missing is no error.
    ::setenv("PATH", dir.string().c_str(), 1);
    fs::remove(dir / "xdg-open");
    backend->openDocument("/nowhere.txt");
    ::setenv("PATH", oldPath.c_str(), 1);
    fs::remove_all(dir);
}

TEST(GuiProgram, ProgressWindowAppearsOnlyForLongRunsAndGoesAtTheEnd) {
    const std::string missing = desktopUnavailable();
    if (!missing.empty()) GTEST_SKIP() << "desktop test skipped: " << missing;
    glx::platform::UiBackend* backend = sharedBackend();

    backend->progress(0, 10, "a.png");
    backend->progress(1, 10, "b.png");
    EXPECT_EQ(Fl::first_window(), nullptr) << "a short run shows nothing";
    pause(600);
    backend->progress(2, 10, "c.png");
    Fl_Window* win = Fl::first_window();
    ASSERT_NE(win, nullptr);
    EXPECT_STREQ(win->label(), "Glumixer");
    EXPECT_TRUE(win->shown());
    backend->progressEnd();
    EXPECT_EQ(Fl::first_window(), nullptr);
}

std::string sourceFile(const std::string& rel) { return std::string(GLX_SOURCE_DIR) + "/" + rel; }

TEST(Install, ManualPageFormatsWithoutWarnings) {
    if (!haveProgram("groff")) GTEST_SKIP() << "manual page check skipped: groff is not installed (groff-base)";
    int status = -1;
    const std::string warnings =
        capture("groff -ww -man -Tutf8 " + quote(sourceFile("docs/glumixer.1")) + " 2>&1 >/dev/null", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(warnings, "");
    const std::string text = capture("groff -man -Tascii -P-cbou " + quote(sourceFile("docs/glumixer.1")));
    for (const char* needed : {"SYNOPSIS", ":silent", "EXIT STATUS", "EXAMPLES", "FILES", "Glumix.ini", "patterns.xml"})
        EXPECT_NE(text.find(needed), std::string::npos) << needed;
}

TEST(Install, LauncherIsValidAndRunsTheDesktopProgram) {
    const std::string launcher = sourceFile("platform/desktop/glumixer.desktop");
    const std::string text = readFile(launcher);
    EXPECT_NE(text.find("\nExec=glumixer-gui %F\n"), std::string::npos);
    EXPECT_NE(text.find("\nMimeType=image/png;image/jpeg;image/bmp;image/gif;\n"), std::string::npos);
    EXPECT_NE(text.find("\nIcon=glumixer\n"), std::string::npos);
    if (!haveProgram("desktop-file-validate"))
        GTEST_SKIP() << "launcher validation skipped: desktop-file-validate is not installed (desktop-file-utils)";
    int status = -1;
    const std::string complaints = capture("desktop-file-validate " + quote(launcher) + " 2>&1", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(complaints, "");
}

TEST(Install, PutsProgramsLauncherIconAndManualPagesInPlace) {
    auto prefix = freshFolder("install");
    int status = -1;
    const std::string log = capture(
        quote(GLX_CMAKE) + " --install " + quote(GLX_BUILD_DIR) + " --prefix " + quote(prefix.string()) + " 2>&1",
        &status);
    ASSERT_EQ(status, 0) << log;
    for (const char* program : {"bin/glumixer", "bin/glumixer-gui"}) {
        EXPECT_TRUE(fs::exists(prefix / program)) << program;
        EXPECT_EQ(::access((prefix / program).c_str(), X_OK), 0) << program;
    }
    EXPECT_EQ(readFile(prefix / "share/applications/glumixer.desktop"),
              readFile(sourceFile("platform/desktop/glumixer.desktop")));
    EXPECT_EQ(readFile(prefix / "share/man/man1/glumixer.1"), readFile(sourceFile("docs/glumixer.1")));
    EXPECT_EQ(readFile(prefix / "share/man/man1/glumixer-gui.1"), ".so man1/glumixer.1\n");
    // The icon is a 64 x 64 PNG, where the launcher's Icon=glumixer finds it.
    const std::string icon = readFile(prefix / "share/icons/hicolor/64x64/apps/glumixer.png");
    ASSERT_GE(icon.size(), 24u);
    EXPECT_EQ(icon.substr(0, 8), "\x89PNG\r\n\x1a\n");
    auto bigEndian = [&](size_t at) {
        uint32_t v = 0;
        for (size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<uint8_t>(icon[at + i]);
        return v;
    };
    EXPECT_EQ(bigEndian(16), 64u);  // IHDR width
    EXPECT_EQ(bigEndian(20), 64u);  // and height
    fs::remove_all(prefix);
}

}  // namespace
