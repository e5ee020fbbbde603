// Runs interrupted by SIGINT, SIGTERM or SIGHUP at random moments: every
// run mode removes its temporary files and ends with 128 + the signal
// number, and nothing under a final name is ever half-written.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <random>

#include "hostile_files.h"
#include "support/gif_builder.h"
#include "support/process.h"

using namespace glxtest;
namespace fs = std::filesystem;

namespace {

struct Job {
    const char* name;
    std::vector<std::string> args;
    std::vector<fs::path> folders;  // where temporary files could appear
    std::vector<fs::path> finals;  // files the finished run writes, compared with a run left alone
};

std::vector<std::string> leftovers(const std::vector<fs::path>& folders) {
    std::vector<std::string> found;
    for (const auto& folder : folders) {
        if (!fs::is_directory(folder)) continue;
        for (const auto& name : entries(folder))
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) found.push_back(name);
    }
    return found;
}

// Runs the job once undisturbed to learn its length and results, then
// again and again with a signal at a random moment of that length.
void interruptAtRandom(const TempFolder& s, const Job& job, int rounds) {
    const auto start = std::chrono::steady_clock::now();
    auto whole = runChild(job.args, s.path, {.timeoutSeconds = 120});
    const auto length = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    ASSERT_EQ(whole.status, 0) << job.name << whole.err;
    std::vector<std::string> expected;
    for (const auto& f : job.finals) expected.push_back(readFile(f));

    std::mt19937 random(1234);
    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    for (int round = 0; round < rounds; ++round) {
        for (const auto& f : job.finals) fs::remove(f);
        const int sig = signals[round % 3];
        const int at = static_cast<int>(random() % static_cast<uint32_t>(std::max<int64_t>(length.count(), 1)));
        auto r = runChild(job.args, s.path, {.timeoutSeconds = 120, .signal = sig, .signalAfterMicroseconds = at});
        const std::string what = std::string(job.name) + " signal " + std::to_string(sig) + " at " + std::to_string(at);
        EXPECT_FALSE(r.timedOut) << what;
        // Finished before the signal came, ended by it, or (in the first
        // instants, before the tool set itself up) killed by it.
        EXPECT_TRUE(r.status == 0 || r.status == 128 + sig || r.signal == sig) << what << " status " << r.status;
        EXPECT_EQ(leftovers(job.folders), std::vector<std::string>{}) << what;
        for (size_t i = 0; i < job.finals.size(); ++i)
            if (fs::exists(job.finals[i])) {
                EXPECT_TRUE(readFile(job.finals[i]) == expected[i]) << what << ": " << job.finals[i] << " is not whole";
            }
    }
}

}  // namespace

TEST(Interrupts, GluingTwoThousandPictures) {
    TempFolder s;
    fs::create_directories(s / "pics");
    for (int i = 0; i < 2000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "p%04d.png", i);
        writeFile(s / "pics" / name, noisePng(24, 24, uint32_t(i + 1)));
    }
    interruptAtRandom(s,
                      {"gluing",
                       {(s / "pics").string() + "/", "H50", "out.png"},
                       {s / "pics"},
                       {s / "pics" / "out.png", s / "pics" / "patterns.xml"}},
                      12);
}

TEST(Interrupts, GifExportOfThreeHundredFrames) {
    TempFolder s;
    std::vector<uint8_t> palette;
    for (int i = 0; i < 256; ++i) palette.insert(palette.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)});
    std::vector<glxtest::GifFrame> frames(300);
    uint32_t seed = 9;
    for (auto& f : frames) {
        f.width = f.height = 64;
        for (int i = 0; i < 64 * 64; ++i) f.indices.push_back(noise(seed));
        f.delay = 4;
    }
    writeFile(s / "anim.gif", glxtest::makeGif(64, 64, palette, frames));
    interruptAtRandom(
        s,
        {"gif export",
         {(s / "anim.gif").string()},
         {s / "anim"},
         // "delays.txt" too: an interrupted export never leaves it short
         {s / "anim" / "0.png", s / "anim" / "150.png", s / "anim" / "299.png", s / "anim" / "delays.txt"}},
        12);
}

TEST(Interrupts, PasteRun) {
    TempFolder s;
    writeFile(s / "pattern.png", noisePng(900, 900, 3));
    writeFile(s / "frag.png", noisePng(40, 40, 4));
    std::string script;
    for (int i = 1; i <= 40; ++i) script += std::to_string(i) + "\nfrag.png\n";
    writeFile(s / "script.ini", script);
    interruptAtRandom(s,
                      {"paste",
                       {(s / "pattern.png").string(), "H20", "out.png", (s / "script.ini").string()},
                       {s.path},
                       {s / "out.png"}},
                      12);
}
