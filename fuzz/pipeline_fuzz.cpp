// The whole tool in-process: the input is written into a scratch folder as
// a PNG, a BMP, a JPEG and a GIF and the tool glues each kind, exports the
// GIF's frames and pastes the PNG as a fragment into a pattern, with
// standard input at its end. The tool changes the current folder, so it is
// restored after every run.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/form.h"
#include "base/stream.h"
#include "fuzz_common.h"
#include "png/png_object.h"
#include "raster/bmp.h"

namespace fs = std::filesystem;

namespace {

fs::path gScratch;
fs::path gHome;

void writeBytes(const fs::path& p, const void* data, size_t size) {
    std::ofstream(p, std::ios::binary).write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void run(std::vector<std::string> args) {
    std::vector<char*> argv;
    std::string program = "glumixer";
    argv.push_back(program.data());
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Every run has its own state; an internal error aborts inside.
    glx::app::AppOptions options;
    options.read = glxfuzz::fuzzOptions();
    options.abortOnInternalError = true;
    glx::app::runApplication(static_cast<int>(argv.size() - 1), argv.data(), options);
    fs::current_path(gHome);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // No questions can be answered: standard input reads as its end.
    int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) {
        ::dup2(null, 0);
        ::close(null);
    }
    char pattern[] = "/tmp/glx_fuzz_pipeline_XXXXXX";
    if (!::mkdtemp(pattern)) std::abort();
    gScratch = pattern;
    gHome = fs::current_path();
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(gScratch, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::error_code ec;
    fs::remove_all(gScratch / "w", ec);
    fs::create_directories(gScratch / "w" / "paste");
    fs::path w = gScratch / "w";
    for (const char* name : {"a.png", "a.bmp", "a.jpg", "a.gif", "paste/frag.png"}) writeBytes(w / name, data, size);

    // A valid 8 x 8 pattern for the paste run.
    glx::TMemoryStream pattern;
    glx::encodeBmp(pattern, glx::Dib(8, 8, 24));
    writeBytes(w / "paste" / "pattern.bmp", pattern.bytes().data(), pattern.bytes().size());
    const char script[] = "1\r\nfrag.png\r\n2;3;3\r\nfrag.png\r\n";
    writeBytes(w / "paste" / "Glumix_paste.ini", script, sizeof script - 1);

    run({(w / "a.png").string(), "H2", "out.png"});
    run({(w / "a.bmp").string(), "V2", "out.bmp"});
    run({(w / "a.jpg").string(), "H1", "out.jpg"});
    run({(w / "a.gif").string()});
    run({(w / "paste" / "pattern.bmp").string(), "H2"});
    return 0;
}
