// Runs the built tool in a folder with piped standard input and captures
// what it printed and its exit status.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace glxtest {

struct ToolResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

inline std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

// binary: the tool (a copy may be used so the help file lands in a
// temporary folder); cwd: the folder to run in.
inline ToolResult runTool(const std::vector<std::string>& args, const std::string& input,
                          const std::filesystem::path& cwd, const std::string& binary = GLX_BINARY) {
    static int counter = 0;
    auto base = std::filesystem::temp_directory_path() /
                ("glx_run_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    writeFile(base.string() + ".in", input);
    std::string cmd = "cd " + quote(cwd.string()) + " && " + quote(binary);
    for (const auto& a : args) cmd += " " + quote(a);
    cmd += " <" + quote(base.string() + ".in") + " >" + quote(base.string() + ".out") + " 2>" +
           quote(base.string() + ".err");
    int raw = std::system(cmd.c_str());
    ToolResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = readFile(base.string() + ".out");
    r.err = readFile(base.string() + ".err");
    for (auto ext : {".in", ".out", ".err"}) std::filesystem::remove(base.string() + ext);
    return r;
}

// A fresh temporary folder removed at the end of the test.
struct TempFolder {
    std::filesystem::path path;
    TempFolder() {
        static int n = 0;
        path = std::filesystem::temp_directory_path() /
               ("glx_e2e_" + std::to_string(::getpid()) + "_" + std::to_string(n++));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    std::filesystem::path operator/(const std::string& name) const { return path / name; }
};

}  // namespace glxtest
