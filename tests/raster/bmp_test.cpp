// BMP reading and writing: the PngSuite conversions, generated fixtures of
// every header and pixel format, write-back forms and malformed files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/byte_reader.h"
#include "base/exception.h"
#include "base/stream.h"
#include "raster/bitmap.h"
#include "raster/bmp.h"
#include "raster/canvas.h"
#include "raster/declared_size.h"
#include "raster_test_util.h"
#include "support/json_numbers.h"
#include "support/process.h"

namespace glx {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> filesIn(const std::string& dir, const std::string& ext) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ext) out.push_back(e.path().stem().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::unique_ptr<TBitmap> loadBitmap(const std::string& path) {
    auto bmp = std::make_unique<TBitmap>();
    bmp->LoadFile(path);
    return bmp;
}

std::vector<uint8_t> writtenBytes(const TBitmap& bmp) {
    TMemoryStream out;
    bmp.WriteTo(out);
    return out.bytes();
}

void readFromBytes(TBitmap& bmp, const std::vector<uint8_t>& bytes) {
    TMemoryStream in(bytes);
    bmp.ReadFrom(in);
}

// ------------------------------------------------------------ PngSuite

class PngSuiteBmp : public ::testing::TestWithParam<std::string> {};

TEST_P(PngSuiteBmp, PixelsMatchTheReference) {
    const std::string name = GetParam();
    TBitmap bmp;
    bmp.LoadFile(test::dataPath("bmp/pngsuite/bmp/" + name + ".bmp"));
    std::string json = test::dataPath("bmp/pngsuite/json/" + name + "_to8.json");
    if (!fs::exists(json)) json = test::dataPath("bmp/pngsuite/json/" + name + ".json");
    const std::vector<uint32_t> px = glxtest::readNumbers(json);
    ASSERT_EQ(px.size(), size_t(4 * bmp.Width() * bmp.Height()));
    EXPECT_EQ(declaredPictureSize(test::dataPath("bmp/pngsuite/bmp/" + name + ".bmp"), Limits{}),
              (DeclaredSize{bmp.Width(), bmp.Height()}));
    // References of 16-bit sources without an 8-bit variant hold 16-bit samples.
    const bool sixteen = *std::max_element(px.begin(), px.end()) > 255;
    int mismatches = 0;
    for (int32_t y = 0; y < bmp.Height(); ++y) {
        for (int32_t x = 0; x < bmp.Width(); ++x) {
            const auto i = static_cast<size_t>(4 * (y * bmp.Width() + x));
            auto s = [&](size_t k) { return sixteen ? px[i + k] >> 8 : px[i + k]; };
            if (s(3) == 0) continue;  // colour under full transparency is undefined
            if (bmp.Pixels().pixel(x, y) != rgb(uint8_t(s(0)), uint8_t(s(1)), uint8_t(s(2)))) ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0);

    // Written back (40-byte header, bit fields kept) and read again: same pixels.
    TBitmap again;
    readFromBytes(again, writtenBytes(bmp));
    EXPECT_EQ(test::pixelsOf(again.Pixels()), test::pixelsOf(bmp.Pixels()));
}

INSTANTIATE_TEST_SUITE_P(All, PngSuiteBmp, ::testing::ValuesIn(filesIn(test::dataPath("bmp/pngsuite/bmp"), ".bmp")),
                         [](const auto& test) { return test.param; });

// ------------------------------------------------------------ fixtures

std::vector<TColor> expectedPixels(const std::string& name, int32_t& w, int32_t& h) {
    std::ifstream in(test::dataPath("bmp/" + name + ".expect"));
    in >> w >> h;
    std::vector<TColor> out;
    std::string hex;
    while (in >> hex) {
        uint32_t v = static_cast<uint32_t>(std::stoul(hex, nullptr, 16));
        out.push_back(rgb(uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)));
    }
    return out;
}

class BmpFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(BmpFixture, ReadWriteAndReadAgain) {
    const std::string name = GetParam();
    int32_t w = 0, h = 0;
    const std::vector<TColor> expect = expectedPixels(name, w, h);
    auto bmpOwned = loadBitmap(test::dataPath("bmp/" + name + ".bmp"));
    TBitmap& bmp = *bmpOwned;
    ASSERT_EQ(bmp.Width(), w);
    ASSERT_EQ(bmp.Height(), h);
    EXPECT_EQ(declaredPictureSize(test::dataPath("bmp/" + name + ".bmp"), Limits{}), (DeclaredSize{w, h}));
    EXPECT_EQ(test::pixelsOf(bmp.Pixels()), expect);

    const std::vector<uint8_t> bytes = writtenBytes(bmp);
    TBitmap again;
    readFromBytes(again, bytes);
    EXPECT_EQ(again.BitsPerPixel(), bmp.BitsPerPixel());
    EXPECT_EQ(test::pixelsOf(again.Pixels()), expect);
    // Written a second time: stable.
    EXPECT_EQ(writtenBytes(again), bytes);
}

INSTANTIATE_TEST_SUITE_P(All, BmpFixture, ::testing::ValuesIn(filesIn(test::dataPath("bmp"), ".bmp")),
                         [](const auto& test) { return test.param; });

struct Header {
    uint32_t fileSize, offset, infoSize;
    int32_t width, height;
    uint16_t bpp;
    uint32_t compression, imageSize, colorsUsed;
};

Header parseHeader(const std::vector<uint8_t>& b) {
    ByteReader r(b);
    Header h{};
    r.u16le();
    h.fileSize = r.u32le();
    r.u32le();
    h.offset = r.u32le();
    h.infoSize = r.u32le();
    if (h.infoSize == 12) {
        h.width = r.u16le();
        h.height = r.u16le();
        r.u16le();
        h.bpp = r.u16le();
        return h;
    }
    h.width = r.i32le();
    h.height = r.i32le();
    r.u16le();
    h.bpp = r.u16le();
    h.compression = r.u32le();
    h.imageSize = r.u32le();
    r.u32le();
    r.u32le();
    h.colorsUsed = r.u32le();
    return h;
}

TEST(BmpWrite, ThreeByTwoTrueColourIs78Bytes) {
    auto bmpOwned = loadBitmap(test::dataPath("bmp/rgb24_3x2.bmp"));
    TBitmap& bmp = *bmpOwned;
    auto bytes = writtenBytes(bmp);
    ASSERT_EQ(bytes.size(), 78u);
    Header h = parseHeader(bytes);
    EXPECT_EQ(h.fileSize, 78u);
    EXPECT_EQ(h.offset, 54u);
    EXPECT_EQ(h.imageSize, 24u);  // two rows of 12 bytes: 9 of pixels, 3 of padding
    const auto original = test::fileBytes(test::dataPath("bmp/rgb24_3x2.bmp"));
    EXPECT_TRUE(std::equal(bytes.begin() + 54, bytes.end(), original.begin() + 54));

    // A new bitmap of that size writes the same layout.
    TBitmap fresh(3, 2);
    EXPECT_EQ(writtenBytes(fresh).size(), 78u);
}

TEST(BmpWrite, LongHeadersAreWrittenWith40Bytes) {
    auto bmpOwned = loadBitmap(test::dataPath("bmp/rgb24_v5_124.bmp"));
    TBitmap& bmp = *bmpOwned;
    Header h = parseHeader(writtenBytes(bmp));
    EXPECT_EQ(h.infoSize, 40u);
    EXPECT_EQ(h.offset, 54u);
    EXPECT_EQ(h.compression, 0u);

    auto masksOwned = loadBitmap(test::dataPath("bmp/rgb16_565_124.bmp"));
    TBitmap& masks = *masksOwned;
    auto bytes = writtenBytes(masks);
    h = parseHeader(bytes);
    EXPECT_EQ(h.infoSize, 40u);
    EXPECT_EQ(h.compression, 3u);
    EXPECT_EQ(h.offset, 66u);  // 14 + 40 + three masks
    ByteReader r(bytes);
    r.seek(54);
    EXPECT_EQ(r.u32le(), 0xF800u);
    EXPECT_EQ(r.u32le(), 0x07E0u);
    EXPECT_EQ(r.u32le(), 0x001Fu);
}

TEST(BmpWrite, ColoursUsedTableSizeIsKept) {
    auto bmpOwned = loadBitmap(test::dataPath("bmp/idx8_used16.bmp"));
    TBitmap& bmp = *bmpOwned;
    EXPECT_EQ(bmp.Pixels().colorTable().size(), 16u);
    Header h = parseHeader(writtenBytes(bmp));
    EXPECT_EQ(h.colorsUsed, 16u);
    EXPECT_EQ(h.offset, 14u + 40u + 64u);
}

TEST(BmpWrite, TopDownFileIsWrittenBottomUp) {
    auto bmpOwned = loadBitmap(test::dataPath("bmp/rgb24_topdown.bmp"));
    TBitmap& bmp = *bmpOwned;
    Header h = parseHeader(writtenBytes(bmp));
    EXPECT_EQ(h.height, 3);
}

TEST(BmpWrite, OS2FileIsWrittenInOS2Form) {
    const auto original = test::fileBytes(test::dataPath("bmp/os2_idx4.bmp"));
    auto bmpOwned = loadBitmap(test::dataPath("bmp/os2_idx4.bmp"));
    TBitmap& bmp = *bmpOwned;
    EXPECT_TRUE(bmp.FromOS2());
    auto bytes = writtenBytes(bmp);
    Header h = parseHeader(bytes);
    EXPECT_EQ(h.infoSize, 12u);
    EXPECT_EQ(h.offset, 14u + 12u + 3u * 16u);
    EXPECT_EQ(bytes, original);
}

TEST(BmpWrite, RunLengthFileWrittenBackUnchangedUntilDrawnOn) {
    for (const char* name : {"rle8", "rle4"}) {
        const auto original = test::fileBytes(test::dataPath(std::string("bmp/") + name + ".bmp"));
        auto bmpOwned = loadBitmap(test::dataPath(std::string("bmp/") + name + ".bmp"));
        TBitmap& bmp = *bmpOwned;
        EXPECT_EQ(bmp.KeptFileBytes().size(), original.size());
        EXPECT_EQ(writtenBytes(bmp), original) << name;

        glxtest::TempFolder dir;
        bmp.SaveFile((dir / "copy.bmp").string());
        EXPECT_EQ(test::fileBytes((dir / "copy.bmp").string()), original) << name;

        bmp.Canvas().SetPixel(0, 0, rgb(1, 2, 3));
        auto bytes = writtenBytes(bmp);
        EXPECT_NE(bytes, original);
        Header h = parseHeader(bytes);
        EXPECT_EQ(h.compression, 0u) << name;
        TBitmap again;
        readFromBytes(again, bytes);
        EXPECT_EQ(test::pixelsOf(again.Pixels()), test::pixelsOf(bmp.Pixels())) << name;
    }
}

TEST(BmpWrite, ResizingDropsKeptBytes) {
    auto bmpOwned = loadBitmap(test::dataPath("bmp/rle8.bmp"));
    TBitmap& bmp = *bmpOwned;
    bmp.SetWidth(8);
    EXPECT_TRUE(bmp.KeptFileBytes().empty());
    EXPECT_EQ(parseHeader(writtenBytes(bmp)).width, 8);
}

TEST(BmpWrite, EmptyBitmapWritesNothingAndReadsBackEmpty) {
    TBitmap bmp;
    EXPECT_TRUE(writtenBytes(bmp).empty());
    TBitmap other(2, 2);
    readFromBytes(other, {});
    EXPECT_TRUE(other.IsEmpty());
}

TEST(BmpWrite, SaveFailureLeavesExistingFile) {
    glxtest::TempFolder dir;
    const std::string path = (dir / "keep.bmp").string();
    test::writeBytes(path, {1, 2, 3});
    TBitmap bmp(2, 2);
    fs::create_directory((dir / "sub").string());
    EXPECT_ANY_THROW(bmp.SaveFile((dir / "sub").string()));  // a folder cannot be replaced by a file
    EXPECT_EQ(test::fileBytes(path), (std::vector<uint8_t>{1, 2, 3}));
    bmp.SaveFile(path);
    EXPECT_EQ(test::fileBytes(path).size(), 14u + 40u + 16u);
}

TEST(BmpRead, PixelOffsetGapIsSkipped) {
    // The fixture has 12 junk bytes between the header and the pixels.
    auto bmpOwned = loadBitmap(test::dataPath("bmp/rgb24_gap.bmp"));
    TBitmap& bmp = *bmpOwned;
    int32_t w, h;
    EXPECT_EQ(test::pixelsOf(bmp.Pixels()), expectedPixels("rgb24_gap", w, h));
}

TEST(BmpRead, ShortPixelDataLeavesMissingRowsZero) {
    auto bytes = test::fileBytes(test::dataPath("bmp/rgb24_5x3.bmp"));
    bytes.resize(bytes.size() - 16);  // the top row and part of the middle one are missing
    TBitmap bmp;
    readFromBytes(bmp, bytes);
    EXPECT_EQ(bmp.Pixels().pixel(0, 0), clBlack);
    int32_t w, h;
    auto expect = expectedPixels("rgb24_5x3", w, h);
    EXPECT_EQ(bmp.Pixels().pixel(4, 2), expect[14]);
}

// Pixel data must be able to fill 1/64 of the picture: rows of a 24-bit
// 4 x 640 picture (12 bytes each, 7680 in all) read from 120 bytes (the
// bottom 10 rows, the rest 0) but are refused from 119, and so are rows the
// image-size field cuts to 119 bytes although the file holds them all.
TEST(BmpRead, PixelDataMustFillASixtyFourthOfThePicture) {
    TBitmap source(4, 640);
    source.Canvas().Brush.setColor(rgb(10, 20, 30));
    source.Canvas().FillArea(makeRect(0, 0, 4, 640));
    std::vector<uint8_t> full;
    {
        TMemoryStream out;
        source.WriteTo(out);
        full = out.bytes();
    }
    const size_t pixelStart = 54;
    ASSERT_EQ(full.size(), pixelStart + 7680);

    TBitmap bmp;
    readFromBytes(bmp, std::vector<uint8_t>(full.begin(), full.begin() + pixelStart + 120));
    EXPECT_EQ(bmp.Pixels().pixel(3, 639), rgb(10, 20, 30));
    EXPECT_EQ(bmp.Pixels().pixel(3, 630), rgb(10, 20, 30));
    EXPECT_EQ(bmp.Pixels().pixel(0, 629), clBlack);

    auto refused = [](const std::vector<uint8_t>& bytes) {
        TBitmap b;
        try {
            readFromBytes(b, bytes);
        } catch (const ELimitExceeded& e) {
            return std::string(e.what());
        }
        return std::string("(read)");
    };
    const std::string msg = refused(std::vector<uint8_t>(full.begin(), full.begin() + pixelStart + 119));
    EXPECT_EQ(msg, "Picture size 4 x 640 is refused: its 119 bytes of data could not fill 1/64 of it");
    std::vector<uint8_t> promised = full;
    promised[34] = 119;  // the image-size field
    promised[35] = 0;
    EXPECT_NE(refused(promised), "(read)");

    // Other limits handed to the reader: the share and the size they set
    // are the ones refused and named.
    Limits strict;
    strict.dataShare = 2;
    auto decoded = [](const std::vector<uint8_t>& bytes, const Limits& limits) {
        try {
            decodeBmp(bytes, limits);
        } catch (const ELimitExceeded& e) {
            return std::string(e.what());
        }
        return std::string("(read)");
    };
    const std::vector<uint8_t> half(full.begin(), full.begin() + pixelStart + 3840);
    EXPECT_EQ(decoded(half, strict), "(read)");
    EXPECT_EQ(decoded(std::vector<uint8_t>(half.begin(), half.end() - 1), strict),
              "Picture size 4 x 640 is refused: its 3839 bytes of data could not fill 1/2 of it");
    Limits small;
    small.pixels = 2000;
    EXPECT_EQ(decoded(full, small), "Picture size 4 x 640 is too large (the limit is 2000 pixels, 44 x 44)");
}

// A run-length code of 2 bytes yields at most 255 pixels: 2040 x 2048
// pixels need 512 bytes of data to reach 1/64 of them, 510 are refused.
TEST(BmpRead, RunLengthDataMustFillASixtyFourthOfThePicture) {
    auto rle8 = [](uint32_t dataBytes) {
        std::vector<uint8_t> file = test::fileBytes(test::dataPath("bmp/rle8.bmp"));
        const uint32_t pixelStart = uint32_t(file[10]) | uint32_t(file[11]) << 8;
        file.resize(pixelStart);
        auto put32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i) file[at + size_t(i)] = static_cast<uint8_t>(v >> (8 * i));
        };
        put32(18, 2040);
        put32(22, 2048);
        put32(34, dataBytes);
        for (uint32_t i = 0; i + 2 < dataBytes; i += 2) {
            file.push_back(255);  // 255 pixels of index 7
            file.push_back(7);
        }
        file.push_back(0);  // end of picture
        file.push_back(1);
        return file;
    };
    TBitmap bmp;
    readFromBytes(bmp, rle8(512));
    EXPECT_EQ(bmp.Pixels().index(0, 2047), 7u);
    EXPECT_EQ(bmp.Pixels().index(0, 0), 0u);
    EXPECT_THROW(readFromBytes(bmp, rle8(510)), ELimitExceeded);
    EXPECT_EQ(bmp.Pixels().index(0, 2047), 7u);  // the refused read left the picture as it was
}

// The run-length data ends where its image-size field says, or at its
// end-of-picture code without one: bytes after it are neither read nor
// kept, and the picture is still written back as its file was.
TEST(BmpRead, RunLengthFileIsReadAndKeptOnlyAsFarAsItsData) {
    const auto original = test::fileBytes(test::dataPath("bmp/rle8.bmp"));
    std::vector<uint8_t> noSize = original;
    std::fill(noSize.begin() + 34, noSize.begin() + 38, 0);
    for (const auto& file : {original, noSize}) {
        std::vector<uint8_t> padded = file;
        padded.resize(file.size() + (size_t(4) << 20), 0x5A);
        test::CountingStream stream(padded);
        TBitmap bmp;
        bmp.ReadFrom(stream);
        EXPECT_EQ(stream.position(), static_cast<int64_t>(padded.size()));
        EXPECT_LT(stream.bytesRead, file.size() + (uint64_t(64) << 10));
        EXPECT_EQ(bmp.KeptFileBytes(), file);
        EXPECT_EQ(writtenBytes(bmp), file);
        int32_t w, h;
        EXPECT_EQ(test::pixelsOf(bmp.Pixels()), expectedPixels("rle8", w, h));
    }
}

// Every prefix of every fixture either reads or fails with an exception;
// run under the sanitizer build this also proves no read leaves the buffer.
// A prefix that reads has the size its header declares.
TEST(BmpRead, EveryTruncationFailsCleanlyOrReads) {
    for (const std::string& name : filesIn(test::dataPath("bmp"), ".bmp")) {
        const auto full = test::fileBytes(test::dataPath("bmp/" + name + ".bmp"));
        for (size_t n = 0; n < full.size(); ++n) {
            std::vector<uint8_t> part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
            TMemoryStream stream(part);
            const std::optional<DeclaredSize> declared = declaredPictureSize(stream, Limits{});
            TBitmap bmp;
            try {
                readFromBytes(bmp, part);
                if (declared) {
                    EXPECT_EQ(*declared, (DeclaredSize{bmp.Width(), bmp.Height()})) << name << " " << n;
                }
            } catch (const EReadError&) {
            } catch (const EInvalidGraphic&) {
            } catch (const ELimitExceeded&) {  // rows too few for the picture
            }
        }
    }
}

}  // namespace
}  // namespace glx
