// Damaged input of every kind must end in one of the codec's exceptions (or
// a successful load), never in a crash or a read outside a buffer.
#include <gtest/gtest.h>

#include <random>

#include "png_test_util.h"

namespace glx::pngtest {
namespace {

// Loads bytes; true when loaded, false when refused with an Exception. Any
// other exception fails the test.
bool loadsOrRefuses(const Bytes& bytes) {
    TPNGObject img;
    try {
        loadFromBytes(img, bytes);
    } catch (const Exception&) {
        return false;
    }
    // A loaded image must also be usable.
    for (int32_t y = 0; y < img.Height(); y += 7)
        for (int32_t x = 0; x < img.Width(); x += 7) (void)img.PixelAt(x, y);
    saveToBytes(img);
    return true;
}

TEST(PngRobustness, EveryTruncationFailsCleanly) {
    for (const char* name : {"basn3p02", "basi6a16", "tbbn0g04", "ct1n0g04"}) {
        Bytes full = readFile(suiteDir() + "/png/" + name + ".png");
        int loaded = 0;
        for (size_t n = 0; n < full.size(); ++n)
            loaded += loadsOrRefuses(Bytes(full.begin(), full.begin() + static_cast<long>(n)));
        EXPECT_EQ(loaded, 0) << name;  // no prefix is a complete image: the IEND is missing
        EXPECT_TRUE(loadsOrRefuses(full)) << name;
    }
}

TEST(PngRobustness, RandomByteDamageFailsCleanly) {
    std::mt19937 rng(6);
    for (const char* name : {"basn0g01", "basi0g02", "basn2c16", "basi3p04", "basn4a08", "basi6a08", "oi9n2c16",
                             "f04n2c08", "ctzn0g04", "s01i3p01"}) {
        const Bytes original = readFile(suiteDir() + "/png/" + name + ".png");
        for (int round = 0; round < 150; ++round) {
            Bytes b = original;
            const int flips = 1 + static_cast<int>(rng() % 4);
            for (int i = 0; i < flips; ++i) {
                size_t pos = 8 + rng() % (b.size() - 8);
                b[pos] = static_cast<uint8_t>(rng());
            }
            loadsOrRefuses(b);
        }
    }
}

TEST(PngRobustness, HostileHeadersAndChunks) {
    // Dimensions at the limits with almost no data.
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{65535, 65535}, {20000, 20000}, {1, 65535}, {65535, 1}}) {
        PngBuilder b;
        b.signature().ihdr(w, h, 8, 6).chunk("IDAT", zlibCompress({0, 1, 2, 3})).iend();
        loadsOrRefuses(b.bytes());
    }
    // Adam7 on images smaller than the passes' starting points.
    for (uint32_t w = 1; w <= 9; ++w)
        for (uint32_t h = 1; h <= 9; h += 4) {
            PngBuilder b;
            b.signature().ihdr(w, h, 1, 0, 1).chunk("IDAT", zlibCompress(Bytes(200, 0x55))).iend();
            EXPECT_TRUE(loadsOrRefuses(b.bytes())) << w << "x" << h;
        }
    // Many tiny unknown chunks: refused beyond the chunk limit.
    PngBuilder many;
    many.signature().ihdr(1, 1, 8, 0);
    for (int i = 0; i < 5000; ++i) many.chunk("prVt", {uint8_t(i)});
    many.chunk("IDAT", zlibCompress({0, 9})).iend();
    TPNGObject img;
    EXPECT_THROW(loadFromBytes(img, many.bytes()), ELimitExceeded);
}

}  // namespace
}  // namespace glx::pngtest
