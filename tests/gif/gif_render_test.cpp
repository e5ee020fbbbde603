// Drawing frames onto a canvas: colour tables, the transparency mask,
// scaling, tiling and drawing a whole GIF as a picture.
#include <gtest/gtest.h>

#include "base/arith.h"
#include "gif/gif_image.h"
#include "gif/gif_render.h"
#include "gif_test_util.h"
#include "raster/canvas.h"

namespace glx::test {
namespace {

constexpr TColor kBack = 0x00123456;

TColor tableColor(int i, int seed = 0) {
    return rgb(uint8_t(i * 37 + seed), uint8_t(i * 11 + 100 + seed), uint8_t(255 - i * 5 - seed));
}

// A 40 x 50 screen with a global 16-colour table and one 4 x 3 frame at
// (10, 20) whose pixel (x, y) has index (x + y) % 4; index 2 is transparent.
std::unique_ptr<TGIFImage> offsetFrameGif(bool transparentFlag = true, int transparentIndex = 2) {
    GifBuilder b;
    FrameSpec f;
    f.left = 10;
    f.top = 20;
    f.width = 4;
    f.height = 3;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) f.pixels.push_back(uint8_t((x + y) % 4));
    f.lzw.minCodeSize = 4;
    b.header(40, 50, 4).gce(0, 0, transparentFlag, transparentIndex).image(f).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    return std::move(r.image);
}

Dib background(int w, int h) {
    Dib dib(w, h, 24);
    dib.fill(0, 0, w, h, kBack);
    return dib;
}

TEST(GifRender, TransparentFrameTouchesOnlyItsOpaquePixels) {
    auto img = offsetFrameGif();
    Dib dib = background(40, 50);
    TCanvas canvas(&dib);
    TGIFSubImage& frame = img->Frames()[0];
    frame.PaintTo(canvas, TRect{0, 0, 40, 50}, true, false);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 40; ++x) {
            bool inside = x >= 10 && x < 14 && y >= 20 && y < 23;
            int index = inside ? (x - 10 + y - 20) % 4 : -1;
            TColor expected = (!inside || index == 2) ? kBack : tableColor(index);
            ASSERT_EQ(dib.pixel(x, y), expected) << x << "," << y;
        }
    ASSERT_TRUE(frame.HasMask());
    EXPECT_TRUE(frame.TransparencyMask()->transparent(2, 0));
    EXPECT_FALSE(frame.TransparencyMask()->transparent(0, 0));
}

TEST(GifRender, OpaqueDrawingWritesTransparentIndexToo) {
    for (bool withTransparency : {false, true}) {
        // Drawn without transparency, or with a clear transparency flag.
        auto img = offsetFrameGif(withTransparency ? false : true);
        Dib dib = background(40, 50);
        TCanvas canvas(&dib);
        img->Frames()[0].PaintTo(canvas, TRect{0, 0, 40, 50}, withTransparency, false);
        for (int y = 20; y < 23; ++y)
            for (int x = 10; x < 14; ++x)
                ASSERT_EQ(dib.pixel(x, y), tableColor((x - 10 + y - 20) % 4)) << x << "," << y;
        EXPECT_EQ(dib.pixel(9, 20), kBack);
        EXPECT_EQ(dib.pixel(14, 22), kBack);
    }
}

TEST(GifRender, TransparentIndexThatNoPixelCarriesGivesNoMask) {
    auto img = offsetFrameGif(true, 9);
    TGIFSubImage& frame = img->Frames()[0];
    EXPECT_FALSE(frame.HasMask());
    Dib dib = background(40, 50);
    TCanvas canvas(&dib);
    frame.PaintTo(canvas, TRect{0, 0, 40, 50}, true, false);
    EXPECT_EQ(dib.pixel(12, 20), tableColor(2));
}

TEST(GifRender, IndicesBeyondTheTableDrawBlack) {
    GifBuilder b;
    FrameSpec f;
    f.width = 2;
    f.height = 1;
    f.pixels = {200, 1};
    f.lzw.minCodeSize = 8;
    b.header(2, 1, 4).image(f).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    Dib dib = background(2, 1);
    TCanvas canvas(&dib);
    r.image->Frames()[0].PaintTo(canvas, TRect{0, 0, 2, 1}, true, false);
    EXPECT_EQ(dib.pixel(0, 0), clBlack);
    EXPECT_EQ(dib.pixel(1, 0), tableColor(1));
}

TEST(GifRender, ScaledRectangleDoublesOffsetAndSize) {
    for (bool transparent : {false, true}) {
        auto img = offsetFrameGif(transparent);
        Dib dib = background(80, 100);
        TCanvas canvas(&dib);
        img->Frames()[0].PaintTo(canvas, TRect{0, 0, 80, 100}, true, false);
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 80; ++x) {
                bool inside = x >= 20 && x < 28 && y >= 40 && y < 46;
                int index = inside ? ((x - 20) / 2 + (y - 40) / 2) % 4 : -1;
                TColor expected = (!inside || (transparent && index == 2)) ? kBack : tableColor(index);
                ASSERT_EQ(dib.pixel(x, y), expected) << x << "," << y << (transparent ? " transparent" : "");
            }
    }
}

TEST(GifRender, MulDivRounding) {
    EXPECT_EQ(mulDiv(10, 80, 40), 20);
    EXPECT_EQ(mulDiv(1, 3, 2), 2);  // 1.5 -> 2
    EXPECT_EQ(mulDiv(-1, 3, 2), -2);  // -1.5 -> -2
    EXPECT_EQ(mulDiv(1, 1, 3), 0);
    EXPECT_EQ(mulDiv(5, 7, 0), -1);
    EXPECT_EQ(mulDiv(65535, 65535, 1), INT32_MAX);
}

TEST(GifRender, ZeroLogicalScreenDrawsNothing) {
    GifBuilder b;
    b.header(0, 4, 2).solid(3, 4, 1).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    Dib dib = background(10, 10);
    TCanvas canvas(&dib);
    r.image->Frames()[0].PaintTo(canvas, TRect{0, 0, 10, 10}, false, false);
    r.image->PaintOn(canvas, TRect{0, 0, 10, 10});
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) ASSERT_EQ(dib.pixel(x, y), kBack);
    // Tiling with a zero width ends: a single column of tiles.
    r.image->Frames()[0].PaintTo(canvas, TRect{0, 0, 10, 10}, false, true);
    EXPECT_EQ(dib.pixel(0, 0), tableColor(1));
    EXPECT_EQ(dib.pixel(2, 9), tableColor(1));
    EXPECT_EQ(dib.pixel(3, 0), kBack);
}

TEST(GifRender, ColorTableFallsBackToTheFirstFrame) {
    GifBuilder b;
    FrameSpec first;
    first.width = 2;
    first.height = 1;
    first.pixels = {1, 2};
    first.localColorBits = 2;
    first.lzw.minCodeSize = 2;
    b.header(2, 1).image(first).solid(2, 1, 3).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    Dib dib = background(2, 1);
    TCanvas canvas(&dib);
    r.image->Frames()[1].PaintTo(canvas, TRect{0, 0, 2, 1}, false, false);
    EXPECT_EQ(dib.pixel(0, 0), tableColor(3, 7));

    // No table anywhere.
    GifBuilder none;
    none.header(2, 1).solid(2, 1, 1).trailer();
    LoadResult n;
    loadInto(n, none.bytes);
    try {
        n.image->Frames()[0].PaintTo(canvas, TRect{0, 0, 2, 1}, false, false);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), "No global or local color table defined");
    }
}

TEST(GifRender, EmptyFramesDrawNothing) {
    GifBuilder b;
    b.header(4, 4).comment("only").trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    Dib dib = background(4, 4);
    TCanvas canvas(&dib);
    EXPECT_NO_THROW(r.image->Frames()[0].PaintTo(canvas, TRect{0, 0, 4, 4}, true, false));
    EXPECT_EQ(r.image->Frames()[0].FrameBitmap(), nullptr);
    EXPECT_EQ(dib.pixel(0, 0), kBack);
}

TEST(GifRender, TilesRepeatAtTheLogicalScreenPitch) {
    auto img = offsetFrameGif();
    Dib dib = background(100, 120);
    TCanvas canvas(&dib);
    img->Frames()[0].PaintTo(canvas, TRect{0, 0, 100, 120}, false, true);
    // Tiles at x = 10, 50, 90 and y = 20, 70 (not clipped to the rectangle).
    for (int tx : {10, 50, 90})
        for (int ty : {20, 70}) EXPECT_EQ(dib.pixel(tx + 1, ty), tableColor(1)) << tx << "," << ty;
    EXPECT_EQ(dib.pixel(93, 72), tableColor(1));
    EXPECT_EQ(dib.pixel(30, 20), kBack);
    // A huge rectangle far off the surface still ends quickly.
    img->Frames()[0].PaintTo(canvas, TRect{-2000000000, -2000000000, 2000000000, 2000000000}, false, true);
}

TEST(GifRender, FramesBeyondTheSurfaceAreClipped) {
    GifBuilder b;
    b.header(4, 4, 2).solid(6, 6, 1, 2, 2).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    Dib dib = background(4, 4);
    TCanvas canvas(&dib);
    r.image->Frames()[0].PaintTo(canvas, TRect{0, 0, 4, 4}, false, false);
    EXPECT_EQ(dib.pixel(3, 3), tableColor(1));
    EXPECT_EQ(dib.pixel(1, 1), kBack);
}

TEST(GifRender, PaintOnShowsTheFirstFrameOverTheTarget) {
    GifBuilder b;
    FrameSpec f;
    f.width = 3;
    f.height = 1;
    f.pixels = {1, 0, 2};
    f.lzw.minCodeSize = 2;
    b.header(3, 1, 2).gce(5, 0, true, 0).image(f);
    b.gce(5).solid(3, 1, 3).gce(5).solid(3, 1, 3).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    ASSERT_EQ(r.image->Frames().Count(), 3);
    Dib dib = background(3, 1);
    TCanvas canvas(&dib);
    canvas.DrawAt(0, 0, r.image.get());
    EXPECT_EQ(dib.pixel(0, 0), tableColor(1));
    EXPECT_EQ(dib.pixel(1, 0), kBack);
    EXPECT_EQ(dib.pixel(2, 0), tableColor(2));
}

TEST(GifRender, FrameBitmapCarriesIndicesAndPaddedTable) {
    auto img = offsetFrameGif();
    const Dib* bmp = img->Frames()[0].FrameBitmap();
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(bmp->bitsPerPixel(), 8);
    EXPECT_EQ(bmp->colorTable().size(), 256u);
    EXPECT_EQ(bmp->index(3, 2), 1u);
    EXPECT_EQ(bmp->colorTable()[255], RGBQuad{});
}

TEST(GifRender, PrebuildBitmapsBuildsWhileReading) {
    GifBuilder b;
    b.header(3, 2, 2).gce(0, 0, true, 1).solid(3, 2, 1).trailer();
    int rendering = 0;
    TGIFImage img;
    img.OnProgress = [&](const void*, TProgressStage, int, bool, const TRect&, const std::string& msg) {
        rendering += msg == "Rendering...";
    };
    PrebuildBitmaps = true;
    TMemoryStream s(b.bytes);
    img.ReadFrom(s);
    PrebuildBitmaps = false;
    EXPECT_GE(rendering, 3);  // starting, every 32 rows, ending
    rendering = 0;
    EXPECT_TRUE(img.Frames()[0].HasMask());  // built already, not again
    EXPECT_EQ(rendering, 0);
}

// Random frames of a 30 x 20 screen, many of them reaching beyond it or cut
// short by their data, drawn in every way a caller draws them. A frame
// decodes only what lands on the surface; drawing it must give exactly what
// drawing the whole decoded frame gives.
TEST(GifRender, DrawingDecodesOnlyWhatLandsAndDrawsTheSame) {
    uint32_t seed = 12345;
    auto next = [&](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    int compared = 0;
    for (int round = 0; round < 60; ++round) {
        FrameSpec f;
        f.left = int(next(40));
        f.top = int(next(30));
        f.width = 1 + int(next(45));
        f.height = 1 + int(next(35));
        f.interlaced = next(2) == 1;
        f.lzw.minCodeSize = 4;
        for (int i = 0; i < f.width * f.height; ++i) f.pixels.push_back(uint8_t(next(5) == 0 ? 3 : next(16)));
        const bool transparent = next(3) != 0;
        GifBuilder b;
        b.header(30, 20, 4).gce(0, 0, transparent, 3).image(f).trailer();
        if (next(4) == 0)
            b.bytes.resize(b.bytes.size() - 1 - next(std::min<uint32_t>(20, uint32_t(b.bytes.size()) - 60)));

        const TRect rects[] = {{0, 0, 30, 20}, {-7, -5, 23, 15}, {3, 4, 63, 44}, {0, 0, 16, 7}, {25, 12, 55, 32}};
        for (const TRect& rect : rects)
            for (bool tiled : {false, true})
                for (bool withTransparency : {false, true})
                    for (int bpp : {24, 8}) {
                        LoadResult lazy, whole;
                        loadInto(lazy, b.bytes);
                        loadInto(whole, b.bytes);
                        TGIFSubImage& lf = lazy.image->Frames()[0];
                        TGIFSubImage& wf = whole.image->Frames()[0];
                        ASSERT_EQ(wf.IndexData().size(), size_t(f.width) * size_t(f.height));
                        std::vector<RGBQuad> table = wf.ColorTable();
                        table.resize(256);
                        Dib a = bpp == 24 ? background(36, 27) : Dib(36, 27, 8, table);
                        Dib c = a;
                        TCanvas ca(&a), cc(&c);
                        lf.PaintTo(ca, rect, withTransparency, tiled);
                        wf.PaintTo(cc, rect, withTransparency, tiled);
                        lf.PaintTo(ca, rect, withTransparency, tiled);  // from what the first draw kept
                        for (int y = 0; y < 27; ++y)
                            for (int x = 0; x < 36; ++x)
                                ASSERT_EQ(a.pixel(x, y), c.pixel(x, y))
                                    << "round " << round << " at " << x << "," << y << " rect " << rect.Left << ","
                                    << rect.Top << " tiled " << tiled << " transparency " << withTransparency;
                        ++compared;
                    }
    }
    EXPECT_EQ(compared, 60 * 5 * 2 * 2 * 2);
}

// Drawn opaque at its natural size, a frame is its bitmap drawn by the
// canvas, onto a true-colour surface and onto one of the bitmap's own format;
// on a surface larger than the screen, the part beyond the screen shows.
TEST(GifRender, OpaqueDrawingIsTheCanvasDrawingTheFrameBitmap) {
    GifBuilder b;
    FrameSpec f;
    f.left = 5;
    f.top = 3;
    f.width = 9;
    f.height = 7;
    for (int i = 0; i < 63; ++i) f.pixels.push_back(uint8_t((i * 7) % 16 == 15 ? 200 : (i * 7) % 16));
    f.lzw.minCodeSize = 8;
    b.header(12, 8, 4).image(f).trailer();
    LoadResult r, whole;
    loadInto(r, b.bytes);
    loadInto(whole, b.bytes);
    TGIFSubImage& frame = r.image->Frames()[0];
    const Dib* bitmap = whole.image->Frames()[0].FrameBitmap();
    ASSERT_NE(bitmap, nullptr);
    for (int bpp : {24, 8}) {
        Dib drawn = bpp == 24 ? background(20, 12) : Dib(20, 12, 8, bitmap->colorTable());
        Dib expected = drawn;
        TCanvas dc(&drawn), ec(&expected);
        frame.ReleaseBitmaps();
        frame.PaintTo(dc, TRect{0, 0, 12, 8}, true, false);
        ec.stretchDraw(*bitmap, frame.BoundsRect());
        ASSERT_EQ(std::vector<uint8_t>(drawn.bits(), drawn.bits() + drawn.byteSize()),
                  std::vector<uint8_t>(expected.bits(), expected.bits() + expected.byteSize()))
            << bpp;
        EXPECT_NE(drawn.pixel(13, 9), bpp == 24 ? kBack : 0u);
    }
}

}  // namespace
}  // namespace glx::test
