// Odd entries in the glued folder: each is glued or refused with the
// error report, and the tool always ends (a guard kills it after 10 s).
#include <dirent.h>
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
                           // "hard": another name of ../outside
                           // "picture": to ../private.bmp
        int status;  // expected exit status
        const char* message;  // in the error report when status is 1
        const char* option = "";  // before the picture
    } cases[] = {
        {"patterns.xml", "out", 1, "patterns.xml\". It is a symbolic link"},
        {"patterns.xml", "dangling", 1, "patterns.xml\". It is a symbolic link"},
        {"patterns.xml", "fifo", 1, "patterns.xml\". Not a regular file"},
        {"patterns.xml", "hard", 1, "patterns.xml\". It has more than one link"},
        {"patterns.xml.txt", "hard", 1, "patterns.xml.txt\". It has more than one link"},
        {"Glumix.ini", "hard", 1, "Glumix.ini\". It has more than one link"},
        {"Glumix_paste.ini", "hard", 1, "Glumix_paste.ini\". It has more than one link"},
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
        } else if (kind == "hard") {
            fs::create_hard_link(s / "outside", planted);
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
        // (A hard-linked patterns.xml is the outside file itself.)
        if (kind != "hard" && fs::is_regular_file(fs::symlink_status(s / "pics" / "patterns.xml"))) {
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
        const char* what;  // "out", "fifo", "hard", "folder-link" or "" for nothing
        const char* message;  // in the error report
    } cases[] = {
        {"anim.gif", "anim/delays.txt", "out", "delays.txt\". It is a symbolic link"},
        {"anim.gif", "anim/delays.txt", "fifo", "delays.txt\". Not a regular file"},
        {"anim.gif", "anim", "folder-link", "anim\". It is a symbolic link"},
        {"anim.gif", "gif_filter.txt", "out", "gif_filter.txt\". It leads outside the picture's folder"},
        {"anim.gif", "gif_filter.txt", "fifo", "gif_filter.txt\". Not a regular file"},
        {"anim.gif", "gif_filter.txt", "hard", "gif_filter.txt\". It has more than one link"},
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
        } else if (kind == "hard") {
            fs::create_hard_link(s / "outside", planted);
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

namespace {

// Files in a folder reached only by descriptor (its path may be too long).
bool existsAt(int folder, const std::string& name) {
    struct stat st {};
    return ::fstatat(folder, name.c_str(), &st, 0) == 0;
}

void writeAt(int folder, const std::string& name, const std::string& bytes) {
    const int fd = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << name;
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())) << name;
    ::close(fd);
}

// Empties a folder by descriptor, however deep it goes.
void removeInside(int folder) {
    DIR* d = ::fdopendir(::dup(folder));
    if (!d) return;
    std::vector<std::pair<std::string, bool>> items;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") items.emplace_back(name, e->d_type == DT_DIR);
    }
    ::closedir(d);
    for (const auto& [name, isFolder] : items) {
        if (isFolder) {
            const int sub = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) {
                removeInside(sub);
                ::close(sub);
            }
        }
        ::unlinkat(folder, name.c_str(), isFolder ? AT_REMOVEDIR : 0);
    }
}

// A one-frame GIF.
std::string smallGif() {
    glxtest::GifFrame frame;
    frame.width = frame.height = 2;
    frame.indices = {0, 1, 1, 0};
    return glxtest::makeGif(2, 2, {0, 0, 0, 255, 255, 255}, {frame});
}

}  // namespace

// A current folder 20 folders of 250-byte names deep: longer than PATH_MAX,
// so the system cannot tell its path. The results still land in it (and
// never in "/", where a made-up path would put them).
TEST(FolderHygiene, CurrentFolderDeeperThanPathMax) {
    TempFolder s;
    int deep = ::open(s.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < 20; ++level) {
        const std::string name(250, static_cast<char>('a' + level));
        ASSERT_EQ(::mkdirat(deep, name.c_str(), 0755), 0);
        const int next = ::openat(deep, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(deep);
        deep = next;
        ASSERT_GE(deep, 0);
    }
    // Names of their own, so that what a faulty build put into "/" can be
    // told and taken away again.
    const std::string tag = "glx_deep_" + std::to_string(::getpid());
    writeAt(deep, "a.bmp", noiseBmp(4, 4, 1));
    writeAt(deep, tag + ".gif", smallGif());
    RunOptions options;
    options.currentFolder = deep;

    auto r = runChild({"a.bmp", "H2", tag + ".bmp"}, s.path, options);
    const fs::path rootSheet = fs::path("/") / (tag + ".bmp");
    const bool sheetInRoot = fs::exists(rootSheet);
    fs::remove(rootSheet);
    EXPECT_FALSE(sheetInRoot);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(existsAt(deep, tag + ".bmp"));
    EXPECT_TRUE(existsAt(deep, "patterns.xml"));

    r = runChild({tag + ".gif"}, s.path, options);
    const fs::path rootExport = fs::path("/") / tag;
    const bool exportInRoot = fs::exists(rootExport);
    if (exportInRoot) fs::remove_all(rootExport);
    EXPECT_FALSE(exportInRoot);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(existsAt(deep, tag + "/0.png"));
    EXPECT_TRUE(existsAt(deep, tag + "/delays.txt"));
    ::close(deep);

    const int top = ::open(s.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    removeInside(top);
    ::close(top);
}

// The folder a run writes into is swapped for a link to another folder
// while the run goes on: every file still lands in the folder the run
// opened, none in the link's target.
TEST(FolderHygiene, FoldersSwappedForLinksWhileWriting) {
    struct Race {
        const char* what;
        fs::path folder;  // swapped once watched appears
        fs::path watched;  // empty: any new entry in the folder (the result's temporary file)
        std::vector<std::string> args;
        std::vector<std::string> results;  // in the folder after the run
    };
    TempFolder s;
    fs::create_directories(s / "pics");
    for (int i = 0; i < 400; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "p%03d.bmp", i);
        writeFile(s / "pics" / name, noiseBmp(16, 16, uint32_t(i + 1)));
    }
    std::vector<uint8_t> palette;
    for (int i = 0; i < 256; ++i) palette.insert(palette.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)});
    std::vector<glxtest::GifFrame> frames(400);
    uint32_t seed = 3;
    for (auto& f : frames) {
        f.width = f.height = 32;
        for (int i = 0; i < 32 * 32; ++i) f.indices.push_back(noise(seed));
    }
    writeFile(s / "anim.gif", glxtest::makeGif(32, 32, palette, frames));

    const Race races[] = {
        {"gluing", s / "pics", {}, {(s / "pics" / "p000.bmp").string(), "H20", "out.bmp"}, {"out.bmp", "patterns.xml"}},
        {"gif export", s / "anim", s / "anim" / "0.png", {(s / "anim.gif").string()}, {"399.png", "delays.txt"}},
    };
    for (const auto& race : races) {
        fs::remove_all(s / "elsewhere");
        fs::create_directories(s / "elsewhere");
        const fs::path moved = race.folder.string() + ".moved";
        std::atomic<bool> done{false}, swapped{false};
        const auto entries = [](const fs::path& folder) {
            return std::distance(fs::directory_iterator(folder), fs::directory_iterator{});
        };
        const auto before = race.watched.empty() ? entries(race.folder) : 0;
        std::thread swapper([&] {
            while (!done) {
                if (race.watched.empty() ? entries(race.folder) == before : !fs::exists(race.watched)) continue;
                fs::rename(race.folder, moved);
                fs::create_symlink(s / "elsewhere", race.folder);
                swapped = true;
                return;
            }
        });
        auto r = runChild(race.args, s.path);
        done = true;
        swapper.join();
        ASSERT_TRUE(swapped) << race.what;
        EXPECT_EQ(r.status, 0) << race.what << "\n" << r.err;
        EXPECT_TRUE(fs::is_empty(s / "elsewhere")) << race.what;
        for (const auto& name : race.results) EXPECT_TRUE(fs::exists(moved / name)) << race.what << " " << name;
        fs::remove(race.folder);
        fs::rename(moved, race.folder);
    }
}
