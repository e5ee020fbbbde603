// End-to-end GIF frame export through the built tool.
#include <gtest/gtest.h>

#include "gif_writer.h"
#include "png_oracle.h"
#include "run_tool.h"

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
