// End-to-end paste scripts: positions, modes, growth and safe saving.
#include <gtest/gtest.h>

#include "app/paste.h"
#include "base/exception.h"
#include "hardening/hostile_files.h"
#include "png/png_object.h"
#include "png_oracle.h"
#include "support/gif_builder.h"
#include "support/pictures.h"
#include "support/process.h"

using namespace glxtest;
namespace fs = std::filesystem;

TEST(PositionLine, EveryFormAndDefault) {
    uint16_t phase = 0;
    auto parsePositionLine = [&phase](const std::string& line) { return glx::app::parsePositionLine(phase, line); };
    auto p = parsePositionLine("3");
    EXPECT_EQ(p.cell, 3);
    EXPECT_EQ(p.mode, 1);
    EXPECT_EQ(p.x, -32000);
    p = parsePositionLine("10;20");
    EXPECT_EQ(p.x, 10);
    EXPECT_EQ(p.y, 20);
    EXPECT_EQ(p.mode, 1);
    EXPECT_EQ(p.cell, 0);
    EXPECT_EQ(parsePositionLine("10;20;1").mode, 0);
    EXPECT_EQ(parsePositionLine("10;20;3").mode, 2);
    EXPECT_EQ(parsePositionLine("10;20;0").mode, 0);
    EXPECT_EQ(parsePositionLine("10;20;300").mode, 43);  // (300 - 1) mod 256
    EXPECT_EQ(parsePositionLine("10;20;-1").mode, 255);
    p = parsePositionLine("5;;3");
    EXPECT_EQ(p.cell, 5);
    EXPECT_EQ(p.mode, 2);
    EXPECT_EQ(p.x, -32000);
    p = parsePositionLine("5;;");
    EXPECT_EQ(p.cell, 5);
    EXPECT_EQ(p.mode, 1);
    EXPECT_EQ(parsePositionLine("x;;").cell, 0);
    p = parsePositionLine("10;");
    EXPECT_EQ(p.x, 10);
    EXPECT_EQ(p.y, -32000);
    p = parsePositionLine(";20");
    EXPECT_EQ(p.x, 20);
    EXPECT_EQ(p.y, -32000);
    p = parsePositionLine(";5;7");
    EXPECT_EQ(p.x, 5);
    EXPECT_EQ(p.y, 7);
    p = parsePositionLine("-40000;5");
    EXPECT_EQ(p.x, -40000);
    EXPECT_EQ(p.y, 5);
    EXPECT_EQ(phase, 107);
    try {
        parsePositionLine("2.5");
        FAIL();
    } catch (const glx::EConvertError& e) {
        EXPECT_STREQ(e.what(), "'2.5' is not a valid integer value");
        EXPECT_EQ(phase, 106);
    }
    EXPECT_THROW(parsePositionLine(""), glx::EConvertError);
}

namespace {

// A PNG pattern and fragment in a folder with the given script.
struct PasteFolder {
    TempFolder t;
    explicit PasteFolder(const std::string& script, int patternW = 50, int patternH = 40) {
        writePng((t / "pattern.png").string(), solidRgba(patternW, patternH, Rgba{255, 255, 255, 255}));
        writePng((t / "frag.png").string(), solidRgba(10, 6, Rgba{200, 0, 0, 128}));
        writeFile(t / "Glumix_paste.ini", script);
    }
    RunResult run(const std::string& layout = "H3") {
        return runTool({(t / "pattern.png").string(), layout}, "", t.path);
    }
    PictureRgba result() { return readPng((t / "pattern.png").string()); }
};

}  // namespace

TEST(PasteScript, CellNumbersUseTheFragmentsOwnSize) {
    PasteFolder f("3\r\nfrag.png\r\n");
    auto r = f.run("V2");  // vertical, 2 per column: cell 3 is column 1, row 0
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Picture pasted!\n");
    PictureRgba p = f.result();
    EXPECT_EQ(p.width, 50);
    EXPECT_EQ(p.at(10, 0).r, 227);  // blended: 200 at 128 over white
    EXPECT_EQ(p.at(9, 0), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(p.at(20, 0), (Rgba{255, 255, 255, 255}));
}

TEST(PasteScript, CoordinatesAndModes) {
    struct Case {
        const char* line;
        int x, y;
        Rgba want;
    } cases[] = {
        {"10;20", 10, 20, Rgba{227, 127, 127, 255}},  // blend
        {"10;20;1", 10, 20, Rgba{200, 0, 0, 128}},  // exact
        {"10;20;3", 10, 20, Rgba{255, 255, 255, 127}},  // subtract
        {"5;;3", 10, 6, Rgba{255, 255, 255, 127}},  // cell 5 of 3 per row: column 1, row 1
        {"10;", 10, 0, Rgba{227, 127, 127, 255}},      {";20", 20, 0, Rgba{227, 127, 127, 255}},
        {"-40000;5", 0, 5, Rgba{227, 127, 127, 255}},
    };
    for (const auto& c : cases) {
        PasteFolder f(std::string(c.line) + "\nfrag.png\n");
        auto r = f.run();
        ASSERT_EQ(r.status, 0) << c.line << r.err;
        PictureRgba p = f.result();
        Rgba got = p.at(c.x, c.y);
        EXPECT_EQ(got.a, c.want.a) << c.line;
        EXPECT_EQ(got.r, c.want.r) << c.line;
        if (c.x > 0) {
            EXPECT_EQ(p.at(c.x - 1, c.y), (Rgba{255, 255, 255, 255})) << c.line;
        }
    }
}

TEST(PasteScript, AGammaIgnoredOnReadingIsNotWrittenBack) {
    // A grey pattern with a gAMA of the wrong length: the paste overwrites
    // the pattern, which must read as grey as before.
    std::string rows;
    for (int y = 0; y < 10; ++y) rows += std::string(1, '\0') + std::string(20, '\x80');
    uLongf size = compressBound(static_cast<uLong>(rows.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(rows.data()),
             static_cast<uLong>(rows.size()));
    packed.resize(size);
    TempFolder t;
    writeFile(t / "pattern.png", pngSignature() + ihdr(20, 10, 8, 0) + pngChunk("gAMA", std::string("\x01\x86", 2)) +
                                     pngChunk("IDAT", packed) + pngChunk("IEND", ""));
    writePng((t / "frag.png").string(), solidRgba(4, 4, Rgba{200, 0, 0, 255}));
    writeFile(t / "Glumix_paste.ini", "0;0\r\nfrag.png\r\n");
    auto r = runTool({(t / "pattern.png").string(), "H3"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string written = readFile(t / "pattern.png");
    EXPECT_EQ(written.find("gAMA"), std::string::npos);
    glx::TPNGObject back;
    back.LoadFile((t / "pattern.png").string());
    EXPECT_EQ(back.PixelAt(15, 8), glx::rgb(128, 128, 128));
    EXPECT_EQ(readPng((t / "pattern.png").string()).at(15, 8), (Rgba{128, 128, 128, 255}));
}

TEST(PasteScript, PairingAndSilentEnds) {
    PasteFolder three("1;1;1\nfrag.png\nignored third line\n");
    auto r = three.run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(three.result().at(1, 1).a, 128);

    PasteFolder one("1;1;1\n");
    const std::string before = readFile(one.t / "pattern.png");
    r = one.run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");  // nothing pasted, no message
    EXPECT_EQ(readFile(one.t / "pattern.png"), before);
}

TEST(PasteScript, AFailingPairLeavesThePatternUntouched) {
    PasteFolder f("1;1;1\nfrag.png\nnot a number\nfrag.png\n");
    const std::string before = readFile(f.t / "pattern.png");
    auto r = f.run();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("'not a number' is not a valid integer value\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Tech code: #106\n"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(f.t / "pattern.png"), before);

    PasteFolder g("1;1;1\nfrag.png\n2;2\nmissing.png\n");
    r = g.run();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Tech code: #120\n"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(g.t / "pattern.png"), before);
    size_t files = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(g.t.path)) ++files;
    EXPECT_EQ(files, 3u);
}

TEST(PasteScript, PatternsGrowWithTheirOwnFill) {
    // PNG pattern: added area transparent; the fragment clipped on the left.
    PasteFolder png("45;38;1\nfrag.png\n-5;0;1\nfrag.png\n");
    auto r = png.run();
    ASSERT_EQ(r.status, 0) << r.err;
    PictureRgba p = png.result();
    EXPECT_EQ(p.width, 55);
    EXPECT_EQ(p.height, 44);
    EXPECT_EQ(p.at(52, 2).a, 0);
    EXPECT_EQ(p.at(50, 40), (Rgba{200, 0, 0, 128}));
    EXPECT_EQ(p.at(0, 0), (Rgba{200, 0, 0, 128}));
    EXPECT_EQ(p.at(5, 0), (Rgba{255, 255, 255, 255}));

    // BMP pattern: added area white whatever the background colour; output
    // name given, so the pattern stays and the result is written beside it.
    TempFolder b;
    writeFile(b / "pattern.bmp", solidBmp(20, 20, Rgb{0, 0, 255}));
    writePng((b / "frag.png").string(), solidRgba(10, 6, Rgba{200, 0, 0, 255}));
    writeFile(b / "Glumix.ini", "00FF00");
    writeFile(b / "Glumix_paste.ini", "15;15\nfrag.png\n");
    r = runTool({(b / "pattern.bmp").string(), "H3", "out.bmp"}, "", b.path);
    ASSERT_EQ(r.status, 0) << r.err;
    Picture24 bmp = readBmp24(readFile(b / "out.bmp"));
    EXPECT_EQ(bmp.width, 25);
    EXPECT_EQ(bmp.height, 21);
    EXPECT_EQ(bmp.at(22, 2), (Rgb{255, 255, 255}));
    EXPECT_EQ(bmp.at(20, 16), (Rgb{200, 0, 0}));
    EXPECT_EQ(readBmp24(readFile(b / "pattern.bmp")).width, 20);
}

TEST(PasteScript, MissingPatternWithAnOutputNameStartsFromOnePixel) {
    TempFolder t;
    writePng((t / "frag.png").string(), solidRgba(4, 3, Rgba{9, 8, 7, 255}));
    writeFile(t / "s.ini", "2;1;1\nfrag.png\n");
    auto r = runTool({(t / "new.png").string(), "H2", "new.png", "s.ini"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    PictureRgba p = readPng((t / "new.png").string());
    EXPECT_EQ(p.width, 6);
    EXPECT_EQ(p.height, 4);
    EXPECT_EQ(p.at(0, 0).a, 0);
    EXPECT_EQ(p.at(2, 1), (Rgba{9, 8, 7, 255}));
}

TEST(PasteScript, GifFragmentDrawsItsFirstFrameWithTransparency) {
    TempFolder t;
    writeFile(t / "pattern.bmp", solidBmp(6, 4, Rgb{0, 0, 255}));
    GifFrame f;
    f.width = 3;
    f.height = 2;
    f.indices = {1, 0, 1, 1, 1, 0};
    f.transparent = 0;
    GifFrame second = f;
    second.indices = {1, 1, 1, 1, 1, 1};
    writeFile(t / "frag.gif", makeGif(3, 2, {0, 0, 0, 255, 0, 0}, {f, second}));
    writeFile(t / "Glumix_paste.ini", "1;1\nfrag.gif\n");
    auto r = runTool({(t / "pattern.bmp").string(), "H2"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    Picture24 p = readBmp24(readFile(t / "pattern.bmp"));
    EXPECT_EQ(p.at(1, 1), (Rgb{255, 0, 0}));
    EXPECT_EQ(p.at(2, 1), (Rgb{0, 0, 255}));  // transparent index: the pattern shows
    EXPECT_EQ(p.at(3, 2), (Rgb{0, 0, 255}));
    EXPECT_EQ(p.at(0, 0), (Rgb{0, 0, 255}));
}

// A missing pattern with an output name starts from a blank one-pixel
// pattern. It is written under the output name only when the run ends
// without an error: a failing pair leaves an existing output as it was.
TEST(PasteScript, AMissingPatternWritesNothingUntilTheRunSucceeds) {
    TempFolder t;
    writePng((t / "frag.png").string(), solidRgba(3, 2, Rgba{0, 0, 200, 255}));
    writeFile(t / "bad.ini", "1\nmissing.png\n");
    writeFile(t / "good.ini", "2;1;1\nfrag.png\n");
    writeFile(t / "short.ini", "1\n");
    writePng((t / "out.png").string(), solidRgba(7, 7, Rgba{1, 2, 3, 255}));
    const std::string old = readFile(t / "out.png");
    auto r = runTool({(t / "missing.png").string(), "H2", "out.png", (t / "bad.ini").string()}, "", t.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readFile(t / "out.png"), old);

    // A script too short to paste ends the run quietly; the blank pattern
    // stays, as creating it first would have left it.
    r = runTool({(t / "missing.png").string(), "H2", "out.png", (t / "short.ini").string()}, "", t.path);
    EXPECT_EQ(r.status, 0) << r.err;
    PictureRgba blank = readPng((t / "out.png").string());
    EXPECT_EQ(blank.width, 1);
    EXPECT_EQ(blank.at(0, 0), (Rgba{0, 0, 0, 0}));

    fs::remove(t / "out.png");
    r = runTool({(t / "missing.png").string(), "H2", "out.png", (t / "good.ini").string()}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    PictureRgba p = readPng((t / "out.png").string());
    EXPECT_EQ(p.width, 5);
    EXPECT_EQ(p.height, 3);
    EXPECT_EQ(p.at(3, 2), (Rgba{0, 0, 200, 255}));
    EXPECT_EQ(p.at(0, 0), (Rgba{0, 0, 0, 0}));

    // Positions at the edge of 32 bits are refused naming the size, never
    // wrapped around.
    writeFile(t / "far.ini", "2147483647;0;1\nfrag.png\n0;2147483646\nfrag.png\n");
    r = runTool({(t / "out.png").string(), "H2", "out.png", (t / "far.ini").string()}, "", t.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Picture size 2147483650 x "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Tech code: #2101"), std::string::npos) << r.err;
}

// A fragment whose real path leaves the pattern's folder (a "../" path, an
// absolute path, a link) is refused unless --allow-outside; a link that
// stays inside pastes as always.
TEST(PasteScript, FragmentsFromOutsideTheFolderAreRefused) {
    TempFolder shared;
    writePng((shared / "badge.png").string(), solidRgba(2, 2, Rgba{0, 0, 255, 255}));
    struct Case {
        std::string line;
        bool link;  // frag.png is a link to the line instead
        std::vector<std::string> options;
        int status;
    } cases[] = {
        {(shared / "badge.png").string(), false, {}, 1},
        {(shared / "badge.png").string(), true, {}, 1},
        {(shared / "badge.png").string(), false, {"--allow-outside"}, 0},
        {"sub/inner.png", true, {}, 0},
    };
    for (const auto& c : cases) {
        PasteFolder f(c.link ? "1;1;1\nfrag.png\n" : "1;1;1\n" + c.line + "\n");
        fs::create_directories(f.t / "sub");
        writePng((f.t / "sub" / "inner.png").string(), solidRgba(2, 2, Rgba{0, 0, 255, 255}));
        if (c.link) {
            fs::remove(f.t / "frag.png");
            fs::create_symlink(c.line, f.t / "frag.png");
        }
        const std::string before = readFile(f.t / "pattern.png");
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {(f.t / "pattern.png").string(), "H3"});
        auto r = runTool(args, "", f.t.path);
        EXPECT_EQ(r.status, c.status) << c.line << "\n" << r.err;
        if (c.status == 1) {
            EXPECT_NE(r.err.find("\". It leads outside the picture's folder"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("Last picture: "), std::string::npos) << r.err;
            EXPECT_EQ(readFile(f.t / "pattern.png"), before) << c.line;
        } else {
            EXPECT_EQ(f.result().at(1, 1), (Rgba{0, 0, 255, 255})) << c.line;
        }
    }
}
