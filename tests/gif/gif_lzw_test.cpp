// The LZW decoder: generated frames against their source pixels and, when
// giflib is installed, against giflib's decoding byte for byte; then the
// tolerant handling of short, damaged and odd data.
#include <gtest/gtest.h>

#include <random>

#include "gif/gif_image.h"
#include "gif_test_util.h"

#if __has_include(<gif_lib.h>)
#include <gif_lib.h>
#define GLX_HAVE_GIFLIB 1
#endif

namespace glx::test {
namespace {

#ifdef GLX_HAVE_GIFLIB
struct MemSource {
    const std::vector<uint8_t>* data;
    size_t pos;
};

int readMem(GifFileType* gif, GifByteType* out, int count) {
    auto* src = static_cast<MemSource*>(gif->UserData);
    size_t n = std::min(size_t(count), src->data->size() - src->pos);
    std::copy_n(src->data->begin() + long(src->pos), n, out);
    src->pos += n;
    return int(n);
}

// The index data of every image giflib finds, or an empty list when it fails.
std::vector<std::vector<uint8_t>> giflibFrames(const std::vector<uint8_t>& bytes) {
    MemSource src{&bytes, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&src, readMem, &error);
    std::vector<std::vector<uint8_t>> frames;
    if (!gif) return frames;
    if (DGifSlurp(gif) == GIF_OK)
        for (int i = 0; i < gif->ImageCount; ++i) {
            const SavedImage& img = gif->SavedImages[i];
            size_t n = size_t(img.ImageDesc.Width) * size_t(img.ImageDesc.Height);
            frames.emplace_back(img.RasterBits, img.RasterBits + n);
        }
    DGifCloseFile(gif, &error);
    return frames;
}
#endif

// Decodes bytes and compares the image frames with expected and, when
// available, with giflib.
void expectDecodes(const std::vector<uint8_t>& bytes, const std::vector<std::vector<uint8_t>>& expected,
                   const std::string& what) {
    LoadResult r;
    ASSERT_NO_THROW(loadInto(r, bytes)) << what;
    std::vector<std::vector<uint8_t>> ours;
    for (int i = 0; i < r.image->Frames().Count(); ++i)
        if (r.image->Frames()[i].HasImageDescriptor()) ours.push_back(r.image->Frames()[i].IndexData());
    EXPECT_TRUE(r.warnings.empty()) << what << ": " << (r.warnings.empty() ? "" : r.warnings[0]);
    ASSERT_EQ(ours.size(), expected.size()) << what;
    for (size_t i = 0; i < ours.size(); ++i) EXPECT_TRUE(ours[i] == expected[i]) << what << " frame " << i;
#ifdef GLX_HAVE_GIFLIB
    auto reference = giflibFrames(bytes);
    ASSERT_EQ(reference.size(), ours.size()) << what;
    for (size_t i = 0; i < ours.size(); ++i)
        EXPECT_TRUE(ours[i] == reference[i]) << what << " frame " << i << " vs giflib";
#endif
}

std::vector<uint8_t> makePixels(int width, int height, int colors, int pattern, std::mt19937& rng) {
    std::vector<uint8_t> px(size_t(width) * size_t(height));
    for (size_t i = 0; i < px.size(); ++i) {
        switch (pattern) {
            case 0:
                px[i] = uint8_t(rng() % unsigned(colors));
                break;  // noise
            case 1:
                px[i] = uint8_t((i / 7) % unsigned(colors));
                break;  // runs
            default:
                px[i] = uint8_t((i % size_t(width) + i / size_t(width)) % unsigned(colors));
                break;  // diagonal
        }
    }
    return px;
}

TEST(GifLzw, GeneratedFramesDecodeExactly) {
    std::mt19937 rng(12345);
    const std::pair<int, int> sizes[] = {{1, 1}, {3, 2}, {7, 5}, {1, 9}, {16, 3}, {33, 17}, {64, 64}, {150, 90}};
    const int subBlocks[] = {255, 1, 13, 2};
    int n = 0;
    for (auto [w, h] : sizes)
        for (bool interlaced : {false, true})
            for (int colorBits : {1, 2, 4, 8})
                for (bool local : {false, true})
                    for (bool transparent : {false, true}) {
                        ++n;
                        FrameSpec f;
                        f.width = w;
                        f.height = h;
                        f.interlaced = interlaced;
                        f.localColorBits = local ? colorBits : 0;
                        f.pixels = makePixels(w, h, 1 << colorBits, n % 3, rng);
                        f.lzw.minCodeSize = std::max(2, colorBits);
                        f.lzw.subBlockSize = subBlocks[n % 4];
                        GifBuilder b;
                        b.header(w, h, local ? 0 : colorBits);
                        if (transparent) b.gce(3, 1, true, (1 << colorBits) - 1);
                        b.image(f).trailer();
                        expectDecodes(b.bytes, {f.pixels},
                                      "case " + std::to_string(n) + " " + std::to_string(w) + "x" + std::to_string(h) +
                                          (interlaced ? " interlaced" : "") + " bits " + std::to_string(colorBits) +
                                          " sub-block " + std::to_string(f.lzw.subBlockSize));
                    }
}

TEST(GifLzw, FullTablesClearAndDeferredClear) {
    std::mt19937 rng(99);
    for (bool deferred : {false, true})
        for (int subBlock : {255, 1})
            for (bool interlaced : {false, true}) {
                FrameSpec f;
                f.width = 320;
                f.height = 200;
                f.interlaced = interlaced;
                f.pixels = makePixels(f.width, f.height, 256, 0, rng);
                // A calmer second half makes long strings from the full table.
                for (size_t i = f.pixels.size() / 2; i < f.pixels.size(); ++i) f.pixels[i] = uint8_t((i / 50) % 4);
                f.lzw.minCodeSize = 8;
                f.lzw.deferredClear = deferred;
                f.lzw.subBlockSize = subBlock;
                auto codes = lzwCodes(interlaced ? interlaceOrder(f.pixels, f.width, f.height) : f.pixels, f.lzw);
                int widest = 0;
                for (auto [c, width] : codes) widest = std::max(widest, width);
                ASSERT_EQ(widest, 12);
                GifBuilder b;
                b.header(f.width, f.height, 8).image(f).solid(5, 5, 3).trailer();
                expectDecodes(b.bytes, {f.pixels, std::vector<uint8_t>(25, 3)},
                              std::string(deferred ? "deferred" : "clearing") + " sub-block " +
                                  std::to_string(subBlock) + (interlaced ? " interlaced" : ""));
            }
}

TEST(GifLzw, InterlacedSmallHeightsFillEveryRowOnce) {
    for (int h : {1, 2, 3, 5, 8, 9}) {
        FrameSpec f;
        f.width = 2;
        f.height = h;
        f.interlaced = true;
        for (int y = 0; y < h; ++y) f.pixels.insert(f.pixels.end(), {uint8_t(y + 1), uint8_t(y + 1)});
        f.lzw.minCodeSize = 4;
        GifBuilder b;
        b.header(2, h, 4).image(f).trailer();
        expectDecodes(b.bytes, {f.pixels}, "height " + std::to_string(h));
    }
}

// A frame built from explicit codes.
std::vector<uint8_t> gifWithCodes(int width, int height, int minCodeSize, const std::vector<std::pair<int, int>>& codes,
                                  bool transparent = false, int transparentIndex = 0) {
    GifBuilder b;
    b.header(width, height, 2);
    if (transparent) b.gce(0, 0, true, transparentIndex);
    b.descriptor(0, 0, width, height, 0).raw(packCodes(codes, minCodeSize, 255));
    b.solid(2, 1, 2).trailer();  // a following frame that must still load
    return b.bytes;
}

TEST(GifLzw, ShortDataKeepsTheFillValue) {
    // clear, 1, 2, end: 2 of 6 pixels.
    std::vector<std::pair<int, int>> codes{{4, 3}, {1, 3}, {2, 3}, {5, 3}};
    for (bool transparent : {false, true}) {
        LoadResult r;
        loadInto(r, gifWithCodes(3, 2, 2, codes, transparent, 3));
        ASSERT_EQ(r.image->Frames().Count(), 2);
        uint8_t fill = transparent ? 3 : 0;
        EXPECT_EQ(r.image->Frames()[0].IndexData(), (std::vector<uint8_t>{1, 2, fill, fill, fill, fill}));
        EXPECT_EQ(r.image->Frames()[1].IndexData(), (std::vector<uint8_t>{2, 2}));
        EXPECT_TRUE(r.warnings.empty());
    }
}

TEST(GifLzw, ClearThenEndStoresTheEndCode) {
    // clear, end (stored as pixel 5), 1, the next free code 7, end.
    std::vector<std::pair<int, int>> codes{{4, 3}, {5, 3}, {1, 3}, {7, 3}, {5, 4}};
    LoadResult r;
    loadInto(r, gifWithCodes(4, 1, 2, codes));
    // After "5": 1 adds entry 6 = 5,1; 7 is the next free code: 1 + first of itself.
    EXPECT_EQ(r.image->Frames()[0].IndexData(), (std::vector<uint8_t>{5, 1, 1, 1}));
    EXPECT_EQ(r.image->Frames().Count(), 2);
}

TEST(GifLzw, CodeEqualToNextFreeCode) {
    std::vector<std::pair<int, int>> codes{{4, 3}, {1, 3}, {6, 3}, {5, 3}};
    LoadResult r;
    loadInto(r, gifWithCodes(3, 1, 2, codes));
    EXPECT_EQ(r.image->Frames()[0].IndexData(), (std::vector<uint8_t>{1, 1, 1}));
}

TEST(GifLzw, CircularTableEntryFailsTheLoad) {
    // 7 lies beyond the next free code; the entry made for it points at itself.
    std::vector<std::pair<int, int>> codes{{4, 3}, {1, 3}, {7, 3}, {7, 3}, {7, 4}, {7, 4}, {5, 4}};
    TGIFImage img;
    TMemoryStream s(gifWithCodes(8, 1, 2, codes));
    try {
        img.ReadFrom(s);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), "Circular decoder table entry");
    }
    EXPECT_EQ(s.position(), 0);
}

TEST(GifLzw, DataCutOffByTheEndOfTheFile) {
    FrameSpec f;
    f.width = 40;
    f.height = 40;
    std::mt19937 rng(7);
    f.pixels = makePixels(40, 40, 256, 0, rng);
    GifBuilder b;
    b.header(40, 40, 8).image(f);
    auto bytes = b.bytes;
    bytes.resize(bytes.size() - 600);  // inside the data sub-blocks
    LoadResult r;
    loadInto(r, bytes);
    EXPECT_TRUE(hasWarning(r, "Premature end of data"));
    ASSERT_EQ(r.image->Frames().Count(), 1);
    const auto& data = r.image->Frames()[0].IndexData();
    // The first rows decoded; the last pixels keep the fill value.
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 200, f.pixels.begin()));
    EXPECT_EQ(data.back(), 0);
}

TEST(GifLzw, UnderRunAfterTheTerminator) {
    // 8-bit codes, exactly 4 bytes in one sub-block, no end code.
    GifBuilder b;
    b.header(10, 1, 2).descriptor(0, 0, 10, 1, 0).raw({7, 4, 128, 1, 2, 3, 0}).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    const auto& data = r.image->Frames()[0].IndexData();
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 3), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(data.back(), 0);
    EXPECT_TRUE(hasWarning(r, "Decoder bit buffer under-run"));
    EXPECT_FALSE(hasWarning(r, "Invalid Image trailer"));
}

TEST(GifLzw, MissingDataKeepsFill) {
    // The file ends right after the image descriptor.
    GifBuilder b;
    b.header(4, 2, 2).gce(0, 0, true, 2).descriptor(0, 0, 4, 2, 0);
    LoadResult r;
    loadInto(r, b.bytes);
    EXPECT_EQ(r.image->Frames()[0].IndexData(), std::vector<uint8_t>(8, 2));
}

TEST(GifLzw, MinimumCodeSizeAboveElevenIsPassedOver) {
    for (int m : {12, 13, 255}) {
        GifBuilder b;
        b.header(4, 4, 2).gce(0, 0, true, 1).descriptor(0, 0, 4, 4, 0);
        b.raw({m, 3, 0xFF, 0xFF, 0xFF, 2, 0xAA, 0x55, 0});
        b.solid(2, 2, 3).trailer();
        LoadResult r;
        loadInto(r, b.bytes);
        ASSERT_EQ(r.image->Frames().Count(), 2) << m;
        EXPECT_EQ(r.image->Frames()[0].IndexData(), std::vector<uint8_t>(16, 1));
        EXPECT_EQ(r.image->Frames()[1].IndexData(), std::vector<uint8_t>(4, 3));
        EXPECT_TRUE(hasWarning(r, "Invalid LZW minimum code size (" + std::to_string(m) + ")"));
    }
}

TEST(GifLzw, RandomDataNeverEscapes) {
    // Arbitrary bytes as image data: either a clean GIFException or a load.
    std::mt19937 rng(4242);
    int failures = 0;
    for (int round = 0; round < 300; ++round) {
        GifBuilder b;
        b.header(16, 16, 8).descriptor(0, 0, 16, 16, round % 2 ? 0x40 : 0);
        b.raw({int(rng() % 12)});
        int blocks = 1 + int(rng() % 3);
        for (int k = 0; k < blocks; ++k) {
            int len = 1 + int(rng() % 255);
            b.raw({len});
            for (int i = 0; i < len; ++i) b.raw({int(rng() & 0xFF)});
        }
        b.raw({0}).trailer();
        LoadResult r;
        try {
            loadInto(r, b.bytes);
            ASSERT_EQ(r.image->Frames()[0].IndexData().size(), 256u);
        } catch (const GIFException&) {
            ++failures;
        }
    }
    EXPECT_LT(failures, 300);
}

}  // namespace
}  // namespace glx::test
