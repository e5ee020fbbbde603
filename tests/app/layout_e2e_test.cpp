// End-to-end sheets with layout options: every frame cut from the written
// sheets at its rectangle in the JSON atlas, put back at its trim offset,
// gives its source picture; rings, spacing, sheet sides and aliases as
// asked, and "patterns.xml" holds the same rectangles.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>

#include "png_oracle.h"
#include "support/pictures.h"
#include "support/process.h"

using namespace glxtest;
namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

// An RGBA PNG written byte for byte, so that colours under alpha 0 reach
// the tool unchanged.
std::string rgbaPng(const PictureRgba& p) {
    std::string raw;
    for (int y = 0; y < p.height; ++y) {
        raw += '\0';
        for (int x = 0; x < p.width; ++x) {
            const Rgba c = p.at(x, y);
            raw += {char(c.r), char(c.g), char(c.b), char(c.a)};
        }
    }
    uLongf size = compressBound(uLong(raw.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
             uLong(raw.size()));
    packed.resize(size);
    return pngSignature() + ihdr(uint32_t(p.width), uint32_t(p.height), 8, 6) + pngChunk("IDAT", packed) +
           pngChunk("IEND", "");
}

struct Box {
    int x, y, w, h;
    friend bool operator==(const Box&, const Box&) = default;
};

// Noise in every channel inside the box (alpha never 0 there), noise
// colours under alpha 0 around it.
PictureRgba sprite(uint32_t seed, int w, int h, Box inside) {
    PictureRgba p;
    p.width = w;
    p.height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool in = x >= inside.x && x < inside.x + inside.w && y >= inside.y && y < inside.y + inside.h;
            p.pixels.push_back(Rgba{noise(seed), noise(seed), noise(seed), uint8_t(in ? noise(seed) | 1 : 0)});
        }
    return p;
}

// Where the opaque pixels are; all transparent: the pixel at 0, 0.
Box opaqueBox(const PictureRgba& p) {
    int left = p.width, top = p.height, right = -1, bottom = -1;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (p.at(x, y).a != 0) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    return right < 0 ? Box{0, 0, 1, 1} : Box{left, top, right - left + 1, bottom - top + 1};
}

std::vector<Box> patternRects(const fs::path& xml) {
    std::vector<Box> rects;
    const std::string text = readFile(xml);
    const std::regex line(R"re(<pattern name="[^"]*" x="(\d+)" y="(\d+)" width="(\d+)" height="(\d+)")re");
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
        rects.push_back(Box{std::stoi((*it)[1]), std::stoi((*it)[2]), std::stoi((*it)[3]), std::stoi((*it)[4])});
    return rects;
}

using Sources = std::map<std::string, PictureRgba>;  // in gluing order

// count sprites of various sizes and margins, and three special ones:
// a.png, s01's picture with other margins (identical once trimmed); b.png,
// s02 but for the colour of one transparent pixel inside its box; z.png,
// all transparent.
Sources writeSprites(const TempFolder& t, int count, uint32_t seed) {
    Sources sources;
    for (int i = 0; i < count; ++i) {
        uint32_t s = seed + uint32_t(i) * 7919;
        const int w = 3 + noise(s) % 30, h = 3 + noise(s) % 30, l = noise(s) % 3, top = noise(s) % 3;
        char name[16];
        std::snprintf(name, sizeof name, "s%02d.png", i);
        sources[name] = sprite(s, w + l + noise(s) % 3, h + top + noise(s) % 3, Box{l, top, w, h});
    }
    const PictureRgba& s01 = sources["s01.png"];
    const Box box = opaqueBox(s01);
    PictureRgba a = sprite(1, box.w + 4, box.h + 1, Box{});
    for (int y = 0; y < box.h; ++y)
        for (int x = 0; x < box.w; ++x) a.pixels[size_t((y + 1) * a.width + x + 4)] = s01.at(box.x + x, box.y + y);
    PictureRgba& s02 = sources["s02.png"];
    const Box inner = opaqueBox(s02);
    const size_t hole = size_t((inner.y + 1) * s02.width + inner.x + 1);
    s02.pixels[hole].a = 0;
    PictureRgba b = s02;
    b.pixels[hole].g ^= 0x40;
    sources["a.png"] = a;
    sources["b.png"] = b;
    sources["z.png"] = sprite(2, 6, 4, Box{});
    for (const auto& [name, picture] : sources) writeFile(t / name, rgbaPng(picture));
    return sources;
}

struct Case {
    std::vector<std::string> args;
    bool trim = false, alias = false, pot = false;
    int extrude = 0, padding = 0, border = 0, maxSize = 4096;
};

void checkSheets(const TempFolder& t, const Sources& sources, const Case& c, size_t minPages = 1) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--atlas=json", (t / "s00.png").string(), "H3", "out.png", ":silent"});
    auto r = runTool(args, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const Json atlas = Json::parse(readFile(t / "out.json"));
    // One page as a JSON hash, several as the multi-atlas.
    Json pages = atlas.contains("textures") ? atlas.at("textures") : Json::array({atlas.at("meta")});
    if (!atlas.contains("textures")) {
        pages[0]["frames"] = Json::array();
        for (const auto& [name, frame] : atlas.at("frames").items()) {
            Json f = frame;
            f["filename"] = name;
            pages[0]["frames"].push_back(f);
        }
    }
    ASSERT_GE(pages.size(), minPages);
    std::map<std::string, std::pair<size_t, Box>> placed;
    for (size_t page = 0; page < pages.size(); ++page) {
        const std::string image = pages[page].at("image");
        EXPECT_EQ(image, page == 0 ? "out.png" : "out-" + std::to_string(page) + ".png");
        const PictureRgba sheet = readPng((t / image).string());
        EXPECT_LE(std::max(sheet.width, sheet.height), c.maxSize);
        if (c.pot) {
            EXPECT_EQ(sheet.width & (sheet.width - 1), 0) << sheet.width;
            EXPECT_EQ(sheet.height & (sheet.height - 1), 0) << sheet.height;
        }
        for (const Json& frame : pages[page].at("frames")) {
            const std::string name = frame.at("filename");
            ASSERT_TRUE(sources.count(name)) << name;
            const PictureRgba& src = sources.at(name);
            const Box box = c.trim ? opaqueBox(src) : Box{0, 0, src.width, src.height};
            const Json& f = frame.at("frame");
            const Box at{f.at("x"), f.at("y"), f.at("w"), f.at("h")};
            ASSERT_EQ((Box{at.x, at.y, box.w, box.h}), at) << name;
            EXPECT_EQ(frame.at("spriteSourceSize").at("x"), box.x) << name;
            EXPECT_EQ(frame.at("spriteSourceSize").at("y"), box.y) << name;
            EXPECT_EQ(frame.at("sourceSize").at("w"), src.width) << name;
            EXPECT_GE(std::min(at.x, at.y) - c.extrude, c.border) << name;
            EXPECT_LE(at.x + at.w + c.extrude, sheet.width - c.border) << name;
            EXPECT_LE(at.y + at.h + c.extrude, sheet.height - c.border) << name;
            // The frame is the source's box; around it, the ring repeats
            // the nearest edge pixel.
            for (int y = -c.extrude; y < at.h + c.extrude; ++y)
                for (int x = -c.extrude; x < at.w + c.extrude; ++x)
                    ASSERT_EQ(sheet.at(at.x + x, at.y + y),
                              src.at(box.x + std::clamp(x, 0, at.w - 1), box.y + std::clamp(y, 0, at.h - 1)))
                        << name << " " << x << "," << y;
            placed[name] = {page, at};
        }
    }
    ASSERT_EQ(placed.size(), sources.size());
    // Outside the trimmed box the sources were transparent.
    for (const auto& [name, src] : sources) {
        const Box box = c.trim ? opaqueBox(src) : Box{0, 0, src.width, src.height};
        for (int y = 0; y < src.height; ++y)
            for (int x = 0; x < src.width; ++x) {
                const bool in = x >= box.x && x < box.x + box.w && y >= box.y && y < box.y + box.h;
                ASSERT_TRUE(in || src.at(x, y).a == 0) << name;
            }
    }
    // Frames on one page keep the padding between their rings; only
    // identical pictures share a rectangle.
    for (auto i = placed.begin(); i != placed.end(); ++i)
        for (auto j = std::next(i); j != placed.end(); ++j) {
            const auto& [p, f] = i->second;
            const auto& [q, g] = j->second;
            if (p != q) continue;
            const bool shared = f == g;
            const bool alias = c.alias && c.trim && i->first == "a.png" && j->first == "s01.png";
            EXPECT_EQ(shared, alias) << i->first << " " << j->first;
            const int gap = c.padding + 2 * c.extrude;
            EXPECT_TRUE(shared || f.x + f.w + gap <= g.x || g.x + g.w + gap <= f.x || f.y + f.h + gap <= g.y ||
                        g.y + g.h + gap <= f.y)
                << i->first << " and " << j->first;
        }
    // "patterns.xml": the same rectangles, in gluing order.
    const std::vector<Box> lines = patternRects(t / "patterns.xml");
    ASSERT_EQ(lines.size(), sources.size());
    size_t k = 0;
    for (const auto& [name, src] : sources) EXPECT_EQ(lines[k++], placed[name].second) << name;
}

}  // namespace

TEST(LayoutGluing, FramesComeBackFromTheSheets) {
    const Case cases[] = {
        {{"--trim"}, true},
        {{"--extrude=2", "--padding=3", "--border=1"}, false, false, false, 2, 3, 1},
        {{"--pack=maxrects", "--trim", "--alias", "--padding=1", "--extrude=1", "--border=2"},
         true,
         true,
         false,
         1,
         1,
         2},
        {{"--pot", "--pack=maxrects", "--padding=1"}, false, false, true, 0, 1},
        {{"--pot", "--trim", "--alias"}, true, true, true},
        {{"--alias"}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
        TempFolder t;
        checkSheets(t, writeSprites(t, 14, 5), c);
    }
}

TEST(LayoutGluing, SeveralSheetsWhenTheyDoNotFitOne) {
    TempFolder t;
    const Case c{{"--pack=maxrects", "--max-size=64", "--trim", "--alias", "--extrude=1", "--padding=2"},
                 true,
                 true,
                 false,
                 1,
                 2,
                 0,
                 64};
    const Sources sources = writeSprites(t, 24, 99);
    checkSheets(t, sources, c, 3);
    // Again in the same folder: the sheets of the first run are not glued.
    fs::remove(t / "patterns.xml");
    checkSheets(t, sources, c, 3);
}

TEST(LayoutGluing, UniformCellsHoldTheFramesWhereLoadersCut) {
    TempFolder t;
    const Sources sources = writeSprites(t, 7, 23);
    int cellW = 0, cellH = 0;
    for (const auto& [name, p] : sources) {
        cellW = std::max(cellW, p.width);
        cellH = std::max(cellH, p.height);
    }
    auto r = runTool({"--cell=max", "--align=bottom", "--extrude=1", "--padding=2", "--border=1", "--atlas=json",
                      (t / "s00.png").string(), "H3", "out.png", ":silent"},
                     "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const PictureRgba sheet = readPng((t / "out.png").string());
    const Json atlas = Json::parse(readFile(t / "out.json"));
    const Json& meta = atlas.at("meta");
    ASSERT_EQ(meta.at("frameWidth"), cellW);
    ASSERT_EQ(meta.at("frameHeight"), cellH);
    const int margin = meta.at("margin"), spacing = meta.at("spacing");
    EXPECT_EQ(margin, 2);
    EXPECT_EQ(spacing, 4);
    const auto pictures = patternRects(t / "patterns.xml");
    ASSERT_EQ(pictures.size(), sources.size());
    size_t k = 0;
    for (const auto& [name, src] : sources) {
        // Where a loader cutting by frame size cuts frame k.
        const int cx = margin + int(k % 3) * (cellW + spacing), cy = margin + int(k / 3) * (cellH + spacing);
        // The picture sits at the bottom of its cell, centred across; the
        // atlas gives its own pixels.
        const Box at = pictures[k++];
        EXPECT_EQ(at, (Box{cx + (cellW - src.width) / 2, cy + cellH - src.height, src.width, src.height})) << name;
        const Json& f = atlas.at("frames").at(name).at("frame");
        EXPECT_EQ((Box{f.at("x"), f.at("y"), f.at("w"), f.at("h")}), at) << name;
        for (int y = 0; y < src.height; ++y)
            for (int x = 0; x < src.width; ++x) ASSERT_EQ(sheet.at(at.x + x, at.y + y), src.at(x, y)) << name;
        // The ring repeats the cell's edges.
        for (int y = cy - 1; y <= cy + cellH; ++y)
            for (int x = cx - 1; x <= cx + cellW; ++x)
                ASSERT_EQ(sheet.at(x, y),
                          sheet.at(std::clamp(x, cx, cx + cellW - 1), std::clamp(y, cy, cy + cellH - 1)))
                    << name << " " << x << "," << y;
    }
}

TEST(LayoutGluing, BitmapPathKeepsPixelsAndBackground) {
    TempFolder t;
    std::vector<Picture24> sources;
    for (int i = 0; i < 5; ++i) {
        const std::string bytes = noiseBmp(5 + 3 * i, 9 - i, uint32_t(i + 1));
        writeFile(t / ("b" + std::to_string(i) + ".bmp"), bytes);
        sources.push_back(readBmp24(bytes));
    }
    auto r =
        runTool({"--pack=maxrects", "--padding=2", (t / "b0.bmp").string(), "H2", "out.bmp", ":silent"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const Picture24 sheet = readBmp24(readFile(t / "out.bmp"));
    const auto frames = patternRects(t / "patterns.xml");
    ASSERT_EQ(frames.size(), 5u);
    int64_t covered = 0, white = 0;
    for (size_t i = 0; i < 5; ++i) {
        ASSERT_EQ(frames[i].w, sources[i].width);
        ASSERT_EQ(frames[i].h, sources[i].height);
        covered += int64_t(frames[i].w) * frames[i].h;
        for (int y = 0; y < frames[i].h; ++y)
            for (int x = 0; x < frames[i].w; ++x)
                ASSERT_EQ(sheet.at(frames[i].x + x, frames[i].y + y), sources[i].at(x, y)) << i;
    }
    // Whatever no frame covers has the background colour (white).
    for (const Rgb& c : sheet.pixels) white += c == Rgb{255, 255, 255};
    EXPECT_GE(white, int64_t(sheet.width) * sheet.height - covered);
}

TEST(LayoutGluing, APictureLargerThanTheSheetWritesNothing) {
    TempFolder t;
    writeFile(t / "a.png", rgbaPng(solidRgba(10, 10, Rgba{1, 2, 3, 255})));
    writeFile(t / "big.png", rgbaPng(solidRgba(40, 12, Rgba{1, 2, 3, 255})));
    auto r = runTool({"--pack=maxrects", "--max-size=32", (t / "a.png").string(), "H2", "out.png"}, "", t.path);
    EXPECT_NE(r.status, 0);
    EXPECT_NE((r.out + r.err).find("big.png"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(entries(t.path), (std::set<std::string>{"a.png", "big.png"}));
}
