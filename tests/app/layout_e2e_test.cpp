// End-to-end sheets with layout options: every frame cut from the written
// sheet at its atlas rectangle, put back at its trim offset, gives its
// source picture; rings, spacing and sheet sides as asked.
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

// A picture with a transparent margin of its own on each side; colours
// are noise everywhere, also under alpha 0.
PictureRgba sprite(uint32_t seed, int w, int h, int l, int t, int r, int b) {
    PictureRgba p;
    p.width = w;
    p.height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool inside = x >= l && x < w - r && y >= t && y < h - b;
            const uint8_t a = inside ? uint8_t(noise(seed) | 1) : 0;
            p.pixels.push_back(Rgba{noise(seed), noise(seed), noise(seed), a});
        }
    return p;
}

struct Frame {
    std::string name;
    int x, y, w, h;
};

std::vector<Frame> atlasFrames(const fs::path& xml) {
    std::vector<Frame> frames;
    const std::string text = readFile(xml);
    const std::regex line(R"re(<pattern name="([^"]*)" x="(-?\d+)" y="(-?\d+)" width="(\d+)" height="(\d+)")re");
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
        frames.push_back(
            Frame{(*it)[1], std::stoi((*it)[2]), std::stoi((*it)[3]), std::stoi((*it)[4]), std::stoi((*it)[5])});
    return frames;
}

struct Box {
    int x, y, w, h;
};

// Where the opaque pixels are (alpha not 0); all transparent: the pixel at 0, 0.
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
    if (right < 0) return Box{0, 0, 1, 1};
    return Box{left, top, right - left + 1, bottom - top + 1};
}

bool powerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

struct Options {
    std::vector<std::string> args;
    bool trim = false;
    int extrude = 0, padding = 0, border = 0;
};

// Glues the folder with the options and checks every frame against its
// source, the ring around it and the distances between frames.
void checkSheet(const TempFolder& t, const std::vector<std::pair<std::string, PictureRgba>>& sources,
                const Options& o) {
    std::vector<std::string> args = o.args;
    args.insert(args.end(), {(t / sources[0].first).string(), "H3", "out.png", ":silent"});
    auto r = runTool(args, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const PictureRgba sheet = readPng((t / "out.png").string());
    const std::vector<Frame> frames = atlasFrames(t / "patterns.xml");
    ASSERT_EQ(frames.size(), sources.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        const Frame& f = frames[i];
        const PictureRgba& src = sources[i].second;
        const Box box = o.trim ? opaqueBox(src) : Box{0, 0, src.width, src.height};
        ASSERT_EQ(f.w, box.w) << sources[i].first;
        ASSERT_EQ(f.h, box.h) << sources[i].first;
        ASSERT_GE(f.x - o.extrude, o.border);
        ASSERT_GE(f.y - o.extrude, o.border);
        ASSERT_LE(f.x + f.w + o.extrude, sheet.width - o.border);
        ASSERT_LE(f.y + f.h + o.extrude, sheet.height - o.border);
        // Put back at its offset into the source size: the source again
        // (outside the trimmed box the source is transparent).
        for (int y = 0; y < src.height; ++y)
            for (int x = 0; x < src.width; ++x) {
                const bool in = x >= box.x && x < box.x + box.w && y >= box.y && y < box.y + box.h;
                if (in)
                    ASSERT_EQ(sheet.at(f.x + x - box.x, f.y + y - box.y), src.at(x, y))
                        << sources[i].first << " " << x << "," << y;
                else ASSERT_EQ(src.at(x, y).a, 0);
            }
        // The ring repeats the nearest edge pixel.
        for (int y = f.y - o.extrude; y < f.y + f.h + o.extrude; ++y)
            for (int x = f.x - o.extrude; x < f.x + f.w + o.extrude; ++x) {
                const int ex = std::clamp(x, f.x, f.x + f.w - 1), ey = std::clamp(y, f.y, f.y + f.h - 1);
                ASSERT_EQ(sheet.at(x, y), sheet.at(ex, ey)) << sources[i].first << " ring " << x << "," << y;
            }
        // Distinct frames keep the padding between their rings.
        for (size_t j = 0; j < i; ++j) {
            const Frame& g = frames[j];
            if (g.x == f.x && g.y == f.y) continue;  // an alias
            const int gap = o.padding + 2 * o.extrude;
            const bool apart =
                f.x + f.w + gap <= g.x || g.x + g.w + gap <= f.x || f.y + f.h + gap <= g.y || g.y + g.h + gap <= f.y;
            EXPECT_TRUE(apart) << sources[i].first << " and " << sources[j].first;
        }
    }
}

std::vector<std::pair<std::string, PictureRgba>> writeSprites(const TempFolder& t, int count, uint32_t seed) {
    std::vector<std::pair<std::string, PictureRgba>> sources;
    for (int i = 0; i < count; ++i) {
        uint32_t s = seed + uint32_t(i) * 7919;
        const int w = 3 + noise(s) % 30, h = 3 + noise(s) % 30;
        const int l = noise(s) % 3, top = noise(s) % 3, r = noise(s) % 3, b = noise(s) % 3;
        char name[16];
        std::snprintf(name, sizeof name, "s%02d.png", i);
        sources.emplace_back(name, sprite(s, w + l + r, h + top + b, l, top, r, b));
        writeFile(t / name, rgbaPng(sources.back().second));
    }
    return sources;
}

}  // namespace

TEST(LayoutGluing, FramesComeBackFromTheSheet) {
    const Options cases[] = {
        {{"--trim"}, true, 0, 0, 0},
        {{"--extrude=2", "--padding=3", "--border=1"}, false, 2, 3, 1},
        {{"--pack=maxrects"}, false, 0, 0, 0},
        {{"--pack=maxrects", "--trim", "--padding=1", "--extrude=1", "--border=2"}, true, 1, 1, 2},
        {{"--cell=max", "--align=center", "--trim", "--padding=2"}, true, 0, 2, 0},
        {{"--cell=max", "--align=bottom", "--extrude=1"}, false, 1, 0, 0},
    };
    for (const Options& o : cases) {
        SCOPED_TRACE(o.args[0] + (o.args.size() > 1 ? " " + o.args[1] : ""));
        TempFolder t;
        auto sources = writeSprites(t, 14, 5);
        // All transparent: a 1 x 1 frame when trimmed.
        sources.emplace_back("z.png", sprite(1, 6, 4, 6, 4, 0, 0));
        writeFile(t / "z.png", rgbaPng(sources.back().second));
        checkSheet(t, sources, o);
    }
}

TEST(LayoutGluing, PowerOfTwoSheets) {
    for (const char* pack : {"--pack=grid", "--pack=maxrects"}) {
        TempFolder t;
        auto sources = writeSprites(t, 9, 17);
        checkSheet(t, sources, Options{{"--pot", "--padding=1", pack}, false, 0, 1, 0});
        const PictureRgba sheet = readPng((t / "out.png").string());
        EXPECT_TRUE(powerOfTwo(sheet.width)) << pack << " " << sheet.width;
        EXPECT_TRUE(powerOfTwo(sheet.height)) << pack << " " << sheet.height;
    }
}

TEST(LayoutGluing, AliasesShareOneRectangle) {
    TempFolder t;
    auto sources = writeSprites(t, 3, 40);
    // a.png equals s01 once trimmed (other margins); b.png differs from s02
    // only in a colour under alpha 0.
    PictureRgba a = sources[1].second;
    const Box box = opaqueBox(a);
    PictureRgba wider;
    wider.width = box.w + 4;
    wider.height = box.h + 1;
    wider.pixels.assign(size_t(wider.width * wider.height), Rgba{9, 9, 9, 0});
    for (int y = 0; y < box.h; ++y)
        for (int x = 0; x < box.w; ++x)
            wider.pixels[size_t((y + 1) * wider.width + x + 4)] = a.at(box.x + x, box.y + y);
    // A transparent pixel inside s02's trimmed box, its colour changed in b.
    PictureRgba& s02 = sources[2].second;
    const Box inner = opaqueBox(s02);
    Rgba& hole = s02.pixels[size_t((inner.y + 1) * s02.width + inner.x + 1)];
    hole.a = 0;
    writeFile(t / sources[2].first, rgbaPng(s02));
    PictureRgba b = s02;
    b.pixels[size_t((inner.y + 1) * s02.width + inner.x + 1)].g ^= 0x40;
    writeFile(t / "a.png", rgbaPng(wider));
    writeFile(t / "b.png", rgbaPng(b));
    sources.insert(sources.begin(), {{"a.png", wider}, {"b.png", b}});
    for (const char* pack : {"--pack=grid", "--pack=maxrects"}) {
        fs::remove(t / "patterns.xml");
        checkSheet(t, sources, Options{{"--alias", "--trim", pack}, true, 0, 0, 0});
        const auto frames = atlasFrames(t / "patterns.xml");
        // a.png shares s01's rectangle; b.png has its own.
        EXPECT_EQ(frames[0].x, frames[3].x) << pack;
        EXPECT_EQ(frames[0].y, frames[3].y) << pack;
        EXPECT_FALSE(frames[1].x == frames[4].x && frames[1].y == frames[4].y) << pack;
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
    const auto frames = atlasFrames(t / "patterns.xml");
    ASSERT_EQ(frames.size(), 5u);
    int64_t covered = 0;
    for (size_t i = 0; i < 5; ++i) {
        ASSERT_EQ(frames[i].w, sources[i].width);
        ASSERT_EQ(frames[i].h, sources[i].height);
        covered += int64_t(frames[i].w) * frames[i].h;
        for (int y = 0; y < frames[i].h; ++y)
            for (int x = 0; x < frames[i].w; ++x)
                ASSERT_EQ(sheet.at(frames[i].x + x, frames[i].y + y), sources[i].at(x, y)) << i;
    }
    // Whatever no frame covers has the background colour (white).
    int64_t white = 0;
    for (int y = 0; y < sheet.height; ++y)
        for (int x = 0; x < sheet.width; ++x) white += sheet.at(x, y) == Rgb{255, 255, 255};
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

TEST(LayoutGluing, SeveralSheetsFromTheMultiAtlas) {
    TempFolder t;
    auto sources = writeSprites(t, 24, 99);
    // Two copies of one sprite: one rectangle, two names.
    writeFile(t / "s99.png", rgbaPng(sources[4].second));
    sources.emplace_back("s99.png", sources[4].second);
    std::map<std::string, const PictureRgba*> byName;
    for (const auto& [name, picture] : sources) byName[name] = &picture;
    auto r = runTool({"--pack=maxrects", "--max-size=64", "--trim", "--alias", "--extrude=1", "--padding=2",
                      "--atlas=json", (t / "s00.png").string(), "H1", "out.png", ":silent"},
                     "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto atlas = nlohmann::json::parse(readFile(t / "out.json"));
    const auto& textures = atlas.at("textures");
    ASSERT_GT(textures.size(), 1u);
    std::map<std::string, std::pair<int, int>> corners;
    for (size_t page = 0; page < textures.size(); ++page) {
        const auto& texture = textures[page];
        const std::string image = texture.at("image");
        EXPECT_EQ(image, page == 0 ? "out.png" : "out-" + std::to_string(page) + ".png");
        const PictureRgba sheet = readPng((t / image).string());
        EXPECT_LE(sheet.width, 64);
        EXPECT_LE(sheet.height, 64);
        for (const auto& frame : texture.at("frames")) {
            const std::string name = frame.at("filename");
            ASSERT_TRUE(byName.count(name)) << name;
            const PictureRgba& src = *byName[name];
            const Box box = opaqueBox(src);
            const auto& f = frame.at("frame");
            const int fx = f.at("x"), fy = f.at("y");
            EXPECT_EQ(frame.at("spriteSourceSize").at("x"), box.x) << name;
            EXPECT_EQ(frame.at("spriteSourceSize").at("y"), box.y) << name;
            EXPECT_EQ(frame.at("sourceSize").at("w"), src.width) << name;
            ASSERT_EQ(f.at("w"), box.w) << name;
            ASSERT_EQ(f.at("h"), box.h) << name;
            for (int y = -1; y <= box.h; ++y)
                for (int x = -1; x <= box.w; ++x) {
                    const int sx = box.x + std::clamp(x, 0, box.w - 1), sy = box.y + std::clamp(y, 0, box.h - 1);
                    ASSERT_EQ(sheet.at(fx + x, fy + y), src.at(sx, sy)) << name << " " << x << "," << y;
                }
            corners[name] = {int(page) * 1000 + fx, fy};
            byName.erase(name);
        }
    }
    EXPECT_TRUE(byName.empty());
    EXPECT_EQ(corners["s04.png"], corners["s99.png"]);
}
