// Writes that fail part-way (a file size limit in the tool's process, or a
// target name taken by a folder) leave the old picture byte for byte and no
// temporary file: in gluing, in pasting and in the GIF frame export.
#include <gtest/gtest.h>

#include "app/gif_writer.h"
#include "child_run.h"
#include "hostile_files.h"

using namespace hardening;
namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSmallLimit = 16 * 1024;

void expectFailedCleanly(const ChildResult& r, const std::set<std::string>& before, const fs::path& folder,
                         const std::string& what) {
    EXPECT_FALSE(r.timedOut) << what;
    EXPECT_EQ(r.signal, 0) << what;
    EXPECT_EQ(r.status, 1) << what << "\n" << r.out << r.err;
    EXPECT_FALSE(r.err.empty()) << what;
    std::set<std::string> after = entries(folder);
    for (const auto& name : after)
        EXPECT_TRUE(before.count(name) || name == "patterns.xml") << what << ": left behind " << name;
}

}  // namespace

TEST(SafeWrites, GluingOverAnExistingResult) {
    Scratch s;
    for (int i = 0; i < 4; ++i) spit(s / ("p" + std::to_string(i) + ".bmp"), noiseBmp(60, 60, 7 + i));
    const std::string old = noiseBmp(5, 5, 99);
    spit(s / "out.bmp", old);
    auto before = entries(s.path);
    // The glued result (120 x 120 x 3 bytes) cannot fit under the limit.
    auto r = runChild({(s / "p0.bmp").string(), "H2", "out.bmp"}, s.path, {kSmallLimit, 10});
    expectFailedCleanly(r, before, s.path, "size limit");
    EXPECT_TRUE(slurp(s / "out.bmp") == old);

    // Without the limit the same run replaces it.
    r = runChild({(s / "p0.bmp").string(), "H2", "out.bmp"}, s.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(slurp(s / "out.bmp") == old);
}

TEST(SafeWrites, GluingOntoANameTakenByAFolder) {
    Scratch s;
    for (int i = 0; i < 2; ++i) spit(s / ("p" + std::to_string(i) + ".png"), noisePng(8, 8, 3 + i));
    fs::create_directories(s / "out.png");
    spit(s / "out.png" / "keep", "kept");
    auto before = entries(s.path);
    auto r = runChild({(s / "p0.png").string(), "H2", "out.png"}, s.path);
    expectFailedCleanly(r, before, s.path, "folder target");
    EXPECT_TRUE(fs::is_directory(s / "out.png"));
    EXPECT_EQ(slurp(s / "out.png" / "keep"), "kept");
}

TEST(SafeWrites, PastingKeepsThePatternWhenTheSaveFails) {
    Scratch s;
    const std::string pattern = noisePng(120, 120, 11);
    ASSERT_GT(pattern.size(), kSmallLimit);
    spit(s / "pattern.png", pattern);
    spit(s / "frag.png", noisePng(10, 10, 12));
    spit(s / "Glumix_paste.ini", "1\r\nfrag.png\r\n");
    auto before = entries(s.path);
    auto r = runChild({(s / "pattern.png").string(), "H3"}, s.path, {kSmallLimit, 10});
    expectFailedCleanly(r, before, s.path, "paste");
    EXPECT_TRUE(slurp(s / "pattern.png") == pattern);

    r = runChild({(s / "pattern.png").string(), "H3"}, s.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(slurp(s / "pattern.png") == pattern);
}

TEST(SafeWrites, GifExportKeepsEarlierFramesWhenAFrameCannotBeWritten) {
    Scratch s;
    std::vector<uint8_t> palette;
    for (int i = 0; i < 256; ++i) {
        palette.push_back(uint8_t(i));
        palette.push_back(uint8_t(i * 7));
        palette.push_back(uint8_t(i * 13));
    }
    glxtest::GifFrame frame;
    // 200 x 200 noise: even as a palette PNG a frame is far above the limit.
    frame.width = 200;
    frame.height = 200;
    uint32_t seed = 5;
    for (int i = 0; i < 200 * 200; ++i) frame.indices.push_back(noise(seed));
    spit(s / "anim.gif", glxtest::makeGif(200, 200, palette, {frame, frame}));
    fs::create_directories(s / "anim");
    const std::string old = noisePng(4, 4, 1);
    spit(s / "anim" / "0.png", old);
    spit(s / "anim" / "delays.txt", "7\r\n");
    auto before = entries(s / "anim");
    auto r = runChild({(s / "anim.gif").string()}, s.path, {kSmallLimit, 10});
    expectFailedCleanly(r, before, s / "anim", "gif export");
    EXPECT_TRUE(slurp(s / "anim" / "0.png") == old);
    // "delays.txt" is a text written line by line as the frames go: it
    // holds the line of the frame that failed (delay 0 is written as 1).
    EXPECT_EQ(slurp(s / "anim" / "delays.txt"), "1\r\n");
}

// The frame files of an export are new files: they are made durable once,
// at the end, by one sync of the folder's file system, not one by one.
TEST(SafeWrites, GifFramesAreMadeDurableOnceAtTheEnd) {
    Scratch s;
    std::vector<uint8_t> palette(768, 0);
    glxtest::GifFrame frame;
    frame.width = frame.height = 4;
    frame.indices.assign(16, 1);
    spit(s / "anim.gif", glxtest::makeGif(4, 4, palette, std::vector<glxtest::GifFrame>(40, frame)));
    const std::string log = (s / "syncs.log").string();
    // The sanitizer runtime, when the tool has one, need not come first.
    auto r = runChild({(s / "anim.gif").string()}, s.path, {},
                      {std::string("LD_PRELOAD=") + GLX_SYNC_COUNTER, "GLX_SYNC_LOG=" + log,
                       asanOptions("verify_asan_link_order=0")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(s / "anim" / "39.png"));
    EXPECT_EQ(slurp(log), "s");
}
