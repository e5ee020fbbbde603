#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/args.h"
#include "app/options.h"
#include "app/run.h"
#include "base/exception.h"

using namespace glx::app;
namespace fs = std::filesystem;

namespace {
// The run under test, with the given arguments after the program name.
std::unique_ptr<Run> current;
Run& use(std::vector<std::string> args) {
    current = std::make_unique<Run>(std::move(args));
    return *current;
}
}  // namespace

TEST(Arguments, SilentSuffixIsCutAfterTheFirstCharacterOnly) {
    use({"/p/a.png:silent", ":silent", "x:silentyz"});
    EXPECT_EQ(getArg(*current, 1), "/p/a.png");
    EXPECT_TRUE(current->silent);
    current->silent = false;
    EXPECT_EQ(getArg(*current, 2), ":silent");  // begins with it: unchanged, not silent
    EXPECT_FALSE(current->silent);
    EXPECT_EQ(getArg(*current, 3), "x");
    EXPECT_TRUE(current->silent);
    EXPECT_EQ(getArg(*current, 4), "");
    EXPECT_FALSE(getArg(*current, 0).empty());  // the program's own path
}

TEST(Arguments, JoinRebuildsAPathSplitAtBlanks) {
    use({"/pics/my", "", "holiday", "photo.jpg"});
    EXPECT_EQ(joinArgs(*current), "/pics/my holiday photo.jpg");
    EXPECT_FALSE(current->silent);
    use({"/pics/a.jpg", "more:silent"});
    EXPECT_EQ(joinArgs(*current), "/pics/a.jpg more");
    EXPECT_TRUE(current->silent);
    use({});
    EXPECT_EQ(joinArgs(*current), "");
}

TEST(Arguments, PositionalLayoutLetterAndCount) {
    struct Case {
        const char* layout;
        int perRow, perColumn;
    } cases[] = {
        {"V4", 0, 4}, {"h10", 10, 0}, {"V", 0, 1},     {"12", 2, 0},   {"V0", 0, 0},
        {"H0", 0, 0}, {"H-3", -3, 0}, {"Hx12", 18, 0}, {"Vabc", 0, 1},
    };
    for (const auto& c : cases) {
        use({"/pics/a.jpg", c.layout});
        PositionalArgs p = readPositional(*current);
        EXPECT_EQ(p.perRow, c.perRow) << c.layout;
        EXPECT_EQ(p.perColumn, c.perColumn) << c.layout;
        EXPECT_FALSE(current->silent) << c.layout;
    }
}

TEST(Arguments, PositionalOutputAndScriptAreRelativeToThePicture) {
    use({"/pics/a.jpg", "H2", "out.png", "script.ini"});
    PositionalArgs p = readPositional(*current);
    EXPECT_EQ(p.picture, "/pics/a.jpg");
    EXPECT_EQ(p.outPath, "/pics/out.png");
    EXPECT_EQ(p.pastePath, "/pics/script.ini");
    EXPECT_TRUE(current->silent);  // an output name makes the run current->silent

    use({"/pics/a.jpg", "H2", "/elsewhere/x.bmp"});
    p = readPositional(*current);
    EXPECT_EQ(p.outPath, "/elsewhere/x.bmp");

    // Relative paths are made absolute at once, against the current folder.
    use({"a.jpg", "H2", "o.bmp", "./s.ini"});
    p = readPositional(*current);
    EXPECT_EQ(p.outPath, fs::current_path().string() + "/o.bmp");
    EXPECT_EQ(p.pastePath, fs::current_path().string() + "/s.ini");

    use({"/pics/a.jpg", "H2", ""});
    p = readPositional(*current);
    EXPECT_EQ(p.outPath, "");
    EXPECT_FALSE(current->silent);
}

TEST(Options, FrontOptionsAreTakenUntilTheFirstOtherArgumentOrTheDoubleDash) {
    struct Case {
        std::vector<std::string> args;
        FrontAction action;
        std::vector<std::string> rest;
        std::string errorLine;
    } cases[] = {
        {{"--atlas=json,css", "--pot", "a.png", "--trim"}, FrontAction::Run, {"a.png", "--trim"}, ""},
        {{"--sort=natural", "--", "--trim", "H2"}, FrontAction::Run, {"--trim", "H2"}, ""},
        {{"a.png", "--trim"}, FrontAction::Run, {"a.png", "--trim"}, ""},
        {{"--pot", "--help"}, FrontAction::Help, {}, ""},
        {{"--version", "a.png"}, FrontAction::Version, {}, ""},
        {{"--atlas=jsn", "a.png"},
         FrontAction::Error,
         {},
         "glumixer: unknown option \"--atlas=jsn\"; formats: json, json-array, godot, libgdx, css\n"},
        {{"--atlas=json,", "a.png"}, FrontAction::Error, {}, ""},
        {{"--padding=-1"},
         FrontAction::Error,
         {},
         "glumixer: unknown option \"--padding=-1\"; padding: a whole number from 0 to 4096\n"},
        {{"--padding=4097"}, FrontAction::Error, {}, ""},
        {{"--padding=1x"}, FrontAction::Error, {}, ""},
        {{"--padding"}, FrontAction::Error, {}, ""},
        {{"--max-size=0"},
         FrontAction::Error,
         {},
         "glumixer: unknown option \"--max-size=0\"; max-size: a whole number from 1 to 16384\n"},
        {{"--trim=maybe"}, FrontAction::Error, {}, "glumixer: unknown option \"--trim=maybe\"; yes or no\n"},
        {{"--patterns="}, FrontAction::Error, {}, ""},
        {{"--align=left"}, FrontAction::Error, {}, ""},
        {{"--frobnicate", "a.png"}, FrontAction::Error, {}, ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        Options o;
        FrontOptions front = takeFrontOptions(args, o);
        const std::string label = c.args.front();
        EXPECT_EQ(front.action, c.action) << label;
        if (c.action == FrontAction::Run) {
            EXPECT_EQ(args, c.rest) << label;
        }
        if (c.action == FrontAction::Error) {
            EXPECT_EQ(front.errorLine.rfind("glumixer: unknown option \"" + label + "\"; ", 0), 0u) << front.errorLine;
            if (!c.errorLine.empty()) {
                EXPECT_EQ(front.errorLine, c.errorLine);
            }
        }
    }
    // An unknown name lists the known ones.
    std::vector<std::string> args{"--frobnicate"};
    Options o;
    EXPECT_NE(takeFrontOptions(args, o).errorLine.find("options: --atlas, --names,"), std::string::npos);
}

TEST(Options, EveryOptionReachesItsField) {
    std::vector<std::string> args{"--atlas=css,json,css",
                                  "--names=stem",
                                  "--sort=natural",
                                  "--patterns=none",
                                  "--newline=lf",
                                  "--animations",
                                  "--padding=2",
                                  "--border=3",
                                  "--extrude=4",
                                  "--pot",
                                  "--cell=max",
                                  "--align=bottom",
                                  "--trim=yes",
                                  "--alias",
                                  "--pack=maxrects",
                                  "--max-size=16384",
                                  "--allow-outside",
                                  "--sheet",
                                  "--gif-meta",
                                  "--compose=browser",
                                  "--apng",
                                  "pic.png"};
    Options o;
    FrontOptions front = takeFrontOptions(args, o);
    ASSERT_EQ(front.action, FrontAction::Run) << front.errorLine;
    EXPECT_EQ(args, std::vector<std::string>{"pic.png"});
    EXPECT_EQ(front.given.size(), 21u);
    EXPECT_EQ(o.atlas, (std::vector<AtlasFormat>{AtlasFormat::Css, AtlasFormat::Json}));  // repeats once
    EXPECT_EQ(o.names, FrameNames::Stem);
    EXPECT_TRUE(o.namesGiven);
    EXPECT_EQ(o.sort, SortOrder::Natural);
    EXPECT_TRUE(o.patternsNone);
    EXPECT_TRUE(o.newlineLf && o.animations && o.allowOutside && o.sheet && o.gifMeta && o.apng);
    EXPECT_EQ(o.compose, Compose::Browser);
    const LayoutOptions& l = o.layout;
    EXPECT_EQ(l.padding, 2);
    EXPECT_EQ(l.border, 3);
    EXPECT_EQ(l.extrude, 4);
    EXPECT_TRUE(l.pot && l.trim && l.alias);
    EXPECT_EQ(l.cell, CellMode::Max);
    EXPECT_EQ(l.align, CellAlign::Bottom);
    EXPECT_EQ(l.pack, PackMode::MaxRects);
    EXPECT_EQ(l.maxSize, 16384);
    EXPECT_TRUE(l.any());
    // Options without layout keep the described grid.
    Options plain;
    std::vector<std::string> few{"--atlas=json", "--sort=natural", "--trim=no", "x"};
    takeFrontOptions(few, plain);
    EXPECT_FALSE(plain.layout.any());
    // Every option has its help line.
    const std::string help = optionsHelp();
    for (const char* key : {"atlas",  "names",    "sort",          "patterns", "newline",  "animations", "padding",
                            "border", "extrude",  "pot",           "cell",     "align",    "trim",       "alias",
                            "pack",   "max-size", "allow-outside", "sheet",    "gif-meta", "compose",    "apng"})
        EXPECT_NE(help.find("  --" + std::string(key)), std::string::npos) << key;
}

TEST(Options, TheOptionsFileReadsKeysAndRefusesUnknownOnes) {
    const fs::path dir = fs::temp_directory_path() / ("glx_options_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "Glumix_options.ini").string();
    auto write = [&](const std::string& text) { std::ofstream(path, std::ios::binary) << text; };

    write("# engine sheets\r\n\r\natlas = json,libgdx\r\n  trim\r\nsort=natural\npatterns=out/p.xml\n");
    auto settings = readOptionsFile(path, size_t(1) << 20);
    ASSERT_EQ(settings.size(), 4u);
    EXPECT_EQ(settings[0].key, "atlas");
    EXPECT_EQ(settings[0].value, "json,libgdx");
    EXPECT_EQ(settings[1].key, "trim");
    EXPECT_FALSE(settings[1].value.has_value());

    // The file's settings, then the command line's on top; a relative path
    // in the file is relative to its folder.
    glx::app::Run run({});
    run.givenOptions = {{"sort", "alphabetical"}};
    run.options.sort = SortOrder::Alphabetical;
    run.phase = 20;
    readOptionsBeside(run, dir.string() + "/");
    EXPECT_EQ(run.phase, 20);
    EXPECT_EQ(run.options.atlas, (std::vector<AtlasFormat>{AtlasFormat::Json, AtlasFormat::LibGdx}));
    EXPECT_TRUE(run.options.layout.trim);
    EXPECT_EQ(run.options.sort, SortOrder::Alphabetical);
    EXPECT_EQ(run.options.patternsPath, (dir / "out/p.xml").string());

    struct Bad {
        std::string text, message;
    } bad[] = {
        {"atlas=json\nfrobnicate=1\n", "Unknown key \"frobnicate\" in \"" + path + "\""},
        {"--trim\n", "Unknown key \"--trim\" in \"" + path + "\""},
        {"padding=-1\n", "Bad value of key \"padding\" in \"" + path + "\"; padding: a whole number from 0 to 4096"},
        {"atlas=" + std::string((size_t(1) << 20) + 1, 'j') + "\n", "Line 1 of \"" + path + "\" is too long"},
    };
    for (const auto& b : bad) {
        write(b.text);
        try {
            readOptionsFile(path, size_t(1) << 20);
            ADD_FAILURE() << b.message;
        } catch (const glx::Exception& e) {
            EXPECT_EQ(e.message(), b.message);
        }
    }
    // A second link to the file makes it refused.
    write("trim\n");
    fs::create_hard_link(path, dir / "other.ini");
    EXPECT_THROW(readOptionsFile(path, size_t(1) << 20), glx::EFOpenError);
    fs::remove_all(dir);
}
