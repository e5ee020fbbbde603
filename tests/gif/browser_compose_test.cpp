// Frames composed as browsers show them: small animations whose every
// composed frame is written out pixel by pixel, and the play count of the
// looping extension.
#include <gtest/gtest.h>

#include "gif/browser_compose.h"
#include "gif_test_util.h"

namespace glx::test {
namespace {

struct FrameDef {
    int left = 0, top = 0, width = 1, height = 1;
    std::string pixels;  // indices as digits, rows joined; may be cut short
    int disposal = 0;
    int transparent = -1;
    bool interlaced = false;
    bool local = false;  // a local table of 4 entries instead of the global one
};

struct ComposeCase {
    const char* name;
    int width, height;
    std::vector<FrameDef> frames;
    // Per frame, rows joined by '|': '0'..'3' global colours, 'a'..'d'
    // local colours, '.' transparent.
    std::vector<std::string> expected;
};

std::vector<uint8_t> buildGif(const ComposeCase& c) {
    GifBuilder b;
    b.header(c.width, c.height, 2);
    for (const FrameDef& f : c.frames) {
        b.gce(10, f.disposal, f.transparent >= 0, std::max(f.transparent, 0));
        FrameSpec spec;
        spec.left = f.left;
        spec.top = f.top;
        spec.width = f.width;
        spec.height = f.height;
        spec.interlaced = f.interlaced;
        spec.localColorBits = f.local ? 2 : 0;
        spec.lzw.minCodeSize = 2;
        for (char ch : f.pixels)
            if (ch != '|') spec.pixels.push_back(static_cast<uint8_t>(ch - '0'));
        if (f.interlaced) {
            b.descriptor(f.left, f.top, f.width, f.height, 0x40 | (f.local ? 0x81 : 0));
            if (f.local) GifBuilder::colorTable(b.bytes, 4, 7);
            b.raw(lzwEncode(interlaceOrder(spec.pixels, f.width, f.height), spec.lzw));
        } else {
            b.image(spec);
        }
    }
    b.comment("an extension-only frame at the end is no frame");
    return b.trailer().bytes;
}

// The screen as characters (see ComposeCase::expected).
std::string screenText(const GifBrowserComposer& composer) {
    std::vector<uint8_t> global, local;
    GifBuilder::colorTable(global, 4);
    GifBuilder::colorTable(local, 4, 7);
    std::string out;
    for (int32_t y = 0; y < composer.height(); ++y) {
        if (y > 0) out += '|';
        for (int32_t x = 0; x < composer.width(); ++x) {
            const uint8_t* p = composer.row(y) + size_t(x) * 4;
            char ch = '?';
            if (p[3] == 0) ch = '.';
            for (int i = 0; i < 4 && ch == '?' && p[3] == 255; ++i) {
                if (std::equal(p, p + 3, &global[size_t(i) * 3])) ch = static_cast<char>('0' + i);
                if (std::equal(p, p + 3, &local[size_t(i) * 3])) ch = static_cast<char>('a' + i);
            }
            out += ch;
        }
    }
    return out;
}

const ComposeCase kCases[] = {
    {"TheScreenStartsTransparent", 3, 2, {{.left = 1, .top = 1, .width = 2, .pixels = "01"}}, {"...|.01"}},
    {"TransparentIndexShowsWhatIsBeneath",
     3,
     1,
     {{.width = 3, .pixels = "301", .disposal = 1, .transparent = 3}, {.width = 3, .pixels = "323", .transparent = 3}},
     {".01", ".21"}},
    {"RestoreToBackgroundClearsOnlyTheFrame",
     3,
     1,
     {{.width = 3, .pixels = "000", .disposal = 1},
      {.left = 1, .pixels = "2", .disposal = 2},
      {.left = 2, .pixels = "1"}},
     {"000", "020", "0.1"}},
    {"RestorePreviousPutsBackWhatTheFrameCovered",
     3,
     1,
     {{.width = 3, .pixels = "000", .disposal = 1},
      {.width = 2, .pixels = "12", .disposal = 3},
      {.left = 2, .pixels = "3"}},
     {"000", "120", "003"}},
    {"RestorePreviousOnTheFirstFrameLeavesTransparency",
     3,
     1,
     {{.width = 3, .pixels = "012", .disposal = 3}, {.pixels = "3"}},
     {"012", "3.."}},
    {"UnspecifiedAndUndefinedDisposalsKeepTheFrame",
     3,
     1,
     {{.width = 3, .pixels = "000", .disposal = 0},
      {.left = 1, .pixels = "1", .disposal = 4},
      {.left = 2, .pixels = "2", .disposal = 7}},
     {"000", "010", "012"}},
    {"FramesOffTheScreenAreClipped",
     2,
     2,
     {{.left = 1, .top = 1, .width = 3, .height = 3, .pixels = "012|123|230", .disposal = 1},
      {.left = 5, .top = 5, .width = 2, .pixels = "33", .disposal = 2},
      {.left = 1, .top = 0, .width = 2, .height = 2, .pixels = "33|33", .disposal = 2},
      {.pixels = "2"}},
     {"..|.0", "..|.0", ".3|.3", "2.|.."}},
    {"InterlacedRowsWithALocalTable",
     1,
     5,
     {{.width = 1, .height = 5, .pixels = "01230", .interlaced = true, .local = true}},
     {"a|b|c|d|a"}},
    {"DataCutShortLeavesTheRestAsItWas",
     3,
     2,
     {{.width = 3, .height = 2, .pixels = "111|111", .disposal = 1}, {.width = 3, .height = 2, .pixels = "22"}},
     {"111|111", "221|111"}},
};

class BrowserCompose : public ::testing::TestWithParam<ComposeCase> {};

TEST_P(BrowserCompose, EveryFrameAsExpected) {
    const ComposeCase& c = GetParam();
    LoadResult r;
    loadInto(r, buildGif(c));
    GifBrowserComposer composer(*r.image);
    ASSERT_EQ(composer.frameCount(), static_cast<int>(c.frames.size()));
    for (size_t i = 0; i < c.expected.size(); ++i) {
        EXPECT_EQ(composer.next(), static_cast<int>(i));
        EXPECT_EQ(screenText(composer), c.expected[i]) << "frame " << i;
    }
    EXPECT_THROW(composer.next(), EListError);
}

INSTANTIATE_TEST_SUITE_P(Cases, BrowserCompose, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ComposeCase>& p) { return std::string(p.param.name); });

TEST(GifPlayCount, FollowsTheLoopingExtension) {
    struct Case {
        int loop;  // -1: no looping extension
        const char* ident;
        int32_t plays;
    };
    const Case cases[] = {{-1, "NETSCAPE2.0", 1},
                          {0, "NETSCAPE2.0", 0},
                          {1, "NETSCAPE2.0", 2},
                          {3, "ANIMEXTS1.0", 4},
                          {65535, "NETSCAPE2.0", 65536}};
    for (const Case& c : cases) {
        GifBuilder b;
        b.header(1, 1, 1);
        if (c.loop >= 0) b.loop(c.loop, c.ident);
        b.solid(1, 1, 0).solid(1, 1, 1).trailer();
        LoadResult r;
        loadInto(r, b.bytes);
        EXPECT_EQ(gifPlayCount(*r.image), c.plays) << c.loop << " " << c.ident;
    }
}

}  // namespace
}  // namespace glx::test
