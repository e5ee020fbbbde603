// The picture container, its format registry and the picture holder.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/exception.h"
#include "raster/bitmap.h"
#include "raster/canvas.h"
#include "raster/declared_size.h"
#include "raster/image.h"
#include "raster/jpeg_image.h"
#include "raster/picture.h"
#include "raster_test_util.h"
#include "support/messages.h"
#include "support/pictures.h"
#include "support/process.h"

namespace glx {
namespace {

using glxtest::messageOf;

TEST(FormatRegistry, BuiltInTableAndLookup) {
    const auto& list = TFileFormatsList::instance();
    ASSERT_GE(list.entries().size(), 6u);
    const char* exts[] = {"wmf", "emf", "ico", "bmp", "jpeg", "jpg"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(list.entries()[static_cast<size_t>(i)].extension, exts[i]);
    EXPECT_EQ(list.FindFormat("JPG")->className, "TJPEGImage");
    EXPECT_EQ(list.FindFormat("Bmp")->description, "Bitmaps");
    EXPECT_EQ(list.FindFormat("jpe"), nullptr);
    EXPECT_EQ(list.FindFormat(""), nullptr);
}

TEST(FormatRegistry, LaterRegistrationWinsAndUnregisterRemovesIt) {
    RegisterFileFormat(
        "BMP", "Other bitmaps", [] { return std::make_unique<TJPEGImage>(); }, "TTestKind");
    EXPECT_EQ(TFileFormatsList::instance().FindFormat("bmp")->className, "TTestKind");
    UnregisterFileFormat("TTestKind");
    EXPECT_EQ(TFileFormatsList::instance().FindFormat("bmp")->className, "TBitmap");
}

TEST(Picture, UnknownExtensionsNameTheExtension) {
    TPicture pic;
    EXPECT_EQ(messageOf([&] { pic.LoadFile("/nowhere/a.jpe"); }), "Unknown picture file extension (.jpe)");
    EXPECT_EQ(messageOf([&] { pic.LoadFile("/nowhere/photo"); }), "Unknown picture file extension (.)");
    EXPECT_EQ(messageOf([&] { pic.LoadFile("/some.dir/photo"); }), "Unknown picture file extension (.)");
    EXPECT_EQ(messageOf([&] { pic.LoadFile("x.TXT"); }), "Unknown picture file extension (.TXT)");
    EXPECT_THROW(pic.LoadFile("x.ico"), EFOpenError);  // registered: the file is opened
}

TEST(Picture, LoadsByExtensionIgnoringCase) {
    glxtest::TempFolder dir;
    TBitmap source(8, 6);
    source.Canvas().Brush.setColor(rgb(200, 30, 30));
    source.Canvas().FillArea(makeRect(0, 0, 8, 6));
    TJPEGImage jpeg;
    jpeg.CopyFrom(&source);
    jpeg.SaveFile((dir / "A.JPG").string());
    source.SaveFile((dir / "b.Bmp").string());

    TPicture pic;
    pic.LoadFile((dir / "A.JPG").string());
    ASSERT_NE(pic.Graphic(), nullptr);
    EXPECT_STREQ(pic.Graphic()->ClassName(), "TJPEGImage");
    EXPECT_EQ(pic.Width(), 8);
    pic.LoadFile((dir / "b.Bmp").string());
    EXPECT_STREQ(pic.Graphic()->ClassName(), "TBitmap");
    EXPECT_EQ(pic.Height(), 6);
}

TEST(Picture, FailedLoadKeepsThePreviousPicture) {
    glxtest::TempFolder dir;
    test::writeBytes((dir / "bad.bmp").string(), {'B', 'A', 0, 0});
    TPicture pic;
    pic.SetGraphic(std::make_unique<TBitmap>(3, 2));
    int changes = 0;
    pic.OnChange = [&] { ++changes; };
    EXPECT_EQ(messageOf([&] { pic.LoadFile((dir / "bad.bmp").string()); }), "Bitmap image is not valid");
    EXPECT_THROW(pic.LoadFile((dir / "missing.bmp").string()), EFOpenError);
    EXPECT_THROW(pic.LoadFile((dir / "photo.metafile.wmf").string()), EFOpenError);
    test::writeBytes((dir / "m.wmf").string(), {1, 2, 3});
    EXPECT_THROW(pic.LoadFile((dir / "m.wmf").string()), EInvalidGraphic);
    EXPECT_EQ(pic.Width(), 3);
    EXPECT_EQ(changes, 0);
}

TEST(Picture, SaveWritesTheHeldKindWhateverTheName) {
    glxtest::TempFolder dir;
    TPicture pic;
    pic.SaveFile((dir / "empty.bmp").string());
    EXPECT_FALSE(std::filesystem::exists((dir / "empty.bmp").string()));
    pic.SetGraphic(std::make_unique<TBitmap>(2, 2));
    pic.SaveFile((dir / "out.gif").string());
    auto bytes = test::fileBytes((dir / "out.gif").string());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
}

TEST(Picture, AsBitmapCopyFromAndChangeNotification) {
    TPicture pic;
    int changes = 0;
    pic.OnChange = [&] { ++changes; };
    auto jpeg = std::make_unique<TJPEGImage>();
    TBitmap source(4, 4);
    jpeg->CopyFrom(&source);
    pic.SetGraphic(std::move(jpeg));
    EXPECT_EQ(pic.Width(), 4);
    TBitmap& bmp = pic.AsBitmap();  // content lost
    EXPECT_EQ(bmp.Width(), 0);
    EXPECT_EQ(pic.Width(), 0);
    EXPECT_EQ(&pic.AsBitmap(), &bmp);  // already a bitmap: the same object

    TPicture other;
    other.CopyFrom(&source);
    EXPECT_STREQ(other.Graphic()->ClassName(), "TBitmap");
    EXPECT_NE(other.Graphic(), &source);
    pic.CopyFrom(&other);
    EXPECT_EQ(pic.Width(), 4);
    const int before = changes;
    static_cast<TBitmap*>(pic.Graphic())->SetWidth(7);  // the held picture's own change reaches the owner
    EXPECT_GT(changes, before);
    pic.CopyFrom(static_cast<const TPicture*>(nullptr));
    EXPECT_EQ(pic.Graphic(), nullptr);
}

TEST(Picture, CopyBetweenUnrelatedKindsFails) {
    TBitmap bmp(1, 1);
    TJPEGImage jpeg;
    auto unsupported = TFileFormatsList::instance().FindFormat("ico")->factory();
    EXPECT_EQ(messageOf([&] { unsupported->CopyFrom(&bmp); }), "Cannot assign a TBitmap to a TIcon");
    EXPECT_EQ(messageOf([&] { bmp.CopyFrom(unsupported.get()); }), "Cannot assign a TIcon to a TBitmap");
    EXPECT_EQ(messageOf([&] { jpeg.CopyFrom(nullptr); }), "Cannot assign a nil to a TJPEGImage");
}

TEST(Image, CanvasCreatesBitmapOfHolderSize) {
    TImage holder(40, 40);
    TCanvas& canvas = holder.Canvas();
    auto* bmp = dynamic_cast<TBitmap*>(holder.Picture().Graphic());
    ASSERT_NE(bmp, nullptr);
    EXPECT_EQ(bmp->Width(), 40);
    EXPECT_EQ(bmp->Height(), 40);
    EXPECT_EQ(&canvas, &bmp->Canvas());
    EXPECT_EQ(&holder.Canvas(), &canvas);
}

TEST(Image, CanvasRefusedForNonBitmapPictures) {
    TImage holder(10, 10);
    holder.Picture().SetGraphic(std::make_unique<TJPEGImage>());
    EXPECT_EQ(messageOf([&] { holder.Canvas(); }), "Can only modify an image if it contains a bitmap");
    holder.Picture().Clear();
    EXPECT_NO_THROW(holder.Canvas());
}

TEST(Image, AutoSizeAndTransparentFlag) {
    TImage holder(10, 10);
    holder.SetAutoSize(true);
    auto big = std::make_unique<TBitmap>(30, 20);
    big->SetTransparent(true);
    TBitmap* raw = big.get();
    holder.Picture().SetGraphic(std::move(big));
    EXPECT_EQ(holder.Width(), 30);
    EXPECT_EQ(holder.Height(), 20);
    EXPECT_FALSE(raw->IsTransparent());  // the holder's flag wins
    holder.Picture().SetGraphic(std::make_unique<TBitmap>(0, 5));
    EXPECT_EQ(holder.Width(), 30);  // a picture of width 0 leaves the size alone

    glxtest::TempFolder dir;
    test::writeBytes((dir / "broken.bmp").string(), {'B', 'M', 1});
    EXPECT_THROW(holder.Picture().LoadFile((dir / "broken.bmp").string()), EReadError);
    EXPECT_EQ(holder.Width(), 30);  // a failed load changes neither picture nor size
    EXPECT_EQ(holder.Picture().Height(), 5);

    TImage later(5, 5);
    later.Picture().SetGraphic(std::make_unique<TBitmap>(8, 9));
    EXPECT_EQ(later.Width(), 5);
    later.SetAutoSize(true);  // applied at once
    EXPECT_EQ(later.Width(), 8);
    EXPECT_EQ(later.Height(), 9);
}

// A header read ahead declares a size only when the file could fill the
// share of its data its reader asks for: a few bytes claiming a huge
// picture declare nothing, as their readers refuse them before taking
// memory. Run-length BMP data may fill 255 pixels with 2 bytes.
TEST(DeclaredSize, OnlyWhatTheFileCouldFill) {
    auto png = [](uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, size_t fileBytes) {
        std::string s = std::string("\x89PNG\r\n\x1a\n", 8);
        glxtest::be32(s, 13);
        s += "IHDR";
        glxtest::be32(s, w);
        glxtest::be32(s, h);
        s += std::string{static_cast<char>(depth), static_cast<char>(colorType), 0, 0, 0};
        s += std::string(4, '\0');  // the CRC: not looked at
        s.resize(std::max(s.size(), fileBytes), '\0');
        return s;
    };
    auto bmp = [](int32_t w, int32_t h, uint16_t bits, uint32_t compression, size_t fileBytes) {
        std::string s = glxtest::bmpHeader(w, h, bits, compression, 0, 0);
        s.resize(std::max<size_t>(54, fileBytes), '\0');
        return s;
    };
    // 16000 x 16000 RGBA: 1,024,016,000 bytes of filtered rows, of which
    // 1/64 inflates from 15,505 bytes at best.
    const uint64_t rgbaRows = 16000ull * (1 + 16000ull * 4);
    const size_t enough = static_cast<size_t>((rgbaRows / 64 + 1031) / 1032);
    struct Case {
        std::string bytes;
        std::optional<DeclaredSize> size;
    } cases[] = {
        {png(16000, 16000, 8, 6, 0), std::nullopt},
        {png(16000, 16000, 8, 6, enough - 1), std::nullopt},
        {png(16000, 16000, 8, 6, enough), DeclaredSize{16000, 16000}},
        {png(16000, 16000, 1, 0, enough), DeclaredSize{16000, 16000}},  // 1 bit per pixel needs less
        {png(3, 3, 8, 5, 100), std::nullopt},  // no such colour type
        {png(16385, 16384, 1, 0, size_t(1) << 20), std::nullopt},  // past the pixel limit
        {png(0xFFFFFFFF, 0xFFFFFFFF, 16, 6, 100), std::nullopt},
        {bmp(4000, -4000, 24, 0, 4000 * 12000 / 64 - 1), std::nullopt},
        {bmp(4000, -4000, 24, 0, 4000 * 12000 / 64), DeclaredSize{4000, 4000}},
        {bmp(4000, 4000, 8, 1, 4000 * 4000 / 64 / 255 * 2 + 2), DeclaredSize{4000, 4000}},
        {bmp(4000, 4000, 8, 0, 4000 * 4000 / 64 / 255 * 2 + 2), std::nullopt},
        {bmp(-5, 5, 24, 0, 200), std::nullopt},
        {bmp(5, 5, 0, 0, 200), std::nullopt},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        TMemoryStream stream(std::vector<uint8_t>(cases[i].bytes.begin(), cases[i].bytes.end()));
        EXPECT_EQ(declaredPictureSize(stream, Limits{}), cases[i].size) << "case " << i;
    }
}

}  // namespace
}  // namespace glx
