// A private virtual X display for desktop tests, and the xdotool helpers
// that find the tool's windows and type into them as a user would.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/desktop/ui_fltk.h"

namespace glxtest {

inline bool haveProgram(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command and returns what it printed on standard output.
inline std::string capture(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int raw = ::pclose(p);
    if (status) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

inline int run(const std::string& cmd) {
    int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

inline void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Xvfb on a display number it picks itself (-displayfd), so parallel test
// processes never collide; stopped when the object goes.
class VirtualDisplay {
public:
    bool start() {
        int fds[2];
        if (::pipe(fds) != 0) return false;
        pid_ = ::fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            ::close(fds[0]);
            int nul = ::open("/dev/null", O_RDWR);
            if (nul >= 0) {
                ::dup2(nul, STDOUT_FILENO);
                ::dup2(nul, STDERR_FILENO);
            }
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string number;
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
        ::close(fds[0]);
        if (number.empty()) return false;
        name_ = ":" + number;
        return true;
    }

    ~VirtualDisplay() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

// Why desktop tests cannot run here, or empty when they can.
inline std::string missingDesktopTools() {
    for (const char* tool : {"Xvfb", "xdotool"})
        if (!haveProgram(tool)) return std::string(tool) + " is not installed (Debian packages xvfb, xdotool)";
    return {};
}

// One display per test process, started on first use and stopped when the
// process ends; DISPLAY names it. Empty when it could not be started.
inline std::string sharedDisplay() {
    static VirtualDisplay display;
    static const bool started = [] {
        if (!display.start()) return false;
        ::setenv("DISPLAY", display.name().c_str(), 1);
        return true;
    }();
    return started ? display.name() : std::string();
}

// The desktop back-end on that display, created once like in the program
// (it keeps its display connection for the process's life).
inline glx::platform::UiBackend* sharedBackend() {
    static std::unique_ptr<glx::platform::UiBackend> backend =
        sharedDisplay().empty() ? nullptr : glx::platform::makeDesktopBackend();
    return backend.get();
}

// Why desktop tests cannot run, or empty when they can.
inline std::string desktopUnavailable() {
    std::string missing = missingDesktopTools();
    if (!missing.empty()) return missing;
    if (sharedDisplay().empty()) return "Xvfb could not be started";
    if (!sharedBackend()) return "the virtual display could not be opened";
    return {};
}

struct WindowInfo {
    std::string id;
    int width = 0;
    int height = 0;
};

// The visible windows captioned exactly "Glumixer".
inline std::vector<std::string> toolWindows() {
    std::string out = capture("xdotool search --onlyvisible --name '^Glumixer$' 2>/dev/null");
    std::vector<std::string> ids;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        if (end > start) ids.push_back(out.substr(start, end - start));
        start = end + 1;
    }
    return ids;
}

inline int shellValue(const std::string& text, const std::string& key) {
    size_t at = text.find(key + "=");
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + key.size() + 1);
}

// Waits (up to about ten seconds) for a tool window not seen before, then
// for it to have the keyboard focus, and gives its id and size.
inline std::optional<WindowInfo> waitForNewWindow(std::set<std::string>& seen) {
    for (int i = 0; i < 200; ++i) {
        for (const auto& id : toolWindows()) {
            if (seen.count(id)) continue;
            seen.insert(id);
            for (int j = 0; j < 100; ++j) {
                std::string focus = capture("xdotool getwindowfocus 2>/dev/null");
                if (std::atol(focus.c_str()) == std::atol(id.c_str())) break;
                pause(20);
            }
            // Give the toolkit a moment to take the focus in, as a person's
            // reaction time would; keys sent at the very instant of mapping
            // can be dropped by the input method set-up.
            pause(300);
            std::string geo = capture("xdotool getwindowgeometry --shell " + id);
            WindowInfo info{id, shellValue(geo, "WIDTH"), shellValue(geo, "HEIGHT")};
            if (const char* dir = std::getenv("GLX_SCREENSHOT_DIR")) {
                static int shot = 0;
                run("xwd -silent -id " + id + " -out '" + dir + "/window" + std::to_string(::getpid()) + "_" +
                    std::to_string(shot++) + ".xwd' 2>/dev/null");
            }
            return info;
        }
        pause(50);
    }
    return std::nullopt;
}

// Keys go to the window that has the focus, as a user's typing would.
inline bool typeKeys(const std::string& keys) { return run("xdotool key --delay 30 " + keys) == 0; }
inline bool typeText(const std::string& text) { return run("xdotool type --delay 30 '" + text + "'") == 0; }

}  // namespace glxtest
