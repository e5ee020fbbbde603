// Frame order and names, and the data files written beside a sheet.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/atlas_formats.h"
#include "app/frame_names.h"

using namespace glx::app;
using Json = nlohmann::json;

TEST(FrameNames, NaturalOrderReadsDigitRunsAsNumbers) {
    struct Case {
        const char *a, *b;
        int expect;  // -1: a first, 1: b first, 0: neither
    } cases[] = {
        {"2.png", "10.png", -1},
        {"frame9", "frame10", -1},
        {"a1b2", "a1b10", -1},
        {"A2", "a10", -1},
        {"x", "x1", -1},
        {"a01", "a1", 0},
        {"b", "A", 1},
        {"0", "00000000000000000000001", -1},
        {"99999999999999999999", "100000000000000000000", -1},  // beyond 64 bits
        {"a.png", "a_1.png", -1},  // "." before "_", as the listing orders them
    };
    for (const auto& c : cases) {
        EXPECT_EQ(naturalLess(c.a, c.b), c.expect < 0) << c.a << " " << c.b;
        EXPECT_EQ(naturalLess(c.b, c.a), c.expect > 0) << c.a << " " << c.b;
    }
    // The GIF export's frames come back in frame order; equal names keep
    // the listing's order.
    std::vector<std::string> names{"0.png", "1.png", "10.png", "11.png", "2.png", "a01.png", "a1.png", "9.png"};
    sortNatural(names);
    EXPECT_EQ(names,
              (std::vector<std::string>{"0.png", "1.png", "2.png", "9.png", "10.png", "11.png", "a01.png", "a1.png"}));
}

TEST(FrameNames, NamesAreUniqueAndNumberedNamesFormAnimations) {
    EXPECT_EQ(frameNameOf("hero_run_3.png", FrameNames::FileName), "hero_run_3.png");
    EXPECT_EQ(frameNameOf("hero_run_3.png", FrameNames::Stem), "hero_run_3");
    EXPECT_EQ(frameNameOf("a.b.png", FrameNames::Stem), "a.b");
    EXPECT_EQ(frameNameOf(".png", FrameNames::Stem), ".png");

    UniqueNames names;
    EXPECT_EQ(names.take("a"), "a");
    EXPECT_EQ(names.take("a~2"), "a~2");
    EXPECT_EQ(names.take("a"), "a~3");  // "a~2" is taken by a picture of that name
    EXPECT_EQ(names.take("a"), "a~4");
    EXPECT_EQ(names.take("b"), "b");

    auto groups = groupAnimations(
        {"walk_10.png", "walk_2.png", "walk-3", "jump1", "jump0", "idle", "7.png", "_4", "run.12", "x~2"});
    EXPECT_EQ(groups, (std::map<std::string, std::vector<std::string>>{
                          {"walk", {"walk_2.png", "walk-3", "walk_10.png"}},
                          {"jump", {"jump0", "jump1"}},
                          {"run", {"run.12"}},
                          {"x~", {"x~2"}},
                      }));
}

namespace {

SheetDescription twoFrames() {
    SheetDescription sheet;
    SheetPage page;
    page.image = "sheet.png";
    page.width = 64;
    page.height = 32;
    page.alpha = true;
    SheetFrame a;
    a.name = "hero \"run\" 1.png";
    a.x = 0;
    a.y = 0;
    a.w = 32;
    a.h = 32;
    SheetFrame b;
    b.name = "tree:big.png";
    b.x = 32;
    b.y = 4;
    b.w = 20;
    b.h = 24;
    b.trimmed = true;
    b.offsetX = 6;
    b.offsetY = 2;
    b.sourceW = 32;
    b.sourceH = 32;
    b.durationMs = 120;
    page.frames = {a, b};
    sheet.pages.push_back(page);
    return sheet;
}

}  // namespace

TEST(AtlasFormats, JsonHashAndArrayCarryEveryRectangle) {
    SheetDescription sheet = twoFrames();
    sheet.animations["hero"] = {"hero \"run\" 1.png"};
    sheet.grid = GridMeta{32, 32, 0, 0};
    sheet.loop = 0;
    sheet.frameTags.push_back({"all", 0, 1});
    const Json hash = Json::parse(atlasDataText(AtlasFormat::Json, sheet, true));
    const Json& tree = hash["frames"]["tree:big.png"];
    EXPECT_EQ(tree["frame"], (Json{{"x", 32}, {"y", 4}, {"w", 20}, {"h", 24}}));
    EXPECT_EQ(tree["rotated"], false);
    EXPECT_EQ(tree["trimmed"], true);
    EXPECT_EQ(tree["spriteSourceSize"], (Json{{"x", 6}, {"y", 2}, {"w", 20}, {"h", 24}}));
    EXPECT_EQ(tree["sourceSize"], (Json{{"w", 32}, {"h", 32}}));
    EXPECT_EQ(tree["duration"], 120);
    EXPECT_FALSE(hash["frames"]["hero \"run\" 1.png"].contains("duration"));
    EXPECT_EQ(hash["animations"]["hero"][0], "hero \"run\" 1.png");
    const Json& meta = hash["meta"];
    EXPECT_EQ(meta["app"], "glumixer");
    EXPECT_EQ(meta["image"], "sheet.png");
    EXPECT_EQ(meta["format"], "RGBA8888");
    EXPECT_EQ(meta["size"], (Json{{"w", 64}, {"h", 32}}));
    EXPECT_EQ(meta["scale"], "1");
    EXPECT_EQ(meta["frameWidth"], 32);
    EXPECT_EQ(meta["spacing"], 0);
    EXPECT_EQ(meta["loop"], 0);
    EXPECT_EQ(meta["frameTags"][0]["to"], 1);

    const Json array = Json::parse(atlasDataText(AtlasFormat::JsonArray, sheet, true));
    ASSERT_EQ(array["frames"].size(), 2u);
    EXPECT_EQ(array["frames"][0]["filename"], "hero \"run\" 1.png");
    EXPECT_EQ(array["frames"][1]["frame"], tree["frame"]);

    // Several pages: one texture each, in the multi-atlas form.
    SheetDescription two = twoFrames();
    two.pages.push_back(two.pages.front());
    two.pages[1].image = "sheet-1.png";
    two.pages[1].alpha = false;
    const Json multi = Json::parse(atlasDataText(AtlasFormat::Json, two, true));
    ASSERT_EQ(multi["textures"].size(), 2u);
    EXPECT_EQ(multi["textures"][1]["image"], "sheet-1.png");
    EXPECT_EQ(multi["textures"][1]["format"], "RGB888");
    EXPECT_EQ(multi["textures"][1]["frames"][1]["filename"], "tree:big.png");
    EXPECT_FALSE(multi.contains("frames"));
}

TEST(AtlasFormats, GodotLibGdxAndCssTexts) {
    const SheetDescription sheet = twoFrames();
    const Json godot = Json::parse(atlasDataText(AtlasFormat::Godot, sheet, true));
    const Json& sprite = godot["textures"][0]["sprites"][1];
    EXPECT_EQ(godot["textures"][0]["image"], "sheet.png");
    EXPECT_EQ(sprite["region"], (Json{{"x", 32}, {"y", 4}, {"w", 20}, {"h", 24}}));
    EXPECT_EQ(sprite["margin"], (Json{{"x", 6}, {"y", 2}, {"w", 12}, {"h", 8}}));

    EXPECT_EQ(atlasDataText(AtlasFormat::LibGdx, sheet, true),
              "\nsheet.png\nsize: 64, 32\nformat: RGBA8888\nfilter: Nearest, Nearest\nrepeat: none\n"
              "hero \"run\" 1.png\n  rotate: false\n  xy: 0, 0\n  size: 32, 32\n  orig: 32, 32\n  offset: 0, 0\n"
              "  index: -1\n"
              "tree_big.png\n  rotate: false\n  xy: 32, 4\n  size: 20, 24\n  orig: 32, 32\n  offset: 6, 6\n"
              "  index: -1\n");

    SheetDescription clash = twoFrames();
    clash.pages[0].image = "my sheet.png";
    clash.pages[0].frames[1].name = "hero \"run\" 1?png";  // the same class as the first once made valid
    EXPECT_EQ(atlasDataText(AtlasFormat::Css, clash, false),
              ".sprite-hero__run__1_png { background: url(\"my sheet.png\") 0 0; width: 32px; height: 32px; }\r\n"
              ".sprite-hero__run__1_png-2 { background: url(\"my sheet.png\") -32px -4px; width: 20px; height: 24px; "
              "}\r\n");
}

TEST(AtlasFormats, DataFilesTakeTheSheetsStem) {
    const std::vector<AtlasFormat> one{AtlasFormat::JsonArray}, both{AtlasFormat::Json, AtlasFormat::JsonArray};
    EXPECT_EQ(atlasDataPath(AtlasFormat::JsonArray, one, "/p/sheet.png"), "/p/sheet.json");
    EXPECT_EQ(atlasDataPath(AtlasFormat::JsonArray, both, "/p/sheet.png"), "/p/sheet-array.json");
    EXPECT_EQ(atlasDataPath(AtlasFormat::Json, both, "/p/sheet.png"), "/p/sheet.json");
    EXPECT_EQ(atlasDataPath(AtlasFormat::Godot, one, "/p/a.b.bmp"), "/p/a.b.tpsheet");
    EXPECT_EQ(atlasDataPath(AtlasFormat::LibGdx, one, "/p/sheet"), "/p/sheet.atlas");
    EXPECT_EQ(atlasDataPath(AtlasFormat::Css, one, "/p/sheet.jpg"), "/p/sheet.css");
}
