// End-to-end GIF frame export through the built tool.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "png_oracle.h"
#include "support/gif_builder.h"
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
    f.indices.assign(static_cast<size_t>(w * h), fill);
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

TEST(GifExport, AReusedCanvasIsKeyedAfresh) {
    TempFolder t;
    GifFrame first = frame(3, 1, 1, 5, 1, 0);
    first.indices[0] = 0;  // transparent
    GifFrame second = frame(3, 1, 2, 5);
    second.indices[2] = 4;  // the key colour
    writeFile(t / "d.gif", makeGif(3, 1, palette(), {first, second}));
    auto r = runTool({(t / "d.gif").string() + ":silent"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readPng((t / "d" / "0.png").string()).at(0, 0).a, 0);
    PictureRgba p1 = readPng((t / "d" / "1.png").string());
    EXPECT_EQ(p1.at(0, 0), (Rgba{0, 255, 0, 255}));  // painted by the second frame: shows
    EXPECT_EQ(p1.at(1, 0), (Rgba{0, 255, 0, 255}));
    EXPECT_EQ(p1.at(2, 0).a, 0);
}

// Random animations against a model of what the export writes: a canvas of
// the key colour after disposal 2 (and at the start), every other frame
// drawn over the last picture (disposal 3 like 1), the frame's transparent
// pixels leaving the canvas, and every picture opaque except where it holds
// the key colour. Frames reach beyond the screen and start off it.
TEST(GifExport, EveryFrameIsTheComposedPictureWithOnlyTheKeyTransparent) {
    uint32_t seed = 7;
    auto next = [&](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) % n);
    };
    const std::vector<uint8_t> pal = palette();
    const Rgba key{254, 19, 254, 0};
    for (int round = 0; round < 6; ++round) {
        const int w = 12, h = 9;
        std::vector<GifFrame> frames;
        for (int i = 0; i < 6; ++i) {
            GifFrame f;
            f.left = next(15);
            f.top = next(11);
            f.width = 1 + next(16);
            f.height = 1 + next(12);
            for (int k = 0; k < f.width * f.height; ++k) f.indices.push_back(static_cast<uint8_t>(next(6)));
            f.delay = next(3);
            f.disposal = next(4);
            f.transparent = next(2) ? next(6) : -1;
            f.withControl = next(5) != 0;
            frames.push_back(f);
        }
        TempFolder t;
        writeFile(t / "r.gif", makeGif(w, h, pal, frames));
        auto r = runTool({(t / "r.gif").string()}, "", t.path);
        ASSERT_EQ(r.status, 0) << r.err;

        std::vector<Rgba> canvas;
        bool fresh = true;
        for (size_t i = 0; i < frames.size(); ++i) {
            const GifFrame& f = frames[i];
            if (fresh) canvas.assign(static_cast<size_t>(w * h), key);
            for (int y = 0; y < f.height; ++y)
                for (int x = 0; x < f.width; ++x) {
                    const int cx = f.left + x, cy = f.top + y;
                    const uint8_t index = f.indices[static_cast<size_t>(y * f.width + x)];
                    if (cx >= w || cy >= h || (f.withControl && index == f.transparent)) continue;
                    const size_t at = static_cast<size_t>(index) * 3;
                    canvas[static_cast<size_t>(cy * w + cx)] =
                        at + 2 < pal.size() ? Rgba{pal[at], pal[at + 1], pal[at + 2], 0} : Rgba{0, 0, 0, 0};
                }
            PictureRgba got = readPng((t / "r" / (std::to_string(i) + ".png")).string());
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    Rgba want = canvas[static_cast<size_t>(y * w + x)];
                    want.a = want == key ? 0 : 255;
                    ASSERT_EQ(got.at(x, y), want) << "round " << round << " frame " << i << " at " << x << "," << y;
                }
            fresh = f.withControl && f.disposal == 2;
        }
    }
}

// The frame count, the delays and the frames come from one walk over the
// blocks, so they agree whatever lies between them; where the walk ends
// early, the tool says so.
TEST(GifExport, CountDelaysAndFramesAgree) {
    using glxtest::GifBuilder;
    TempFolder t;
    const auto second = [](GifBuilder b) { return b.gce(20).solid(2, 2, 1).trailer().bytes; };
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        std::string delays;
        bool note;
    } cases[] = {
        {"stray", second(GifBuilder().header(2, 2, 1).gce(10).solid(2, 2, 0).raw({0x01})), "10\r\n", true},
        {"split", second(GifBuilder().header(2, 2, 1).gce(10).solid(2, 2, 0).comment("c").raw({0})), "10\r\n20\r\n",
         false},
    };
    for (const auto& c : cases) {
        const fs::path gif = t / (std::string(c.name) + ".gif");
        writeFile(gif, std::string(c.bytes.begin(), c.bytes.end()));
        auto r = runTool({gif.string()}, "", t.path);
        ASSERT_EQ(r.status, 0) << c.name << r.err;
        const int frames = c.note ? 1 : 2;
        EXPECT_EQ(r.out, std::to_string(frames) + " Pictures extracted from gif!\n") << c.name;
        EXPECT_EQ(readFile(t / c.name / "delays.txt"), c.delays) << c.name;
        EXPECT_EQ(fs::exists(t / c.name / "1.png"), !c.note) << c.name;
        EXPECT_EQ(r.err, c.note ? "glumixer: \"" + gif.string() +
                                      "\" holds an unknown block after frame 1, the rest of the file is not read\n"
                                : "")
            << c.name;
        // The second image, in colour 1 of the builder's table.
        if (!c.note) {
            EXPECT_EQ(readPng((t / c.name / "1.png").string()).at(1, 1), (Rgba{37, 111, 250, 255})) << c.name;
        }
    }
}

TEST(GifExport, TheScreenIsCheckedOnlyWhenAFrameNeedsACanvas) {
    // A header-only GIF of a screen beyond the limits has no frame to export.
    TempFolder t;
    std::string gif = makeGif(20000, 20000, palette(), {});
    writeFile(t / "empty.gif", gif);
    auto r = runTool({(t / "empty.gif").string()}, "", t.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0 Pictures extracted from gif!\n");
    EXPECT_TRUE(fs::is_directory(t / "empty"));
    EXPECT_EQ(readFile(t / "empty" / "delays.txt"), "");

    // A screen of 0 x 0 with a frame: the size is named as invalid.
    writeFile(t / "zero.gif", makeGif(0, 0, palette(), {frame(2, 2, 1, 7)}));
    r = runTool({(t / "zero.gif").string()}, "", t.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Invalid picture size 0 x 0", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("Tech code: #100\n"), std::string::npos) << r.err;
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

    TempFolder bad;
    writeFile(bad / "bad.gif", "GIF89a\x02");
    r = runTool({(bad / "bad.gif").string()}, "", bad.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Tech code: #2\n"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(bad / "bad"));

    // The frame count's own reading fails first, before the frames are read.
    ASSERT_EQ(mkfifo((bad / "pipe.gif").c_str(), 0600), 0);
    r = runTool({(bad / "pipe.gif").string()}, "", bad.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Not a regular file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Tech code: #1\n"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(bad / "pipe"));
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

namespace {

// Every composed picture with the colour of fully transparent pixels
// dropped, so two pictures compare by what they show.
std::vector<Rgba> shown(const PictureRgba& p) {
    std::vector<Rgba> out = p.pixels;
    for (Rgba& c : out)
        if (c.a == 0) c = Rgba{0, 0, 0, 0};
    return out;
}

PictureRgba cut(const PictureRgba& p, int x0, int y0, int w, int h) {
    PictureRgba out;
    out.width = w;
    out.height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) out.pixels.push_back(p.at(x0 + x, y0 + y));
    return out;
}

std::vector<int> delayLines(const std::string& text) {
    std::vector<int> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(std::stoi(line));
    return out;
}

// The plays of an animated PNG's acTL chunk, read by walking the chunks.
int apngPlays(const std::string& png) {
    auto u32 = [&](size_t at) {
        return uint32_t(uint8_t(png.at(at))) << 24 | uint32_t(uint8_t(png.at(at + 1))) << 16 |
               uint32_t(uint8_t(png.at(at + 2))) << 8 | uint32_t(uint8_t(png.at(at + 3)));
    };
    for (size_t at = 8; at + 8 <= png.size(); at += 12 + u32(at))
        if (png.compare(at + 4, 4, "acTL") == 0) return static_cast<int>(u32(at + 12));
    return -1;
}

// Runs the export of gif (in its own folder) with the options and checks
// that every output tells the same story as the frame files: the sheet's
// cells and the animated PNG's frames (as apngdis extracts them) are the
// frame pictures, the durations are "delays.txt" times ten, and the play
// counts agree. Returns the frame count.
int exportAndCrossCheck(const fs::path& gif, const std::vector<std::string>& options, int plays) {
    std::vector<std::string> args = options;
    args.push_back(gif.string());
    auto r = runTool(args, "", gif.parent_path());
    EXPECT_EQ(r.status, 0) << r.err;
    const fs::path folder = gif.parent_path() / gif.stem();
    const std::string stem = gif.stem().string();
    const std::vector<int> delays = delayLines(readFile(folder / "delays.txt"));
    const int frames = static_cast<int>(delays.size());
    std::vector<PictureRgba> pictures;
    for (int i = 0; i < frames; ++i) pictures.push_back(readPng((folder / (std::to_string(i) + ".png")).string()));

    const auto sheetJson = nlohmann::json::parse(readFile(gif.parent_path() / (stem + "-sheet.json")));
    const PictureRgba sheet = readPng((gif.parent_path() / (stem + "-sheet.png")).string());
    EXPECT_EQ(sheetJson["meta"]["loop"], plays);
    EXPECT_EQ(sheetJson["meta"]["frameTags"][0]["to"], frames - 1);
    EXPECT_EQ(sheetJson["animations"][stem].size(), size_t(frames));
    int columns = 1;
    while (columns * columns < frames) ++columns;
    for (int i = 0; i < frames; ++i) {
        const std::string name = stem + "_" + std::to_string(i);
        EXPECT_EQ(sheetJson["animations"][stem][size_t(i)], name);
        const auto& f = sheetJson["frames"][name];
        EXPECT_EQ(f["duration"], delays[size_t(i)] * 10) << name;
        EXPECT_EQ(f["frame"]["x"], (i % columns) * pictures[0].width) << name;
        EXPECT_EQ(f["frame"]["y"], (i / columns) * pictures[0].height) << name;
        EXPECT_EQ(shown(cut(sheet, f["frame"]["x"], f["frame"]["y"], f["frame"]["w"], f["frame"]["h"])),
                  shown(pictures[size_t(i)]))
            << name;
    }

    const auto meta = nlohmann::json::parse(readFile(folder / "frames.json"));
    EXPECT_EQ(meta["loop"], plays);
    EXPECT_EQ(meta["frames"].size(), size_t(frames));
    for (int i = 0; i < frames; ++i) {
        const auto& f = meta["frames"][size_t(i)];
        EXPECT_EQ(f["file"], std::to_string(i) + ".png");
        EXPECT_EQ(f["duration_ms"], delays[size_t(i)] * 10);
        // Clipped to the screen.
        EXPECT_LE(int(f["rect"]["x"]) + int(f["rect"]["w"]), int(meta["width"]));
        EXPECT_LE(int(f["rect"]["y"]) + int(f["rect"]["h"]), int(meta["height"]));
    }

    const std::string apng = readFile(gif.parent_path() / (stem + ".apng"));
    EXPECT_EQ(apngPlays(apng), plays);
    TempFolder dis;
    writeFile(dis / "a.png", apng);
    if (runProgram({"apngdis", "a.png"}, dis.path).status == 0) {
        const std::string digits = std::to_string(std::to_string(frames).size());
        for (int i = 0; i < frames; ++i) {
            char number[16];
            std::snprintf(number, sizeof number, ("%0" + digits + "d").c_str(), i + 1);
            const fs::path png = dis / ("apngframe" + std::string(number) + ".png");
            const fs::path txt = dis / ("apngframe" + std::string(number) + ".txt");
            EXPECT_EQ(shown(readPng(png.string())), shown(pictures[size_t(i)])) << stem << " frame " << i;
            EXPECT_EQ(readFile(txt), "delay=" + std::to_string(delays[size_t(i)]) + "/100\n") << stem << " frame " << i;
        }
    }
    return frames;
}

}  // namespace

// With the browser's composition the frame files are the suite's expected
// pictures, alpha included; the sheet, "frames.json" and the animated PNG
// agree with them.
TEST(GifExportOptions, SuiteFilesComposedAsABrowserShowsThem) {
    const fs::path suite = fs::path(GLX_TEST_DATA) / "gifsuite" / "gifs";
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(suite)) {
        if (entry.path().extension() != ".gif") continue;
        const std::string stem = entry.path().stem().string();
        TempFolder t;
        fs::copy_file(entry.path(), t / entry.path().filename());
        const int plays = stem.find("noloop") != std::string::npos || stem.rfind("static", 0) == 0 ? 1 : 0;
        const int frames =
            exportAndCrossCheck(t / entry.path().filename().string(),
                                {"--compose=browser", "--sheet", "--gif-meta", "--apng", "--newline=lf"}, plays);
        for (const std::string& file : {stem + "/frames.json", stem + "-sheet.json", stem + "/delays.txt"})
            EXPECT_EQ(readFile(t / file).find('\r'), std::string::npos) << file;
        for (int i = 0; i < frames; ++i) {
            fs::path reference = suite / "frames" / (stem + "-" + std::to_string(i) + ".png");
            if (frames == 1) reference = suite / "frames" / (stem + ".png");
            if (!fs::exists(reference)) reference = suite / "frames" / (stem + "-" + std::to_string(i) + ".png");
            EXPECT_EQ(shown(readPng((t / stem / (std::to_string(i) + ".png")).string())),
                      shown(readPng(reference.string())))
                << stem << " frame " << i;
            ++checked;
        }
    }
    EXPECT_GT(checked, 40);
}

// The described composition stays the default, byte for byte; the sheet and
// the animated PNG carry its pictures too, and the loop count follows the
// looping block.
TEST(GifExportOptions, DescribedCompositionOutputsAndPlays) {
    for (int loop : {-1, 0, 2}) {
        TempFolder t;
        GifFrame a = frame(3, 2, 1, 5, 1, 0);
        a.indices[0] = 0;
        GifFrame b = frame(2, 1, 2, 0, 2);
        b.left = 2;  // partly off the screen
        b.top = 1;
        std::string gif = makeGif(3, 2, palette(), {a, b, frame(3, 2, 3, 7)});
        if (loop >= 0) {
            // The looping block goes right after the global colour table.
            std::string block = "\x21\xFF\x0BNETSCAPE2.0\x03\x01";
            block += static_cast<char>(loop & 0xFF);
            block += static_cast<char>(loop >> 8);
            block += '\0';
            gif.insert(13 + 768, block);
        }
        writeFile(t / "plain.gif", gif);
        writeFile(t / "named.gif", gif);
        writeFile(t / "opts.gif", gif);
        ASSERT_EQ(runTool({(t / "plain.gif").string()}, "", t.path).status, 0);
        ASSERT_EQ(runTool({"--compose=described", (t / "named.gif").string()}, "", t.path).status, 0);
        for (const char* file : {"0.png", "1.png", "2.png", "delays.txt"})
            EXPECT_EQ(readFile(t / "plain" / file), readFile(t / "named" / file)) << file;
        EXPECT_EQ(entries(t / "plain"), (std::set<std::string>{"0.png", "1.png", "2.png", "delays.txt"}));

        const int plays = loop < 0 ? 1 : loop == 0 ? 0 : loop + 1;
        EXPECT_EQ(exportAndCrossCheck(t / "opts.gif", {"--sheet", "--gif-meta", "--apng"}, plays), 3);
        for (const char* file : {"0.png", "1.png", "2.png", "delays.txt"})
            EXPECT_EQ(readFile(t / "plain" / file), readFile(t / "opts" / file)) << file;
        EXPECT_NE(readFile(t / "opts" / "frames.json").find("}\r\n"), std::string::npos);
        const auto meta = nlohmann::json::parse(readFile(t / "opts" / "frames.json"));
        EXPECT_EQ(meta["frames"][1]["rect"], nlohmann::json({{"x", 2}, {"y", 1}, {"w", 1}, {"h", 1}}));
        EXPECT_EQ(meta["frames"][1]["disposal"], 2);
        EXPECT_EQ(meta["frames"][0]["transparent_index"], 0);
        EXPECT_TRUE(meta["frames"][1]["transparent_index"].is_null());
        EXPECT_EQ(meta["frames"][1]["delay"], 1);  // a delay of 0, as "delays.txt" writes it
    }
}

TEST(GifExportOptions, AnAnimatedPngMayBeNamedAfterTheGif) {
    TempFolder t;
    writeFile(t / "a.gif", makeGif(2, 1, palette(), {frame(2, 1, 1, 4, 1), frame(1, 1, 2, 6)}));
    auto r = runTool({"--apng", "a.gif", "V1", "moving.apng"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");  // an output named makes the run silent, as for pictures
    EXPECT_TRUE(fs::exists(t / "a" / "1.png"));
    EXPECT_EQ(apngPlays(readFile(t / "moving.apng")), 1);
    EXPECT_FALSE(fs::exists(t / "a.apng"));
}

TEST(GifExportOptions, NoFramesNoSheetNoAnimation) {
    TempFolder t;
    writeFile(t / "empty.gif", makeGif(4, 4, palette(), {}));
    auto r = runTool({"--sheet", "--apng", (t / "empty.gif").string()}, "", t.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("no frames"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("0 Pictures extracted from gif!"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(t / "empty-sheet.png"));
    EXPECT_FALSE(fs::exists(t / "empty-sheet.json"));
    EXPECT_FALSE(fs::exists(t / "empty.apng"));
}

namespace {

struct PlacedFrame {
    std::string image;
    int x, y, w, h, offsetX, offsetY, duration;
};

// The frames of a JSON hash, or of the multi-atlas form over several sheets.
std::map<std::string, PlacedFrame> placedFrames(const nlohmann::json& atlas) {
    std::map<std::string, PlacedFrame> out;
    auto take = [&](const std::string& image, const std::string& name, const nlohmann::json& f) {
        out[name] = PlacedFrame{image,
                                f["frame"]["x"],
                                f["frame"]["y"],
                                f["frame"]["w"],
                                f["frame"]["h"],
                                f["spriteSourceSize"]["x"],
                                f["spriteSourceSize"]["y"],
                                f["duration"]};
    };
    if (atlas.contains("textures")) {
        for (const auto& t : atlas["textures"])
            for (const auto& f : t["frames"]) take(t["image"], f["filename"], f);
    } else {
        for (const auto& [name, f] : atlas["frames"].items()) take(atlas["meta"]["image"], name, f);
    }
    return out;
}

}  // namespace

// Every frame cut from its sheet at its rectangle and put back at its
// offset is the frame file; identical frames share one rectangle; rings
// repeat the edge pixels; the layout and output may follow the GIF.
TEST(GifExportOptions, SheetLayoutOptionsKeepEveryFrame) {
    // Frames with transparent borders, and two pairs of identical ones.
    GifFrame a = frame(6, 5, 0, 4, 1, 0);
    for (int y = 1; y < 4; ++y)
        for (int x = 2; x < 5; ++x) a.indices[size_t(y * 6 + x)] = uint8_t(1 + (x + y) % 3);
    GifFrame clear = frame(6, 5, 0, 3, 2, 0);  // all transparent, then cleared
    GifFrame b = frame(2, 2, 3, 2, 2);
    b.left = 1;
    b.top = 1;
    const std::string gif = makeGif(6, 5, palette(), {a, clear, b, clear, a});
    struct Case {
        std::vector<std::string> args;
        std::string sheet;  // the first sheet's file name
        int pages;  // 0: more than one
        bool aliases;
        bool ring;
    };
    const std::vector<Case> cases = {
        {{"--sheet", "--compose=browser", "--trim", "--alias", "--padding=3", "--extrude=2", "anim.gif"},
         "anim-sheet.png",
         1,
         true,
         true},
        {{"--sheet", "--trim", "--pack=maxrects", "--max-size=8", "--extrude=1", "anim.gif", "V2", "out.png"},
         "out.png",
         0,
         false,
         true},
        {{"--sheet", "--alias", "--pot", "anim.gif", "H2", "sub/s.png"}, "sub/s.png", 1, true, false},
    };
    for (const Case& c : cases) {
        TempFolder t;
        fs::create_directories(t / "sub");
        writeFile(t / "anim.gif", gif);
        auto r = runTool(c.args, "", t.path);
        ASSERT_EQ(r.status, 0) << r.err;
        const fs::path sheetPath = t.path / c.sheet;
        const auto atlas = nlohmann::json::parse(readFile(fs::path(sheetPath).replace_extension(".json")));
        const std::map<std::string, PlacedFrame> placed = placedFrames(atlas);
        ASSERT_EQ(placed.size(), 5u) << c.sheet;
        std::set<std::string> images;
        const std::vector<int> delays = delayLines(readFile(t / "anim" / "delays.txt"));
        for (int i = 0; i < 5; ++i) {
            const PlacedFrame& f = placed.at("anim_" + std::to_string(i));
            images.insert(f.image);
            EXPECT_EQ(f.duration, delays[size_t(i)] * 10);
            const PictureRgba sheet = readPng((sheetPath.parent_path() / f.image).string());
            PictureRgba rebuilt = solidRgba(6, 5, Rgba{0, 0, 0, 0});
            for (int y = 0; y < f.h; ++y)
                for (int x = 0; x < f.w; ++x)
                    rebuilt.pixels[size_t((f.offsetY + y) * 6 + f.offsetX + x)] = sheet.at(f.x + x, f.y + y);
            EXPECT_EQ(shown(rebuilt), shown(readPng((t / "anim" / (std::to_string(i) + ".png")).string())))
                << c.sheet << " frame " << i;
            // The ring left of the frame repeats its left column.
            if (c.ring && f.x > 0) {
                for (int y = 0; y < f.h; ++y) EXPECT_EQ(sheet.at(f.x - 1, f.y + y), sheet.at(f.x, f.y + y));
            }
        }
        if (c.pages > 0) {
            EXPECT_EQ(int(images.size()), c.pages) << c.sheet;
        } else {
            EXPECT_GT(images.size(), 1u) << c.sheet;
        }
        const PlacedFrame &first = placed.at("anim_0"), &last = placed.at("anim_4");
        EXPECT_EQ(c.aliases, first.x == last.x && first.y == last.y && first.image == last.image) << c.sheet;
    }
}
