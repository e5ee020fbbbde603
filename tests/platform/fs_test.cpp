#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/fs.h"

using namespace glx;
namespace fs = std::filesystem;

TEST(Mask, MatchesWildcardsIgnoringCase) {
    EXPECT_TRUE(platform::matchesMask("a.PNG", "*.png"));
    EXPECT_TRUE(platform::matchesMask(".hidden.jpg", "*.jpg"));
    EXPECT_FALSE(platform::matchesMask("a.jpeg", "*.jpe"));
    EXPECT_TRUE(platform::matchesMask("a.jpe", "*.jpe"));
    EXPECT_TRUE(platform::matchesMask("abc", "a?c"));
    EXPECT_FALSE(platform::matchesMask("a.png.txt", "*.png"));
}

TEST(Listing, SortsIgnoringCaseSkipsFoldersKeepsHiddenFiles) {
    auto dir = fs::temp_directory_path() / ("glx_list_" + std::to_string(::getpid()));
    fs::create_directories(dir / "sub.png");
    for (auto name : {"b.jpg", "A.bmp", "c.PNG", ".h.png", "notes.txt", "d.jpeg", "e.jpe"})
        std::ofstream(dir / name) << "x";
    auto names = platform::listFolder(dir.string(), "*.bmp;*.jpg;*.jpe;*.jpeg;*.png");
    std::vector<std::string> expected = {".h.png", "A.bmp", "b.jpg", "c.PNG", "d.jpeg", "e.jpe"};
    EXPECT_EQ(names, expected);
    fs::remove_all(dir);
}

TEST(Folders, CreatesParentsAndKnowsItsOwnPath) {
    auto dir = fs::temp_directory_path() / ("glx_mk_" + std::to_string(::getpid()));
    EXPECT_TRUE(platform::forceDirectories((dir / "a" / "b").string()));
    EXPECT_TRUE(platform::directoryExists((dir / "a" / "b").string()));
    EXPECT_FALSE(platform::fileExists((dir / "a").string()));
    fs::remove_all(dir);
    EXPECT_EQ(platform::programPath(), fs::canonical("/proc/self/exe").string());
}
