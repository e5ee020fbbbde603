// Runs the built tool as a child process under resource limits: standard
// input at its end, output captured, an optional file size limit (with
// SIGXFSZ ignored, so a write past it fails with EFBIG instead of killing
// the tool), a wall-clock guard that kills a hung child, and the child's
// own peak resident memory.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace hardening {

struct ChildResult {
    int status = -1;          // exit status; -1 when killed by a signal
    int signal = 0;           // the signal that ended it
    bool timedOut = false;    // killed by the wall-clock guard
    uint64_t peakBytes = 0;   // peak resident memory of the child
    std::string out, err;
};

struct ChildOptions {
    uint64_t fileSizeLimit = 0;  // RLIMIT_FSIZE in bytes; 0 = none
    int timeoutSeconds = 10;
};

inline std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void spit(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// environment: NAME=value settings added for the child.
inline ChildResult runChild(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                            const ChildOptions& options = {}, const std::vector<std::string>& environment = {}) {
    static int counter = 0;
    auto base = std::filesystem::temp_directory_path() /
                ("glx_hard_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::string outPath = base.string() + ".out", errPath = base.string() + ".err";
    std::vector<std::string> argvStore;
    argvStore.push_back(GLX_BINARY);
    for (const auto& a : args) argvStore.push_back(a);
    std::vector<char*> argv;
    for (auto& a : argvStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        int in = ::open("/dev/null", O_RDONLY);
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        for (const auto& setting : environment) ::putenv(const_cast<char*>(setting.c_str()));
        if (options.fileSizeLimit > 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit lim{options.fileSizeLimit, options.fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &lim);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ChildResult r;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    int raw = 0;
    rusage usage{};
    for (;;) {
        pid_t done = ::wait4(pid, &raw, WNOHANG, &usage);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            r.timedOut = true;
            ::kill(pid, SIGKILL);
            ::wait4(pid, &raw, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) r.signal = WTERMSIG(raw);
    r.peakBytes = static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // kilobytes on Linux
    r.out = slurp(outPath);
    r.err = slurp(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return r;
}

// An ASAN_OPTIONS setting for a child: the options in force plus extra ones
// (harmless in builds without the sanitizer).
inline std::string asanOptions(const std::string& extra) {
    const char* current = std::getenv("ASAN_OPTIONS");
    return "ASAN_OPTIONS=" + (current && *current ? std::string(current) + ":" : std::string()) + extra;
}

// The tool's own peak memory stays below this while refusing hostile
// files. Sanitizer builds carry shadow memory and quarantine on top.
#if defined(__SANITIZE_ADDRESS__)
constexpr uint64_t kPeakLimit = uint64_t(256) << 20;
#else
constexpr uint64_t kPeakLimit = uint64_t(64) << 20;
#endif

// A fresh folder, removed at the end of the test.
struct Scratch {
    std::filesystem::path path;
    Scratch() {
        static int n = 0;
        path = std::filesystem::temp_directory_path() /
               ("glx_hardening_" + std::to_string(::getpid()) + "_" + std::to_string(n++));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
};

// Names in a folder (hidden ones included), for "nothing was left behind".
inline std::set<std::string> entries(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

}  // namespace hardening
