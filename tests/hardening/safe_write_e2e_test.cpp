// Writes that fail part-way (a file size limit in the tool's process, or a
// target name taken by a folder) leave the old picture byte for byte and no
// temporary file: in gluing, in pasting and in the GIF frame export. The
// size limit comes with SIGXFSZ at its default: the tool must turn it into
// the error report itself.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "hostile_files.h"
#include "support/gif_builder.h"
#include "support/process.h"

using namespace glxtest;
namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSmallLimit = 16 * 1024;

void expectFailedCleanly(const RunResult& r, const std::set<std::string>& before, const fs::path& folder,
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
    TempFolder s;
    for (int i = 0; i < 4; ++i) writeFile(s / ("p" + std::to_string(i) + ".bmp"), noiseBmp(60, 60, uint32_t(7 + i)));
    const std::string old = noiseBmp(5, 5, 99);
    writeFile(s / "out.bmp", old);
    auto before = entries(s.path);
    // The glued result (120 x 120 x 3 bytes) cannot fit under the limit.
    auto r = runChild({(s / "p0.bmp").string(), "H2", "out.bmp"}, s.path,
                      {.fileSizeLimit = kSmallLimit, .timeoutSeconds = 10});
    expectFailedCleanly(r, before, s.path, "size limit");
    EXPECT_TRUE(readFile(s / "out.bmp") == old);
    // The report names the file and the system's reason.
    EXPECT_NE(r.err.find("Cannot write file \"" + (s / "out.bmp").string() + "\". File too large"), std::string::npos)
        << r.err;

    // Without the limit the same run replaces it.
    r = runChild({(s / "p0.bmp").string(), "H2", "out.bmp"}, s.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(readFile(s / "out.bmp") == old);
}

TEST(SafeWrites, GluingOntoANameTakenByAFolder) {
    TempFolder s;
    for (int i = 0; i < 2; ++i) writeFile(s / ("p" + std::to_string(i) + ".png"), noisePng(8, 8, uint32_t(3 + i)));
    fs::create_directories(s / "out.png");
    writeFile(s / "out.png" / "keep", "kept");
    auto before = entries(s.path);
    auto r = runChild({(s / "p0.png").string(), "H2", "out.png"}, s.path);
    expectFailedCleanly(r, before, s.path, "folder target");
    EXPECT_TRUE(fs::is_directory(s / "out.png"));
    EXPECT_EQ(readFile(s / "out.png" / "keep"), "kept");
}

TEST(SafeWrites, PastingKeepsThePatternWhenTheSaveFails) {
    TempFolder s;
    const std::string pattern = noisePng(120, 120, 11);
    ASSERT_GT(pattern.size(), kSmallLimit);
    writeFile(s / "pattern.png", pattern);
    writeFile(s / "frag.png", noisePng(10, 10, 12));
    writeFile(s / "Glumix_paste.ini", "1\r\nfrag.png\r\n");
    auto before = entries(s.path);
    auto r =
        runChild({(s / "pattern.png").string(), "H3"}, s.path, {.fileSizeLimit = kSmallLimit, .timeoutSeconds = 10});
    expectFailedCleanly(r, before, s.path, "paste");
    EXPECT_TRUE(readFile(s / "pattern.png") == pattern);

    r = runChild({(s / "pattern.png").string(), "H3"}, s.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(readFile(s / "pattern.png") == pattern);
}

TEST(SafeWrites, GifExportKeepsEarlierFramesWhenAFrameCannotBeWritten) {
    TempFolder s;
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
    writeFile(s / "anim.gif", glxtest::makeGif(200, 200, palette, {frame, frame}));
    fs::create_directories(s / "anim");
    const std::string old = noisePng(4, 4, 1);
    writeFile(s / "anim" / "0.png", old);
    writeFile(s / "anim" / "delays.txt", "7\r\n");
    auto before = entries(s / "anim");
    auto r = runChild({(s / "anim.gif").string()}, s.path, {.fileSizeLimit = kSmallLimit, .timeoutSeconds = 10});
    expectFailedCleanly(r, before, s / "anim", "gif export");
    EXPECT_TRUE(readFile(s / "anim" / "0.png") == old);
    // "delays.txt" is written once the frames are: the earlier list stays.
    EXPECT_EQ(readFile(s / "anim" / "delays.txt"), "7\r\n");
}

TEST(SafeWrites, LongOutputNamesAndLinkedOutputs) {
    TempFolder s;
    writeFile(s / "p0.bmp", noiseBmp(6, 6, 1));
    // Names up to the file system's limit of 255 bytes still have room for
    // a temporary name beside them.
    for (size_t length : {size_t(242), size_t(250), size_t(255)}) {
        const std::string name = std::string(length - 4, 'n') + ".bmp";
        auto r = runChild({(s / "p0.bmp").string(), "H2", name}, s.path);
        EXPECT_EQ(r.status, 0) << length << r.err;
        EXPECT_TRUE(fs::is_regular_file(s / name)) << length;
        fs::remove(s / name);
    }
    // A linked output name is replaced by a new regular file: the link's
    // target lends it nothing, neither its content nor its permission bits.
    writeFile(s / "target.dat", "old");
    fs::permissions(s / "target.dat", static_cast<fs::perms>(04757));
    fs::create_symlink("target.dat", s / "linked.bmp");
    auto r = runChild({(s / "p0.bmp").string(), "H2", "linked.bmp"}, s.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(s / "linked.bmp")));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(fs::status(s / "linked.bmp").permissions(), static_cast<fs::perms>(0666 & ~mask));
    EXPECT_EQ(readFile(s / "target.dat"), "old");
    // A replaced regular file lends its bits, never set-user-ID or the like.
    fs::remove(s / "linked.bmp");
    fs::rename(s / "target.dat", s / "linked.bmp");
    r = runChild({(s / "p0.bmp").string(), "H2", "linked.bmp"}, s.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::status(s / "linked.bmp").permissions(), static_cast<fs::perms>(0757));
}

// The temporary file of a replacement has the final permission bits before
// its first byte: a private picture is never readable by others while its
// replacement is written.
TEST(SafeWrites, TemporaryFilesHaveTheFinalModeFromTheStart) {
    TempFolder s;
    writeFile(s / "big.bmp", noiseBmp(2500, 2500, 4));
    writeFile(s / "out.bmp", "old");
    fs::permissions(s / "out.bmp", static_cast<fs::perms>(0600));
    std::atomic<bool> done{false};
    std::set<unsigned> seen;
    std::thread watcher([&] {
        while (!done) {
            for (const auto& name : entries(s.path)) {
                struct stat st {};
                if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0 &&
                    ::stat((s / name).c_str(), &st) == 0)
                    seen.insert(st.st_mode & 07777);
            }
        }
    });
    auto r = runChild({(s / "big.bmp").string(), "H1", "out.bmp"}, s.path);
    done = true;
    watcher.join();
    ASSERT_EQ(r.status, 0) << r.err;
    // 18 MB are written: the watcher sees the temporary file on the way.
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen, std::set<unsigned>{0600});
    EXPECT_EQ(fs::status(s / "out.bmp").permissions(), static_cast<fs::perms>(0600));
}

// The frame files of an export are new files: they are made durable once,
// at the end, by one sync of the folder's file system, not one by one.
TEST(SafeWrites, DurabilityOfFramesAndReplacedFiles) {
    TempFolder s;
    std::vector<uint8_t> palette(768, 0);
    glxtest::GifFrame frame;
    frame.width = frame.height = 4;
    frame.indices.assign(16, 1);
    writeFile(s / "anim.gif", glxtest::makeGif(4, 4, palette, std::vector<glxtest::GifFrame>(40, frame)));
    const std::string log = (s / "syncs.log").string();
    // The sanitizer runtime, when the tool has one, need not come first.
    RunOptions options;
    options.environment = {std::string("LD_PRELOAD=") + GLX_SYNC_COUNTER, "GLX_SYNC_LOG=" + log,
                           asanOptions("verify_asan_link_order=0")};
    auto r = runChild({(s / "anim.gif").string()}, s.path, options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(s / "anim" / "39.png"));
    EXPECT_EQ(readFile(log), "s");

    // A picture that replaces a file is synced before its rename and its
    // folder after it, so a power loss never leaves an empty file under
    // the final name.
    writeFile(s / "p.bmp", noiseBmp(4, 4, 1));
    writeFile(s / "out.bmp", "old");
    fs::remove(log);
    r = runChild({(s / "p.bmp").string(), "H2", "out.bmp"}, s.path, options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(log), "fF");
}
