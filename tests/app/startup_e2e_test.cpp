// End-to-end: start-up, the help path, the error report and the settings
// file, through the built tool.
#include <gtest/gtest.h>

#include "run_tool.h"

using namespace glxtest;
namespace fs = std::filesystem;

namespace {

// A copy of the tool in its own folder, so the help file lands there.
fs::path copyTool(const TempFolder& t, const std::string& name = "glumixer") {
    fs::path bin = t / name;
    fs::copy_file(GLX_BINARY, bin, fs::copy_options::overwrite_existing);
    return bin;
}

}  // namespace

TEST(HelpPath, NoArgumentsWritesAndShowsTheHelpFileAndSucceeds) {
    TempFolder t;
    auto bin = copyTool(t);
    writeFile(t / "glumixer.txt", "stale help");
    auto r = runTool({}, "", t.path, bin.string());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Glumix by Orvando_9\nOpen picture with this exe!\n");
    std::string help = readFile(t / "glumixer.txt");
    EXPECT_EQ(help.rfind("Picture Glumix [1.8] by Orvando_9\r\n", 0), 0u);
    EXPECT_NE(help.find("[ENGLISH]"), std::string::npos);
    EXPECT_NE(help.find("[РУССКИЙ]"), std::string::npos);
    EXPECT_NE(help.find("Glumix_paste.ini"), std::string::npos);
    EXPECT_NE(help.find("delays.txt"), std::string::npos);
    // Every line ends in CR LF and nothing else.
    for (size_t i = 0; i < help.size(); ++i) {
        if (help[i] == '\n') {
            ASSERT_TRUE(i > 0 && help[i - 1] == '\r') << i;
        }
        if (help[i] == '\r') {
            ASSERT_TRUE(i + 1 < help.size() && help[i + 1] == '\n') << i;
        }
    }
    EXPECT_EQ(r.out, help);  // the terminal shows the help file
}

TEST(HelpPath, UnusableArgumentsEndWithStatusTwo) {
    TempFolder t;
    auto bin = copyTool(t);
    auto r = runTool({"no such picture.png"}, "", t.path, bin.string());
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(fs::exists(t / "glumixer.txt"));
    // Positional: missing picture, layout given, no paste script.
    r = runTool({"missing.bmp", "H3", "out.bmp"}, "", t.path, bin.string());
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(fs::exists(t / "out.bmp"));
}

TEST(HelpPath, ProgramWithoutExtensionAndUnwritableHelpFile) {
    TempFolder t;
    auto bin = copyTool(t, "tool.v2");
    // The help file's name is taken by a folder: the save fails and the
    // error report shows the phase of the message box.
    fs::create_directories(t / "tool.txt");
    auto r = runTool({}, "", t.path, bin.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("\nLast picture:\nTech code: #1100\n"), std::string::npos) << r.err;
}

TEST(ErrorReport, EmptySettingsFileStopsAtPhase21) {
    TempFolder t;
    writeFile(t / "a.bmp", "not really a bitmap");
    writeFile(t / "Glumix.ini", "");
    auto r = runTool({(t / "a.bmp").string(), "H2"}, "", t.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "List index out of bounds (0)\nLast picture: " + (t / "a.bmp").string() +
                         "\nTech code: #21\n");
    EXPECT_EQ(r.out, "");
}

TEST(ErrorReport, BarePictureNameReadsSettingsOfTheCurrentFolder) {
    TempFolder t;
    writeFile(t / "a.bmp", "x");
    writeFile(t / "Glumix.ini", "");
    auto r = runTool({"a.bmp", "V2"}, "", t.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Last picture: a.bmp\nTech code: #21"), std::string::npos) << r.err;
}

TEST(LayoutQuestions, NoInputAnswersNoAndCancelWithoutHanging) {
    TempFolder t;
    writeFile(t / "a.bmp", "x");
    writeFile(t / "Glumix.ini", "");
    auto r = runTool({(t / "a.bmp").string()}, "", t.path);
    EXPECT_EQ(r.out, "Use vertical placement? [y/N]\nHorizontal Pics = [8]\n");
    EXPECT_EQ(r.status, 1);  // then the empty settings file
    r = runTool({(t / "a.bmp").string()}, "YES\n3\n", t.path);
    EXPECT_EQ(r.out, "Use vertical placement? [y/N] YES\nVertical Pics = [8] 3\n");
}
