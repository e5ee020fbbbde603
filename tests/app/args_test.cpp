#include <gtest/gtest.h>

#include <filesystem>

#include "app/args.h"
#include "app/run.h"

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
