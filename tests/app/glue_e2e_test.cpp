// End-to-end gluing on the bitmap path: layouts, atlas bytes, exclusions,
// output kinds and failures, through the built tool.
#include <gtest/gtest.h>

#include "support/pictures.h"
#include "support/process.h"

using namespace glxtest;
namespace fs = std::filesystem;

namespace {

const Rgb kWhite{255, 255, 255}, kRed{255, 0, 0}, kGreen{0, 200, 0}, kBlue{0, 0, 255};

std::string header() { return "<?xml version=\"1.0\"?>\r\n<patterns>\r\n"; }

std::string line(const std::string& name, int x, int y, int w, int h) {
    return "<pattern name=\"" + name + "\" x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
           std::to_string(w) + "\" height=\"" + std::to_string(h) + "\" pivot.x=\"0\" pivot.y=\"0\"/>\r\n";
}

// Six 100 x 50 pictures, each a different shade so positions can be read back.
void sixPictures(const TempFolder& t) {
    for (int i = 0; i < 6; ++i)
        writeFile(t / ("p" + std::to_string(i) + ".bmp"), solidBmp(100, 50, Rgb{uint8_t(40 * i), 10, 200}));
}

}  // namespace

TEST(Gluing, HorizontalFourPerRow) {
    TempFolder t;
    sixPictures(t);
    auto r = runTool({(t / "p0.bmp").string(), "H4", "out.bmp"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");  // an output name makes the run silent
    Picture24 p = readBmp24(readFile(t / "out.bmp"));
    EXPECT_EQ(p.width, 400);
    EXPECT_EQ(p.height, 100);
    const int xs[] = {0, 100, 200, 300, 0, 100}, ys[] = {0, 0, 0, 0, 50, 50};
    std::string xml = header();
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(p.at(xs[i] + 50, ys[i] + 25), (Rgb{uint8_t(40 * i), 10, 200})) << i;
        xml += line(std::to_string(i), xs[i], ys[i], 100, 50);
    }
    EXPECT_EQ(p.at(250, 75), kWhite);  // uncovered grown area: the default background
    EXPECT_EQ(readFile(t / "patterns.xml"), xml + "</patterns>\r\n");
}

TEST(Gluing, VerticalFourPerColumnAskedThroughTheQuestions) {
    TempFolder t;
    sixPictures(t);
    auto r = runTool({(t / "p3.bmp").string()}, "y\n4\n", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Use vertical placement? [y/N] y\nVertical Pics = [8] 4\n6 Pictures gummed!\n");
    fs::path result;
    for (auto& e : fs::directory_iterator(t.path))
        if (e.path().filename().string().rfind("Glumix by Orvando_9 ", 0) == 0) result = e.path();
    ASSERT_FALSE(result.empty());
    // Time of day without colons, a number 0..98, the opened picture's extension.
    std::string stamp = result.filename().string().substr(20);
    EXPECT_EQ(result.extension(), ".bmp");
    EXPECT_GE(stamp.size(), 6u + 1 + 4);
    Picture24 p = readBmp24(readFile(result));
    EXPECT_EQ(p.width, 200);
    EXPECT_EQ(p.height, 200);
    const int xs[] = {0, 0, 0, 0, 100, 100}, ys[] = {0, 50, 100, 150, 0, 50};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(p.at(xs[i] + 1, ys[i] + 1), (Rgb{uint8_t(40 * i), 10, 200})) << i;
}

TEST(Gluing, MixedSizesKeepTheStartCanvasAndFillGrowthWithTheBackground) {
    TempFolder t;
    writeFile(t / "a.bmp", solidBmp(10, 10, kRed));
    writeFile(t / "b.bmp", solidBmp(20, 30, kGreen));
    writeFile(t / "c.bmp", solidBmp(15, 5, kBlue));
    auto r = runTool({(t / "a.bmp").string(), "H2", "small.bmp"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    Picture24 p = readBmp24(readFile(t / "small.bmp"));
    EXPECT_EQ(p.width, 41);  // never smaller than the start canvas
    EXPECT_EQ(p.height, 40);
    EXPECT_EQ(p.at(0, 0), kRed);
    EXPECT_EQ(p.at(10, 0), kGreen);
    EXPECT_EQ(p.at(0, 30), kBlue);
    EXPECT_EQ(p.at(35, 35), kWhite);
    EXPECT_EQ(readFile(t / "patterns.xml"), header() + line("0", 0, 0, 10, 10) + line("1", 10, 0, 20, 30) +
                                                line("2", 0, 30, 15, 5) + "</patterns>\r\n");

    // Grown area takes the background colour from the settings; what the
    // start canvas covered stays white.
    TempFolder g;
    writeFile(g / "a.bmp", solidBmp(30, 50, kGreen));
    writeFile(g / "b.bmp", solidBmp(60, 20, kBlue));
    writeFile(g / "Glumix.ini", "#0000FF\r\n");  // red, read blue-green-red
    r = runTool({(g / "a.bmp").string(), "H2", "grown.bmp"}, "", g.path);
    ASSERT_EQ(r.status, 0) << r.err;
    p = readBmp24(readFile(g / "grown.bmp"));
    EXPECT_EQ(p.width, 90);
    EXPECT_EQ(p.height, 50);
    EXPECT_EQ(p.at(35, 30), kWhite);  // inside the start canvas, uncovered
    EXPECT_EQ(p.at(35, 45), kRed);  // added by growing the height
    EXPECT_EQ(p.at(60, 30), kRed);  // added by growing the width
    EXPECT_EQ(p.at(60, 10), kBlue);
}

TEST(Gluing, NegativeCountPutsEverythingInOneRow) {
    TempFolder t;
    for (int i = 0; i < 3; ++i) writeFile(t / ("p" + std::to_string(i) + ".bmp"), solidBmp(50, 45, kGreen));
    auto r = runTool({(t / "p0.bmp").string(), "V-2", "row.bmp"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    Picture24 p = readBmp24(readFile(t / "row.bmp"));
    EXPECT_EQ(p.width, 150);
    EXPECT_EQ(p.height, 45);
}

TEST(Gluing, OrderAndExclusions) {
    TempFolder t;
    writeFile(t / "b.bmp", solidBmp(2, 1, kRed));
    writeFile(t / "A.bmp", solidBmp(1, 1, kRed));
    writeFile(t / "c.BMP", solidBmp(3, 1, kRed));
    writeFile(t / "Glumix by Orvando_9 1200005.bmp", solidBmp(7, 7, kRed));
    writeFile(t / "out.bmp", solidBmp(9, 9, kRed));  // the output named by argument 3
    writeFile(t / ".hidden.bmp", solidBmp(4, 1, kRed));
    fs::create_directories(t / "folder.bmp");
    writeFile(t / "notes.txt", "not a picture");
    auto r = runTool({(t / "b.bmp").string(), "H10", "out.bmp"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(t / "patterns.xml"), header() + line("0", 0, 0, 4, 1) + line("1", 4, 0, 1, 1) +
                                                line("2", 5, 0, 2, 1) + line("3", 7, 0, 3, 1) + "</patterns>\r\n");
}

TEST(Gluing, NamesFileAndASecondRunAppending) {
    TempFolder t;
    for (auto n : {"a", "b", "c"}) writeFile(t / (std::string(n) + ".bmp"), solidBmp(32, 32, kGreen));
    writeFile(t / "patterns.xml.txt", "hero\r\ntree & \"<bush>\"\n");
    auto r = runTool({(t / "a.bmp").string(), "H2", "o1.bmp"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string first = header() + line("hero", 0, 0, 32, 32) +
                              line("tree &amp; &quot;&lt;bush&gt;&quot;", 32, 0, 32, 32) + line("", 0, 32, 32, 32) +
                              "</patterns>\r\n";
    EXPECT_EQ(readFile(t / "patterns.xml"), first);
    fs::remove(t / "patterns.xml.txt");
    r = runTool({(t / "a.bmp").string(), "H2", "o1.bmp"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string second =
        first + line("0", 0, 0, 32, 32) + line("1", 32, 0, 32, 32) + line("2", 0, 32, 32, 32) + "</patterns>\r\n";
    EXPECT_EQ(readFile(t / "patterns.xml"), second);
    // A lone CR ends a line too.
    writeFile(t / "patterns.xml.txt", "one\rtwo\r\rfour");
    r = runTool({(t / "a.bmp").string(), "H2", "o1.bmp"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(t / "patterns.xml"), second + line("one", 0, 0, 32, 32) + line("two", 32, 0, 32, 32) +
                                                line("", 0, 32, 32, 32) + "</patterns>\r\n");
}

TEST(Gluing, OutputKindFollowsTheName) {
    TempFolder t;
    writeFile(t / "a.bmp", solidBmp(16, 16, kRed));
    for (std::string name : {"o.jpeg", "O.JPG"}) {
        auto r = runTool({(t / "a.bmp").string(), "H2", name}, "", t.path);
        ASSERT_EQ(r.status, 0) << r.err;
        std::string bytes = readFile(t / name);
        ASSERT_GT(bytes.size(), 4u);
        EXPECT_EQ(uint8_t(bytes[0]), 0xFF);
        EXPECT_EQ(uint8_t(bytes[1]), 0xD8);
        // Quality 100: every entry of the quantisation tables is 1.
        size_t dqt = bytes.find("\xFF\xDB");
        ASSERT_NE(dqt, std::string::npos);
        EXPECT_EQ(uint8_t(bytes[dqt + 5]), 1);
        EXPECT_EQ(uint8_t(bytes[dqt + 5 + 63]), 1);
        fs::remove(t / "patterns.xml");
    }
    // A PNG name in any case gets PNG bytes: from the bitmap path here, with
    // the alpha kept on the RGBA path (rgba_e2e_test).
    auto r = runTool({(t / "a.bmp").string(), "H2", "Sheet.PNG"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(t / "Sheet.PNG").substr(0, 8), "\x89PNG\r\n\x1a\n");

    // A name whose extension names no format the tool writes is refused
    // before anything is glued.
    fs::remove(t / "patterns.xml");
    for (std::string name : {"o.gif", "x.webp", "sheet", "o.jfif"}) {
        r = runTool({(t / "a.bmp").string(), "H2", name}, "", t.path);
        EXPECT_EQ(r.status, 2) << name;
        EXPECT_EQ(r.out, "") << name;
        EXPECT_EQ(r.err, "glumixer: cannot write \"" + (t / name).string() +
                             "\": not a picture format it writes (.png, .jpg, .jpeg, .jpe, .bmp)\n");
        EXPECT_FALSE(fs::exists(t / name)) << name;
        EXPECT_FALSE(fs::exists(t / "patterns.xml")) << name;
    }
}

TEST(Gluing, OpeningATextFileGluesWithItsExtension) {
    TempFolder t;
    writeFile(t / "a.bmp", solidBmp(8, 8, kRed));
    writeFile(t / "readme.txt", "hello");
    auto r = runTool({(t / "readme.txt").string() + ":silent"}, "\n\n", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Use vertical placement? [y/N]\nHorizontal Pics = [8]\n");  // silent: no closing message
    int found = 0;
    for (auto& e : fs::directory_iterator(t.path)) {
        std::string n = e.path().filename().string();
        if (n.rfind("Glumix by Orvando_9 ", 0) == 0) {
            ++found;
            EXPECT_EQ(e.path().extension(), ".txt");
            EXPECT_EQ(readFile(e.path()).substr(0, 2), "BM");
        }
    }
    EXPECT_EQ(found, 1);
}

TEST(Gluing, ZeroPicturesSaveTheStartCanvas) {
    TempFolder t;
    fs::create_directories(t / "empty");
    auto r = runTool({(t / "empty").string(), "H3"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0 Pictures gummed!\n");
    EXPECT_EQ(r.err, "glumixer: no pictures in \"" + (t / "empty").string() + "\", the sheet is empty\n");
    EXPECT_EQ(readFile(t / "empty" / "patterns.xml"), header() + "</patterns>\r\n");
    int found = 0;
    for (auto& e : fs::directory_iterator(t / "empty")) {
        if (e.path().filename() == "patterns.xml") continue;
        ++found;
        Picture24 p = readBmp24(readFile(e.path()));
        EXPECT_EQ(p.width, 41);
        EXPECT_EQ(p.height, 40);
        EXPECT_EQ(p.at(40, 39), kWhite);
    }
    EXPECT_EQ(found, 1);
}

TEST(Gluing, ABrokenPictureStopsTheRunAndKeepsTheOldOutput) {
    TempFolder t;
    writeFile(t / "a.bmp", solidBmp(8, 8, kRed));
    writeFile(t / "b.bmp", "BM this is not a bitmap");
    writeFile(t / "c.bmp", solidBmp(8, 8, kRed));
    writeFile(t / "out.bmp", "previous result");
    const std::string atlas = header() + line("0", 0, 0, 8, 8) + "</patterns>\r\n";
    writeFile(t / "patterns.xml", atlas);
    auto r = runTool({(t / "a.bmp").string(), "H2", "out.bmp"}, "", t.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("\nLast picture: b.bmp\nTech code: #230\n"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(t / "patterns.xml"), atlas);  // no lines for a sheet that was never written
    EXPECT_EQ(readFile(t / "out.bmp"), "previous result");
    size_t files = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(t.path)) ++files;
    EXPECT_EQ(files, 5u);  // no temporary file left behind
}

// Runs at once each append their whole block: the header once, then one
// block after the other, never interleaved.
TEST(Gluing, RunsAtOnceAppendWholeBlocks) {
    TempFolder t;
    for (int i = 0; i < 6; ++i) writeFile(t / ("p" + std::to_string(i) + ".bmp"), solidBmp(64, 64, kBlue));
    std::string block;
    for (int i = 0; i < 6; ++i) block += line(std::to_string(i), 64 * (i % 3), 64 * (i / 3), 64, 64);
    block += "</patterns>\r\n";
    for (int trial = 0; trial < 3; ++trial) {
        fs::remove(t / "patterns.xml");
        std::string script;
        for (int k = 0; k < 4; ++k)
            script += quote(GLX_BINARY) + " p0.bmp H3 Glumix" + std::to_string(k) + ".bmp </dev/null & ";
        auto r = runProgram({"/bin/sh", "-c", script + "wait"}, t.path);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(readFile(t / "patterns.xml"), header() + block + block + block + block) << "trial " << trial;
    }
}

// The names file is read line by line up to the settings line cap; names
// that XML cannot hold are refused, naming the file, and the atlas is left
// as it was.
TEST(Gluing, NamesThatCannotBeWrittenStopTheRun) {
    TempFolder t;
    writeFile(t / "a.bmp", solidBmp(8, 8, kRed));
    writeFile(t / "patterns.xml", "old");
    const struct {
        std::string names, message;
    } cases[] = {
        {std::string((size_t(1) << 20) + 1, 'n') + "\r\nok", "Line 1 is longer than 1048576 bytes"},
        {"a\x01"
         "b\n",
         "Line 1 holds a control character"},
    };
    for (const auto& c : cases) {
        writeFile(t / "patterns.xml.txt", c.names);
        auto r = runTool({(t / "a.bmp").string(), "H2", "out.bmp"}, "", t.path);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("Cannot read file \"" + (t / "patterns.xml.txt").string() + "\". " + c.message, 0), 0u)
            << r.err;
        EXPECT_NE(r.err.find("Tech code: #2203\n"), std::string::npos) << r.err;
        EXPECT_EQ(readFile(t / "patterns.xml"), "old");
        EXPECT_FALSE(fs::exists(t / "out.bmp"));
    }
}

// The canvas grows ahead of need in large steps; the saved picture must be
// what growing picture by picture gives: the start canvas white, all other
// uncovered area in the background colour, every picture at its place.
TEST(Gluing, ManyMixedSizesMatchStepByStepGrowth) {
    TempFolder t;
    const Rgb background{255, 0, 0};
    writeFile(t / "Glumix.ini", "0000FF");
    struct Placed {
        int w, h;
        Rgb c;
    };
    std::vector<Placed> pics;
    unsigned seed = 12345;
    auto next = [&seed](unsigned n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int i = 0; i < 40; ++i) {
        Placed p{int(1 + next(60)), int(1 + next(45)),
                 Rgb{uint8_t(next(200)), uint8_t(50 + next(200)), uint8_t(next(256))}};
        pics.push_back(p);
        char name[16];
        std::snprintf(name, sizeof name, "p%02d.bmp", i);
        writeFile(t / name, solidBmp(p.w, p.h, p.c));
    }
    auto r = runTool({(t / "p00.bmp").string(), "H7", "out.bmp"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;

    // The same layout rule, worked out here on its own.
    int x = 0, y = 0, rowHeight = 0, width = 41, height = 40;
    std::vector<std::pair<int, int>> at;
    for (size_t i = 0; i < pics.size(); ++i) {
        at.emplace_back(x, y);
        width = std::max(width, x + pics[i].w);
        height = std::max(height, y + pics[i].h);
        rowHeight = std::max(rowHeight, pics[i].h);
        x += pics[i].w;
        if ((i + 1) % 7 == 0) {
            x = 0;
            y += rowHeight;
            rowHeight = 0;
        }
    }
    std::vector<Rgb> want(static_cast<size_t>(width * height), background);
    for (int yy = 0; yy < 40; ++yy)
        for (int xx = 0; xx < 41; ++xx) want[static_cast<size_t>(yy * width + xx)] = Rgb{255, 255, 255};
    for (size_t i = 0; i < pics.size(); ++i)
        for (int yy = 0; yy < pics[i].h; ++yy)
            for (int xx = 0; xx < pics[i].w; ++xx)
                want[static_cast<size_t>((at[i].second + yy) * width + at[i].first + xx)] = pics[i].c;

    Picture24 p = readBmp24(readFile(t / "out.bmp"));
    ASSERT_EQ(p.width, width);
    ASSERT_EQ(p.height, height);
    for (int yy = 0; yy < height; ++yy)
        for (int xx = 0; xx < width; ++xx)
            ASSERT_EQ(p.at(xx, yy), want[static_cast<size_t>(yy * width + xx)]) << xx << "," << yy;
}
