// The layout engine of sheets: grid with spacing, uniform cells, packing
// over pages. (Trim, identity, rings and power-of-two sides are checked on
// written sheets in layout_e2e_test.cpp.)
#include <gtest/gtest.h>

#include <random>

#include "app/sheet_layout.h"

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
