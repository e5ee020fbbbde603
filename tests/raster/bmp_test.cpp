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
#include "raster_test_util.h"

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

// A flat JSON array of integers.
std::vector<int> readJsonArray(const std::string& path) {
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int> out;
    int value = 0;
    bool inNumber = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            inNumber = true;
        } else if (inNumber) {
            out.push_back(value);
            value = 0;
            inNumber = false;
        }
    }
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
    std::vector<int> px = readJsonArray(json);
    ASSERT_EQ(px.size(), size_t(4) * bmp.Width() * bmp.Height());
    // References of 16-bit sources without an 8-bit variant hold 16-bit samples.
    const bool sixteen = *std::max_element(px.begin(), px.end()) > 255;
    int mismatches = 0;
    for (int32_t y = 0; y < bmp.Height(); ++y) {
        for (int32_t x = 0; x < bmp.Width(); ++x) {
            const size_t i = 4 * (size_t(y) * bmp.Width() + x);
            auto s = [&](size_t k) { return sixteen ? px[i + k] >> 8 : px[i + k]; };
            if (s(3) == 0) continue;  // colour under full transparency is undefined
            if (bmp.Dib().pixel(x, y) != rgb(uint8_t(s(0)), uint8_t(s(1)), uint8_t(s(2)))) ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0);

    // Written back (40-byte header, bit fields kept) and read again: same pixels.
    TBitmap again;
    readFromBytes(again, writtenBytes(bmp));
    EXPECT_EQ(test::pixelsOf(again.Dib()), test::pixelsOf(bmp.Dib()));
}

INSTANTIATE_TEST_SUITE_P(All, PngSuiteBmp, ::testing::ValuesIn(filesIn(test::dataPath("bmp/pngsuite/bmp"), ".bmp")),
                         [](const auto& info) { return info.param; });

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
    EXPECT_EQ(test::pixelsOf(bmp.Dib()), expect);

    const std::vector<uint8_t> bytes = writtenBytes(bmp);
    TBitmap again;
    readFromBytes(again, bytes);
    EXPECT_EQ(again.BitsPerPixel(), bmp.BitsPerPixel());
    EXPECT_EQ(test::pixelsOf(again.Dib()), expect);
    // Written a second time: stable.
    EXPECT_EQ(writtenBytes(again), bytes);
}

INSTANTIATE_TEST_SUITE_P(All, BmpFixture, ::testing::ValuesIn(filesIn(test::dataPath("bmp"), ".bmp")),
                         [](const auto& info) { return info.param; });

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
    EXPECT_EQ(bmp.Dib().colorTable().size(), 16u);
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

        test::ScratchDir dir;
        bmp.SaveFile(dir.file("copy.bmp"));
        EXPECT_EQ(test::fileBytes(dir.file("copy.bmp")), original) << name;

        bmp.Canvas().SetPixel(0, 0, rgb(1, 2, 3));
        auto bytes = writtenBytes(bmp);
        EXPECT_NE(bytes, original);
        Header h = parseHeader(bytes);
        EXPECT_EQ(h.compression, 0u) << name;
        TBitmap again;
        readFromBytes(again, bytes);
        EXPECT_EQ(test::pixelsOf(again.Dib()), test::pixelsOf(bmp.Dib())) << name;
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
    test::ScratchDir dir;
    const std::string path = dir.file("keep.bmp");
    test::writeBytes(path, {1, 2, 3});
    TBitmap bmp(2, 2);
    fs::create_directory(dir.file("sub"));
    EXPECT_ANY_THROW(bmp.SaveFile(dir.file("sub")));  // a folder cannot be replaced by a file
    EXPECT_EQ(test::fileBytes(path), (std::vector<uint8_t>{1, 2, 3}));
    bmp.SaveFile(path);
    EXPECT_EQ(test::fileBytes(path).size(), 14u + 40u + 16u);
}

TEST(BmpRead, PixelOffsetGapIsSkipped) {
    // The fixture has 12 junk bytes between the header and the pixels.
    auto bmpOwned = loadBitmap(test::dataPath("bmp/rgb24_gap.bmp"));
    TBitmap& bmp = *bmpOwned;
    int32_t w, h;
    EXPECT_EQ(test::pixelsOf(bmp.Dib()), expectedPixels("rgb24_gap", w, h));
}

TEST(BmpRead, ShortPixelDataLeavesMissingRowsZero) {
    auto bytes = test::fileBytes(test::dataPath("bmp/rgb24_5x3.bmp"));
    bytes.resize(bytes.size() - 16);  // the top row and part of the middle one are missing
    TBitmap bmp;
    readFromBytes(bmp, bytes);
    EXPECT_EQ(bmp.Dib().pixel(0, 0), clBlack);
    int32_t w, h;
    auto expect = expectedPixels("rgb24_5x3", w, h);
    EXPECT_EQ(bmp.Dib().pixel(4, 2), expect[14]);
}

struct Malformed {
    const char* file;
    const char* message;  // nullptr: only the class is checked
};

class MalformedBmp : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedBmp, RefusedKeepingPreviousContent) {
    const Malformed m = GetParam();
    TBitmap bmp(2, 3);
    bmp.Dib().setPixel(1, 1, rgb(9, 8, 7));
    try {
        bmp.LoadFile(test::dataPath(std::string("bmp/malformed/") + m.file + ".bmp"));
        FAIL() << "no exception";
    } catch (const Exception& e) {
        if (m.message)
            EXPECT_STREQ(e.what(), m.message);
        else
            EXPECT_NE(dynamic_cast<const ELimitExceeded*>(&e), nullptr) << e.what();
    }
    EXPECT_EQ(bmp.Width(), 2);
    EXPECT_EQ(bmp.Height(), 3);
    EXPECT_EQ(bmp.Dib().pixel(1, 1), rgb(9, 8, 7));
}

INSTANTIATE_TEST_SUITE_P(
    All, MalformedBmp,
    ::testing::Values(Malformed{"type_BA", "Bitmap image is not valid"},
                      Malformed{"truncated_file_header", "Stream read error"},
                      Malformed{"truncated_info_header", "Stream read error"},
                      Malformed{"planes_2", "Bitmap image is not valid"},
                      Malformed{"bpp_7", "Bitmap image is not valid"},
                      Malformed{"compression_jpeg", "Bitmap image is not valid"},
                      Malformed{"header_size_20", "Bitmap image is not valid"},
                      Malformed{"negative_width", "Bitmap image is not valid"},
                      Malformed{"truncated_colour_table", "Stream read error"},
                      Malformed{"colours_used_huge", "Stream read error"},
                      Malformed{"oversize_20000x20000", nullptr}, Malformed{"oversize_70000x70000", nullptr}),
    [](const auto& info) { return std::string(info.param.file); });

TEST(BmpRead, OversizeMessageNamesTheSize) {
    TBitmap bmp;
    try {
        bmp.LoadFile(test::dataPath("bmp/malformed/oversize_20000x20000.bmp"));
        FAIL();
    } catch (const ELimitExceeded& e) {
        EXPECT_NE(std::string(e.what()).find("20000 x 20000"), std::string::npos) << e.what();
    }
}

// Every prefix of every fixture either reads or fails with an exception;
// run under the sanitizer build this also proves no read leaves the buffer.
TEST(BmpRead, EveryTruncationFailsCleanlyOrReads) {
    for (const std::string& name : filesIn(test::dataPath("bmp"), ".bmp")) {
        const auto full = test::fileBytes(test::dataPath("bmp/" + name + ".bmp"));
        for (size_t n = 0; n < full.size(); ++n) {
            std::vector<uint8_t> part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
            TBitmap bmp;
            try {
                readFromBytes(bmp, part);
            } catch (const EReadError&) {
            } catch (const EInvalidGraphic&) {
            }
        }
    }
}

}  // namespace
}  // namespace glx
