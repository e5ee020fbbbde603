#include <gtest/gtest.h>

#include <fstream>

#include "app/canvas_growth.h"
#include "app/glue.h"
#include "base/limits.h"
#include "support/pictures.h"
#include "support/process.h"

using namespace glx;
using namespace glx::app;

// The buffer behind a gluing canvas: half as much again on a side that must
// grow, no width slack once rows are added, the logical size itself where
// slack would pass the pixel limit, and nothing while the buffer holds the
// logical size.
TEST(CanvasGrowth, AmortisedBufferSizes) {
    struct Case {
        CanvasSize logical, buffer, expected;
    } cases[] = {
        {{120, 10}, {100, 10}, {150, 10}},  // wider by a little: half as much again
        {{400, 10}, {100, 10}, {400, 10}},  // wider by a lot: exactly the need
        {{100, 20}, {150, 10}, {100, 20}},  // taller: the width slack goes
        {{100, 11}, {100, 10}, {100, 15}},  // taller by a little
        {{150, 11}, {100, 10}, {150, 15}},  // both
        {{16384, 16384}, {16384, 12000}, {16384, 16384}},  // slack past the limit: exact
    };
    for (const auto& c : cases) {
        CanvasGrowth g(c.logical.width, c.logical.height);
        const CanvasSize got = g.amortised(c.buffer);
        EXPECT_EQ(got, c.expected) << c.logical.width << "x" << c.logical.height;
        int resized = 0;
        g.fitBuffer(c.buffer, [&](CanvasSize s) {
            ++resized;
            EXPECT_EQ(s, c.expected);
        });
        EXPECT_EQ(resized, 1);
    }
    // A buffer that holds the logical size is left alone; refused slack
    // falls back to the logical size, so errors name that size.
    CanvasGrowth g(10, 10);
    g.fitBuffer(CanvasSize{12, 30}, [](CanvasSize) { FAIL(); });
    EXPECT_EQ(g.widen(40), 10);
    std::vector<CanvasSize> asked;
    g.fitBuffer(CanvasSize{12, 30}, [&](CanvasSize s) {
        asked.push_back(s);
        if (asked.size() == 1) throw EOutOfMemory("Out of memory");
    });
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0], (CanvasSize{40, 30}));
    EXPECT_EQ(asked[1], (CanvasSize{40, 10}));
    EXPECT_EQ(g.deepen(5), 10);  // never shrinks
    EXPECT_EQ(g.logical(), (CanvasSize{40, 10}));
}

// With the final size known ahead, the first growth takes the buffer to it
// and no later placement grows it again; an expectation the logical size
// outgrows falls back to amortised growth.
TEST(CanvasGrowth, ExpectedSizeIsAllocatedOnce) {
    CanvasGrowth g(1, 1);
    g.expect(CanvasSize{300, 200});
    std::vector<CanvasSize> asked;
    CanvasSize buffer{1, 1};
    auto fit = [&] {
        g.fitBuffer(buffer, [&](CanvasSize s) {
            asked.push_back(s);
            buffer = s;
        });
    };
    for (const auto& [right, bottom] : {std::pair{100, 50}, {200, 50}, {300, 50}, {100, 120}, {300, 200}}) {
        g.widen(right);
        fit();
        g.deepen(bottom);
        fit();
    }
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], (CanvasSize{300, 200}));
    EXPECT_EQ(g.logical(), (CanvasSize{300, 200}));
    g.widen(301);
    fit();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1], (CanvasSize{450, 200}));
}

namespace {

std::string pngHeader(uint32_t w, uint32_t h) { return glxtest::pngSignature() + glxtest::ihdr(w, h); }

std::string bmpHeader(int32_t w, int32_t h) { return glxtest::bmpHeader24(w, h, 0, 0); }

}  // namespace

// The size a run's canvas reaches, from the headers alone: rows of three
// take the widest row and the rows' tallest pictures; columns of two the
// other way round; a canvas bigger than the pictures stays; an unreadable
// header, one its file could not fill or a canvas past the limits gives no
// expectation.
TEST(CanvasGrowth, ExpectedCanvasFollowsTheGrid) {
    glxtest::TempFolder dir;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"a.png", pngHeader(10, 20)}, {"b.bmp", bmpHeader(30, -5)}, {"c.png", pngHeader(7, 7)},
        {"d.bmp", bmpHeader(50, 9)},  {"e.png", pngHeader(1, 40)},
    };
    std::vector<std::string> names;
    for (const auto& [name, bytes] : files) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        names.push_back((dir / name).string());
    }
    TGridCursor rows;
    rows.perRow = 3;
    EXPECT_EQ(expectedCanvas(rows, {1, 1}, names, Limits{}), (CanvasSize{51, 60}));
    TGridCursor columns;
    columns.perColumn = 2;
    EXPECT_EQ(expectedCanvas(columns, {1, 1}, names, Limits{}), (CanvasSize{81, 40}));
    EXPECT_EQ(expectedCanvas(rows, {100, 70}, names, Limits{}), (CanvasSize{100, 70}));
    Limits small;
    small.pixels = 51 * 60 - 1;
    EXPECT_EQ(expectedCanvas(rows, {1, 1}, names, small), std::nullopt);
    for (const auto& [name, bytes] :
         {std::pair<std::string, std::string>{"f.png", "not a picture"}, {"g.png", pngHeader(16000, 16000)}}) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        std::vector<std::string> more = names;
        more.push_back((dir / name).string());
        EXPECT_EQ(expectedCanvas(rows, {1, 1}, more, Limits{}), std::nullopt) << name;
    }
}
