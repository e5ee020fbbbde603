// Reading a BMP goes through a buffered reader: rows are copied out of its
// buffer or read straight into the picture, offsets count from the file's
// first byte wherever the stream starts, and a file is read from disk as
// from memory. Whatever the file, the result must be what reading the same
// bytes from the start of a memory stream gives: the same pixels, header
// facts and kept bytes, or the same failure. The files here are larger than
// the reader's buffer, and gaps and headers reach beyond it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/stream.h"
#include "raster/bitmap.h"
#include "raster/bmp.h"
#include "raster_test_util.h"
#include "support/process.h"

namespace glx {
namespace {

struct Outcome {
    std::string error;
    int32_t width = 0, height = 0;
    int bpp = 0;
    std::vector<RGBQuad> table;
    BitMasks masks;
    std::vector<uint8_t> bits;
    bool os2 = false;
    int32_t xPels = 0, yPels = 0;
    std::vector<uint8_t> kept;
    bool operator==(const Outcome&) const = default;
};

Outcome describe(const BmpImage& image) {
    Outcome o;
    o.width = image.dib.width();
    o.height = image.dib.height();
    o.bpp = image.dib.bitsPerPixel();
    o.table = image.dib.colorTable();
    o.masks = image.dib.masks();
    o.bits.assign(image.dib.bits(), image.dib.bits() + image.dib.byteSize());
    o.os2 = image.os2;
    o.xPels = image.xPelsPerMeter;
    o.yPels = image.yPelsPerMeter;
    o.kept = image.keptBytes;
    return o;
}

void expectSame(const Outcome& got, const Outcome& expected) {
    EXPECT_EQ(got.error, expected.error);
    EXPECT_TRUE(got == expected);
}

template <class Read>
Outcome attempt(Read read) {
    try {
        return describe(read());
    } catch (const Exception& e) {
        Outcome o;
        o.error = std::string(typeid(e).name()) + ": " + e.what();
        return o;
    }
}

Outcome whole(const std::vector<uint8_t>& file) {
    return attempt([&] { return decodeBmp(file); });
}

// From a stream whose first bytes are not the file: reading starts at the
// stream's position and, when it succeeds, leaves it at the end.
Outcome streamed(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> bytes{9, 9, 9};
    bytes.insert(bytes.end(), file.begin(), file.end());
    TMemoryStream stream(std::move(bytes));
    stream.setPosition(3);
    Outcome o = attempt([&] { return readBmp(stream); });
    if (o.error.empty()) {
        EXPECT_EQ(stream.position(), stream.size());
    }
    return o;
}

uint32_t getU32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
void putU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A picture of noise in the given format, written as a BMP file.
std::vector<uint8_t> noiseBmp(int32_t width, int32_t height, int bpp, BitMasks masks = {}, bool os2 = false) {
    std::vector<RGBQuad> table;
    if (bpp <= 8)
        for (int i = 0; i < (1 << bpp); ++i)
            table.push_back(RGBQuad{uint8_t(i * 7), uint8_t(i * 13), uint8_t(255 - i), 0});
    Dib dib(width, height, bpp, table, masks);
    uint32_t seed = static_cast<uint32_t>(width * 31 + height * 17 + bpp);
    for (size_t i = 0; i < dib.byteSize(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        dib.bits()[i] = static_cast<uint8_t>(seed >> 24);
    }
    TMemoryStream out;
    encodeBmp(out, dib, os2, 2835, 1417);
    return out.bytes();
}

// An 8-bit run-length file of literal runs, one row at a time.
std::vector<uint8_t> rle8Bmp(int32_t width, int32_t height) {
    std::vector<uint8_t> data;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; x += 200) {
            const int32_t n = std::min(200, width - x);
            data.push_back(0);
            data.push_back(static_cast<uint8_t>(n));
            for (int32_t i = 0; i < n; ++i) data.push_back(static_cast<uint8_t>(x + i + y));
            if (n & 1) data.push_back(0);
        }
        data.push_back(0);
        data.push_back(0);
    }
    std::vector<uint8_t> file = noiseBmp(width, 1, 8);
    const size_t pixelStart = getU32(file, 10);
    file.resize(pixelStart);
    putU32(file, 22, static_cast<uint32_t>(height));
    putU32(file, 30, 1);
    putU32(file, 34, static_cast<uint32_t>(data.size()));
    file.insert(file.end(), data.begin(), data.end());
    putU32(file, 2, static_cast<uint32_t>(file.size()));
    return file;
}

struct Case {
    std::string name;
    std::vector<uint8_t> file;
};

std::vector<Case> largeFiles() {
    std::vector<Case> cases = {
        {"rgb24", noiseBmp(301, 100, 24)},
        {"rgb32", noiseBmp(200, 100, 32)},
        {"bitfields16", noiseBmp(300, 150, 16, BitMasks{0xF800, 0x07E0, 0x001F})},
        {"bitfields32", noiseBmp(150, 150, 32, BitMasks{0xFF0000, 0xFF00, 0xFF})},
        {"index8", noiseBmp(401, 200, 8)},
        {"index4", noiseBmp(501, 400, 4)},
        {"index1", noiseBmp(1001, 600, 1)},
        {"os2_rgb24", noiseBmp(300, 100, 24, {}, true)},
        {"rle8", rle8Bmp(600, 200)},
    };
    // Top-down rows.
    Case topDown{"top_down", cases[0].file};
    putU32(topDown.file, 22, static_cast<uint32_t>(-100));
    cases.push_back(topDown);
    // Pixel data offset beyond the part read first.
    Case gap{"gap", cases[0].file};
    const uint32_t pixelStart = getU32(gap.file, 10);
    gap.file.insert(gap.file.begin() + pixelStart, 70000, 0xEE);
    putU32(gap.file, 10, pixelStart + 70000);
    cases.push_back(gap);
    // A colour table longer than the part read first (only 256 kept).
    Case longTable{"long_colour_table", cases[4].file};
    putU32(longTable.file, 46, 20000);
    longTable.file.insert(longTable.file.begin() + 54 + 1024, (20000 - 256) * 4, 0x55);
    putU32(longTable.file, 10, 54 + 20000 * 4);
    cases.push_back(longTable);
    // An information header claiming to be longer than the part read first.
    Case longHeader{"long_info_header", cases[0].file};
    putU32(longHeader.file, 14, 70000);
    longHeader.file.insert(longHeader.file.begin() + 54, 70000 - 40, 0);
    putU32(longHeader.file, 10, 14 + 70000);
    cases.push_back(longHeader);
    // An image-size field promising less than the rows hold.
    Case promised{"small_image_size", cases[0].file};
    putU32(promised.file, 34, 40000);
    cases.push_back(promised);
    return cases;
}

TEST(BmpStream, ReadsWhatWholeFileDecodingReads) {
    for (const Case& c : largeFiles()) {
        SCOPED_TRACE(c.name);
        ASSERT_GT(c.file.size(), size_t(64) << 10);
        const Outcome expected = whole(c.file);
        EXPECT_EQ(expected.error, "");
        expectSame(streamed(c.file), expected);
    }
}

// Cut anywhere that matters: inside the headers, at and around the end of
// the part read first, at row boundaries and one byte off them.
TEST(BmpStream, TruncatedFilesReadOrFailAsWholeFileDecodingDoes) {
    for (const Case& c : largeFiles()) {
        const size_t pixelStart = getU32(c.file, 10);
        const size_t stride = c.name == "rle8" ? 1000 : (c.file.size() - pixelStart) / 100;
        std::vector<size_t> cuts = {
            1, 13, 30, 54, 100, pixelStart, pixelStart + 1, 65535, 65536, 65537, c.file.size() - 1};
        for (size_t k = 1; k < 8; ++k) {
            cuts.push_back(pixelStart + k * stride);
            cuts.push_back(pixelStart + k * stride - 1);
            cuts.push_back((size_t(64) << 10) + k * 333);
        }
        for (size_t cut : cuts) {
            if (cut >= c.file.size()) continue;
            SCOPED_TRACE(c.name + " cut at " + std::to_string(cut));
            const std::vector<uint8_t> part(c.file.begin(), c.file.begin() + static_cast<std::ptrdiff_t>(cut));
            expectSame(streamed(part), whole(part));
        }
    }
}

// Through a file: the pixel-data offset is reached by seeking the file.
TEST(BmpStream, LoadFileMatchesDecodingTheFileBytes) {
    glxtest::TempFolder dir;
    for (const Case& c : largeFiles()) {
        SCOPED_TRACE(c.name);
        const std::string path = (dir / (c.name + ".bmp")).string();
        test::writeBytes(path, c.file);
        TBitmap loaded;
        loaded.LoadFile(path);
        const TBitmap& bmp = loaded;  // read-only access keeps the kept bytes
        const BmpImage expected = decodeBmp(c.file);
        ASSERT_EQ(bmp.Pixels().byteSize(), expected.dib.byteSize());
        EXPECT_EQ(std::memcmp(bmp.Pixels().bits(), expected.dib.bits(), expected.dib.byteSize()), 0);
        EXPECT_EQ(bmp.KeptFileBytes(), expected.keptBytes);
    }
}

}  // namespace
}  // namespace glx
