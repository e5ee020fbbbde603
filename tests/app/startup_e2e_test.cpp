// End-to-end: start-up, the help path, the error report and the settings
// file, through the built tool.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>

#include "support/gif_builder.h"
#include "support/pictures.h"
#include "support/process.h"

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

TEST(HelpPath, UnusableArgumentsEndWithStatusTwoAndAreNamed) {
    TempFolder t;
    auto bin = copyTool(t);
    auto r = runTool({"no such picture.png"}, "", t.path, bin.string());
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(fs::exists(t / "glumixer.txt"));
    EXPECT_EQ(r.err.rfind("glumixer: cannot open \"no such picture.png\": No such file or directory\n", 0), 0u)
        << r.err;
    // Positional: missing picture, layout given, no paste script.
    r = runTool({"missing.bmp", "H3", "out.bmp"}, "", t.path, bin.string());
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(fs::exists(t / "out.bmp"));
    EXPECT_EQ(r.err.rfind("glumixer: cannot open \"missing.bmp\": No such file or directory\n", 0), 0u) << r.err;
    // Without arguments there is nothing to name.
    r = runTool({}, "", t.path, bin.string());
    EXPECT_EQ(r.err.find("glumixer: cannot open"), std::string::npos);
}

TEST(HelpPath, HelpAndVersionOptionsPrintAndWriteNothing) {
    TempFolder t;
    auto bin = copyTool(t);
    for (const char* flag : {"--help", "-h"}) {
        auto r = runTool({flag}, "", t.path, bin.string());
        EXPECT_EQ(r.status, 0) << flag;
        EXPECT_EQ(r.err, "") << flag;
        EXPECT_EQ(r.out.rfind("Picture Glumix [1.8] by Orvando_9\n", 0), 0u) << flag;
        EXPECT_NE(r.out.find("[ENGLISH]"), std::string::npos) << flag;
        EXPECT_EQ(r.out.find('\r'), std::string::npos) << flag;
    }
    auto r = runTool({"--version"}, "", t.path, bin.string());
    EXPECT_EQ(r.status, 0);
    ASSERT_GT(r.out.size(), 10u);
    EXPECT_EQ(r.out.rfind("glumixer ", 0), 0u) << r.out;
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(r.out[9]))) << r.out;
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
    EXPECT_EQ(std::distance(fs::directory_iterator(t.path), {}), 1);  // only the program
}

// An installed program lives in a folder its user cannot write to: the help
// file then goes to the user's cache folder. Run as another user when the
// tests run as root (root may write anywhere).
TEST(HelpPath, AnUnwritableProgramFolderPutsTheHelpIntoTheUsersCache) {
    TempFolder t;
    fs::create_directories(t / "bin");
    fs::create_directories(t / "home");
    const fs::path bin = t / "bin" / "glumixer";
    fs::copy_file(GLX_BINARY, bin);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((t / "home").c_str(), 65534, 65534), 0);
    } else {
        fs::permissions(t / "bin", fs::perms::owner_write, fs::perm_options::remove);
    }
    const std::string launcher = root ? "setpriv" : "env";
    std::vector<std::string> prefix;
    if (root) prefix = {"--reuid=65534", "--regid=65534", "--clear-groups", "env"};
    struct Case {
        std::string env;
        fs::path help;
    } cases[] = {{"XDG_CACHE_HOME=" + (t / "home" / "xdg").string(), t / "home" / "xdg" / "glumixer" / "glumixer.txt"},
                 {"HOME=" + (t / "home").string(), t / "home" / ".cache" / "glumixer" / "glumixer.txt"}};
    for (const auto& c : cases) {
        std::vector<std::string> args = prefix;
        args.push_back("-u");
        args.push_back("XDG_CACHE_HOME");
        args.push_back(c.env);
        args.push_back(bin.string());
        auto r = runTool(args, "", t.path, launcher);
        EXPECT_EQ(r.status, 0) << c.env << "\n" << r.err;
        ASSERT_TRUE(fs::exists(c.help)) << c.env;
        EXPECT_EQ(r.out, readFile(c.help)) << c.env;
        EXPECT_EQ(readFile(c.help).rfind("Picture Glumix [1.8] by Orvando_9\r\n", 0), 0u);
    }
    EXPECT_FALSE(fs::exists(t / "bin" / "glumixer.txt"));
    fs::permissions(t / "bin", fs::perms::owner_write, fs::perm_options::add);
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
    EXPECT_EQ(r.err, "List index out of bounds (0)\nLast picture: " + (t / "a.bmp").string() + "\nTech code: #21\n");
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

TEST(Arguments, SeveralDroppedPicturesOpenTheFirstAndReplaceNone) {
    TempFolder t;
    const std::vector<std::string> names = {"a.bmp", "b.bmp", "c.bmp", "d.bmp"};
    for (size_t i = 0; i < names.size(); ++i) writeFile(t / names[i], solidBmp(4, 4, Rgb{uint8_t(60 * i), 0, 0}));
    const std::string third = readFile(t / "c.bmp"), fourth = readFile(t / "d.bmp");
    for (size_t count : {size_t(2), size_t(3), size_t(4)}) {
        std::vector<std::string> args;
        for (size_t i = 0; i < count; ++i) args.push_back((t / names[i]).string());
        auto r = runTool(args, "n\n2\n", t.path);
        EXPECT_EQ(r.status, 0) << count << r.err;
        // The layout questions are asked, as for one picture opened alone.
        EXPECT_EQ(r.out, "Use vertical placement? [y/N] n\nHorizontal Pics = [8] 2\n4 Pictures gummed!\n") << count;
        EXPECT_EQ(readFile(t / "c.bmp"), third);
        EXPECT_EQ(readFile(t / "d.bmp"), fourth);
    }
    int results = 0;
    for (auto& e : fs::directory_iterator(t.path))
        if (e.path().filename().string().rfind("Glumix by Orvando_9 ", 0) == 0) ++results;
    EXPECT_EQ(results, 3);
    // A second argument that reads as a layout stays the layout, even when
    // a file of that name exists.
    writeFile(t / "H2", "");
    auto r = runTool({(t / "a.bmp").string(), "H2", "out.bmp"}, "", t.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(t / "out.bmp"));
}

// What the tool read differently from what it was given is said in one
// line on standard error; the run itself goes on as before.
TEST(Arguments, MisreadingsAreSaid) {
    TempFolder t;
    writeFile(t / "a.bmp", solidBmp(4, 4, Rgb{1, 2, 3}));
    // Layout, and how it was read when not whole ("" when it was).
    const std::pair<std::string, std::string> layouts[] = {
        {"H1O", "H1"}, {"Hq", "H1"}, {"row4", "H1"}, {"H4.5", "H1"}, {"H99999999999", "H1"},
        {"v2x", "V1"}, {"X4", "H4"}, {"H4", ""},     {"v", ""},      {"V-3", ""}};
    for (const auto& [layout, read] : layouts) {
        auto r = runTool({(t / "a.bmp").string(), layout, "out.bmp"}, "", t.path);
        EXPECT_EQ(r.status, 0) << layout << r.err;
        EXPECT_EQ(r.err, read.empty() ? "" : "glumixer: layout \"" + layout + "\" read as " + read + "\n") << layout;
    }

    fs::remove(t / "out.bmp");
    auto r = runTool({(t / "a.bmp").string()}, "n\nfour\n", t.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Use vertical placement? [y/N] n\nHorizontal Pics = [8] four\n1 Pictures gummed!\n");
    EXPECT_EQ(r.err, "glumixer: count \"four\" is not a number, read as 1\n");

    r = runTool({(t / "a.bmp").string(), "H2", "out.bmp", "none.ini"}, "", t.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "glumixer: paste script \"" + (t / "none.ini").string() + "\" not found, the folder is glued instead\n");
    EXPECT_TRUE(fs::exists(t / "patterns.xml"));
}

// A message's own CR LF is a line break of the report; other control
// characters stay escaped.
TEST(ErrorReport, AMessagesOwnLineBreakShows) {
    TempFolder t;
    writeFile(t / "a.png", pngWithIdat(2, 2, "\x78\x9c\xff\xff\xff\xff"));
    auto r = runTool({(t / "a.png").string(), "H2"}, "", t.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        r.err.rfind("Could not decompress the image because it contains invalid compressed data.\n Description: ", 0),
        0u)
        << r.err;
    EXPECT_EQ(r.err.find("\\x0D"), std::string::npos) << r.err;
}

TEST(ErrorReport, RawBytesInAMessageAreEscaped) {
    TempFolder t;
    writeFile(t / "a.bmp", solidBmp(4, 4, Rgb{1, 2, 3}));
    writeFile(t / "Glumix_paste.ini", std::string("\x89PNG\x1a\x01", 6) + "\nb.bmp\n");
    auto r = runTool({(t / "a.bmp").string(), "H2"}, "", t.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("'\\x89PNG\\x1A\\x01' is not a valid integer value\nLast picture: "), std::string::npos)
        << r.err;
    for (char c : r.err + r.out) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << int(c);
}

// Every run mode with relative, "./"-prefixed and trailing-slash arguments,
// run from the folder above the pictures: what the run writes lands beside
// the pictures (a relative output name is taken in the folder part of the
// picture argument: for a folder named without a trailing slash, that is
// its parent).
TEST(Arguments, RelativePathsFromAnotherFolder) {
    struct Case {
        std::vector<std::string> args;
        const char* written;  // relative to the current folder
        bool atlas;  // a gluing run: patterns.xml beside the pictures
    } cases[] = {
        {{"sub/a.bmp", "H2", "out.bmp"}, "sub/out.bmp", true},
        {{"./sub/a.bmp", "H2", "out.bmp"}, "sub/out.bmp", true},
        {{"sub/", "H2", "out.bmp"}, "sub/out.bmp", true},
        {{"./sub/", "H2", "out.png"}, "sub/out.png", true},
        {{"sub", "H2", "out.bmp"}, "out.bmp", true},
        {{"sub/a.bmp", "H2", "pasted.bmp", "sub/script.ini"}, "sub/pasted.bmp", false},
        {{"./sub/a.bmp", "H2", "pasted.png", "script.ini"}, "sub/pasted.png", false},
        {{"sub/anim.gif"}, "sub/anim/0.png", false},
        {{"./sub/anim.gif"}, "sub/anim/delays.txt", false},
    };
    for (const auto& c : cases) {
        TempFolder t;
        fs::create_directories(t / "sub");
        writeFile(t / "sub" / "a.bmp", solidBmp(3, 2, Rgb{9, 9, 9}));
        writeFile(t / "sub" / "b.bmp", solidBmp(2, 2, Rgb{7, 7, 7}));
        writeFile(t / "sub" / "script.ini", "1\nb.bmp\n");
        glxtest::GifFrame frame;
        frame.width = frame.height = 2;
        frame.indices = {0, 1, 1, 0};
        writeFile(t / "sub" / "anim.gif", glxtest::makeGif(2, 2, {0, 0, 0, 255, 255, 255}, {frame}));
        auto r = runTool(c.args, "", t.path);
        const std::string what = c.args[0] + " " + c.written;
        EXPECT_EQ(r.status, 0) << what << "\n" << r.err;
        EXPECT_TRUE(fs::exists(t / c.written)) << what;
        EXPECT_EQ(fs::exists(t / "sub" / "patterns.xml"), c.atlas) << what;
        EXPECT_FALSE(fs::exists(t / "patterns.xml")) << what;
    }
}
