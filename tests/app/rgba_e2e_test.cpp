// End-to-end gluing on the RGBA path: transparency survives, checked with
// libpng as the reader.
#include <gtest/gtest.h>

#include "hardening/hostile_files.h"
#include "png_oracle.h"
#include "support/pictures.h"
#include "support/process.h"

using namespace glxtest;
namespace fs = std::filesystem;

TEST(RgbaGluing, PartialTransparencySurvivesExactly) {
    TempFolder t;
    PictureRgba a;
    a.width = 7;
    a.height = 5;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            a.pixels.push_back(Rgba{uint8_t(30 * x), uint8_t(40 * y), 99, uint8_t((x * 37 + y * 53) % 256)});
    writePng((t / "a.png").string(), a);
    writePng((t / "b.png").string(), solidRgba(3, 9, Rgba{1, 2, 3, 128}));
    auto r = runTool({(t / "a.png").string(), "H2", "out.png"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    PictureRgba p = readPng((t / "out.png").string());
    EXPECT_EQ(p.width, 10);
    EXPECT_EQ(p.height, 9);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            Rgba want = a.at(x, y);
            Rgba got = p.at(x, y);
            EXPECT_EQ(got.a, want.a);
            if (want.a) {
                EXPECT_EQ(got, want) << x << "," << y;
            }
        }
    EXPECT_EQ(p.at(8, 8), (Rgba{1, 2, 3, 128}));
    EXPECT_EQ(p.at(2, 7).a, 0);  // uncovered: transparent
}

// An 8-bit grey PNG of one row of samples, with chunks before and after its
// image data.
std::string greyPng(const std::string& samples, const std::string& before, const std::string& after) {
    std::string raw = std::string(1, '\0') + samples;
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
             static_cast<uLong>(raw.size()));
    packed.resize(size);
    return pngSignature() + ihdr(static_cast<uint32_t>(samples.size()), 1, 8, 0) + before + pngChunk("IDAT", packed) +
           after + pngChunk("IEND", "");
}

TEST(RgbaGluing, AGammaAfterTheImageDataChangesNoColour) {
    // Rows decoded before the gAMA came keep their samples, with a key
    // colour (tRNS) as without one.
    std::string gamma;
    be32(gamma, 100000);
    const std::string samples("\x04\x00\x04", 3);
    for (bool keyed : {false, true}) {
        TempFolder t;
        const std::string trns = keyed ? pngChunk("tRNS", std::string("\0\0", 2)) : "";
        writeFile(t / "g.png", greyPng(samples, trns, pngChunk("gAMA", gamma)));
        auto r = runTool({(t / "g.png").string(), "H1", "out.png"}, "", t.path);
        ASSERT_EQ(r.status, 0) << r.err;
        PictureRgba p = readPng((t / "out.png").string());
        EXPECT_EQ(p.at(0, 0), (Rgba{4, 4, 4, 255})) << keyed;
        EXPECT_EQ(p.at(2, 0), (Rgba{4, 4, 4, 255})) << keyed;
        EXPECT_EQ(p.at(1, 0).a, keyed ? 0 : 255);
    }
}

TEST(RgbaGluing, MixedSizesAndADrawnBitmap) {
    TempFolder t;
    writePng((t / "a.png").string(), solidRgba(10, 10, Rgba{255, 0, 0, 255}));
    writePng((t / "b.png").string(), solidRgba(20, 30, Rgba{0, 255, 0, 255}));
    writeFile(t / "c.bmp", solidBmp(15, 5, Rgb{0, 0, 255}));
    auto r = runTool({(t / "c.bmp").string(), "H2", "out.png"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    PictureRgba p = readPng((t / "out.png").string());
    EXPECT_EQ(p.width, 30);
    EXPECT_EQ(p.height, 35);
    EXPECT_EQ(p.at(0, 30), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(p.at(14, 34), (Rgba{0, 0, 255, 255}));
    // The column right of and the row below a drawn picture become opaque
    // black where they lie inside the canvas; beyond that it is transparent.
    EXPECT_EQ(p.at(15, 30), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(p.at(20, 32).a, 0);
    EXPECT_EQ(p.at(12, 5).a, 255);  // inside b
    EXPECT_EQ(p.at(25, 33).a, 0);
}

TEST(RgbaGluing, OtherOutputIsFlattenedOntoWhiteAndEmptyFolderGivesOnePixel) {
    TempFolder t;
    writePng((t / "a.png").string(), solidRgba(4, 4, Rgba{0, 0, 0, 0}));
    writeFile(t / "Glumix.ini", "0000FF");  // background red must not show
    auto r = runTool({(t / "a.png").string(), "H1", "out.bmp"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    Picture24 flat = readBmp24(readFile(t / "out.bmp"));
    EXPECT_EQ(flat.width, 4);
    EXPECT_EQ(flat.at(2, 2), (Rgb{255, 255, 255}));
    // A PNG name in capitals is a PNG: the canvas is saved with its alpha.
    r = runTool({(t / "a.png").string(), "H1", "Sheet.PNG"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    PictureRgba kept = readPng((t / "Sheet.PNG").string());
    EXPECT_EQ(kept.width, 4);
    EXPECT_EQ(kept.at(2, 2).a, 0);

    TempFolder e;
    fs::create_directories(e / "sub");
    r = runTool({(e / "sub").string(), "H1", "empty.png"}, "", e.path);
    ASSERT_EQ(r.status, 0) << r.err;
    // Argument 3 is relative to the folder part of argument 1: the parent.
    PictureRgba p = readPng((e / "empty.png").string());
    EXPECT_EQ(p.width, 1);
    EXPECT_EQ(p.height, 1);
    EXPECT_EQ(p.at(0, 0).a, 0);
}

// Same check on the RGBA canvas: uncovered area transparent black, every
// sprite copied exactly, whatever steps the canvas grew in.
TEST(RgbaGluing, ManyMixedSizesMatchStepByStepGrowth) {
    TempFolder t;
    std::vector<PictureRgba> pics;
    unsigned seed = 777;
    auto next = [&seed](unsigned n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int i = 0; i < 30; ++i) {
        PictureRgba p =
            solidRgba(int(1 + next(50)), int(1 + next(40)),
                      Rgba{uint8_t(next(256)), uint8_t(next(256)), uint8_t(next(256)), uint8_t(1 + next(255))});
        pics.push_back(p);
        char name[16];
        std::snprintf(name, sizeof name, "s%02d.png", i);
        writePng((t / name).string(), p);
    }
    auto r = runTool({(t / "s00.png").string(), "V4", "out.png"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    int x = 0, y = 0, columnWidth = 0, width = 1, height = 1;
    std::vector<std::pair<int, int>> at;
    for (size_t i = 0; i < pics.size(); ++i) {
        at.emplace_back(x, y);
        width = std::max(width, x + pics[i].width);
        height = std::max(height, y + pics[i].height);
        columnWidth = std::max(columnWidth, pics[i].width);
        y += pics[i].height;
        if ((i + 1) % 4 == 0) {
            y = 0;
            x += columnWidth;
            columnWidth = 0;
        }
    }
    PictureRgba p = readPng((t / "out.png").string());
    ASSERT_EQ(p.width, width);
    ASSERT_EQ(p.height, height);
    std::vector<Rgba> want(static_cast<size_t>(width * height), Rgba{0, 0, 0, 0});
    for (size_t i = 0; i < pics.size(); ++i)
        for (int yy = 0; yy < pics[i].height; ++yy)
            for (int xx = 0; xx < pics[i].width; ++xx)
                want[static_cast<size_t>((at[i].second + yy) * width + at[i].first + xx)] = pics[i].at(xx, yy);
    for (int yy = 0; yy < height; ++yy)
        for (int xx = 0; xx < width; ++xx)
            ASSERT_EQ(p.at(xx, yy), want[static_cast<size_t>(yy * width + xx)]) << xx << "," << yy;
}
