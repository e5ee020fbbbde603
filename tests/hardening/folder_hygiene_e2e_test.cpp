// Odd entries in the glued folder: each is glued or refused with the
// error report, and the tool always ends (a guard kills it after 10 s).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "hostile_files.h"
#include "support/gif_builder.h"
#include "support/process.h"

using namespace glxtest;
namespace fs = std::filesystem;

namespace {

struct OddEntry {
    const char* name;
    void (*make)(const fs::path& p);
};

void makeFifo(const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }
void makeDangling(const fs::path& p) { fs::create_symlink(p.parent_path() / "nowhere.bmp", p); }
void makeZeroDevice(const fs::path& p) { fs::create_symlink("/dev/zero", p); }
void makeEmpty(const fs::path& p) { writeFile(p, ""); }
void makeFolder(const fs::path& p) { fs::create_directories(p); }

void expectEnded(const RunResult& r, const std::string& what) {
    EXPECT_FALSE(r.timedOut) << what;
    EXPECT_EQ(r.signal, 0) << what;
    EXPECT_TRUE(r.status == 0 || r.status == 1) << what << " status " << r.status;
    if (r.status == 1) {
        EXPECT_FALSE(r.err.empty()) << what;
    }
}

}  // namespace

TEST(FolderHygiene, OddEntriesBesideAGoodPicture) {
    const OddEntry odd[] = {{"fifo.bmp", makeFifo},   {"dangling.bmp", makeDangling}, {"zero.bmp", makeZeroDevice},
                            {"empty.bmp", makeEmpty}, {"x.png", makeFolder},          {"x.bmp", makeFolder}};
    for (const auto& e : odd) {
        TempFolder s;
        writeFile(s / "a.bmp", noiseBmp(6, 4, 1));
        e.make(s / e.name);
        auto r = runChild({(s / "a.bmp").string(), "H2", "out.bmp"}, s.path);
        expectEnded(r, e.name);
        if (r.status == 0) {
            EXPECT_TRUE(fs::is_regular_file(s / "out.bmp")) << e.name;
        }
        // The odd entry is still what it was.
        EXPECT_TRUE(fs::exists(fs::symlink_status(s / e.name))) << e.name;
    }
}

TEST(FolderHygiene, OddEntryOpenedDirectly) {
    const OddEntry odd[] = {{"fifo.png", makeFifo},         {"zero.png", makeZeroDevice}, {"empty.png", makeEmpty},
                            {"dangling.gif", makeDangling}, {"fifo.gif", makeFifo},       {"zero.gif", makeZeroDevice}};
    for (const auto& e : odd) {
        TempFolder s;
        e.make(s / e.name);
        auto r = runChild({(s / e.name).string(), "H1", "out.png"}, s.path);
        if (r.status == 2) {
            // A picture that is not there: the help is shown instead.
            EXPECT_FALSE(r.out.empty() && r.err.empty()) << e.name;
            continue;
        }
        expectEnded(r, e.name);
    }
}

TEST(FolderHygiene, TenThousandFilesInOneFolder) {
    TempFolder s;
    const std::string tiny = noiseBmp(1, 1, 3);
    for (int i = 0; i < 10000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "f%05d.bmp", i);
        writeFile(s / name, tiny);
    }
    auto r = runChild({(s / "f00000.bmp").string(), "H100", "out.bmp"}, s.path, {.timeoutSeconds = 120});
    EXPECT_FALSE(r.timedOut);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string out = readFile(s / "out.bmp");
    ASSERT_GE(out.size(), 26u);
    // 100 per row: a 100 x 100 sheet.
    EXPECT_EQ(static_cast<uint8_t>(out[18]) | (static_cast<uint8_t>(out[19]) << 8), 100);
    EXPECT_EQ(static_cast<uint8_t>(out[22]) | (static_cast<uint8_t>(out[23]) << 8), 100);
}

// Files beside the picture that a sprite pack could plant: links that lead
// out of the folder and special files. The tool never writes through such a
// link, never copies what lies outside into the atlas, and never blocks; it
// ends in the error report naming the file instead.
TEST(FolderHygiene, PlantedLinksAndSpecialFilesBesideThePicture) {
    struct Planted {
        const char* name;  // beside the picture
        const char* what;  // "out": link to ../outside, "dangling": to ../created, "fifo", "in": link inside,
                           // "picture": to ../private.bmp
        int status;  // expected exit status
        const char* message;  // in the error report when status is 1
        const char* option = "";  // before the picture
    } cases[] = {
        {"patterns.xml", "out", 1, "patterns.xml\". It is a symbolic link"},
        {"patterns.xml", "dangling", 1, "patterns.xml\". It is a symbolic link"},
        {"patterns.xml", "fifo", 1, "patterns.xml\". Not a regular file"},
        {"patterns.xml.txt", "out", 1, "patterns.xml.txt\". It leads outside the picture's folder"},
        {"patterns.xml.txt", "fifo", 1, "patterns.xml.txt\". Not a regular file"},
        {"patterns.xml.txt", "in", 0, ""},
        {"Glumix.ini", "out", 1, "Glumix.ini\". It leads outside the picture's folder"},
        {"Glumix.ini", "fifo", 1, "Glumix.ini\". Not a regular file"},
        {"Glumix.ini", "in", 0, ""},
        {"Glumix_paste.ini", "out", 1, "Glumix_paste.ini\". It leads outside the picture's folder"},
        {"Glumix_paste.ini", "fifo", 1, "Glumix_paste.ini\". Not a regular file"},
        {"b.bmp", "in", 0, ""},  // a link to a picture of the folder still glues
        {"c.bmp", "picture", 1, "c.bmp\". It leads outside the picture's folder"},
        {"c.bmp", "picture", 0, "", "--allow-outside"},
    };
    for (const auto& c : cases) {
        TempFolder s;
        const std::string what = std::string(c.name) + " " + c.what;
        fs::create_directories(s / "pics");
        writeFile(s / "pics" / "a.bmp", noiseBmp(4, 3, 2));
        const std::string secret = "x\" ; touch PWNED ; echo \"\nFF0000\n";
        writeFile(s / "outside", secret);
        writeFile(s / "pics" / "inside.txt", "0000FF\nsecond\n");
        const fs::path planted = s / "pics" / c.name;
        const std::string kind = c.what;
        if (kind == "out") {
            fs::create_symlink("../outside", planted);
        } else if (kind == "dangling") {
            fs::create_symlink("../created", planted);
        } else if (kind == "fifo") {
            ASSERT_EQ(::mkfifo(planted.c_str(), 0644), 0);
        } else if (kind == "picture") {
            writeFile(s / "private.bmp", noiseBmp(4, 3, 9));
            fs::create_symlink("../private.bmp", planted);
        } else {
            fs::create_symlink(c.name == std::string("b.bmp") ? "a.bmp" : "inside.txt", planted);
        }
        std::vector<std::string> args{(s / "pics" / "a.bmp").string(), "H2", "out.bmp"};
        if (*c.option) args.insert(args.begin(), c.option);
        auto r = runChild(args, s.path);
        EXPECT_FALSE(r.timedOut) << what;
        EXPECT_EQ(r.status, c.status) << what << "\n" << r.err;
        if (c.status == 1) {
            EXPECT_NE(r.err.find(c.message), std::string::npos) << what << "\n" << r.err;
            EXPECT_FALSE(fs::exists(s / "pics" / "out.bmp")) << what;
        }
        EXPECT_EQ(readFile(s / "outside"), secret) << what;
        EXPECT_FALSE(fs::exists(s / "created")) << what;
        if (fs::is_regular_file(fs::symlink_status(s / "pics" / "patterns.xml"))) {
            EXPECT_EQ(readFile(s / "pics" / "patterns.xml").find("PWNED"), std::string::npos) << what;
        }
        EXPECT_TRUE(fs::exists(fs::symlink_status(planted))) << what;
    }
}

// The same for the GIF export: its folder, "delays.txt" inside it and
// "gif_filter.txt" beside the GIF. A GIF whose name would make the folder
// "." or ".." is refused rather than exported into its own folder or its
// parent.
TEST(FolderHygiene, PlantedFilesAroundAGifExport) {
    struct Planted {
        const char* gif;  // the GIF's name in pics/
        const char* name;  // what is planted, relative to pics/
        const char* what;  // "out", "fifo", "folder-link" or "" for nothing
        const char* message;  // in the error report
    } cases[] = {
        {"anim.gif", "anim/delays.txt", "out", "delays.txt\". It is a symbolic link"},
        {"anim.gif", "anim/delays.txt", "fifo", "delays.txt\". Not a regular file"},
        {"anim.gif", "anim", "folder-link", "anim\". It is a symbolic link"},
        {"anim.gif", "gif_filter.txt", "out", "gif_filter.txt\". It leads outside the picture's folder"},
        {"anim.gif", "gif_filter.txt", "fifo", "gif_filter.txt\". Not a regular file"},
        {"...gif", "", "", "/..\". It is not a folder of the GIF's own"},
        {"..gif", "", "", "/.\". It is not a folder of the GIF's own"},
    };
    glxtest::GifFrame frame;
    frame.width = frame.height = 2;
    frame.indices = {0, 1, 1, 0};
    const std::string gif = glxtest::makeGif(2, 2, {0, 0, 0, 255, 255, 255}, {frame});
    for (const auto& c : cases) {
        TempFolder s;
        const std::string what = std::string(c.gif) + " " + c.name + " " + c.what;
        fs::create_directories(s / "pics" / "anim");
        fs::create_directories(s / "elsewhere");
        writeFile(s / "pics" / c.gif, gif);
        writeFile(s / "outside", "kept\n");
        writeFile(s / "pics" / "0.png", "kept");
        const fs::path planted = s / "pics" / c.name;
        const std::string kind = c.what;
        if (kind == "out") {
            fs::create_symlink(s / "outside", planted);
        } else if (kind == "fifo") {
            ASSERT_EQ(::mkfifo(planted.c_str(), 0644), 0);
        } else if (kind == "folder-link") {
            fs::remove_all(planted);
            fs::create_symlink(s / "elsewhere", planted);
        }
        auto r = runChild({(s / "pics" / c.gif).string()}, s.path);
        EXPECT_FALSE(r.timedOut) << what;
        EXPECT_EQ(r.status, 1) << what << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << what << "\n" << r.err;
        EXPECT_EQ(readFile(s / "outside"), "kept\n") << what;
        EXPECT_EQ(readFile(s / "pics" / "0.png"), "kept") << what;
        EXPECT_TRUE(fs::is_empty(s / "elsewhere")) << what;
    }
}
