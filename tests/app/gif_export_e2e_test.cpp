// End-to-end GIF frame export through the built tool.
#include <gtest/gtest.h>

#include "gif_writer.h"
#include "png_oracle.h"
#include "support/process.h"

using namespace glxtest;
namespace fs = std::filesystem;

namespace {

// Palette: 0 black, 1 red, 2 green, 3 blue, 4 the export's key colour.
std::vector<uint8_t> palette() { return {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 254, 19, 254}; }

GifFrame frame(int w, int h, uint8_t fill, int delay, int disposal = 0, int transparent = -1) {
    GifFrame f;
    f.width = w;
    f.height = h;
    f.indices.assign(static_cast<size_t>(w) * h, fill);
    f.delay = delay;
    f.disposal = disposal;
    f.transparent = transparent;
    return f;
}

}  // namespace

TEST(GifExport, WritesFramesDelaysAndTheCount) {
    TempFolder t;
    fs::create_directories(t / "anim");
    GifFrame first = frame(4, 3, 1, 10, 2);
    first.indices[0] = 0;  // transparent index 0 at the top-left
    first.transparent = 0;
    first.indices[1] = 4;  // exactly the key colour
    std::vector<GifFrame> frames = {first, frame(4, 3, 2, 0, 2), frame(4, 3, 3, 250)};
    writeFile(t / "anim" / "walk.gif", makeGif(4, 3, palette(), frames));
    auto r = runTool({(t / "anim" / "walk.gif").string()}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "3 Pictures extracted from gif!\n");
    EXPECT_EQ(readFile(t / "anim" / "walk" / "delays.txt"), "10\r\n1\r\n250\r\n");
    PictureRgba p0 = readPng((t / "anim" / "walk" / "0.png").string());
    EXPECT_EQ(p0.width, 4);
    EXPECT_EQ(p0.height, 3);
    EXPECT_EQ(p0.at(0, 0).a, 0);  // transparent frame pixel
    EXPECT_EQ(p0.at(1, 0).a, 0);  // a pixel in the key colour
    EXPECT_EQ(p0.at(2, 0), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(readPng((t / "anim" / "walk" / "1.png").string()).at(0, 0), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(readPng((t / "anim" / "walk" / "2.png").string()).at(3, 2), (Rgba{0, 0, 255, 255}));
}

TEST(GifExport, DisposalOneKeepsTheFirstFramesAlpha) {
    TempFolder t;
    GifFrame first = frame(3, 1, 1, 5, 1, 0);
    first.indices[0] = 0;  // transparent
    GifFrame second = frame(3, 1, 2, 5);
    writeFile(t / "d.gif", makeGif(3, 1, palette(), {first, second}));
    auto r = runTool({(t / "d.gif").string() + ":silent"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    PictureRgba p1 = readPng((t / "d" / "1.png").string());
    EXPECT_EQ(p1.at(0, 0).a, 0);  // painted green by frame 2, still transparent
    EXPECT_EQ(p1.at(0, 0).g, 255);
    EXPECT_EQ(p1.at(1, 0), (Rgba{0, 255, 0, 255}));
}

TEST(GifExport, AltFolderKeyAndEdgeFilterFile) {
    TempFolder t;
    fs::create_directories(t / "x!alt");
    // Colour 4 is the normal key: in an "!alt" folder it stays opaque.
    writeFile(t / "x!alt" / "k.gif", makeGif(2, 1, palette(), {frame(2, 1, 4, 1)}));
    writeFile(t / "x!alt" / "gif_filter.txt", "256\r\n");
    auto r = runTool({(t / "x!alt" / "k.gif").string()}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readPng((t / "x!alt" / "k" / "0.png").string()).at(0, 0), (Rgba{254, 19, 254, 255}));
}

TEST(GifExport, RelativePathExportsBesideTheGif) {
    TempFolder t;
    writeFile(t / "walk.gif", makeGif(2, 2, palette(), {frame(2, 2, 1, 7)}));
    auto r = runTool({"walk.gif"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(t / "walk" / "0.png"));
    EXPECT_EQ(readFile(t / "walk" / "delays.txt"), "7\r\n");
}

TEST(GifExport, CapitalExtensionGluesInsteadAndBrokenScreensAreReported) {
    TempFolder t;
    writeFile(t / "A.GIF", makeGif(2, 2, palette(), {frame(2, 2, 1, 7)}));
    auto r = runTool({(t / "A.GIF").string(), "H2"}, "", t.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0 Pictures gummed!\n");
    EXPECT_FALSE(fs::exists(t / "A"));

    TempFolder z;
    writeFile(z / "zero.gif", makeGif(0, 0, palette(), {frame(2, 2, 1, 7)}));
    r = runTool({(z / "zero.gif").string()}, "", z.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Last picture: "), std::string::npos);

    TempFolder bad;
    writeFile(bad / "bad.gif", "GIF89a\x02");
    r = runTool({(bad / "bad.gif").string()}, "", bad.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Tech code: #2\n"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(bad / "bad"));
}

namespace {

// Disposal methods of a GIF's frames, in order, from the graphic control
// extensions (0 for a frame without one).
std::vector<int> disposals(const std::string& gif) {
    std::vector<int> out;
    int pending = 0;
    size_t i = 13;
    auto u8 = [&](size_t at) { return static_cast<uint8_t>(gif.at(at)); };
    if (u8(10) & 0x80) i += 3u << ((u8(10) & 7) + 1);
    auto skipBlocks = [&] {
        while (u8(i) != 0) i += u8(i) + 1u;
        ++i;
    };
    while (i < gif.size()) {
        const uint8_t b = u8(i);
        if (b == 0x21) {
            if (u8(i + 1) == 0xF9) pending = (u8(i + 3) >> 2) & 7;
            i += 2;
            skipBlocks();
        } else if (b == 0x2C) {
            const uint8_t flags = u8(i + 9);
            i += 10;
            if (flags & 0x80) i += 3u << ((flags & 7) + 1);
            ++i;  // minimum code size
            skipBlocks();
            out.push_back(pending);
            pending = 0;
        } else {
            break;
        }
    }
    return out;
}

}  // namespace

// Every file of the suite exports one PNG per frame. Where the browser's
// composition of a frame is opaque and ours is too, the colours agree as
// long as no earlier frame asked to restore the previous picture (which the
// export draws over like "keep"); frame 0 agrees everywhere the browser's
// is opaque.
TEST(GifExport, SuiteFilesExportLikeABrowserWhereComparable) {
    const fs::path suite = fs::path(GLX_TEST_DATA) / "gifsuite" / "gifs";
    int checkedPixels = 0;
    for (const auto& entry : fs::directory_iterator(suite)) {
        if (entry.path().extension() != ".gif") continue;
        const std::string stem = entry.path().stem().string();
        TempFolder t;
        fs::copy_file(entry.path(), t / entry.path().filename());
        auto r = runTool({(t / entry.path().filename().string()).string()}, "", t.path);
        ASSERT_EQ(r.status, 0) << stem << r.err;
        const std::vector<int> disposal = disposals(readFile(entry.path()));
        EXPECT_EQ(r.out, std::to_string(disposal.size()) + " Pictures extracted from gif!\n") << stem;
        bool restoredPrevious = false;
        for (size_t i = 0; i < disposal.size(); ++i) {
            const fs::path reference = suite / "frames" / (stem + "-" + std::to_string(i) + ".png");
            const fs::path ours = t / stem / (std::to_string(i) + ".png");
            ASSERT_TRUE(fs::exists(ours)) << ours;
            if (!fs::exists(reference) || restoredPrevious) continue;
            PictureRgba want = readPng(reference.string());
            PictureRgba got = readPng(ours.string());
            ASSERT_EQ(got.width, want.width) << stem;
            ASSERT_EQ(got.height, want.height) << stem;
            for (int y = 0; y < want.height; ++y)
                for (int x = 0; x < want.width; ++x) {
                    const Rgba w = want.at(x, y), g = got.at(x, y);
                    if (w.a != 255 || (i > 0 && g.a != 255)) continue;
                    ++checkedPixels;
                    ASSERT_EQ(g, w) << stem << " frame " << i << " at " << x << "," << y;
                }
            if (disposal[i] == 3) restoredPrevious = true;
        }
    }
    EXPECT_GT(checkedPixels, 1000);
}
