// Header, palette, transparency, gamma and the plain ancillary chunks.
#include <gtest/gtest.h>

#include <algorithm>

#include "png/chunk_ancillary.h"
#include "png_test_util.h"

namespace glx::pngtest {
namespace {

Bytes ihdrPayload(uint32_t w, uint32_t h, uint8_t depth, uint8_t ct, uint8_t comp = 0, uint8_t interlace = 0) {
    Bytes p = be32(w);
    Bytes hh = be32(h);
    p.insert(p.end(), hh.begin(), hh.end());
    p.insert(p.end(), {depth, ct, comp, 0, interlace});
    return p;
}

// A complete image with the given header and extra chunks before IDAT; the
// image data is all zero.
Bytes imageWith(const Bytes& ihdr, const std::vector<RawChunk>& before, size_t rawSize) {
    PngBuilder b;
    b.signature().chunk("IHDR", ihdr);
    for (const auto& c : before) b.chunk(c.type, c.payload);
    return b.chunk("IDAT", zlibCompress(Bytes(rawSize, 0))).iend().bytes();
}

TEST(PngHeaderChunk, SizeAndMethodChecks) {
    TPNGObject img;
    EXPECT_NO_THROW(loadFromBytes(img, imageWith(ihdrPayload(65535, 1, 8, 0), {}, 65536)));
    EXPECT_EQ(img.Width(), 65535);
    EXPECT_THROW(loadFromBytes(img, imageWith(ihdrPayload(65536, 1, 8, 0), {}, 2)), EPNGSizeExceeds);
    EXPECT_THROW(loadFromBytes(img, imageWith(ihdrPayload(1, 65536, 8, 0), {}, 2)), EPNGSizeExceeds);
    EXPECT_THROW(loadFromBytes(img, imageWith(ihdrPayload(1, 1, 8, 0, 1), {}, 2)), EPNGUnknownCompression);
    EXPECT_THROW(loadFromBytes(img, imageWith(ihdrPayload(1, 1, 8, 0, 0, 2), {}, 2)), EPNGUnknownInterlace);
    Bytes shortHeader = ihdrPayload(1, 1, 8, 0);
    shortHeader.pop_back();
    EXPECT_THROW(loadFromBytes(img, imageWith(shortHeader, {}, 2)), EPngInvalidIHDR);
}

TEST(PngHeaderChunk, EmptySizesAndInvalidTypeDepthPairsAreRefused) {
    TPNGObject img;
    EXPECT_THROW(loadFromBytes(img, imageWith(ihdrPayload(0, 5, 8, 0), {}, 2)), EPngInvalidIHDR);
    EXPECT_THROW(loadFromBytes(img, imageWith(ihdrPayload(5, 0, 8, 0), {}, 2)), EPngInvalidIHDR);
    const uint8_t bad[][2] = {{5, 8}, {1, 8}, {0, 3}, {3, 16}, {2, 4}, {4, 4}, {6, 2}, {0, 0}};
    for (auto& p : bad) {
        try {
            loadFromBytes(img, imageWith(ihdrPayload(1, 1, p[1], p[0]), {}, 16));
            ADD_FAILURE() << "colour type " << int(p[0]) << " depth " << int(p[1]) << " accepted";
        } catch (const EPngInvalidIHDR& e) {
            EXPECT_STREQ(e.what(), kMsgPngInvalidIHDR);
        }
    }
}

TEST(PngHeaderChunk, PictureLimitsAreCheckedBeforeAllocation) {
    TPNGObject img;
    EXPECT_THROW(loadFromBytes(img, imageWith(ihdrPayload(65535, 65535, 16, 6), {}, 2)), ELimitExceeded);
    EXPECT_THROW(loadFromBytes(img, imageWith(ihdrPayload(20000, 20000, 8, 0), {}, 2)), ELimitExceeded);
}

TEST(PngHeaderChunk, InMemoryFormats) {
    struct Case {
        uint8_t ct, depth;
        int bpp;
        size_t tableSize;
        bool alpha, low;
    };
    const Case cases[] = {{0, 1, 1, 2, false, false},   {0, 2, 4, 16, false, false},  {0, 4, 4, 16, false, false},
                          {0, 8, 8, 256, false, false}, {0, 16, 8, 256, false, true}, {3, 2, 4, 16, false, false},
                          {3, 8, 8, 256, false, false}, {4, 8, 8, 256, true, false},  {4, 16, 8, 256, true, true},
                          {2, 8, 24, 0, false, false},  {2, 16, 24, 0, false, true},  {6, 8, 24, 0, true, false},
                          {6, 16, 24, 0, true, true}};
    for (const Case& c : cases) {
        TPNGObject img;
        std::vector<RawChunk> plte;
        if (c.ct == 3) plte.push_back({"PLTE", Bytes(12, 7)});
        loadFromBytes(img, imageWith(ihdrPayload(5, 3, c.depth, c.ct), plte, 1000));
        const TChunkIHDR& h = img.HeaderChunk();
        SCOPED_TRACE(testing::Message() << "colour type " << int(c.ct) << " depth " << int(c.depth));
        EXPECT_EQ(h.Pixels().bitsPerPixel(), c.bpp);
        EXPECT_EQ(h.Pixels().colorTable().size(), c.tableSize);
        EXPECT_EQ(img.AlphaRow(0) != nullptr, c.alpha);
        EXPECT_EQ(img.LowByteRow(0) != nullptr, c.low);
        EXPECT_EQ(h.RowStride(), static_cast<int32_t>((c.bpp * 5 + 31) / 32 * 4));
    }
}

TEST(PngHeaderChunk, SixteenBitGreyKeepsLowBytesInTheirPlane) {
    TPNGObject img;
    PngBuilder b;
    b.signature().ihdr(2, 1, 16, 0).chunk("IDAT", zlibCompress(filterNone({{0x12, 0x34, 0xAB, 0xCD}}))).iend();
    loadFromBytes(img, b.bytes());
    EXPECT_EQ(img.PixelRow(0)[0], 0x12);
    EXPECT_EQ(img.PixelRow(0)[1], 0xAB);
    EXPECT_EQ(img.LowByteRow(0)[0], 0x34);
    EXPECT_EQ(img.LowByteRow(0)[1], 0xCD);
    EXPECT_EQ(img.HeaderChunk().Pixels().colorTable()[0xAB].green, 0xAB);
}

TEST(PngHeaderChunk, TwoBitPaletteIsWrittenAsFourBit) {
    TPNGObject img;
    PngBuilder b;
    Bytes plte = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};
    b.signature().ihdr(5, 1, 2, 3).chunk("PLTE", plte).chunk("IDAT", zlibCompress(filterNone({{0x1B, 0x80}}))).iend();
    loadFromBytes(img, b.bytes());
    RefImage ref = libpngDecode(saveToBytes(img));
    EXPECT_EQ(ref.bitDepth, 4);
    // Writing changes nothing of the image: the header keeps the depth it
    // was read with and writes the depth the samples are held at.
    EXPECT_EQ(img.HeaderChunk().BitDepth, 2);
    EXPECT_EQ(img.HeaderChunk().WrittenBitDepth(), 4);
    EXPECT_EQ(saveToBytes(img), saveToBytes(img));
    const uint32_t indices[5] = {0, 1, 2, 3, 2};
    for (uint32_t x = 0; x < 5; ++x) EXPECT_EQ(ref.sample(int32_t(x), 0, 0), indices[x]) << x;
    ASSERT_GE(ref.palette.size(), 4u);
    EXPECT_EQ(ref.palette[3], (std::array<uint8_t, 3>{0, 0, 255}));
}

TEST(PngPaletteChunk, InvalidLengthsAndEntries) {
    TPNGObject img;
    EXPECT_THROW(loadFromBytes(img, imageWith(ihdrPayload(1, 1, 8, 3), {{"PLTE", Bytes(4, 0)}}, 2)),
                 EPNGInvalidPalette);
    EXPECT_THROW(loadFromBytes(img, imageWith(ihdrPayload(1, 1, 8, 3), {{"PLTE", Bytes(257 * 3, 0)}}, 2)),
                 EPNGInvalidPalette);
    EXPECT_THROW(
        loadFromBytes(img, imageWith(ihdrPayload(1, 1, 8, 3), {{"PLTE", Bytes(6, 0)}, {"tRNS", Bytes(257, 0)}}, 2)),
        EPNGInvalidPalette);
    loadFromBytes(img, imageWith(ihdrPayload(1, 1, 8, 3), {{"PLTE", {1, 2, 3, 4, 5, 6}}}, 2));
    auto* plte = img.Chunks().FindByClass<TChunkPLTE>();
    ASSERT_NE(plte, nullptr);
    EXPECT_EQ(plte->EntryCount, 2);
    EXPECT_EQ(plte->Entry(1), 0x040506u);  // blue in the low byte
    try {
        plte->Entry(2);
        FAIL() << "entry 2 of 2 returned";
    } catch (const EPngError& e) {
        EXPECT_STREQ(e.what(), "There is no such palette entry.");
    }
}

TEST(PngTransparencyChunk, PaletteKeyOrPartialAlpha) {
    const std::vector<RawChunk> plte = {{"PLTE", {10, 20, 30, 40, 50, 60}}};
    struct Case {
        Bytes trns;
        bool single;
        TTransparencyKind kind;
    };
    // One fully transparent entry is a key; a single half-transparent entry
    // is per-entry alpha, not a key.
    const Case cases[] = {{{0}, true, trKeyed},
                          {{0, 128}, false, trPartial},
                          {{128}, false, trPartial},
                          {{255, 0}, true, trKeyed},
                          {{255, 255}, false, trPartial}};
    for (const Case& c : cases) {
        TPNGObject img;
        auto chunks = plte;
        chunks.push_back({"tRNS", c.trns});
        loadFromBytes(img, imageWith(ihdrPayload(1, 1, 8, 3), chunks, 2));
        auto* trns = img.Chunks().FindByClass<TChunktRNS>();
        ASSERT_NE(trns, nullptr);
        EXPECT_EQ(trns->SingleKey, c.single) << testing::PrintToString(c.trns);
        EXPECT_EQ(img.TransparencyKind(), c.kind) << testing::PrintToString(c.trns);
    }
    TPNGObject img;
    loadFromBytes(img, imageWith(ihdrPayload(1, 1, 8, 3), {plte[0], {"tRNS", {255, 0}}}, 2));
    EXPECT_EQ(img.TransparentKeyColor(), rgb(40, 50, 60));
    EXPECT_EQ(img.Chunks().FindByClass<TChunktRNS>()->AlphaValues[2], 255);
}

TEST(PngTransparencyChunk, GreyAndRgbKeys) {
    TPNGObject grey;
    loadFromBytes(grey, imageWith(ihdrPayload(1, 1, 8, 0), {{"tRNS", {0, 77}}}, 2));
    EXPECT_EQ(grey.TransparencyKind(), trKeyed);
    EXPECT_EQ(grey.TransparentKeyColor(), rgb(77, 77, 77));

    // A 2-bit grey key moves onto the 4-bit scale the samples are held in.
    TPNGObject grey2;
    loadFromBytes(grey2, imageWith(ihdrPayload(1, 1, 2, 0), {{"tRNS", {0, 2}}}, 2));
    EXPECT_EQ(grey2.TransparentKeyColor(), rgb(170, 170, 170));

    TPNGObject color;
    loadFromBytes(color, imageWith(ihdrPayload(1, 1, 8, 2), {{"tRNS", {0, 1, 0, 2, 0, 3}}}, 4));
    EXPECT_EQ(color.TransparentKeyColor(), rgb(1, 2, 3));
    TPNGObject color16;
    loadFromBytes(color16, imageWith(ihdrPayload(1, 1, 16, 2), {{"tRNS", {4, 1, 5, 2, 6, 3}}}, 7));
    EXPECT_EQ(color16.TransparentKeyColor(), rgb(4, 5, 6));
    // Written back, the key drops its low bytes like the samples do.
    for (const auto& c : splitChunks(saveToBytes(color16))) {
        if (c.type == "tRNS") {
            EXPECT_EQ(c.payload, (Bytes{4, 0, 5, 0, 6, 0}));
        }
    }
}

TEST(PngTransparencyChunk, SetKeyColor) {
    auto rgbImg = TPNGObject::CreateNew(2, 8, 2, 2);
    auto* trns = rgbImg->Chunks().AddChunkOfClass<TChunktRNS>();
    trns->SetKeyColor(rgb(9, 8, 7));
    EXPECT_EQ(trns->PayloadSize(), 6);
    EXPECT_EQ(rgbImg->TransparentKeyColor(), rgb(9, 8, 7));

    auto pal = TPNGObject::CreateNew(3, 4, 2, 2);
    auto* key = pal->Chunks().AddChunkOfClass<TChunktRNS>();
    const RGBQuad entry = pal->HeaderChunk().Pixels().colorTable()[3];
    key->SetKeyColor(rgb(entry.red, entry.green, entry.blue));
    EXPECT_EQ(key->PayloadSize(), 4);
    EXPECT_TRUE(key->SingleKey);
    EXPECT_EQ(key->AlphaValues[0], 255);
    EXPECT_EQ(key->AlphaValues[3], 0);
    EXPECT_EQ(pal->TransparencyKind(), trKeyed);

    // No entry of that colour: nothing changes.
    TColor missing = rgb(1, 2, 3);
    for (const RGBQuad& q : pal->HeaderChunk().Pixels().colorTable()) ASSERT_NE(rgb(q.red, q.green, q.blue), missing);
    key->SetKeyColor(missing);
    EXPECT_EQ(key->PayloadSize(), 4);
    EXPECT_EQ(key->AlphaValues[3], 0);
    EXPECT_EQ(key->AlphaValues[0], 255);

    // The written tRNS carries the key.
    TPNGObject back;
    loadFromBytes(back, saveToBytes(*pal));
    EXPECT_EQ(back.TransparencyKind(), trKeyed);
    EXPECT_EQ(back.TransparentKeyColor(), rgb(entry.red, entry.green, entry.blue));
}

TEST(PngGammaChunk, Tables) {
    TPNGObject img;
    loadFromBytes(img, imageWith(ihdrPayload(1, 1, 8, 0), {{"gAMA", be32(45455)}}, 2));
    for (size_t i = 0; i < 256; ++i) {
        ASSERT_EQ(img.DecodeGamma()[i], i);
        ASSERT_EQ(img.EncodeGamma()[i], i);
    }
    loadFromBytes(img, imageWith(ihdrPayload(1, 1, 8, 0), {{"gAMA", be32(100000)}}, 2));
    EXPECT_EQ(img.DecodeGamma()[128], 186);
    EXPECT_EQ(img.DecodeGamma()[64], 136);
    EXPECT_EQ(img.DecodeGamma()[0], 0);
    EXPECT_EQ(img.DecodeGamma()[255], 255);
    EXPECT_EQ(img.EncodeGamma()[186], 128);
    EXPECT_EQ(img.Chunks().FindByClass<TChunkgAMA>()->Gamma(), 100000u);
    // A gAMA of the wrong length changes nothing.
    loadFromBytes(img, imageWith(ihdrPayload(1, 1, 8, 0), {{"gAMA", {1, 2}}}, 2));
    EXPECT_EQ(img.DecodeGamma()[128], 128);
}

TEST(PngGammaChunk, OneIgnoredOnReadingIsNotWritten) {
    auto written = [](const Bytes& bytes) {
        TPNGObject img;
        loadFromBytes(img, bytes);
        const Bytes out = saveToBytes(img);
        return std::search(out.begin(), out.end(), std::begin("gAMA"), std::end("gAMA") - 1) != out.end();
    };
    EXPECT_TRUE(written(imageWith(ihdrPayload(1, 1, 8, 0), {{"gAMA", be32(100000)}}, 2)));
    EXPECT_FALSE(written(imageWith(ihdrPayload(1, 1, 8, 0), {{"gAMA", {1, 2}}}, 2)));

    // After the image data it comes too late for the rows: the tables stay
    // as the rows were decoded with, and it is not written either.
    PngBuilder b;
    b.signature().chunk("IHDR", ihdrPayload(1, 1, 8, 0)).chunk("IDAT", zlibCompress(Bytes{0, 4}));
    const Bytes late = b.chunk("gAMA", be32(100000)).iend().bytes();
    TPNGObject img;
    loadFromBytes(img, late);
    EXPECT_EQ(img.DecodeGamma()[4], 4);
    EXPECT_EQ(img.EncodeGamma()[4], 4);
    EXPECT_EQ(img.PixelAt(0, 0), rgb(4, 4, 4));
    EXPECT_FALSE(written(late));
}

TEST(PngGammaChunk, AppliesToChunksReadAfterIt) {
    const Bytes grey = {64, 64, 64};
    TPNGObject before, after;
    loadFromBytes(before, imageWith(ihdrPayload(1, 1, 8, 3), {{"gAMA", be32(100000)}, {"PLTE", grey}}, 2));
    loadFromBytes(after, imageWith(ihdrPayload(1, 1, 8, 3), {{"PLTE", grey}, {"gAMA", be32(100000)}}, 2));
    EXPECT_EQ(before.PixelAt(0, 0), rgb(136, 136, 136));
    EXPECT_EQ(after.PixelAt(0, 0), rgb(64, 64, 64));
}

TEST(PngGammaChunk, CopyChecksTheClass) {
    TPNGObject img;
    TChunkgAMA a(img), b(img);
    b.SetGamma(220000);
    a.CopyFrom(b);
    EXPECT_EQ(a.Gamma(), 220000u);
    TChunktEXt text(img);
    try {
        a.CopyFrom(text);
        FAIL() << "copied from a text chunk";
    } catch (const EPngError& e) {
        EXPECT_STREQ(e.what(), "The chunks must be compatible to be assigned.");
    }
}

template <class T>
T* reread(TPNGObject& img, TPNGObject& back) {
    loadFromBytes(back, saveToBytes(img));
    return back.Chunks().FindByClass<T>();
}

TEST(PngTextChunks, RoundTripsAndOddPayloads) {
    auto img = TPNGObject::CreateNew(0, 8, 1, 1);
    auto* t = img->Chunks().AddChunkOfClass<TChunktEXt>();
    t->KeyName = "Title";
    t->Content = std::string("line\0two", 8);
    TPNGObject back;
    auto* t2 = reread<TChunktEXt>(*img, back);
    ASSERT_NE(t2, nullptr);
    EXPECT_EQ(t2->KeyName, "Title");
    EXPECT_EQ(t2->Content, std::string("line\0two", 8));

    TPNGObject odd;
    loadFromBytes(odd, imageWith(ihdrPayload(1, 1, 8, 0), {{"tEXt", {'a', 'b'}}, {"tEXt", {'k', 'e', 'y'}}}, 2));
    auto* two = dynamic_cast<TChunktEXt*>(odd.Chunks().Item(1));
    auto* nozero = dynamic_cast<TChunktEXt*>(odd.Chunks().Item(2));
    EXPECT_EQ(two->KeyName, "");
    EXPECT_EQ(two->Content, "");
    EXPECT_EQ(nozero->KeyName, "key");
    EXPECT_EQ(nozero->Content, "");
}

TEST(PngTextChunks, CompressedText) {
    auto img = TPNGObject::CreateNew(0, 8, 1, 1);
    auto* z = img->Chunks().AddChunkOfClass<TChunkzTXt>();
    z->KeyName = "Comment";
    TPNGObject back;
    auto* z2 = reread<TChunkzTXt>(*img, back);
    ASSERT_NE(z2, nullptr);
    EXPECT_EQ(z2->Content, " ");  // empty text is written as one space
    z->Content = std::string(5000, 'x');
    z2 = reread<TChunkzTXt>(*img, back);
    EXPECT_EQ(z2->Content, std::string(5000, 'x'));
    // A level beyond 9 is taken as 9, as for the image data: the chunk was
    // once left out of the file without a word.
    img->DeflateLevel = 12;
    z2 = reread<TChunkzTXt>(*img, back);
    ASSERT_NE(z2, nullptr);
    EXPECT_EQ(z2->Content, std::string(5000, 'x'));

    // Damaged compressed text is left empty without an error.
    Bytes payload = {'k', 0, 0, 1, 2, 3, 4};
    TPNGObject bad;
    loadFromBytes(bad, imageWith(ihdrPayload(1, 1, 8, 0), {{"zTXt", payload}}, 2));
    EXPECT_EQ(bad.Chunks().FindByClass<TChunkzTXt>()->KeyName, "k");
    EXPECT_EQ(bad.Chunks().FindByClass<TChunkzTXt>()->Content, "");

    // A text that inflates beyond 16 MiB is not expanded.
    Bytes bomb = {'k', 0, 0};
    Bytes packed = zlibCompress(Bytes((size_t(16) << 20) + 1, 'a'), 9);
    bomb.insert(bomb.end(), packed.begin(), packed.end());
    TPNGObject big;
    loadFromBytes(big, imageWith(ihdrPayload(1, 1, 8, 0), {{"zTXt", bomb}}, 2));
    EXPECT_EQ(big.Chunks().FindByClass<TChunkzTXt>()->Content, "");
}

TEST(PngPlainChunks, PhysAndTimeRoundTripAndWrongLengths) {
    auto img = TPNGObject::CreateNew(2, 8, 1, 1);
    auto* p = img->Chunks().AddChunkOfClass<TChunkpHYs>();
    p->DensityX = 3780;
    p->DensityY = 2835;
    p->DensityUnit = 1;
    auto* t = img->Chunks().AddChunkOfClass<TChunktIME>();
    t->TimeYear = 2024;
    t->TimeMonth = 2;
    t->TimeDay = 29;
    t->TimeHour = 23;
    t->TimeMinute = 59;
    t->TimeSecond = 60;
    TPNGObject back;
    loadFromBytes(back, saveToBytes(*img));
    auto* p2 = back.Chunks().FindByClass<TChunkpHYs>();
    auto* t2 = back.Chunks().FindByClass<TChunktIME>();
    ASSERT_TRUE(p2 && t2);
    EXPECT_EQ(p2->DensityX, 3780u);
    EXPECT_EQ(p2->DensityY, 2835u);
    EXPECT_EQ(p2->DensityUnit, 1);
    EXPECT_EQ(t2->TimeYear, 2024);
    EXPECT_EQ(t2->TimeSecond, 60);

    TPNGObject odd;
    loadFromBytes(odd, imageWith(ihdrPayload(1, 1, 8, 0), {{"pHYs", {1, 2, 3}}, {"tIME", {7, 8}}}, 2));
    auto* p3 = odd.Chunks().FindByClass<TChunkpHYs>();
    EXPECT_EQ(p3->DensityX, 0u);
    EXPECT_EQ(p3->PayloadSize(), 3);
    EXPECT_EQ(odd.Chunks().FindByClass<TChunktIME>()->TimeYear, 0);
}

}  // namespace
}  // namespace glx::pngtest
