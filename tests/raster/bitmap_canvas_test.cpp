// Bitmap growth, rectangle filling and drawing between pixel formats.
#include <gtest/gtest.h>

#include "base/exception.h"
#include "raster/bitmap.h"
#include "raster/canvas.h"
#include "raster/color.h"
#include "raster_test_util.h"

namespace glx {
namespace {

constexpr TColor kRed = rgb(255, 0, 0);
constexpr TColor kBlue = rgb(0, 0, 255);
constexpr TColor kGreen = rgb(0, 255, 0);

TEST(Color, SystemColoursAndFlagBytes) {
    EXPECT_EQ(colorToRGB(rgb(1, 2, 3)), rgb(1, 2, 3));
    EXPECT_EQ(colorToRGB(static_cast<TColor>(0x80000005)), clWhite);  // window
    EXPECT_EQ(colorToRGB(static_cast<TColor>(0x8000000F)), rgb(240, 240, 240));  // button face
    EXPECT_EQ(colorToRGB(static_cast<TColor>(0x80000019)), clBlack);  // number 25: not in the scheme
    EXPECT_EQ(colorToRGB(static_cast<TColor>(0x800000FF)), clBlack);
    EXPECT_EQ(colorToRGB(0x02123456), 0x00123456);  // palette-relative flag byte
}

TEST(BitmapGrowth, WithoutCanvasFillsWhiteAndKeepsOldPixels) {
    TBitmap bmp;
    EXPECT_TRUE(bmp.IsEmpty());
    bmp.SetSize(2, 2);
    EXPECT_EQ(bmp.BitsPerPixel(), 24);
    EXPECT_EQ(bmp.Pixels().pixel(1, 1), clWhite);
    bmp.Pixels().setPixel(0, 0, kBlue);
    bmp.Pixels().setPixel(1, 1, kGreen);
    bmp.SetWidth(4);
    bmp.SetHeight(3);
    EXPECT_EQ(bmp.Width(), 4);
    EXPECT_EQ(bmp.Height(), 3);
    EXPECT_EQ(bmp.Pixels().pixel(0, 0), kBlue);
    EXPECT_EQ(bmp.Pixels().pixel(1, 1), kGreen);
    EXPECT_EQ(bmp.Pixels().pixel(3, 0), clWhite);
    EXPECT_EQ(bmp.Pixels().pixel(0, 2), clWhite);
    EXPECT_FALSE(bmp.HasCanvas());
}

TEST(BitmapGrowth, WithCanvasFillsBrushColour) {
    TBitmap bmp(2, 1);
    bmp.Canvas().SetPixel(1, 0, kBlue);
    bmp.Canvas().Brush.setColor(kRed);
    bmp.SetWidth(5);
    bmp.SetHeight(2);
    EXPECT_EQ(bmp.Pixels().pixel(0, 0), clWhite);
    EXPECT_EQ(bmp.Pixels().pixel(1, 0), kBlue);
    for (int x = 2; x < 5; ++x) EXPECT_EQ(bmp.Pixels().pixel(x, 0), kRed) << x;
    for (int x = 0; x < 5; ++x) EXPECT_EQ(bmp.Pixels().pixel(x, 1), kRed) << x;
}

TEST(BitmapGrowth, SystemBrushColourIsResolved) {
    TBitmap bmp(1, 1);
    bmp.Canvas().Brush.setColor(static_cast<TColor>(0x8000000F));
    bmp.SetWidth(2);
    EXPECT_EQ(bmp.Pixels().pixel(1, 0), rgb(240, 240, 240));
}

TEST(BitmapGrowth, ShrinkKeepsLeftAndTopPart) {
    TBitmap bmp(3, 3);
    bmp.Pixels().setPixel(0, 0, kRed);
    bmp.Pixels().setPixel(2, 0, kBlue);
    bmp.SetWidth(2);
    EXPECT_EQ(bmp.Width(), 2);
    EXPECT_EQ(bmp.Pixels().pixel(0, 0), kRed);
    bmp.SetWidth(3);
    EXPECT_EQ(bmp.Pixels().pixel(2, 0), clWhite);  // the cropped column is gone
}

TEST(BitmapGrowth, IndexedBitmapGrowsWithNearestEntry) {
    Dib dib(2, 1, 4, {RGBQuad{0, 0, 0, 0}, RGBQuad{0, 0, 250, 0}, RGBQuad{255, 255, 255, 0}});
    dib.setIndex(0, 0, 1);
    TBitmap bmp;
    bmp.SetDib(std::move(dib));
    bmp.Canvas().Brush.setColor(kRed);
    bmp.SetWidth(3);
    EXPECT_EQ(bmp.BitsPerPixel(), 4);
    EXPECT_EQ(bmp.Pixels().index(0, 0), 1u);
    EXPECT_EQ(bmp.Pixels().index(2, 0), 1u);  // red -> nearest entry (250, 0, 0)
}

TEST(BitmapGrowth, OversizeIsRefusedWithTheSize) {
    TBitmap bmp(1, 1);
    try {
        bmp.SetSize(20000, 20000);
        FAIL() << "no exception";
    } catch (const ELimitExceeded& e) {
        EXPECT_NE(std::string(e.what()).find("20000 x 20000"), std::string::npos) << e.what();
    }
    EXPECT_EQ(bmp.Width(), 1);  // unchanged
}

TEST(FillArea, RightAndBottomEdgesExcluded) {
    TBitmap bmp(4, 4);
    TCanvas& c = bmp.Canvas();
    c.Brush.setColor(kRed);
    c.FillArea(makeRect(0, 0, 1, 1));
    EXPECT_EQ(bmp.Pixels().pixel(0, 0), kRed);
    EXPECT_EQ(bmp.Pixels().pixel(1, 0), clWhite);
    EXPECT_EQ(bmp.Pixels().pixel(0, 1), clWhite);

    c.Brush.setColor(kBlue);
    c.FillArea(makeRect(2, 1, 10, 3));  // clipped on the right
    EXPECT_EQ(bmp.Pixels().pixel(1, 1), clWhite);
    EXPECT_EQ(bmp.Pixels().pixel(2, 1), kBlue);
    EXPECT_EQ(bmp.Pixels().pixel(3, 2), kBlue);
    EXPECT_EQ(bmp.Pixels().pixel(3, 3), clWhite);

    c.FillArea(makeRect(-5, -5, 0, 4));  // entirely outside
    c.FillArea(makeRect(2, 2, 2, 4));  // empty
    EXPECT_EQ(bmp.Pixels().pixel(0, 2), clWhite);
    EXPECT_EQ(bmp.Pixels().pixel(2, 3), clWhite);

    c.Brush.style = TBrushStyle::Clear;
    c.FillArea(makeRect(0, 0, 4, 4));
    EXPECT_EQ(bmp.Pixels().pixel(0, 3), clWhite);
}

TEST(FillArea, SubBytePixelsOnlyInsideTheRectangle) {
    TBitmap bmp;
    bmp.SetDib(Dib(11, 2, 1, {RGBQuad{0, 0, 0, 0}, RGBQuad{255, 255, 255, 0}}));
    bmp.Canvas().Brush.setColor(clWhite);
    bmp.Canvas().FillArea(makeRect(3, 0, 9, 1));
    for (int x = 0; x < 11; ++x) EXPECT_EQ(bmp.Pixels().index(x, 0), (x >= 3 && x < 9) ? 1u : 0u) << x;
    EXPECT_EQ(bmp.Pixels().index(5, 1), 0u);
}

TEST(DrawAt, EmptyOrAbsentPictureChangesNothing) {
    TBitmap target(2, 2);
    TBitmap empty;
    target.Canvas().DrawAt(0, 0, &empty);
    target.Canvas().DrawAt(0, 0, nullptr);
    EXPECT_EQ(test::pixelsOf(target.Pixels()), std::vector<TColor>(4, clWhite));
}

TEST(DrawAt, TrueColourIntoIndexedTakesNearestEntry) {
    TBitmap source(3, 1);
    source.Pixels().setPixel(0, 0, rgb(250, 10, 10));
    source.Pixels().setPixel(1, 0, rgb(10, 10, 10));
    source.Pixels().setPixel(2, 0, rgb(128, 128, 128));  // tie between entries 1 and 2: lowest wins
    TBitmap target;
    // Entries: 0 black, 1 (128,128,0)... chosen so gray is equidistant to 1 and 2.
    target.SetDib(Dib(
        4, 1, 8, {RGBQuad{0, 0, 0, 0}, RGBQuad{128, 128, 118, 0}, RGBQuad{128, 128, 138, 0}, RGBQuad{0, 0, 255, 0}}));
    target.Canvas().DrawAt(1, 0, &source);
    EXPECT_EQ(target.Pixels().index(0, 0), 0u);  // untouched
    EXPECT_EQ(target.Pixels().index(1, 0), 3u);
    EXPECT_EQ(target.Pixels().index(2, 0), 0u);
    EXPECT_EQ(target.Pixels().index(3, 0), 1u);
}

TEST(DrawAt, BetweenTrueColourFormats) {
    TBitmap source(2, 2);
    source.Pixels().setPixel(0, 0, rgb(255, 0, 0));
    source.Pixels().setPixel(1, 1, rgb(8, 16, 24));
    for (int bpp : {16, 32}) {
        TBitmap target;
        target.SetDib(Dib(3, 3, bpp));
        target.Canvas().DrawAt(1, 1, &source);
        EXPECT_EQ(target.Pixels().pixel(1, 1), rgb(255, 0, 0)) << bpp;
        EXPECT_EQ(target.Pixels().pixel(2, 2), rgb(8, 16, 24)) << bpp;  // 5-bit steps survive
        EXPECT_EQ(target.Pixels().pixel(2, 1), clWhite) << bpp;
        EXPECT_EQ(target.Pixels().pixel(0, 0), clBlack) << bpp;
        // Back into 24 bits through the same drawing path.
        TBitmap back(3, 3);
        back.Canvas().DrawAt(0, 0, &target);
        EXPECT_EQ(test::pixelsOf(back.Pixels()), test::pixelsOf(target.Pixels())) << bpp;
    }
}

TEST(DrawAt, IndexedIntoTrueColourAndClipping) {
    TBitmap source;
    source.SetDib(Dib(3, 2, 4, {RGBQuad{0, 0, 0, 0}, RGBQuad{0, 255, 0, 0}}));
    source.Pixels().setIndex(2, 1, 1);
    TBitmap target(3, 3);
    target.Canvas().DrawAt(-1, 1, &source);  // first source column falls off the left
    EXPECT_EQ(target.Pixels().pixel(0, 1), clBlack);
    EXPECT_EQ(target.Pixels().pixel(1, 2), kGreen);
    EXPECT_EQ(target.Pixels().pixel(2, 1), clWhite);
    EXPECT_EQ(target.Pixels().pixel(0, 0), clWhite);
}

TEST(DrawAt, OneBitWithoutTableUsesFontAndBrushColours) {
    TBitmap source;
    source.SetDib(Dib(2, 1, 1));
    source.Pixels().setIndex(1, 0, 1);
    TBitmap target(2, 1);
    target.Canvas().Font.color = kRed;
    target.Canvas().Brush.setColor(kBlue);
    target.Canvas().DrawAt(0, 0, &source);
    EXPECT_EQ(target.Pixels().pixel(0, 0), kRed);
    EXPECT_EQ(target.Pixels().pixel(1, 0), kBlue);
}

TEST(DrawScaled, ColourOnColourStretching) {
    TBitmap source(2, 2);
    source.Pixels().setPixel(0, 0, kRed);
    source.Pixels().setPixel(1, 0, kGreen);
    source.Pixels().setPixel(0, 1, kBlue);
    source.Pixels().setPixel(1, 1, clBlack);
    TBitmap target(4, 4);
    target.Canvas().DrawScaled(makeRect(0, 0, 4, 4), &source);
    const std::vector<TColor> expect = {kRed,  kRed,  kGreen,  kGreen,  kRed,  kRed,  kGreen,  kGreen,
                                        kBlue, kBlue, clBlack, clBlack, kBlue, kBlue, clBlack, clBlack};
    EXPECT_EQ(test::pixelsOf(target.Pixels()), expect);

    // Shrinking drops pixels: destination x takes source trunc(x * 2 / 1) = 0.
    TBitmap small(1, 1);
    small.Canvas().DrawScaled(makeRect(0, 0, 1, 1), &source);
    EXPECT_EQ(small.Pixels().pixel(0, 0), kRed);

    // Three columns from two: 0 -> 0, 1 -> 0, 2 -> 1.
    TBitmap odd(3, 1);
    odd.Canvas().DrawScaled(makeRect(0, 0, 3, 1), &source);
    EXPECT_EQ(test::pixelsOf(odd.Pixels()), (std::vector<TColor>{kRed, kRed, kGreen}));
}

TEST(PaintOn, TransparentBitmapKeysOnBottomLeftPixel) {
    TBitmap source(2, 2);
    source.Pixels().setPixel(0, 1, kGreen);  // bottom-left: the default key
    source.Pixels().setPixel(1, 1, kGreen);
    source.Pixels().setPixel(0, 0, kRed);
    source.SetTransparent(true);
    EXPECT_EQ(source.TransparentColor(), kGreen);
    TBitmap target(2, 2);
    target.Canvas().Brush.setColor(kBlue);
    target.Canvas().FillArea(makeRect(0, 0, 2, 2));
    target.Canvas().DrawAt(0, 0, &source);
    EXPECT_EQ(target.Pixels().pixel(0, 0), kRed);
    EXPECT_EQ(target.Pixels().pixel(1, 0), clWhite);
    EXPECT_EQ(target.Pixels().pixel(0, 1), kBlue);
    EXPECT_EQ(target.Pixels().pixel(1, 1), kBlue);

    source.SetTransparentColor(clWhite);
    target.Canvas().DrawAt(0, 0, &source);
    EXPECT_EQ(target.Pixels().pixel(1, 0), clWhite);  // still white: from the earlier draw
    EXPECT_EQ(target.Pixels().pixel(0, 1), kGreen);
}

TEST(PaintOn, KeyedDrawIntoIndexedKeepsDuplicateEntries) {
    // Entries 0 and 1 share a colour; a keyed draw must leave index 1 alone.
    TBitmap target;
    target.SetDib(Dib(2, 1, 8, {RGBQuad{0, 0, 0, 0}, RGBQuad{0, 0, 0, 0}, RGBQuad{0, 0, 255, 0}}));
    target.Pixels().setIndex(0, 0, 1);
    target.Pixels().setIndex(1, 0, 1);
    TBitmap source(2, 1);
    source.Pixels().setPixel(0, 0, kRed);
    source.Pixels().setPixel(1, 0, kGreen);
    target.Canvas().stretchDrawKeyed(source.Pixels(), makeRect(0, 0, 2, 1), kGreen);
    EXPECT_EQ(target.Pixels().index(0, 0), 2u);
    EXPECT_EQ(target.Pixels().index(1, 0), 1u);
}

TEST(Bitmap, CopiesAreIndependent) {
    TBitmap a(2, 1);
    a.Pixels().setPixel(0, 0, kRed);
    TBitmap b;
    b.CopyFrom(&a);
    a.Pixels().setPixel(0, 0, kBlue);
    EXPECT_EQ(b.Pixels().pixel(0, 0), kRed);
    EXPECT_EQ(b.Width(), 2);
    b.CopyFrom(nullptr);
    EXPECT_TRUE(b.IsEmpty());
}

TEST(Bitmap, BitsPerPixelConversion) {
    TBitmap bmp(2, 1);
    bmp.Pixels().setPixel(0, 0, rgb(200, 200, 200));
    bmp.Pixels().setPixel(1, 0, rgb(10, 10, 10));
    bmp.SetBitsPerPixel(1);
    EXPECT_EQ(bmp.Pixels().index(0, 0), 1u);
    EXPECT_EQ(bmp.Pixels().index(1, 0), 0u);
    bmp.SetBitsPerPixel(32);
    EXPECT_EQ(bmp.Pixels().pixel(0, 0), clWhite);
    EXPECT_EQ(bmp.Pixels().pixel(1, 0), clBlack);
}

}  // namespace
}  // namespace glx
