// The layout engine of sheets (grid with spacing, uniform cells, packing
// over pages) and the pixel steps around it (trim, identity, extrusion).
#include <gtest/gtest.h>

#include <random>

#include "app/sheet_layout.h"
#include "app/sheet_pixels.h"

using namespace glx::app;

namespace {

std::vector<LayoutItem> sized(std::initializer_list<std::pair<int32_t, int32_t>> sizes) {
    std::vector<LayoutItem> items;
    for (auto [w, h] : sizes) items.push_back(LayoutItem{w, h, -1});
    return items;
}

std::vector<LayoutItem> randomItems(unsigned seed, int count, int maxSide) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> side(1, maxSide);
    std::vector<LayoutItem> items;
    for (int i = 0; i < count; ++i) items.push_back(LayoutItem{side(rng), side(rng), -1});
    return items;
}

// Every placed frame with its ring lies inside its page's border, and
// frames on one page keep at least `padding` pixels between their rings.
void expectSeparated(const std::vector<LayoutItem>& items, const SheetLayout& l, const LayoutOptions& o) {
    ASSERT_EQ(l.places.size(), items.size());
    const int32_t r = o.extrude, p = o.padding;
    for (size_t i = 0; i < items.size(); ++i) {
        const LayoutPlace& a = l.places[i];
        ASSERT_LT(size_t(a.page), l.pages.size());
        const LayoutPageSize page = l.pages[size_t(a.page)];
        EXPECT_GE(a.x - r, o.border) << i;
        EXPECT_GE(a.y - r, o.border) << i;
        EXPECT_LE(a.x + items[i].width + r, page.width - o.border) << i;
        EXPECT_LE(a.y + items[i].height + r, page.height - o.border) << i;
        if (items[i].sameAs >= 0) continue;
        for (size_t j = i + 1; j < items.size(); ++j) {
            const LayoutPlace& b = l.places[j];
            if (items[j].sameAs >= 0 || b.page != a.page) continue;
            const bool apart = a.x + items[i].width + r + p <= b.x - r || b.x + items[j].width + r + p <= a.x - r ||
                               a.y + items[i].height + r + p <= b.y - r || b.y + items[j].height + r + p <= a.y - r;
            EXPECT_TRUE(apart) << "frames " << i << " and " << j;
        }
    }
}

bool powerOfTwo(int32_t v) { return v > 0 && (v & (v - 1)) == 0; }

}  // namespace

TEST(SheetLayout, GridSpacingTable) {
    // Horizontal, 2 per row: 10x10, 20x30, 15x5.
    struct Case {
        int32_t padding, border, extrude;
        std::vector<std::pair<int32_t, int32_t>> corners;
        int32_t width, height;
    };
    const Case cases[] = {
        {0, 0, 0, {{0, 0}, {10, 0}, {0, 30}}, 30, 35}, {2, 0, 0, {{0, 0}, {12, 0}, {0, 32}}, 32, 37},
        {0, 3, 0, {{3, 3}, {13, 3}, {3, 33}}, 36, 41}, {0, 0, 1, {{1, 1}, {13, 1}, {1, 33}}, 34, 39},
        {2, 3, 1, {{4, 4}, {18, 4}, {4, 38}}, 42, 47},
    };
    for (const Case& c : cases) {
        LayoutOptions o;
        o.padding = c.padding;
        o.border = c.border;
        o.extrude = c.extrude;
        const auto items = sized({{10, 10}, {20, 30}, {15, 5}});
        SheetLayout l = layoutSheet(items, GridShape{2, 0}, o);
        ASSERT_EQ(l.pages.size(), 1u);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(l.places[i].x, c.corners[i].first) << c.padding << c.border << c.extrude << " #" << i;
            EXPECT_EQ(l.places[i].y, c.corners[i].second) << c.padding << c.border << c.extrude << " #" << i;
        }
        EXPECT_EQ(l.pages[0].width, c.width);
        EXPECT_EQ(l.pages[0].height, c.height);
        expectSeparated(items, l, o);
        // Vertical placement keeps the same distances.
        expectSeparated(items, layoutSheet(items, GridShape{0, 2}, o), o);
    }
}

TEST(SheetLayout, UniformCellsAlignAndCutDistances) {
    const auto items = sized({{4, 4}, {10, 6}, {2, 2}});
    struct Case {
        CellAlign align;
        int32_t dx2, dy2;  // where the 2x2 picture sits inside its cell
    } cases[] = {{CellAlign::TopLeft, 0, 0}, {CellAlign::Center, 4, 2}, {CellAlign::Bottom, 4, 4}};
    for (const Case& c : cases) {
        LayoutOptions o;
        o.cell = CellMode::Max;
        o.align = c.align;
        o.padding = 2;
        o.border = 1;
        o.extrude = 1;
        SheetLayout l = layoutSheet(items, GridShape{3, 0}, o);
        ASSERT_TRUE(l.cells);
        EXPECT_EQ(l.cells->width, 10);
        EXPECT_EQ(l.cells->height, 6);
        EXPECT_EQ(l.cells->margin, 2);
        EXPECT_EQ(l.cells->spacing, 4);
        // The third cell starts where a loader cutting by frame size cuts.
        const int32_t cellX = l.cells->margin + 2 * (l.cells->width + l.cells->spacing);
        EXPECT_EQ(l.places[2].x, cellX + c.dx2);
        EXPECT_EQ(l.places[2].y, l.cells->margin + c.dy2);
        EXPECT_EQ(l.pages[0].width, 2 * l.cells->margin + 3 * l.cells->width + 2 * l.cells->spacing);
        expectSeparated(items, l, o);
    }
}

TEST(SheetLayout, PowerOfTwoSides) {
    const auto items = randomItems(7, 40, 50);
    for (PackMode pack : {PackMode::Grid, PackMode::MaxRects}) {
        LayoutOptions o;
        o.pot = true;
        o.pack = pack;
        o.padding = 1;
        SheetLayout l = layoutSheet(items, GridShape{7, 0}, o);
        for (const LayoutPageSize& page : l.pages) {
            EXPECT_TRUE(powerOfTwo(page.width)) << page.width;
            EXPECT_TRUE(powerOfTwo(page.height)) << page.height;
        }
        expectSeparated(items, l, o);
    }
    EXPECT_EQ(powerOfTwoAtLeast(1), 1);
    EXPECT_EQ(powerOfTwoAtLeast(65), 128);
}

TEST(SheetLayout, PackingIsTightSeparatedAndDeterministic) {
    // 64 squares of 16 fill 128 x 128 exactly.
    std::vector<LayoutItem> squares(64, LayoutItem{16, 16, -1});
    LayoutOptions o;
    o.pack = PackMode::MaxRects;
    SheetLayout l = layoutSheet(squares, GridShape{}, o);
    ASSERT_EQ(l.pages.size(), 1u);
    EXPECT_EQ(int64_t(l.pages[0].width) * l.pages[0].height, 128 * 128);
    expectSeparated(squares, l, o);

    for (int32_t padding : {0, 3}) {
        o.padding = padding;
        o.extrude = padding == 0 ? 0 : 1;
        o.border = padding;
        const auto items = randomItems(11 + unsigned(padding), 200, 60);
        SheetLayout a = layoutSheet(items, GridShape{}, o);
        SheetLayout b = layoutSheet(items, GridShape{}, o);
        ASSERT_EQ(a.pages.size(), 1u);
        expectSeparated(items, a, o);
        int64_t used = 0;
        for (const LayoutItem& item : items)
            used += int64_t(item.width + 2 * o.extrude + padding) * (item.height + 2 * o.extrude + padding);
        const double occupancy = double(used) / (double(a.pages[0].width) * a.pages[0].height);
        EXPECT_GT(occupancy, 0.85) << padding;
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(a.places[i].x, b.places[i].x);
            EXPECT_EQ(a.places[i].y, b.places[i].y);
        }
    }
}

TEST(SheetLayout, PagesSplitAndTooLargePictures) {
    LayoutOptions o;
    o.pack = PackMode::MaxRects;
    o.maxSize = 100;
    o.padding = 2;
    // Two 60 x 60 cannot share a 100 x 100 page: one a page.
    auto items = sized({{60, 60}, {60, 60}, {30, 30}, {30, 30}, {100, 100}});
    SheetLayout l = layoutSheet(items, GridShape{}, o);
    EXPECT_EQ(l.pages.size(), 3u);
    for (const LayoutPageSize& page : l.pages) {
        EXPECT_LE(page.width, 100);
        EXPECT_LE(page.height, 100);
    }
    expectSeparated(items, l, o);

    // Too large by its own size, by the border, or by the ring.
    const struct { int32_t w, border, extrude; } tooLarge[] = {{101, 0, 0}, {99, 1, 0}, {99, 0, 1}};
    for (const auto& c : tooLarge) {
        o.border = c.border;
        o.extrude = c.extrude;
        items = sized({{10, 10}, {c.w, 5}});
        try {
            layoutSheet(items, GridShape{}, o);
            ADD_FAILURE() << c.w << " " << c.border << " " << c.extrude;
        } catch (const LayoutTooLarge& e) {
            EXPECT_EQ(e.item(), 1u);
            EXPECT_EQ(e.maxSize(), 100);
        }
    }
}

TEST(SheetLayout, AliasesShareTheFirstRectangle) {
    auto items = sized({{8, 8}, {5, 5}, {8, 8}, {8, 8}});
    items[2].sameAs = 0;
    items[3].sameAs = 0;
    for (PackMode pack : {PackMode::Grid, PackMode::MaxRects}) {
        LayoutOptions o;
        o.pack = pack;
        SheetLayout l = layoutSheet(items, GridShape{4, 0}, o);
        EXPECT_EQ(l.places[2].x, l.places[0].x);
        EXPECT_EQ(l.places[3].y, l.places[0].y);
        // Only the two distinct pictures take room.
        EXPECT_EQ(l.pages[0].width * l.pages[0].height, 13 * 8);
    }
}

namespace {

// A w x h picture whose alpha is given row by row ("." = 0, other = 255),
// colours numbered by position.
SheetPicture picture(int32_t w, std::initializer_list<const char*> rows) {
    SheetPicture p;
    p.width = w;
    p.height = int32_t(rows.size());
    for (const char* row : rows)
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t v = uint8_t(p.alpha.size());
            p.bgr.insert(p.bgr.end(), {v, uint8_t(v + 1), uint8_t(v + 2)});
            p.alpha.push_back(row[x] == '.' ? 0 : 255);
        }
    return p;
}

}  // namespace

TEST(SheetPixels, TrimBounds) {
    const struct {
        SheetPicture p;
        PixelBox box;
    } cases[] = {
        {picture(3, {"...", "...", "..."}), {0, 0, 1, 1}},
        {picture(3, {"...", ".x.", "..."}), {1, 1, 1, 1}},
        {picture(4, {"....", "..x.", ".x..", "...."}), {1, 1, 2, 2}},
        {picture(3, {"x..", "...", "..x"}), {0, 0, 3, 3}},
        {picture(2, {"xx"}), {0, 0, 2, 1}},
    };
    for (const auto& c : cases) EXPECT_EQ(opaqueBounds(c.p), c.box) << c.box.x << c.box.y << c.box.w << c.box.h;

    SheetPicture p = picture(4, {"....", "..x.", ".x..", "...."});
    SheetPicture cut = cropPicture(p, opaqueBounds(p));
    ASSERT_EQ(cut.width, 2);
    EXPECT_EQ(cut.alphaRow(0)[1], 255);
    EXPECT_EQ(cut.bgrRow(1)[0], p.bgrRow(2)[3]);
}

TEST(SheetPixels, IdentityIncludesColourUnderTransparency) {
    SheetPicture a = picture(2, {"x.", ".x"});
    SheetPicture b = a;
    EXPECT_TRUE(samePixels(a, b));
    EXPECT_EQ(pictureHash(a), pictureHash(b));
    b.bgr[3] ^= 1;  // pixel (1, 0) is transparent
    EXPECT_FALSE(samePixels(a, b));
    b = a;
    b.alpha[1] = 1;
    EXPECT_FALSE(samePixels(a, b));
    // Same bytes, other shape.
    b = a;
    b.width = 4;
    b.height = 1;
    EXPECT_FALSE(samePixels(a, b));
}

TEST(SheetPixels, ExtrudedRingRepeatsEdges) {
    const int32_t W = 9, H = 8, ring = 2;
    std::vector<uint8_t> bgr(3 * W * H, 0xEE), alpha(W * H, 7);
    SheetSurface s{W, H, bgr.data(), size_t(3 * W), alpha.data(), size_t(W)};
    SheetPicture p = picture(3, {"xx.", "x.x"});
    drawPicture(s, p, 3, 2);
    extrudeEdges(s, 3, 2, 3, 2, ring);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            const int32_t sx = std::clamp(x - 3, 0, 2), sy = std::clamp(y - 2, 0, 1);
            const bool inRing = x >= 1 && x < 8 && y >= 0 && y < 6;
            const uint8_t want = inRing ? p.alphaRow(sy)[sx] : 7;
            EXPECT_EQ(alpha[size_t(y * W + x)], want) << x << "," << y;
            const uint8_t wantBlue = inRing ? p.bgrRow(sy)[3 * sx] : 0xEE;
            EXPECT_EQ(bgr[size_t(3 * (y * W + x))], wantBlue) << x << "," << y;
        }
}
