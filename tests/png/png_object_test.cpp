// The image object: blank creation, pixel and row access, resizing,
// drawing, copying, bitmap exchange and file registration.
#include <gtest/gtest.h>

#include <unistd.h>

#include "png/chunk_ancillary.h"
#include "png_test_util.h"
#include "raster/bitmap.h"
#include "raster/picture.h"

namespace glx::pngtest {
namespace {

std::vector<std::string> chunkTypes(const TPNGObject& img) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < img.Chunks().SlotCount(); ++i) out.push_back(img.Chunks().Item(i)->TypeName());
    return out;
}

TEST(PngObject, EmptyImage) {
    TPNGObject img;
    EXPECT_TRUE(img.IsEmpty());
    EXPECT_EQ(img.Width(), 0);
    EXPECT_EQ(img.Height(), 0);
    EXPECT_FALSE(img.HasHeader());
    try {
        img.PixelRow(0);
        FAIL() << "row of an empty image";
    } catch (const EPNGHeaderNotPresent& e) {
        EXPECT_STREQ(e.what(), "This operation is not valid because the current image contains no valid header.");
    }
    EXPECT_THROW(img.TransparencyKind(), EPNGHeaderNotPresent);
    EXPECT_EQ(img.PixelAt(0, 0), 0);
    img.SetPixelAt(0, 0, clWhite);
    EXPECT_EQ(img.RowGeometry().rowBytes, 0u);
    EXPECT_EQ(img.Canvas().surface(), nullptr);
}

TEST(PngObject, CreateNewBlankRgba) {
    auto img = TPNGObject::CreateNew(6, 8, 1, 1);
    EXPECT_EQ(img->PixelAt(0, 0), 0);
    EXPECT_EQ(img->AlphaRow(0)[0], 0);
    EXPECT_EQ(img->TransparencyKind(), trPartial);
    std::vector<std::string> written;
    for (const auto& c : splitChunks(saveToBytes(*img))) written.push_back(c.type);
    EXPECT_EQ(written, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
}

TEST(PngObject, CreateNewRefusesInvalidSpecs) {
    const int32_t bad[][4] = {{3, 16, 10, 10}, {2, 4, 10, 10}, {4, 4, 10, 10}, {6, 2, 10, 10}, {1, 8, 10, 10},
                              {0, 3, 10, 10},  {2, 8, 0, 10},  {2, 8, 10, 0},  {6, 8, -1, 5}};
    for (auto& b : bad) {
        try {
            TPNGObject img(static_cast<uint32_t>(b[0]), static_cast<uint32_t>(b[1]), b[2], b[3]);
            ADD_FAILURE() << b[0] << " " << b[1] << " " << b[2] << "x" << b[3] << " accepted";
        } catch (const EPNGInvalidSpec& e) {
            EXPECT_STREQ(e.what(),
                         "The \"Portable Network Graphics\" could not be created because invalid image type "
                         "parameters have being provided.");
        }
    }
    EXPECT_THROW(TPNGObject(6, 8, 20000, 20000), ELimitExceeded);
}

TEST(PngObject, CreateNewTwoBitPaletteIsFourBitWithSixteenEntries) {
    auto img = TPNGObject::CreateNew(3, 2, 10, 10);
    EXPECT_EQ(img->HeaderChunk().BitDepth, 4);
    EXPECT_EQ(img->HeaderChunk().Pixels().bitsPerPixel(), 4);
    EXPECT_EQ(chunkTypes(*img), (std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"}));
    EXPECT_EQ(img->Chunks().FindByClass<TChunkPLTE>()->EntryCount, 16);
    for (const auto& c : splitChunks(saveToBytes(*img))) {
        if (c.type == "PLTE") {
            EXPECT_EQ(c.payload.size(), 48u);
        }
    }
}

TEST(PngObject, RowsAreTopDown) {
    auto img = TPNGObject::CreateNew(6, 8, 3, 4);
    const TChunkIHDR& h = img->HeaderChunk();
    EXPECT_EQ(img->AlphaRow(3) - img->AlphaRow(0), 9);
    EXPECT_EQ(img->PixelRow(1) - img->PixelRow(0), h.RowStride());
    EXPECT_EQ(h.RowStride(), 12);
    img->PixelRow(0)[2] = 200;  // red of the top-left pixel
    EXPECT_EQ(img->PixelAt(0, 0), rgb(200, 0, 0));
    auto rgbImg = TPNGObject::CreateNew(2, 8, 3, 4);
    EXPECT_EQ(rgbImg->AlphaRow(0), nullptr);
    EXPECT_EQ(rgbImg->LowByteRow(0), nullptr);
    EXPECT_EQ(rgbImg->RowGeometry().rowBytes, 9u);
    EXPECT_EQ(rgbImg->RowGeometry().filterDistance, 3u);
}

TEST(PngObject, PixelAccessByColourType) {
    auto rgbImg = TPNGObject::CreateNew(2, 8, 2, 2);
    rgbImg->SetPixelAt(1, 1, rgb(10, 20, 30));
    EXPECT_EQ(rgbImg->PixelAt(1, 1), rgb(10, 20, 30));
    EXPECT_EQ(rgbImg->PixelRow(1)[3], 30);  // blue first
    for (auto [x, y] : {std::pair{-1, 0}, {2, 0}, {0, -1}, {0, 2}}) {
        EXPECT_EQ(rgbImg->PixelAt(x, y), 0);
        rgbImg->SetPixelAt(x, y, clWhite);
    }
    EXPECT_EQ(rgbImg->PixelAt(0, 0), 0);

    auto ga = TPNGObject::CreateNew(4, 8, 2, 1);
    ga->SetPixelAt(0, 0, rgb(90, 10, 10));
    EXPECT_EQ(ga->PixelAt(0, 0), rgb(90, 90, 90));
    EXPECT_EQ(ga->AlphaRow(0)[0], 0);  // alpha is never touched

    auto grey = TPNGObject::CreateNew(0, 4, 2, 1);
    grey->SetPixelAt(1, 0, rgb(70, 70, 70));  // nearest ramp step: 68
    EXPECT_EQ(grey->PixelAt(1, 0), rgb(68, 68, 68));
    auto bw = TPNGObject::CreateNew(0, 1, 9, 1);
    bw->SetPixelAt(8, 0, rgb(250, 250, 250));
    EXPECT_EQ(bw->PixelAt(8, 0), clWhite);
    EXPECT_EQ(bw->PixelAt(7, 0), clBlack);

    auto pal = TPNGObject::CreateNew(3, 8, 2, 1);
    pal->SetPixelAt(0, 0, rgb(255, 0, 0));
    EXPECT_EQ(pal->PixelAt(0, 0), rgb(255, 0, 0));
}

TEST(PngObject, ChangeSizeKeepsTheCommonPart) {
    auto img = TPNGObject::CreateNew(6, 8, 2, 2);
    img->SetPixelAt(0, 0, rgb(1, 2, 3));
    img->SetPixelAt(1, 0, rgb(4, 5, 6));
    img->AlphaRow(0)[0] = 10;
    img->AlphaRow(0)[1] = 20;
    img->ChangeSize(3, 1);
    EXPECT_EQ(img->Width(), 3);
    EXPECT_EQ(img->Height(), 1);
    EXPECT_EQ(img->PixelAt(0, 0), rgb(1, 2, 3));
    EXPECT_EQ(img->PixelAt(1, 0), rgb(4, 5, 6));
    EXPECT_EQ(img->AlphaRow(0)[0], 10);
    EXPECT_EQ(img->AlphaRow(0)[1], 20);
    EXPECT_EQ(img->PixelAt(2, 0), 0);
    EXPECT_EQ(img->AlphaRow(0)[2], 255);

    EXPECT_THROW(img->ChangeSize(0, 5), EPNGInvalidNewSize);
    EXPECT_THROW(img->SetHeight(0), EPNGInvalidNewSize);
    EXPECT_EQ(img->Width(), 3);
    img->SetWidth(5);
    EXPECT_EQ(img->Width(), 5);
    EXPECT_EQ(img->Height(), 1);

    // The canvas follows the new pixels.
    img->Canvas().Brush.setColor(rgb(9, 9, 9));
    img->Canvas().FillArea(makeRect(4, 0, 5, 1));
    EXPECT_EQ(img->PixelAt(4, 0), rgb(9, 9, 9));

    // Packed rows: bits of columns that fall away are not revived by growing.
    auto grey = TPNGObject::CreateNew(0, 1, 8, 1);
    grey->PixelRow(0)[0] = 0xFF;
    grey->ChangeSize(3, 1);
    grey->ChangeSize(8, 2);
    EXPECT_EQ(grey->PixelRow(0)[0], 0xE0);
    EXPECT_EQ(grey->PixelRow(1)[0], 0);

    auto deep = TPNGObject::CreateNew(2, 16, 2, 2);
    deep->LowByteRow(1)[5] = 77;
    deep->ChangeSize(3, 3);
    EXPECT_EQ(deep->LowByteRow(1)[5], 77);
    EXPECT_EQ(deep->LowByteRow(2)[0], 0);
}

TEST(PngObject, PaintOnBlendsAlphaOverTheCanvas) {
    auto img = TPNGObject::CreateNew(6, 8, 2, 1);
    img->SetPixelAt(0, 0, rgb(100, 0, 255));
    img->AlphaRow(0)[0] = 128;
    img->SetPixelAt(1, 0, rgb(1, 2, 3));
    img->AlphaRow(0)[1] = 255;
    TBitmap target(4, 2);  // white
    target.Canvas().DrawAt(0, 0, img.get());
    const auto mix = [](int s) { return static_cast<uint8_t>((s * 128 + 255 * 127 + 255) / 256); };
    EXPECT_EQ(target.Pixels().pixel(0, 0), rgb(mix(100), mix(0), mix(255)));
    EXPECT_EQ(target.Pixels().pixel(1, 0), rgb(1, 2, 3));
    EXPECT_EQ(target.Pixels().pixel(2, 0), clWhite);

    // Twice the size: each source pixel covers a 2 x 2 block.
    TBitmap big(4, 2);
    big.Canvas().DrawScaled(makeRect(0, 0, 4, 2), img.get());
    EXPECT_EQ(big.Pixels().pixel(0, 1), rgb(mix(100), mix(0), mix(255)));
    EXPECT_EQ(big.Pixels().pixel(1, 1), rgb(mix(100), mix(0), mix(255)));
    EXPECT_EQ(big.Pixels().pixel(2, 0), rgb(1, 2, 3));
    EXPECT_EQ(big.Pixels().pixel(3, 1), rgb(1, 2, 3));

    // Partly outside the canvas, and with a reversed rectangle.
    TBitmap edge(2, 1);
    edge.Canvas().DrawScaled(makeRect(1, 1, -1, 0), img.get());
    EXPECT_EQ(edge.Pixels().pixel(0, 0), rgb(1, 2, 3));
}

TEST(PngObject, PaintOnGreyAlphaAndPaletteAlpha) {
    auto ga = TPNGObject::CreateNew(4, 8, 1, 1);
    ga->PixelRow(0)[0] = 0;
    ga->AlphaRow(0)[0] = 64;
    TBitmap t(1, 1);
    t.Canvas().DrawAt(0, 0, ga.get());
    const uint8_t g = static_cast<uint8_t>((0 * 64 + 255 * 191 + 255) / 256);
    EXPECT_EQ(t.Pixels().pixel(0, 0), rgb(g, g, g));

    auto pal = TPNGObject::CreateNew(3, 8, 2, 1);
    pal->SetPixelAt(0, 0, rgb(255, 0, 0));
    pal->SetPixelAt(1, 0, rgb(0, 0, 255));
    const uint32_t redIndex = pal->HeaderChunk().Pixels().index(0, 0);
    auto* trns = pal->Chunks().AddChunkOfClass<TChunktRNS>();
    EXPECT_EQ(trns->AlphaValues[0], 255);  // a new tRNS is opaque
    trns->AlphaValues[redIndex] = 100;
    trns->SingleKey = false;
    ASSERT_EQ(pal->TransparencyKind(), trPartial);
    TBitmap p(2, 1);
    p.Canvas().DrawAt(0, 0, pal.get());
    const uint8_t r = static_cast<uint8_t>((255 * 100 + 255 * 155 + 255) / 256);
    const uint8_t o = static_cast<uint8_t>((0 * 100 + 255 * 155 + 255) / 256);
    EXPECT_EQ(p.Pixels().pixel(0, 0), rgb(r, o, o));
    EXPECT_EQ(p.Pixels().pixel(1, 0), rgb(0, 0, 255));
}

TEST(PngObject, PaintOnKeyedAndOpaque) {
    auto pal = TPNGObject::CreateNew(3, 8, 2, 1);
    pal->SetPixelAt(0, 0, rgb(0, 255, 0));
    pal->SetPixelAt(1, 0, rgb(0, 0, 255));
    pal->Chunks().AddChunkOfClass<TChunktRNS>()->SetKeyColor(rgb(0, 255, 0));
    ASSERT_EQ(pal->TransparencyKind(), trKeyed);
    EXPECT_TRUE(pal->IsTransparent());
    TBitmap t(2, 1);
    t.Canvas().DrawAt(0, 0, pal.get());
    EXPECT_EQ(t.Pixels().pixel(0, 0), clWhite);  // the key colour shows the background
    EXPECT_EQ(t.Pixels().pixel(1, 0), rgb(0, 0, 255));

    auto opaque = TPNGObject::CreateNew(0, 8, 1, 1);
    opaque->PixelRow(0)[0] = 0;
    EXPECT_FALSE(opaque->IsTransparent());
    t.Canvas().DrawScaled(makeRect(0, 0, 2, 1), opaque.get());
    EXPECT_EQ(t.Pixels().pixel(1, 0), clBlack);
}

TEST(PngObject, CopyFromAnotherImage) {
    auto src = TPNGObject::CreateNew(6, 8, 3, 2);
    src->SetPixelAt(2, 1, rgb(7, 8, 9));
    src->AlphaRow(1)[2] = 99;
    auto* text = src->Chunks().AddChunkOfClass<TChunktEXt>();
    text->KeyName = "k";
    text->Content = "v";
    src->Interlacing = 1;
    src->DeflateLevel = 3;
    TPNGObject copy;
    copy.CopyFrom(src.get());
    EXPECT_EQ(chunkTypes(copy), chunkTypes(*src));
    EXPECT_EQ(copy.PixelAt(2, 1), rgb(7, 8, 9));
    EXPECT_EQ(copy.AlphaRow(1)[2], 99);
    EXPECT_EQ(copy.Chunks().FindByClass<TChunktEXt>()->Content, "v");
    EXPECT_EQ(copy.Interlacing, 1);
    EXPECT_EQ(copy.DeflateLevel, 3);
    // Independent pixels, and a canvas of its own.
    src->SetPixelAt(2, 1, 0);
    EXPECT_EQ(copy.PixelAt(2, 1), rgb(7, 8, 9));
    EXPECT_EQ(copy.Canvas().surface(), &copy.HeaderChunk().Pixels());

    TPNGObject other;
    src->CopyTo(other);
    EXPECT_EQ(other.Width(), 3);
    copy.CopyFrom(nullptr);
    EXPECT_TRUE(copy.IsEmpty());
}

TEST(PngObject, BitmapExchange) {
    TBitmap bmp(2, 1);
    bmp.Pixels().setPixel(0, 0, rgb(10, 20, 30));
    TPNGObject fromRgb;
    fromRgb.CopyFrom(&bmp);
    EXPECT_EQ(fromRgb.HeaderChunk().ColorType, 2);
    EXPECT_EQ(fromRgb.PixelAt(0, 0), rgb(10, 20, 30));
    EXPECT_EQ(fromRgb.PixelAt(1, 0), clWhite);
    EXPECT_EQ(chunkTypes(fromRgb), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

    TBitmap indexed;
    indexed.SetDib(Dib(3, 1, 8, std::vector<RGBQuad>(256, RGBQuad{})));
    indexed.Pixels().colorTable()[5] = RGBQuad{30, 20, 10, 0};
    indexed.Pixels().setIndex(1, 0, 5);
    indexed.SetTransparentColor(rgb(10, 20, 30));
    indexed.SetTransparent(true);
    TPNGObject fromIndexed;
    fromIndexed.CopyFrom(&indexed);
    EXPECT_EQ(fromIndexed.HeaderChunk().ColorType, 3);
    EXPECT_EQ(fromIndexed.HeaderChunk().BitDepth, 8);
    EXPECT_EQ(chunkTypes(fromIndexed), (std::vector<std::string>{"IHDR", "PLTE", "tRNS", "IDAT", "IEND"}));
    EXPECT_EQ(fromIndexed.PixelAt(1, 0), rgb(10, 20, 30));
    EXPECT_EQ(fromIndexed.TransparencyKind(), trKeyed);
    EXPECT_EQ(fromIndexed.TransparentKeyColor(), rgb(10, 20, 30));

    // Back to bitmaps: alpha images are blended over white.
    auto rgba = TPNGObject::CreateNew(6, 8, 2, 1);
    rgba->SetPixelAt(0, 0, rgb(0, 0, 0));
    rgba->AlphaRow(0)[0] = 255;
    TBitmap out;
    rgba->CopyTo(out);
    EXPECT_EQ(out.BitsPerPixel(), 24);
    EXPECT_EQ(out.Pixels().pixel(0, 0), clBlack);
    EXPECT_EQ(out.Pixels().pixel(1, 0), clWhite);

    TBitmap keyed;
    fromIndexed.CopyTo(keyed);
    EXPECT_EQ(keyed.BitsPerPixel(), 8);
    EXPECT_EQ(keyed.Pixels().pixel(1, 0), rgb(10, 20, 30));
    EXPECT_TRUE(keyed.IsTransparent());
    EXPECT_EQ(keyed.TransparentColor(), rgb(10, 20, 30));

    auto grey = TPNGObject::CreateNew(0, 8, 1, 1);
    grey->PixelRow(0)[0] = 77;
    TBitmap greyOut;
    grey->CopyTo(greyOut);
    EXPECT_EQ(greyOut.BitsPerPixel(), 24);
    EXPECT_EQ(greyOut.Pixels().pixel(0, 0), rgb(77, 77, 77));
}

TEST(PngObject, FilesAndTheFormatRegistry) {
    const std::string path = ::testing::TempDir() + "glx_png_object_test_" + std::to_string(getpid()) + ".png";
    auto img = TPNGObject::CreateNew(6, 8, 5, 4);
    img->SetPixelAt(4, 3, rgb(1, 2, 3));
    img->AlphaRow(3)[4] = 200;
    img->SaveFile(path);

    TPNGObject loaded;
    loaded.LoadFile(path);
    EXPECT_EQ(loaded.PixelAt(4, 3), rgb(1, 2, 3));
    EXPECT_EQ(loaded.AlphaRow(3)[4], 200);
    EXPECT_EQ(loaded.Canvas().surface(), &loaded.HeaderChunk().Pixels());

    registerPngFormat();
    const FileFormat* format = TFileFormatsList::instance().FindFormat("PNG");
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->description, "Portable Network Graphics");
    TPicture picture;
    picture.LoadFile(path);
    auto* held = dynamic_cast<TPNGObject*>(picture.Graphic());
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->PixelAt(4, 3), rgb(1, 2, 3));
    unlink(path.c_str());
}

}  // namespace
}  // namespace glx::pngtest

namespace glx::pngtest {
namespace {

TEST(PngObject, EffectiveAlphaRowForEveryKindOfTransparency) {
    Bytes out(3);
    auto rgba = TPNGObject::CreateNew(6, 8, 3, 1);
    rgba->AlphaRow(0)[1] = 77;
    effectiveAlphaRow(*rgba, 0, out.data());
    EXPECT_EQ(out, (Bytes{0, 77, 0}));

    auto plain = TPNGObject::CreateNew(2, 8, 3, 1);
    effectiveAlphaRow(*plain, 0, out.data());
    EXPECT_EQ(out, (Bytes{255, 255, 255}));
    plain->SetPixelAt(2, 0, rgb(5, 6, 7));
    plain->Chunks().AddChunkOfClass<TChunktRNS>()->SetKeyColor(rgb(5, 6, 7));
    effectiveAlphaRow(*plain, 0, out.data());
    EXPECT_EQ(out, (Bytes{255, 255, 0}));

    // Palette alpha per entry, 4-bit indices.
    auto pal = TPNGObject::CreateNew(3, 4, 3, 1);
    pal->HeaderChunk().SetIndex(0, 0, 1);
    pal->HeaderChunk().SetIndex(1, 0, 2);
    auto* trns = pal->Chunks().AddChunkOfClass<TChunktRNS>();
    trns->AlphaValues[1] = 10;
    trns->AlphaValues[2] = 20;
    effectiveAlphaRow(*pal, 0, out.data());
    EXPECT_EQ(out, (Bytes{10, 20, 255}));

    // Keyed grey: by the key's grey level.
    auto grey = TPNGObject::CreateNew(0, 8, 3, 1);
    grey->PixelRow(0)[1] = 9;
    grey->Chunks().AddChunkOfClass<TChunktRNS>()->SetKeyColor(rgb(9, 9, 9));
    effectiveAlphaRow(*grey, 0, out.data());
    EXPECT_EQ(out, (Bytes{255, 0, 255}));
}

}  // namespace
}  // namespace glx::pngtest
