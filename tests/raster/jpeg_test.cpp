// The JPEG picture: lazy decoding, byte-exact re-saving, encoding settings
// and the failures of damaged or hostile files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/exception.h"
#include "base/stream.h"
#include "base/stream_reader.h"
#include "raster/bitmap.h"
#include "raster/canvas.h"
#include "raster/declared_size.h"
#include "raster/jpeg_image.h"
#include "raster_test_util.h"
#include "support/jpeg_builder.h"
#include "support/messages.h"
#include "support/process.h"

namespace glx {
namespace {

using glxtest::messageOf;

// A smooth picture: JPEG keeps it close.
void paintGradient(TBitmap& bmp, int32_t w, int32_t h) {
    bmp.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            bmp.Pixels().setPixel(x, y, rgb(uint8_t(x * 255 / w), uint8_t(y * 255 / h), 128));
}

std::vector<uint8_t> encode(const TBitmap& bmp, int quality = 90, bool progressive = false, bool grey = false,
                            int restartRows = 0);

std::vector<uint8_t> encode(const TBitmap& bmp, int quality, bool progressive, bool grey, int restartRows) {
    if (restartRows > 0) {
        // Straight through the library: the picture class sets no restart interval.
        const std::string out = glxtest::libjpegEncode(
            {.width = bmp.Width(),
             .height = bmp.Height(),
             .space = JCS_EXT_BGR,
             .quality = quality,
             .restartRows = restartRows,
             .scans = {}},
            [&](int y, uint8_t* row) { std::memcpy(row, bmp.Pixels().row(y), 3 * size_t(bmp.Width())); });
        return std::vector<uint8_t>(out.begin(), out.end());
    }
    TJPEGImage jpeg;
    jpeg.CompressionQuality = quality;
    jpeg.ProgressiveEncoding = progressive;
    jpeg.Grayscale = grey;
    jpeg.CopyFrom(&bmp);
    TMemoryStream out;
    jpeg.WriteTo(out);
    return out.bytes();
}

bool hasMarker(const std::vector<uint8_t>& b, uint8_t marker) {
    for (size_t i = 0; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == marker) return true;
    return false;
}

std::unique_ptr<TJPEGImage> readJpeg(const std::vector<uint8_t>& bytes) {
    auto jpeg = std::make_unique<TJPEGImage>();
    TMemoryStream in(bytes);
    jpeg->ReadFrom(in);
    return jpeg;
}

class JpegFile : public ::testing::Test {
protected:
    void SetUp() override {
        TBitmap bmp;
        paintGradient(bmp, 640, 480);
        m_bytes = encode(bmp);
        test::writeBytes((m_dir / "photo.jpg").string(), m_bytes);
    }
    glxtest::TempFolder m_dir;
    std::vector<uint8_t> m_bytes;
};

TEST_F(JpegFile, SizeIsKnownBeforeDecoding) {
    TJPEGImage jpeg;
    jpeg.LoadFile((m_dir / "photo.jpg").string());
    EXPECT_EQ(jpeg.Width(), 640);
    EXPECT_EQ(jpeg.Height(), 480);
    EXPECT_FALSE(jpeg.HasBitmap());
    EXPECT_FALSE(jpeg.IsEmpty());
    EXPECT_FALSE(jpeg.ProgressiveEncoding);

    EXPECT_EQ(jpeg.Bitmap().Width(), 640);
    jpeg.Scale = TJPEGScale::Quarter;  // a new scale makes the decoded pixels stale
    EXPECT_EQ(jpeg.Width(), 160);
    EXPECT_EQ(jpeg.Bitmap().Width(), 160);
    EXPECT_EQ(jpeg.Bitmap().Height(), 120);
}

TEST_F(JpegFile, ResavedByteForByteAlsoAfterDrawing) {
    TJPEGImage jpeg;
    jpeg.LoadFile((m_dir / "photo.jpg").string());
    jpeg.SaveFile((m_dir / "again.jpg").string());
    EXPECT_EQ(test::fileBytes((m_dir / "again.jpg").string()), m_bytes);

    TBitmap target(640, 480);
    target.Canvas().DrawAt(0, 0, &jpeg);
    EXPECT_TRUE(jpeg.HasBitmap());
    jpeg.SaveFile((m_dir / "again2.jpg").string());
    EXPECT_EQ(test::fileBytes((m_dir / "again2.jpg").string()), m_bytes);

    // The drawn pixels are close to the gradient.
    const TColor c = target.Pixels().pixel(320, 240);
    EXPECT_NEAR(getRValue(c), 127, 4);
    EXPECT_NEAR(getGValue(c), 127, 4);
    EXPECT_NEAR(getBValue(c), 128, 4);
}

TEST_F(JpegFile, TruncatedFileFailsOnFirstDecode) {
    std::vector<uint8_t> cut(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(m_bytes.size() / 2));
    auto jpeg = readJpeg(cut);
    EXPECT_EQ(jpeg->Width(), 640);
    const std::string msg = messageOf([&] { jpeg->Bitmap(); });
    EXPECT_EQ(msg.rfind("JPEG error #", 0), 0u) << msg;
    TBitmap target(4, 4);
    EXPECT_THROW(target.Canvas().DrawAt(0, 0, jpeg.get()), EJPEG);
}

TEST_F(JpegFile, CopiesIntoBitmapAndBetweenPictures) {
    TJPEGImage jpeg;
    jpeg.LoadFile((m_dir / "photo.jpg").string());
    TBitmap bmp;
    bmp.CopyFrom(&jpeg);  // through the JPEG's own copy into a bitmap
    EXPECT_EQ(bmp.Width(), 640);
    EXPECT_EQ(bmp.BitsPerPixel(), 24);

    TJPEGImage copy;
    copy.CopyFrom(&jpeg);
    TMemoryStream out;
    copy.WriteTo(out);
    EXPECT_EQ(out.bytes(), m_bytes);  // shares the compressed bytes
}

// A JPEG is read up to its end-of-image marker: padding behind it (a file
// stretched to gigabytes) is neither read nor kept, the stream is left just
// behind the marker, and the picture is the same.
TEST_F(JpegFile, ReadOnlyToTheEndOfImageMarker) {
    std::vector<uint8_t> padded = m_bytes;
    padded.resize(m_bytes.size() + (size_t(8) << 20), 0);
    test::CountingStream stream(padded);
    TJPEGImage jpeg;
    jpeg.ReadFrom(stream);
    EXPECT_LE(stream.bytesRead, m_bytes.size() + StreamReader::kBufferSize);
    EXPECT_EQ(stream.position(), static_cast<int64_t>(m_bytes.size()));
    EXPECT_EQ(jpeg.Data(), m_bytes);
    EXPECT_EQ(test::pixelsOf(jpeg.Bitmap().Pixels()), test::pixelsOf(readJpeg(m_bytes)->Bitmap().Pixels()));
}

// The frame header is read first: a picture beyond the limits is refused
// before the megabytes behind its header are read.
TEST_F(JpegFile, OversizeFrameIsRefusedBeforeTheRestIsRead) {
    std::vector<uint8_t> bytes = m_bytes;
    for (size_t i = 0; i + 8 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            bytes[i + 5] = bytes[i + 7] = 20000 >> 8;
            bytes[i + 6] = bytes[i + 8] = 20000 & 0xFF;
            break;
        }
    }
    bytes.insert(bytes.end() - 2, size_t(8) << 20, 0x11);  // entropy-coded bytes before the end marker
    test::CountingStream stream(bytes);
    TJPEGImage jpeg;
    EXPECT_THROW(jpeg.ReadFrom(stream), ELimitExceeded);
    EXPECT_LE(stream.bytesRead, m_bytes.size() + StreamReader::kBufferSize);
}

// The decoded pixels, or the failure's message.
std::pair<std::string, std::vector<TColor>> decoded(const TJPEGImage& jpeg) {
    try {
        return {"", test::pixelsOf(jpeg.Bitmap().Pixels())};
    } catch (const EJPEG& e) {
        return {e.what(), {}};
    }
}

// 16 x 16 pictures, baseline with a restart marker after every block row,
// and progressive: the kept bytes are the file, restart markers and scans
// included. Without its end marker and padded with zeros, a file is kept
// in full while the padding is within reach of its scan's blocks, and no
// further than that however long the padding: it decodes (or fails: the
// progressive one misses its end) the same either way.
TEST(Jpeg, KeptBytesFollowTheMarkersAndStopWithinReach) {
    TBitmap bmp;
    paintGradient(bmp, 16, 16);
    for (const std::vector<uint8_t>& file : {encode(bmp, 90, false, false, 1), encode(bmp, 90, true)}) {
        EXPECT_EQ(readJpeg(file)->Data(), file);
        std::vector<uint8_t> open(file.begin(), file.end() - 2);
        std::vector<uint8_t> near = open, far = open;
        near.resize(open.size() + 1000, 0);
        far.resize(open.size() + (size_t(4) << 20), 0);
        auto nearJpeg = readJpeg(near), farJpeg = readJpeg(far);
        EXPECT_EQ(nearJpeg->Data(), near);
        // One MCU of 6 blocks: the last scan's data and the padding behind
        // it are kept up to 64 KiB + 6 x 514 bytes.
        const std::vector<uint8_t>& kept = farJpeg->Data();
        EXPECT_GT(kept.size(), open.size() + (size_t(64) << 10));
        EXPECT_LE(kept.size(), open.size() + (size_t(64) << 10) + 6 * 514);
        EXPECT_TRUE(std::equal(open.begin(), open.end(), kept.begin()));
        EXPECT_EQ(decoded(*farJpeg), decoded(*nearJpeg));
    }
    EXPECT_EQ(decoded(*readJpeg(encode(bmp, 90, false, false, 1))).first, "");
}

TEST(Jpeg, EveryPrefixFailsCleanlyOrReads) {
    TBitmap bmp;
    paintGradient(bmp, 17, 9);
    const auto full = encode(bmp, 75, true);
    for (size_t n = 0; n < full.size(); n += 7) {
        std::vector<uint8_t> part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        TMemoryStream stream(part);
        const std::optional<DeclaredSize> declared = declaredPictureSize(stream, Limits{});
        try {
            auto jpeg = readJpeg(part);
            if (declared) {
                EXPECT_EQ(*declared, (DeclaredSize{jpeg->Width(), jpeg->Height()})) << n;
            }
            jpeg->Bitmap();
        } catch (const EJPEG&) {
        }
    }
}

// The size read from the header alone is the frame header's, wherever it
// lies: behind long application segments and fill bytes, in baseline,
// progressive, restart-marked and greyscale files. Files without one
// declare nothing.
TEST(Jpeg, DeclaredSizeIsTheFrameHeaders) {
    TBitmap bmp;
    paintGradient(bmp, 33, 7);
    std::vector<uint8_t> padded = encode(bmp);
    std::vector<uint8_t> segments;
    for (int i = 0; i < 3; ++i) {
        const std::vector<uint8_t> app = {0xFF, 0xFF, 0xE1, 0xFF, 0xFF};  // a fill byte, APP1 of 65535 bytes
        segments.insert(segments.end(), app.begin(), app.end());
        segments.resize(segments.size() + 65533, uint8_t('x'));
    }
    padded.insert(padded.begin() + 2, segments.begin(), segments.end());
    const std::vector<std::vector<uint8_t>> files = {encode(bmp), encode(bmp, 90, true), encode(bmp, 90, false, true),
                                                     encode(bmp, 90, false, false, 1), padded};
    for (const auto& file : files) {
        TMemoryStream stream(file);
        EXPECT_EQ(declaredPictureSize(stream, Limits{}), (DeclaredSize{33, 7}));
        auto jpeg = readJpeg(file);
        EXPECT_EQ(jpeg->Bitmap().Width(), 33);
        EXPECT_EQ(jpeg->Bitmap().Height(), 7);
    }
    const std::vector<uint8_t> scanFirst = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xC0, 0, 11, 8, 0, 7, 0, 33};
    const std::vector<uint8_t> zeroHeight = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, 0, 0, 33, 1, 1, 0x11, 0};
    const std::vector<uint8_t> badLength = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xC0, 0, 11, 8, 0, 7, 0, 33};
    for (const auto& file : {scanFirst, zeroHeight, badLength}) {
        TMemoryStream stream(file);
        EXPECT_EQ(declaredPictureSize(stream, Limits{}), std::nullopt);
    }
    EXPECT_EQ(declaredPictureSize("/nonexistent/picture.jpg", Limits{}), std::nullopt);
}

TEST(Jpeg, GarbageFailsWhenRead) {
    const std::vector<uint8_t> garbage = {'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'};
    const std::string msg = messageOf([&] { readJpeg(garbage); });
    EXPECT_EQ(msg.rfind("JPEG error #", 0), 0u) << msg;
}

TEST(Jpeg, OneByOneQuality100IsBaselineAndClose) {
    TBitmap bmp(1, 1);
    bmp.Canvas().Brush.setColor(rgb(200, 60, 30));
    bmp.Canvas().FillArea(makeRect(0, 0, 1, 1));
    TJPEGImage jpeg;
    setJpegOptions(jpeg);
    EXPECT_EQ(jpeg.CompressionQuality, 100);
    EXPECT_FALSE(jpeg.Smoothing());
    jpeg.CopyFrom(&bmp);
    glxtest::TempFolder dir;
    jpeg.SaveFile((dir / "one.jpg").string());
    const auto bytes = test::fileBytes((dir / "one.jpg").string());
    EXPECT_TRUE(hasMarker(bytes, 0xC0));  // baseline frame
    EXPECT_FALSE(hasMarker(bytes, 0xC2));  // not progressive
    auto back = readJpeg(bytes);
    EXPECT_EQ(back->Width(), 1);
    const TColor c = back->Bitmap().Pixels().pixel(0, 0);
    EXPECT_NEAR(getRValue(c), 200, 4);
    EXPECT_NEAR(getGValue(c), 60, 4);
    EXPECT_NEAR(getBValue(c), 30, 4);
}

TEST(Jpeg, EmptyBitmapSavesZeroBytes) {
    TBitmap empty;
    TJPEGImage jpeg;
    jpeg.CopyFrom(&empty);
    EXPECT_TRUE(jpeg.IsEmpty());
    glxtest::TempFolder dir;
    jpeg.SaveFile((dir / "empty.jpg").string());
    EXPECT_EQ(std::filesystem::file_size((dir / "empty.jpg").string()), 0u);
}

TEST(Jpeg, SizeCannotBeChanged) {
    TJPEGImage jpeg;
    EXPECT_EQ(messageOf([&] { jpeg.SetWidth(5); }), "Cannot change the size of a JPEG image");
    EXPECT_THROW(jpeg.SetHeight(5), EInvalidGraphicOperation);
}

TEST(Jpeg, ProgressiveAndGreyscaleEncoding) {
    TBitmap bmp;
    paintGradient(bmp, 33, 20);
    const auto progressive = encode(bmp, 80, true);
    EXPECT_TRUE(hasMarker(progressive, 0xC2));
    auto back = readJpeg(progressive);
    EXPECT_TRUE(back->ProgressiveEncoding);
    EXPECT_EQ(back->Bitmap().Width(), 33);

    const auto grey = encode(bmp, 80, false, true);
    auto greyBack = readJpeg(grey);
    greyBack->Grayscale = true;
    const TBitmap& g = greyBack->Bitmap();
    EXPECT_EQ(g.BitsPerPixel(), 8);
    const TColor c = g.Pixels().pixel(10, 10);
    EXPECT_EQ(getRValue(c), getGValue(c));
    EXPECT_EQ(getGValue(c), getBValue(c));

    // A grey file decoded to colour output still fills all three channels.
    auto colour = readJpeg(grey);
    EXPECT_EQ(colour->Bitmap().BitsPerPixel(), 24);
    const TColor cc = colour->Bitmap().Pixels().pixel(10, 10);
    EXPECT_EQ(getRValue(cc), getBValue(cc));
}

TEST(Jpeg, EightBitOutputHasAPalette) {
    TBitmap bmp;
    paintGradient(bmp, 40, 40);
    auto jpeg = readJpeg(encode(bmp));
    jpeg->PixelFormat = TJPEGPixelFormat::Bits8;
    const TBitmap& out = jpeg->Bitmap();
    EXPECT_EQ(out.BitsPerPixel(), 8);
    EXPECT_LE(out.Pixels().colorTable().size(), 236u);
    EXPECT_GT(out.Pixels().colorTable().size(), 16u);
}

TEST(Jpeg, SmoothingChangeKeepsACopiedInBitmap) {
    TBitmap bmp(3, 3);
    TJPEGImage jpeg;
    jpeg.CopyFrom(&bmp);
    jpeg.SetSmoothing(false);
    EXPECT_EQ(jpeg.Width(), 3);
    EXPECT_TRUE(jpeg.HasBitmap());
}

// A header claiming 20000 x 20000 pixels is refused when read.
TEST(Jpeg, OversizeHeaderIsRefused) {
    TBitmap bmp;
    paintGradient(bmp, 16, 16);
    auto bytes = encode(bmp);
    bool patched = false;
    for (size_t i = 0; i + 8 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {  // SOF0: length, precision, height, width
            bytes[i + 5] = 20000 >> 8;
            bytes[i + 6] = 20000 & 0xFF;
            bytes[i + 7] = 20000 >> 8;
            bytes[i + 8] = 20000 & 0xFF;
            patched = true;
            break;
        }
    }
    ASSERT_TRUE(patched);
    try {
        readJpeg(bytes);
        FAIL() << "no exception";
    } catch (const ELimitExceeded& e) {
        EXPECT_NE(std::string(e.what()).find("20000 x 20000"), std::string::npos) << e.what();
    }
    // The limits a picture is given are the ones its header meets.
    TJPEGImage small;
    ReadOptions options;
    options.limits.pixels = 100;
    small.SetOptions(options);
    const std::vector<uint8_t> fits = encode(bmp);
    TMemoryStream in(fits);
    EXPECT_EQ(messageOf([&] { small.ReadFrom(in); }),
              "Picture size 16 x 16 is too large (the limit is 100 pixels, 10 x 10)");
}

// 128 scans: DC and every AC coefficient in two successive-approximation steps.
std::vector<uint8_t> manyScanJpeg() {
    std::vector<jpeg_scan_info> scans;
    scans.push_back(jpeg_scan_info{1, {0, 0, 0, 0}, 0, 0, 0, 1});
    for (int k = 1; k < 64; ++k) scans.push_back(jpeg_scan_info{1, {0, 0, 0, 0}, k, k, 0, 1});
    scans.push_back(jpeg_scan_info{1, {0, 0, 0, 0}, 0, 0, 1, 0});
    for (int k = 1; k < 64; ++k) scans.push_back(jpeg_scan_info{1, {0, 0, 0, 0}, k, k, 1, 0});
    const std::string out =
        glxtest::libjpegEncode({.components = 1, .space = JCS_GRAYSCALE, .scans = scans}, [](int y, uint8_t* row) {
            for (int x = 0; x < 16; ++x) row[x] = static_cast<uint8_t>(x * 16 + y);
        });
    return std::vector<uint8_t>(out.begin(), out.end());
}

TEST(Jpeg, RunawayProgressiveFileIsStopped) {
    auto jpeg = readJpeg(manyScanJpeg());
    EXPECT_EQ(jpeg->Width(), 16);
    EXPECT_EQ(messageOf([&] { jpeg->Bitmap(); }), "JPEG file has more than 100 scans");
}

}  // namespace
}  // namespace glx
