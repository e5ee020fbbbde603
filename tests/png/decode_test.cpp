// Image data decoding: IDAT runs, filters, Adam7, damaged and hostile data.
#include <gtest/gtest.h>

#include <cstring>

#include "png_test_util.h"

namespace glx::pngtest {
namespace {

// A 3 x 2 RGBA image: rows of (r, g, b, a) samples.
const std::vector<Bytes> kRgbaRows = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
                                      {13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24}};

Bytes rgbaPng(const std::vector<Bytes>& idatPieces) {
    PngBuilder b;
    b.signature().ihdr(3, 2, 8, 6);
    for (const auto& p : idatPieces) b.chunk("IDAT", p);
    return b.iend().bytes();
}

void expectRgbaPixels(const TPNGObject& img) {
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x) {
            const uint8_t* s = &kRgbaRows[static_cast<size_t>(y)][static_cast<size_t>(x * 4)];
            const uint8_t* p = img.PixelRow(y) + 3 * x;
            EXPECT_EQ(p[0], s[2]) << x << "," << y;  // blue first
            EXPECT_EQ(p[1], s[1]);
            EXPECT_EQ(p[2], s[0]);
            EXPECT_EQ(img.AlphaRow(y)[x], s[3]);
        }
}

TEST(PngDecode, RgbaRowsAreBlueGreenRedWithTheirAlphaPlane) {
    TPNGObject img;
    loadFromBytes(img, rgbaPng({zlibCompress(filterNone(kRgbaRows))}));
    expectRgbaPixels(img);
    EXPECT_EQ(img.AlphaRow(1), img.AlphaRow(0) + 3);
}

TEST(PngDecode, ImageDataSplitIntoManyChunksDecodesTheSame) {
    Bytes z = zlibCompress(filterNone(kRgbaRows));
    for (size_t piece : {1u, 2u, 7u}) {
        std::vector<Bytes> pieces;
        for (size_t i = 0; i < z.size(); i += piece)
            pieces.emplace_back(z.begin() + static_cast<long>(i),
                                z.begin() + static_cast<long>(std::min(z.size(), i + piece)));
        pieces.insert(pieces.begin() + 1, Bytes{});  // an empty IDAT chunk inside the run
        TPNGObject img;
        loadFromBytes(img, rgbaPng(pieces));
        expectRgbaPixels(img);
        EXPECT_EQ(img.Chunks().SlotCount(), 3u);  // IHDR, one IDAT place holder, IEND
    }
}

// What decoding a file gives: the error raised, or the pixels, the chunks
// kept and where the stream was left.
struct Outcome {
    std::string error;
    Bytes pixels;
    std::string chunks;
    int64_t end = 0;
    friend bool operator==(const Outcome&, const Outcome&) = default;
    friend void PrintTo(const Outcome& o, std::ostream* out) {
        *out << "{error \"" << o.error << "\", chunks " << o.chunks << ", " << o.pixels.size() << " pixel bytes, end "
             << o.end << "}";
    }
};

Outcome decodeWith(const Bytes& file, size_t wholeInflateBytes, CrcPolicy crc) {
    TPNGObject img;
    ReadOptions options;
    options.limits.wholeInflateBytes = wholeInflateBytes;
    options.crc = crc;
    img.SetOptions(options);
    Outcome out;
    TMemoryStream stream(file);
    try {
        img.ReadFrom(stream);
    } catch (const Exception& e) {
        out.error = e.what();
        return out;
    }
    out.end = stream.position();
    for (uint32_t i = 0; i < img.Chunks().SlotCount(); ++i) out.chunks += img.Chunks().Item(i)->TypeName() + " ";
    for (int32_t y = 0; y < img.Height(); ++y) {
        out.pixels.insert(out.pixels.end(), img.PixelRow(y), img.PixelRow(y) + 3 * img.Width());
        out.pixels.insert(out.pixels.end(), img.AlphaRow(y), img.AlphaRow(y) + img.Width());
    }
    return out;
}

// Small pictures are inflated in one call, large ones (and every picture
// under a whole-inflate limit of 0) row by row: both ways give the same
// pixels, errors, chunks and end position for a picture split over many
// IDAT chunks, plain and interlaced, every filter in use, and for every
// prefix of it and every byte of it changed, with CRCs checked and ignored.
TEST(PngDecode, WholeAndStreamedImageDataGiveTheSameOutcome) {
    for (uint8_t interlace : {uint8_t(0), uint8_t(1)}) {
        auto src = TPNGObject::CreateNew(6, 8, 37, 23);
        for (int32_t y = 0; y < 23; ++y)
            for (int32_t x = 0; x < 37; ++x) {
                uint8_t* p = src->PixelRow(y) + 3 * x;
                p[0] = static_cast<uint8_t>(x * x + y);
                p[1] = static_cast<uint8_t>(x * 11 ^ y * 5);
                p[2] = static_cast<uint8_t>((x + y) * 9);
                src->AlphaRow(y)[x] = static_cast<uint8_t>(255 - x * y);
            }
        src->Interlacing = interlace;
        src->RowFilters = 0x1F;
        Bytes z;
        for (const auto& c : splitChunks(saveToBytes(*src)))
            if (c.type == "IDAT") z.insert(z.end(), c.payload.begin(), c.payload.end());
        PngBuilder b;
        b.signature().ihdr(37, 23, 8, 6, interlace);
        for (size_t i = 0; i < z.size(); i += 500)
            b.chunk("IDAT", Bytes(z.begin() + static_cast<long>(i),
                                  z.begin() + static_cast<long>(std::min(z.size(), i + 500))));
        b.chunk("IDAT", {1, 2, 3});  // behind the stream's end
        const Bytes file = b.iend().bytes();
        const Outcome intact = decodeWith(file, size_t(4) << 20, CrcPolicy::Check);
        ASSERT_EQ(intact.error, "");
        for (int32_t y = 0; y < 23; ++y)
            EXPECT_EQ(0, std::memcmp(intact.pixels.data() + size_t(y) * 37 * 4, src->PixelRow(y), 3 * 37)) << y;

        auto same = [&](const Bytes& variant, const std::string& what) {
            for (CrcPolicy crc : {CrcPolicy::Check, CrcPolicy::Ignore})
                ASSERT_EQ(decodeWith(variant, size_t(4) << 20, crc), decodeWith(variant, 0, crc))
                    << what << (crc == CrcPolicy::Ignore ? ", CRCs ignored" : "");
        };
        same(file, "intact");
        for (size_t n = 8; n < file.size(); ++n) same(Bytes(file.begin(), file.begin() + static_cast<long>(n)), "cut");
        for (size_t i = 8; i < file.size(); ++i) {
            Bytes changed = file;
            changed[i] ^= 0x55;
            same(changed, "byte " + std::to_string(i) + " changed");
        }
        // The run interrupted by another chunk, and a stream the run only
        // partly holds: as big as the limit, then one byte bigger.
        Bytes interrupted = file;
        const Bytes text = PngBuilder().chunk("tEXt", {'k', 0, 'v'}).bytes();
        interrupted.insert(interrupted.begin() + 33 + 12 + 500, text.begin(), text.end());
        same(interrupted, "interrupted");
        const size_t rows = interlace ? 0 : 23 * (37 * 4 + 1);
        if (rows) {
            for (size_t limit : {rows, rows - 1, z.size(), z.size() - 1})
                EXPECT_EQ(decodeWith(file, limit, CrcPolicy::Check), intact) << limit;
        }
    }
}

TEST(PngDecode, ImageDataInterruptedByAnotherChunkIsMissingParts) {
    Bytes z = zlibCompress(filterNone(kRgbaRows));
    PngBuilder b;
    b.signature().ihdr(3, 2, 8, 6).chunk("IDAT", Bytes(z.begin(), z.begin() + 5)).chunk("tEXt", {'k', 0, 'v'});
    b.chunk("IDAT", Bytes(z.begin() + 5, z.end())).iend();
    TPNGObject img;
    try {
        loadFromBytes(img, b.bytes());
        FAIL() << "no exception";
    } catch (const EPNGMissingMultipleIDAT& e) {
        EXPECT_STREQ(e.what(),
                     "This \"Portable Network Graphics\" image is invalid because it has missing image parts.");
    }
}

TEST(PngDecode, CrcMismatchInsideTheRunIsRefused) {
    Bytes z = zlibCompress(filterNone(kRgbaRows));
    PngBuilder b;
    b.signature().ihdr(3, 2, 8, 6).badCrcChunk("IDAT", Bytes(z.begin(), z.begin() + 5));
    b.chunk("IDAT", Bytes(z.begin() + 5, z.end())).iend();
    TPNGObject img;
    EXPECT_THROW(loadFromBytes(img, b.bytes()), EPngInvalidCRC);
}

TEST(PngDecode, CorruptDeflateStreamNamesTheZlibError) {
    Bytes z = zlibCompress(filterNone(kRgbaRows));
    z[2] = 0xFF;  // an invalid block type
    TPNGObject img;
    try {
        loadFromBytes(img, rgbaPng({z}));
        FAIL() << "no exception";
    } catch (const EPNGZLIBError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Could not decompress the image because it contains invalid compressed "
                  "data.\r\n Description: data error (-3)");
    }
}

TEST(PngDecode, StreamNeedingAPresetDictionaryIsRefused) {
    // A zlib header with the preset-dictionary flag, then the dictionary id.
    Bytes z = {0x78, 0xBB, 0, 0, 0, 1, 0x63, 0, 0};
    TPNGObject img;
    try {
        loadFromBytes(img, rgbaPng({z}));
        FAIL() << "no exception";
    } catch (const EPNGZLIBError& e) {
        EXPECT_NE(std::string(e.what()).find("need dictionary (2)"), std::string::npos) << e.what();
    }
}

TEST(PngDecode, UnknownFilterTypeLeavesTheRowAsItIs) {
    Bytes data = filterNone(kRgbaRows);
    data[0] = 5;
    data[13] = 2;  // the second row: Up
    TPNGObject img;
    loadFromBytes(img, rgbaPng({zlibCompress(data)}));
    EXPECT_EQ(img.PixelRow(0)[2], 1);
    EXPECT_EQ(img.PixelRow(1)[2], 14);  // 13 + 1
    EXPECT_EQ(img.AlphaRow(1)[0], 20);  // 16 + 4
}

TEST(PngDecode, DataEndingEarlyLeavesTheRestBlankAndTransparent) {
    TPNGObject img;
    loadFromBytes(img, rgbaPng({zlibCompress(filterNone({kRgbaRows[0]}))}));
    EXPECT_EQ(img.PixelAt(0, 0), rgb(1, 2, 3));
    EXPECT_EQ(img.PixelAt(2, 1), 0);
    EXPECT_EQ(img.AlphaRow(1)[2], 0);
}

TEST(PngDecode, RestOfTheLastChunkIsReadBeforeItsCrc) {
    // The zlib stream ends long before its IDAT chunk does: more than one
    // input block of the chunk is left when the last row is complete.
    Bytes z = zlibCompress(filterNone(kRgbaRows));
    z.resize(z.size() + 200000, 0);
    TPNGObject img;
    loadFromBytes(img, rgbaPng({z}));
    expectRgbaPixels(img);

    // An uncompressed stream larger than one input block whose trailer
    // follows the last row's bytes.
    const uint32_t w = 200, h = 200;
    std::vector<Bytes> rows(h, Bytes(w * 3));
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t i = 0; i < w * 3; ++i) rows[y][i] = static_cast<uint8_t>(y * 7 + i);
    PngBuilder b;
    b.signature().ihdr(w, h, 8, 2).chunk("IDAT", zlibCompress(filterNone(rows), 0)).iend();
    TPNGObject big;
    loadFromBytes(big, b.bytes());
    EXPECT_EQ(big.PixelRow(199)[3 * 199 + 2], static_cast<uint8_t>(199 * 7 + 597));
}

TEST(PngDecode, InflateStopsAtTheImageSize) {
    // 16 MiB of zeros behind a 1 x 1 header: only the image's bytes are inflated.
    Bytes bomb = zlibCompress(Bytes(size_t(16) << 20, 0), 9);
    PngBuilder b;
    b.signature().ihdr(1, 1, 8, 0).chunk("IDAT", bomb).iend();
    TPNGObject img;
    loadFromBytes(img, b.bytes());
    EXPECT_EQ(img.Width(), 1);
    EXPECT_EQ(img.PixelAt(0, 0), 0);
}

TEST(PngDecode, OnePixelAdam7ImageUsesTheFirstPassOnly) {
    PngBuilder b;
    b.signature().ihdr(1, 1, 8, 2, 1).chunk("IDAT", zlibCompress({0, 200, 100, 50})).iend();
    TPNGObject img;
    loadFromBytes(img, b.bytes());
    EXPECT_EQ(img.Interlacing, 1);
    EXPECT_EQ(img.PixelAt(0, 0), rgb(200, 100, 50));
}

TEST(PngDecode, SixteenBitRgbKeepsGammaCorrectedLowBytes) {
    PngBuilder b;
    b.signature().ihdr(1, 1, 16, 2).chunk("gAMA", be32(100000));
    b.chunk("IDAT", zlibCompress({0, 128, 64, 0, 128, 64, 0})).iend();
    TPNGObject img;
    loadFromBytes(img, b.bytes());
    const uint8_t* low = img.LowByteRow(0);
    EXPECT_EQ(low[0], img.DecodeGamma()[0]);  // blue
    EXPECT_EQ(low[1], img.DecodeGamma()[128]);  // green
    EXPECT_EQ(low[2], img.DecodeGamma()[64]);  // red
    EXPECT_EQ(img.PixelAt(0, 0), rgb(img.DecodeGamma()[128], 0, img.DecodeGamma()[64]));
}

TEST(PngDecode, TwoBitGreyWidensOntoTheSixteenStepRamp) {
    PngBuilder b;
    b.signature().ihdr(4, 1, 2, 0).chunk("IDAT", zlibCompress({0, 0x1B})).iend();
    TPNGObject img;
    loadFromBytes(img, b.bytes());
    EXPECT_EQ(img.PixelAt(0, 0), rgb(0, 0, 0));
    EXPECT_EQ(img.PixelAt(1, 0), rgb(85, 85, 85));
    EXPECT_EQ(img.PixelAt(2, 0), rgb(170, 170, 170));
    EXPECT_EQ(img.PixelAt(3, 0), rgb(255, 255, 255));
    EXPECT_EQ(img.PixelRow(0)[1], 0xAF);  // 4-bit indices 10 and 15
}

}  // namespace
}  // namespace glx::pngtest
