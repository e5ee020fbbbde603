// Runs a program (usually the built tool) as a child process and collects
// what it left: its exit status or the signal that ended it, what it
// printed, and its own peak resident memory. Standard input comes from a
// given text (at its end when empty); optional: a file size limit (SIGXFSZ
// left at its default, so the tool must cope with it itself), a signal
// sent a given time after the start, a current folder given as an open
// descriptor (for folders whose path is too long to name), and a
// wall-clock guard that kills a hung child.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace glxtest {

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// The tool's own peak memory stays below this while refusing hostile
// files. Sanitizer builds carry shadow memory and quarantine on top (the
// thread sanitizer several times what the tool touches), and run slower.
#if defined(__SANITIZE_THREAD__)
constexpr uint64_t kPeakLimit = uint64_t(1) << 30;
constexpr int kSlowdown = 10;
#elif defined(__SANITIZE_ADDRESS__)
constexpr uint64_t kPeakLimit = uint64_t(256) << 20;
constexpr int kSlowdown = 4;
#else
constexpr uint64_t kPeakLimit = uint64_t(64) << 20;
constexpr int kSlowdown = 1;
#endif

struct RunResult {
    int status = -1;  // exit status; -1 when ended by a signal
    int signal = 0;  // the signal that ended it
    bool timedOut = false;  // killed by the wall-clock guard
    uint64_t peakBytes = 0;  // peak resident memory of the child
    std::string out, err;
};

struct RunOptions {
    uint64_t fileSizeLimit = 0;  // RLIMIT_FSIZE in bytes; 0 = none
    int timeoutSeconds = 60;
    int signal = 0;  // sent this long after the start
    int signalAfterMicroseconds = 0;
    std::string input = {};  // standard input
    std::vector<std::string> environment = {};  // NAME=value settings added for the child
    int currentFolder = -1;  // when set, the child starts here instead of in cwd
};

// An ASAN_OPTIONS setting for a child: the options in force plus extra ones
// (harmless in builds without the sanitizer).
inline std::string asanOptions(const std::string& extra) {
    const char* current = std::getenv("ASAN_OPTIONS");
    return "ASAN_OPTIONS=" + (current && *current ? std::string(current) + ":" : std::string()) + extra;
}

// Quoted for a shell command line.
inline std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

// argv[0] is looked up on PATH when it has no "/".
inline RunResult runProgram(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                            const RunOptions& options = {}) {
    static int counter = 0;
    const auto base = std::filesystem::temp_directory_path() /
                      ("glx_run_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    const std::string inPath = base.string() + ".in", outPath = base.string() + ".out",
                      errPath = base.string() + ".err";
    writeFile(inPath, options.input);
    std::vector<std::string> argvStore(args);
    std::vector<char*> argv;
    for (auto& a : argvStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        if (options.currentFolder >= 0 ? ::fchdir(options.currentFolder) != 0 : ::chdir(cwd.c_str()) != 0) ::_exit(126);
        const int in = ::open(inPath.c_str(), O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        for (const auto& setting : options.environment) ::putenv(const_cast<char*>(setting.c_str()));
        if (options.fileSizeLimit > 0) {
            ::signal(SIGXFSZ, SIG_DFL);
            rlimit lim{options.fileSizeLimit, options.fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &lim);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    RunResult r;
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + std::chrono::seconds(options.timeoutSeconds * kSlowdown);
    bool signalled = options.signal == 0;
    int raw = 0;
    rusage usage{};
    for (;;) {
        if (::wait4(pid, &raw, WNOHANG, &usage) == pid) break;
        const auto now = std::chrono::steady_clock::now();
        if (!signalled && now - started >= std::chrono::microseconds(options.signalAfterMicroseconds)) {
            ::kill(pid, options.signal);
            signalled = true;
            continue;
        }
        if (now > deadline) {
            r.timedOut = true;
            ::kill(pid, SIGKILL);
            ::wait4(pid, &raw, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(signalled ? 2000 : 200));
    }
    if (WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) r.signal = WTERMSIG(raw);
    r.peakBytes = static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // kilobytes on Linux
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    for (const auto& p : {inPath, outPath, errPath}) std::filesystem::remove(p);
    return r;
}

#ifdef GLX_BINARY
// The built tool with arguments, answering its questions from input.
inline RunResult runTool(const std::vector<std::string>& args, const std::string& input,
                         const std::filesystem::path& cwd, const std::string& binary = GLX_BINARY) {
    std::vector<std::string> argv{binary};
    argv.insert(argv.end(), args.begin(), args.end());
    RunOptions options;
    options.input = input;
    return runProgram(argv, cwd, options);
}

// The built tool with arguments and standard input at its end, under options.
inline RunResult runChild(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                          RunOptions options = {}) {
    std::vector<std::string> argv{GLX_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, cwd, options);
}

#endif

// A fresh temporary folder removed at the end of the test.
struct TempFolder {
    std::filesystem::path path;
    TempFolder() {
        static int n = 0;
        path = std::filesystem::temp_directory_path() /
               ("glx_test_" + std::to_string(::getpid()) + "_" + std::to_string(n++));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
};

// Names in a folder (hidden ones included), for "nothing was left behind".
inline std::set<std::string> entries(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

}  // namespace glxtest
