#include <gtest/gtest.h>

#include <random>

#include "app/alpha.h"
#include "png/chunk_ancillary.h"
#include "png/png_object.h"

using namespace glx;
using namespace glx::app;

namespace {

// The phase code the routines set; one per test program, as a run has one.
uint16_t phase = 0;

std::unique_ptr<TPNGObject> rgba(int w, int h, TColor color = 0, uint8_t alpha = 0) {
    auto img = TPNGObject::CreateNew(6, 8, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            img->SetPixelAt(x, y, color);
            img->AlphaRow(y)[x] = alpha;
        }
    return img;
}

uint8_t alphaAt(const std::unique_ptr<TPNGObject>& img, int x, int y) { return img->AlphaRow(y)[x]; }

}  // namespace

TEST(BlendArithmetic, WorkedValues) {
    EXPECT_EQ(blendPixel(0, 0, 0, 128, 0, 0, 0, 128).alpha, 192);
    BlendResult b = blendPixel(255, 255, 255, 128, 0, 0, 0, 255);
    EXPECT_EQ(b.red, 128);
    EXPECT_EQ(b.alpha, 255);
    b = blendPixel(10, 20, 30, 0, 200, 200, 200, 0);
    EXPECT_EQ(b.red, 10);
    EXPECT_EQ(b.green, 20);
    EXPECT_EQ(b.blue, 30);
    EXPECT_EQ(b.alpha, 0);
    // Opaque source replaces; transparent source over opaque target keeps it.
    b = blendPixel(77, 88, 99, 255, 1, 2, 3, 40);
    EXPECT_EQ(b.red, 77);
    EXPECT_EQ(b.alpha, 255);
    b = blendPixel(77, 88, 99, 0, 1, 2, 3, 255);
    EXPECT_EQ(b.red, 1);
    EXPECT_EQ(b.blue, 3);
}

TEST(SetAlpha, EdgesAreInclusiveAndClipped) {
    auto img = rgba(4, 3);
    setAlpha(phase, img, makeRect(0, 0, 4, 3), 255);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(alphaAt(img, x, y), 255);

    auto big = rgba(10, 10);
    setAlpha(phase, big, makeRect(2, 3, 2 + 4, 3 + 2), 200);
    EXPECT_EQ(alphaAt(big, 6, 5), 200);  // column x + w and row y + h too
    EXPECT_EQ(alphaAt(big, 7, 5), 0);
    EXPECT_EQ(alphaAt(big, 6, 6), 0);
    EXPECT_EQ(alphaAt(big, 1, 3), 0);
    setAlpha(phase, big, makeRect(-5, -5, 0, 0), 9);
    EXPECT_EQ(alphaAt(big, 0, 0), 9);
    EXPECT_EQ(alphaAt(big, 1, 0), 0);
    EXPECT_EQ(phase, 1001);

    std::unique_ptr<TPNGObject> none;
    setAlpha(phase, none, makeRect(0, 0, 1, 1), 1);  // absent image: nothing
    auto rgb = TPNGObject::CreateNew(2, 8, 2, 2);
    setAlpha(phase, rgb, makeRect(0, 0, 2, 2), 1);
    EXPECT_EQ(rgb->AlphaRow(0), nullptr);
    EXPECT_EQ(phase, 1000);
}

TEST(FillColor, FillsThroughTheCanvasWithExclusiveEdges) {
    auto img = rgba(5, 5, 0, 7);
    fillColor(phase, img, makeRect(1, 1, 3, 3), 0x00FF8000);
    EXPECT_EQ(img->PixelAt(1, 1), 0x00FF8000);
    EXPECT_EQ(img->PixelAt(2, 2), 0x00FF8000);
    EXPECT_EQ(img->PixelAt(3, 3), 0);
    EXPECT_EQ(alphaAt(img, 1, 1), 7);  // alpha untouched
    EXPECT_EQ(phase, 1010);
}

TEST(KeyToAlpha, ClearsKeyPixelsAndSoftensTheFringe) {
    const TColor key = 0xFE13FE;
    // Row 0: key key key; row 1: black pixel under two keys (corner case
    // set up below), and so on.
    auto img = rgba(3, 3, 0, 255);
    img->SetPixelAt(0, 0, key);
    img->SetPixelAt(1, 0, key);
    keyToAlpha(phase, img, makeRect(0, 0, 3, 3), key, 0);
    EXPECT_EQ(alphaAt(img, 0, 0), 0);
    EXPECT_EQ(alphaAt(img, 1, 0), 0);
    EXPECT_EQ(alphaAt(img, 1, 1), 255);  // no filter: only key pixels change

    // F = 123: dark fringe with threshold 60, alpha step 30.
    auto two = rgba(3, 3, 0, 255);
    two->SetPixelAt(0, 0, key);
    two->SetPixelAt(1, 0, key);
    keyToAlpha(phase, two, makeRect(0, 0, 3, 3), key, 123);
    EXPECT_EQ(alphaAt(two, 1, 1), 85);  // exactly two key neighbours
    EXPECT_EQ(alphaAt(two, 2, 2), 255);  // none
    auto three = rgba(3, 3, 0, 255);
    for (int x = 0; x < 3; ++x) three->SetPixelAt(x, 0, key);
    keyToAlpha(phase, three, makeRect(0, 0, 3, 3), key, 123);
    EXPECT_EQ(alphaAt(three, 1, 1), 30);
    EXPECT_EQ(alphaAt(three, 0, 1), 85);
    // The rule applies to key pixels too: (1, 0) has two key neighbours but
    // its own colour fails the dark test, so it stays 0.
    EXPECT_EQ(alphaAt(three, 1, 0), 0);

    // A light fringe (T = 2, threshold 60) only takes near-white pixels.
    auto light = rgba(3, 2, 0x00F0F0F0, 255);
    light->SetPixelAt(0, 0, key);
    light->SetPixelAt(1, 0, key);
    light->SetPixelAt(2, 1, 0x00101010);
    keyToAlpha(phase, light, makeRect(0, 0, 3, 2), key, 25);
    EXPECT_EQ(alphaAt(light, 1, 1), 55 + 50);
    EXPECT_EQ(alphaAt(light, 2, 1), 255);
}

TEST(PastePng, ModesAndClipping) {
    auto frag = rgba(4, 4, 0x00112233, 0);
    auto target = rgba(6, 6, 0x00FFFFFF, 255);
    pastePng(phase, target, frag, makeRect(1, 1, 5, 5), kExact);
    EXPECT_EQ(alphaAt(target, 1, 1), 0);
    EXPECT_EQ(target->PixelAt(4, 4), 0x00112233);
    EXPECT_EQ(alphaAt(target, 5, 5), 255);  // outside the fragment
    EXPECT_EQ(phase, 1031);

    auto sub = rgba(2, 2, 0x000000FF, 200);
    auto t2 = rgba(2, 2, 0x0000FF00, 100);
    pastePng(phase, t2, sub, makeRect(0, 0, 2, 2), kSubtract);
    EXPECT_EQ(alphaAt(t2, 0, 0), 0);
    EXPECT_EQ(t2->PixelAt(0, 0), 0x0000FF00);

    auto t3 = rgba(2, 2, 0x0000FF00, 100);
    pastePng(phase, t3, sub, makeRect(0, 0, 2, 2), 7);
    EXPECT_EQ(alphaAt(t3, 1, 1), 100);
    EXPECT_EQ(t3->PixelAt(1, 1), 0x0000FF00);

    // Partly left of and above the target: clipped, and the visible part
    // comes from the matching fragment pixels.
    auto grad = rgba(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            grad->SetPixelAt(x, y, rgb(uint8_t(x * 10), uint8_t(y * 10), 0));
            grad->AlphaRow(y)[x] = uint8_t(100 + x + 4 * y);
        }
    auto t4 = rgba(3, 3);
    pastePng(phase, t4, grad, makeRect(-2, -1, 2, 3), kExact);
    EXPECT_EQ(t4->PixelAt(0, 0), rgb(20, 10, 0));
    EXPECT_EQ(alphaAt(t4, 1, 2), 100 + 3 + 4 * 3);
    EXPECT_EQ(alphaAt(t4, 2, 0), 0);
}

TEST(PastePng, RowPathsMatchThePixelByPixelRule) {
    std::mt19937 gen(7);
    auto frag = rgba(13, 9);
    auto target = rgba(20, 15);
    auto reference = rgba(20, 15);
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 20; ++x) {
            TColor c = static_cast<TColor>(gen() & 0xFFFFFF);
            uint8_t a = static_cast<uint8_t>(gen());
            target->SetPixelAt(x, y, c);
            reference->SetPixelAt(x, y, c);
            target->AlphaRow(y)[x] = reference->AlphaRow(y)[x] = a;
            if (x < 13 && y < 9) {
                frag->SetPixelAt(x, y, static_cast<TColor>(gen() & 0xFFFFFF));
                frag->AlphaRow(y)[x] = static_cast<uint8_t>(gen());
            }
        }
    const TRect r = makeRect(9, 8, 9 + 13, 8 + 9);
    pastePng(phase, target, frag, r, kBlend);
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 20; ++x) {
            const int sx = x - r.Left, sy = y - r.Top;
            TColor want = reference->PixelAt(x, y);
            uint8_t wantAlpha = reference->AlphaRow(y)[x];
            if (sx >= 0 && sy >= 0 && sx < 13 && sy < 9) {
                TColor s = frag->PixelAt(sx, sy);
                BlendResult b = blendPixel(getRValue(s), getGValue(s), getBValue(s), frag->AlphaRow(sy)[sx],
                                           getRValue(want), getGValue(want), getBValue(want), wantAlpha);
                want = rgb(b.red, b.green, b.blue);
                wantAlpha = b.alpha;
            }
            ASSERT_EQ(target->PixelAt(x, y), want) << x << "," << y;
            ASSERT_EQ(target->AlphaRow(y)[x], wantAlpha) << x << "," << y;
        }
}

TEST(PastePng, FragmentsWithoutAlphaPlane) {
    // Plain RGB: the rectangle becomes opaque (edges included) and the
    // fragment is drawn.
    auto frag = TPNGObject::CreateNew(2, 8, 2, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) frag->SetPixelAt(x, y, 0x00445566);
    auto target = rgba(4, 4);
    pastePng(phase, target, frag, makeRect(0, 0, 2, 2), kExact);
    EXPECT_EQ(target->PixelAt(1, 1), 0x00445566);
    EXPECT_EQ(alphaAt(target, 2, 2), 255);
    EXPECT_EQ(alphaAt(target, 3, 3), 0);

    // A palette picture with a transparent entry keeps its transparency:
    // per entry, so another entry of the same colour stays opaque.
    auto pal = TPNGObject::CreateNew(3, 8, 3, 1);
    auto& header = pal->HeaderChunk();
    header.SetPalette({RGBQuad{0, 0, 0, 0}, RGBQuad{0, 0, 255, 0}, RGBQuad{0, 0, 0, 0}});
    header.SetIndex(0, 0, 0);
    header.SetIndex(1, 0, 1);
    header.SetIndex(2, 0, 2);
    auto* trns = pal->Chunks().AddChunkOfClass<TChunktRNS>();
    ASSERT_NE(trns, nullptr);
    trns->SetPayloadSize(1);
    trns->AlphaValues[0] = 0;
    auto canvas = rgba(3, 1, 0x00FFFFFF, 255);
    pastePng(phase, canvas, pal, makeRect(0, 0, 3, 1), kExact);
    EXPECT_EQ(alphaAt(canvas, 0, 0), 0);
    EXPECT_EQ(alphaAt(canvas, 1, 0), 255);
    EXPECT_EQ(canvas->PixelAt(1, 0), 0x000000FF);
    EXPECT_EQ(alphaAt(canvas, 2, 0), 255);  // same colour as entry 0, but opaque
}
