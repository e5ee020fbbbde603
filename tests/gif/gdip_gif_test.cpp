// The delay query and the preview control: frame count, size and delays,
// the timer rule, and painting into the control's bitmap.
#include <gtest/gtest.h>

#include <cstdio>

#include "gif/gdip_gif.h"
#include "gif_test_util.h"

namespace glx::test {
namespace {

class FakeTicks : public ITickSource {
public:
    uint32_t now = 1000;
    uint32_t TickCount() override { return now; }
};

std::vector<uint8_t> threeFrames(int d0 = 10, int d1 = 0, int d2 = 250) {
    GifBuilder b;
    b.header(6, 4, 2).loop(0).gce(d0).solid(6, 4, 1).gce(d1).solid(6, 4, 2).gce(d2).solid(6, 4, 3).trailer();
    return b.bytes;
}

void load(TGdipGIF& gif, const std::vector<uint8_t>& bytes) {
    TMemoryStream s(bytes);
    gif.LoadStream(s);
}

TEST(GdipGif, DelaysFrameCountAndSize) {
    TGdipGIF gif;
    load(gif, threeFrames());
    EXPECT_EQ(gif.FrameCount(), 3);
    EXPECT_EQ(gif.Delays(), (TArrayOfFrameDelay{10, 0, 250}));
    EXPECT_EQ(gif.GifWidth(), 6);
    EXPECT_EQ(gif.GifHeight(), 4);
    EXPECT_EQ(gif.CurrentFrame(), 0);
}

TEST(GdipGif, OneDelayPerImageDescriptor) {
    // First graphic control before an image wins; an image without one has
    // 0; extension-only runs and a trailing comment add no frame.
    GifBuilder b;
    b.header(4, 4, 1).gce(7).gce(9).solid(4, 4, 1).solid(4, 4, 0).comment("x").raw({0}).gce(3).solid(2, 2, 1);
    b.comment("end").trailer();
    TGdipGIF gif;
    load(gif, b.bytes);
    EXPECT_EQ(gif.Delays(), (TArrayOfFrameDelay{7, 0, 3}));
}

// The frame count is the number of frames with an image that the GIF
// reader gives, whatever lies between the blocks: the export takes its
// count and delays from the control and its frames from the reader.
TEST(GdipGif, CountsTheFramesTheReaderGives) {
    // More codes than the first frame needs, in one-byte sub-blocks: the
    // reader meets the rest of the data and stops there.
    FrameSpec longData;
    longData.width = longData.height = 2;
    for (int i = 0; i < 16; ++i) longData.pixels.push_back(uint8_t(i % 2));
    longData.lzw.minCodeSize = 2;
    longData.lzw.subBlockSize = 1;
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        TArrayOfFrameDelay delays;
    } cases[] = {
        {"stray byte before the second image",
         GifBuilder().header(2, 2, 1).gce(10).solid(2, 2, 1).raw({0x01}).gce(20).solid(2, 2, 0).trailer().bytes,
         {10}},
        {"frame data running on",
         GifBuilder().header(2, 2, 1).gce(10).image(longData).gce(20).solid(2, 2, 0).trailer().bytes,
         {10}},
        {"extensions split by a zero byte",
         GifBuilder()
             .header(2, 2, 1)
             .gce(10)
             .solid(2, 2, 1)
             .comment("c")
             .raw({0})
             .gce(20)
             .solid(2, 2, 0)
             .trailer()
             .bytes,
         {10, 20}},
    };
    for (const auto& c : cases) {
        LoadResult read;
        loadInto(read, c.bytes);
        int pictures = 0;
        for (int i = 0; i < read.image->Frames().ItemCount(); ++i)
            pictures += read.image->Frames()[i].HasImageDescriptor();
        TGdipGIF gif;
        load(gif, c.bytes);
        EXPECT_EQ(gif.FrameCount(), pictures) << c.what;
        EXPECT_EQ(gif.Delays(), c.delays) << c.what;
    }
}

TEST(GdipGif, UnreadableContentLeavesTheControlEmpty) {
    TGdipGIF gif;
    load(gif, threeFrames());
    for (const auto& bytes : {std::vector<uint8_t>{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'},
                              std::vector<uint8_t>{}, GifBuilder().header(4, 4, 1).trailer().bytes}) {
        EXPECT_NO_THROW(load(gif, bytes));
        EXPECT_EQ(gif.FrameCount(), 0);
        EXPECT_EQ(gif.GifWidth(), 0);
        EXPECT_EQ(gif.GifHeight(), 0);
    }
}

TEST(GdipGif, ReportsAnySizeAndPaintsOnlyWhenVisible) {
    // The size is reported as the file gives it; whoever makes a canvas of
    // it checks it. Painting a screen beyond the limits shows the background.
    TGdipGIF huge;
    huge.SetStretch(true);
    EXPECT_NO_THROW(load(huge, GifBuilder().header(65535, 65535, 1).solid(1, 1, 0).trailer().bytes));
    EXPECT_EQ(huge.FrameCount(), 1);
    EXPECT_EQ(huge.GifWidth(), 65535);
    EXPECT_EQ(huge.Bitmap().pixel(52, 52), colorToRGB(clWindow));

    // An invisible control loading a file reads its blocks, not its frames;
    // painting it later reads the file again for the frame.
    const std::string path = testing::TempDir() + "gdip_invisible.gif";
    GifBuilder b;
    b.header(4, 2, 2).solid(4, 2, 1).trailer();
    writeWholeFile(path, b.bytes.data(), b.bytes.size());
    TGdipGIF gif;
    gif.Visible = false;
    gif.SetBevelInner(TBevelCut::bvNone);
    gif.LoadFile(path);
    EXPECT_EQ(gif.FrameCount(), 1);
    EXPECT_EQ(gif.PaintCount(), 0);
    gif.Paint();
    EXPECT_EQ(gif.Bitmap().pixel(3, 1), rgb(37, 111, 250));
    std::remove(path.c_str());
}

TEST(GdipGif, TruncatedFileKeepsTheFramesBeforeTheCut) {
    GifBuilder b;
    b.header(6, 4, 2).gce(1).solid(6, 4, 1).gce(2).solid(6, 4, 2).gce(3);
    const size_t third = b.bytes.size();
    b.solid(6, 4, 3).trailer();
    TGdipGIF gif;
    // Cut inside the third image's data: it still counts.
    load(gif, std::vector<uint8_t>(b.bytes.begin(), b.bytes.begin() + long(third + 12)));
    EXPECT_EQ(gif.Delays(), (TArrayOfFrameDelay{1, 2, 3}));
    // Cut inside the third image descriptor: the two before it remain.
    load(gif, std::vector<uint8_t>(b.bytes.begin(), b.bytes.begin() + long(third + 5)));
    EXPECT_EQ(gif.Delays(), (TArrayOfFrameDelay{1, 2}));
}

TEST(GdipGif, SecondLoadReplacesTheFirst) {
    TGdipGIF gif;
    FakeTicks ticks;
    gif.SetTickSource(&ticks);
    load(gif, threeFrames());
    gif.SetActive(true);
    ticks.now += 100;
    gif.TimerTick();
    EXPECT_EQ(gif.CurrentFrame(), 1);
    GifBuilder b;
    b.header(2, 2, 1).gce(40).solid(2, 2, 1).trailer();
    load(gif, b.bytes);
    EXPECT_EQ(gif.Delays(), (TArrayOfFrameDelay{40}));
    EXPECT_EQ(gif.CurrentFrame(), 0);
    EXPECT_TRUE(gif.Active());
}

TEST(GdipGif, LoadFile) {
    TGdipGIF gif;
    EXPECT_THROW(gif.LoadFile("/nonexistent/dir/none.gif"), EFOpenError);
    gif.LoadFile(std::string(GLX_TEST_DATA) + "/gifsuite/gifs/animated_loop.gif");
    EXPECT_EQ(gif.FrameCount(), 4);
}

TEST(GdipGif, AutoSizeFollowsTheGif) {
    TGdipGIF gif;
    gif.AutoSize = true;
    load(gif, threeFrames());
    EXPECT_EQ(gif.Width(), 6);
    EXPECT_EQ(gif.Height(), 4);
    TGdipGIF top;
    top.AutoSize = true;
    top.Align = TAlign::alTop;
    load(top, threeFrames());
    EXPECT_EQ(top.Width(), 105);
    EXPECT_EQ(top.Height(), 4);
}

TEST(GdipGif, TimerAdvancesFramesByTheirDelays) {
    TGdipGIF gif;
    FakeTicks ticks;
    gif.SetTickSource(&ticks);
    load(gif, threeFrames(10, 0, 250));
    // Inactive: never advances.
    ticks.now += 100000;
    gif.TimerTick();
    EXPECT_EQ(gif.CurrentFrame(), 0);

    gif.Visible = false;  // invisible controls animate too
    gif.SetActive(true);
    EXPECT_TRUE(gif.TimerEnabled());
    ticks.now += 99;
    gif.TimerTick();
    EXPECT_EQ(gif.CurrentFrame(), 0);
    ticks.now += 1;  // 10 hundredths have passed
    gif.TimerTick();
    EXPECT_EQ(gif.CurrentFrame(), 1);
    gif.TimerTick();  // a delay of 0 advances at the next tick
    EXPECT_EQ(gif.CurrentFrame(), 2);
    ticks.now += 2499;
    gif.TimerTick();
    EXPECT_EQ(gif.CurrentFrame(), 2);
    ticks.now += 1;
    gif.TimerTick();
    EXPECT_EQ(gif.CurrentFrame(), 0);  // loops for ever

    // The tick count wrapping around does not stall the animation.
    ticks.now = 0xFFFFFFF0u;
    gif.SetActive(false);
    gif.SetActive(true);
    ticks.now = 0x50;  // 96 ms later: frame 0 wants 100
    gif.TimerTick();
    EXPECT_EQ(gif.CurrentFrame(), 0);
    ticks.now = 0x60;  // 112 ms later
    gif.TimerTick();
    EXPECT_EQ(gif.CurrentFrame(), 1);

    int paints = gif.PaintCount();
    gif.SetActive(false);
    EXPECT_FALSE(gif.TimerEnabled());
    EXPECT_EQ(gif.PaintCount(), paints);  // switching Active does not repaint
}

TEST(GdipGif, PaintsBackgroundFrameAndBevels) {
    TGdipGIF gif;
    gif.SetBevelInner(TBevelCut::bvNone);
    gif.Color = rgb(1, 2, 3);
    GifBuilder b;
    b.header(4, 2, 2).solid(4, 2, 1).trailer();
    load(gif, b.bytes);
    const TColor frameColor = rgb(37, 111, 250);
    const Dib& bmp = gif.Bitmap();
    ASSERT_EQ(bmp.width(), 105);
    EXPECT_EQ(bmp.pixel(0, 0), frameColor);
    EXPECT_EQ(bmp.pixel(3, 1), frameColor);
    EXPECT_EQ(bmp.pixel(4, 0), rgb(1, 2, 3));

    gif.SetCenter(true);  // (105 - 4) / 2 = 50, (105 - 2) / 2 = 51
    EXPECT_EQ(gif.Bitmap().pixel(50, 51), frameColor);
    EXPECT_EQ(gif.Bitmap().pixel(0, 0), rgb(1, 2, 3));

    gif.SetStretch(true);
    EXPECT_EQ(gif.Bitmap().pixel(104, 104), frameColor);

    gif.SetBevelInner(TBevelCut::bvRaised);
    EXPECT_EQ(gif.Bitmap().pixel(0, 0), rgb(255, 255, 255));
    EXPECT_EQ(gif.Bitmap().pixel(104, 104), rgb(160, 160, 160));
    EXPECT_EQ(gif.Bitmap().pixel(1, 1), frameColor);
    gif.SetBevelOuter(TBevelCut::bvLowered);
    EXPECT_EQ(gif.Bitmap().pixel(0, 0), rgb(160, 160, 160));
    EXPECT_EQ(gif.Bitmap().pixel(1, 1), rgb(255, 255, 255));
    EXPECT_EQ(gif.Bitmap().pixel(2, 2), frameColor);
}

TEST(GdipGif, ActiveFrameIsShownComposed) {
    // Frame 0 fills the screen; frame 1 covers (1, 1)-(3, 3) with index 0
    // transparent at its first pixel; frame 2 is 1 x 1 at (0, 0).
    for (int disposal : {1, 2, 3}) {
        GifBuilder b;
        FrameSpec f;
        f.left = 1;
        f.top = 1;
        f.width = 2;
        f.height = 2;
        f.pixels = {0, 2, 2, 2};
        f.lzw.minCodeSize = 2;
        b.header(4, 4, 2).gce(1).solid(4, 4, 1).gce(1, disposal, true, 0).image(f).gce(1).solid(1, 1, 3).trailer();
        TGdipGIF gif;
        FakeTicks ticks;
        gif.SetTickSource(&ticks);
        gif.SetBevelInner(TBevelCut::bvNone);
        gif.Color = rgb(9, 9, 9);
        load(gif, b.bytes);
        const TColor c1 = rgb(37, 111, 250), c2 = rgb(74, 122, 245), c3 = rgb(111, 133, 240);
        gif.SetActive(true);
        ticks.now += 10;
        gif.TimerTick();
        ASSERT_EQ(gif.CurrentFrame(), 1);
        EXPECT_EQ(gif.Bitmap().pixel(1, 1), c1);  // transparent: frame 0 shows through
        EXPECT_EQ(gif.Bitmap().pixel(2, 1), c2);
        EXPECT_EQ(gif.Bitmap().pixel(3, 3), c1);
        ticks.now += 10;
        gif.TimerTick();
        ASSERT_EQ(gif.CurrentFrame(), 2);
        EXPECT_EQ(gif.Bitmap().pixel(0, 0), c3);
        // Frame 1's area after its disposal: kept, background, or frame 0 again.
        const TColor expected = disposal == 1 ? c2 : disposal == 2 ? rgb(9, 9, 9) : c1;
        EXPECT_EQ(gif.Bitmap().pixel(2, 2), expected) << disposal;
        EXPECT_EQ(gif.Bitmap().pixel(3, 0), c1);
    }
}

TEST(GdipGif, CentredGifLargerThanTheControl) {
    GifBuilder b;
    FrameSpec f;
    f.width = 200;
    f.height = 10;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 200; ++x) f.pixels.push_back(uint8_t((x / 3 + y) % 4));
    f.lzw.minCodeSize = 2;
    b.header(200, 10, 2).image(f).trailer();
    TGdipGIF gif;
    gif.SetBevelInner(TBevelCut::bvNone);
    gif.SetCenter(true);
    load(gif, b.bytes);
    // Offset ((105 - 200) / 2, (105 - 10) / 2) = (-47, 47).
    const TColor table[4] = {rgb(0, 100, 255), rgb(37, 111, 250), rgb(74, 122, 245), rgb(111, 133, 240)};
    for (int cx : {0, 1, 52, 104})
        for (int r : {0, 9})
            EXPECT_EQ(gif.Bitmap().pixel(cx, 47 + r), table[((cx + 47) / 3 + r) % 4]) << cx << "," << r;
    EXPECT_EQ(gif.Bitmap().pixel(0, 46), colorToRGB(clWindow));
    EXPECT_EQ(gif.Bitmap().pixel(0, 57), colorToRGB(clWindow));
}

}  // namespace
}  // namespace glx::test
