#include <gtest/gtest.h>

#include "app/canvas_growth.h"
#include "base/limits.h"

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
