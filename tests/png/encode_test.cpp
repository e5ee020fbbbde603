// Image data encoding: the written stream's layout, the row filters, and
// round trips through libpng as an independent decoder and encoder.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "png/chunk_ancillary.h"
#include "png_test_util.h"

namespace glx::pngtest {
namespace {

struct Written {
    std::vector<size_t> idatSizes;
    Bytes data;  // inflated image data
};

Written examine(const Bytes& png) {
    Written w;
    Bytes z;
    for (const auto& c : splitChunks(png)) {
        if (c.type != "IDAT") continue;
        w.idatSizes.push_back(c.payload.size());
        z.insert(z.end(), c.payload.begin(), c.payload.end());
    }
    w.data = zlibInflate(z);
    return w;
}

// Filter byte of every row of a non-interlaced image.
std::vector<int> filterTypes(const Bytes& data, size_t rowBytes) {
    std::vector<int> out;
    for (size_t pos = 0; pos < data.size(); pos += rowBytes + 1) out.push_back(data[pos]);
    return out;
}

std::unique_ptr<TPNGObject> randomImage(uint32_t ct, uint32_t depth, int32_t w, int32_t h, std::mt19937& rng) {
    auto img = TPNGObject::CreateNew(ct, depth, w, h);
    const TChunkIHDR& hd = img->HeaderChunk();
    for (int32_t y = 0; y < h; ++y) {
        for (size_t i = 0; i < static_cast<size_t>(hd.RowStride()); ++i)
            img->PixelRow(y)[i] = static_cast<uint8_t>(rng());
        if (uint8_t* a = img->AlphaRow(y))
            for (int32_t x = 0; x < w; ++x) a[x] = static_cast<uint8_t>(rng());
        if (uint8_t* l = img->LowByteRow(y))
            for (size_t i = 0; i < static_cast<size_t>(hd.RowStride()); ++i) l[i] = static_cast<uint8_t>(rng());
    }
    return img;
}

TEST(PngEncode, DefaultsUseSubOnEveryRowAndFullSizeChunks) {
    std::mt19937 rng(1);
    auto img = randomImage(2, 8, 300, 300, rng);
    EXPECT_EQ(img->RowFilters, rowFilterBit(rfSub));
    EXPECT_EQ(img->DeflateLevel, 7);
    EXPECT_EQ(img->IdatChunkSize(), 65535);
    Written w = examine(saveToBytes(*img));
    ASSERT_GT(w.idatSizes.size(), 2u);
    for (size_t i = 0; i + 1 < w.idatSizes.size(); ++i) EXPECT_EQ(w.idatSizes[i], 65535u);
    EXPECT_GT(w.idatSizes.back(), 0u);
    EXPECT_LE(w.idatSizes.back(), 65535u);
    ASSERT_EQ(w.data.size(), 300u * 901);
    for (int f : filterTypes(w.data, 900)) ASSERT_EQ(f, 1);

    img->SetIdatChunkSize(100000);
    w = examine(saveToBytes(*img));
    for (size_t i = 0; i + 1 < w.idatSizes.size(); ++i) EXPECT_EQ(w.idatSizes[i], 100000u);
    img->SetIdatChunkSize(1000);
    EXPECT_EQ(img->IdatChunkSize(), 65535);
}

TEST(PngEncode, FilterChoice) {
    std::mt19937 rng(2);
    auto img = randomImage(6, 8, 20, 10, rng);
    img->RowFilters = rowFilterBit(rfUp);
    for (int f : filterTypes(examine(saveToBytes(*img)).data, 80)) EXPECT_EQ(f, 2);  // the first row too

    // All-zero rows score the same for every filter: None.
    auto blank = TPNGObject::CreateNew(2, 8, 20, 4);
    blank->RowFilters = 0x1F;
    for (int f : filterTypes(examine(saveToBytes(*blank)).data, 60)) EXPECT_EQ(f, 0);
    // Without None in the set, the lower of two equal scores.
    blank->RowFilters = rowFilterBit(rfSub) | rowFilterBit(rfPaeth);
    for (int f : filterTypes(examine(saveToBytes(*blank)).data, 60)) EXPECT_EQ(f, 1);
    // Rows too short to score.
    auto thin = randomImage(0, 8, 2, 6, rng);
    thin->RowFilters = 0x1E;
    for (int f : filterTypes(examine(saveToBytes(*thin)).data, 2)) EXPECT_EQ(f, 0);
    // An empty set means None.
    img->RowFilters = 0;
    for (int f : filterTypes(examine(saveToBytes(*img)).data, 80)) EXPECT_EQ(f, 0);
}

TEST(PngEncode, ChooseRowFilterScoresRepeatedBytes) {
    const uint8_t ramp[6] = {1, 2, 3, 4, 5, 6};
    FilterRows rows(6, rowFilterBit(rfSub) | rowFilterBit(rfUp));
    EXPECT_EQ(ChooseRowFilter(ramp, rows, 1), 1);  // Sub turns the ramp into ones
    EXPECT_EQ(rows.candidates[1], (Bytes{1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(rows.candidates[0], Bytes(ramp, ramp + 6));  // now the previous row
    const uint8_t irregular[6] = {9, 1, 7, 3, 8, 2};
    ChooseRowFilter(irregular, rows, 1);
    EXPECT_EQ(ChooseRowFilter(irregular, rows, 1), 2);  // Up against the same row gives zeros
    EXPECT_EQ(rows.candidates[2], Bytes(6, 0));

    const uint8_t flat[4] = {7, 7, 7, 7};
    FilterRows tie(4, rowFilterBit(rfSub) | rowFilterBit(rfUp));
    EXPECT_EQ(ChooseRowFilter(flat, tie, 1), 1);  // equal scores: the lower type
    FilterRows withNone(4, 0x07);
    EXPECT_EQ(ChooseRowFilter(flat, withNone, 1), 0);

    // Average and Paeth against a previous row.
    FilterRows all(3, 0x1F);
    const uint8_t first[3] = {10, 20, 30}, second[3] = {12, 25, 40};
    ChooseRowFilter(first, all, 1);
    ChooseRowFilter(second, all, 1);
    EXPECT_EQ(all.candidates[3], (Bytes{uint8_t(12 - 5), uint8_t(25 - (20 + 12) / 2), uint8_t(40 - (30 + 25) / 2)}));
    EXPECT_EQ(all.candidates[4][0], uint8_t(12 - 10));  // Paeth(0, 10, 0) = up
}

TEST(PngEncode, UnfilterUndoesEveryFilter) {
    std::mt19937 rng(3);
    for (size_t distance : {1u, 2u, 3u, 4u, 6u, 8u}) {
        Bytes prev(37), raw(37);
        for (auto& b : prev) b = static_cast<uint8_t>(rng());
        for (auto& b : raw) b = static_cast<uint8_t>(rng());
        FilterRows rows(37, 0x1F);
        ChooseRowFilter(prev.data(), rows, distance);
        ChooseRowFilter(raw.data(), rows, distance);
        for (uint8_t f = 0; f < 5; ++f) {
            Bytes r = rows.candidates[f];
            UnfilterRow(f, r.data(), prev.data(), r.size(), distance);
            EXPECT_EQ(r, raw) << "filter " << int(f) << " distance " << distance;
        }
    }
    // No PNG pixel is 5 bytes: such a distance is a broken caller.
    Bytes row(10), prev(10);
    EXPECT_THROW(UnfilterRow(1, row.data(), prev.data(), row.size(), 5), EInternalError);
}

TEST(PngEncode, SixteenBitSamplesAreWrittenWithZeroLowBytes) {
    PngBuilder b;
    b.signature().ihdr(1, 1, 16, 2).chunk("IDAT", zlibCompress({0, 1, 2, 3, 4, 5, 6})).iend();
    TPNGObject img;
    loadFromBytes(img, b.bytes());
    RefImage ref = libpngDecode(saveToBytes(img));
    EXPECT_EQ(ref.sample(0, 0, 0), 0x0100u);
    EXPECT_EQ(ref.sample(0, 0, 1), 0x0300u);
    EXPECT_EQ(ref.sample(0, 0, 2), 0x0500u);
}

TEST(PngEncode, DeflateLevelIsUsed) {
    auto img = TPNGObject::CreateNew(2, 8, 100, 100);
    img->DeflateLevel = 0;
    size_t stored = saveToBytes(*img).size();
    img->DeflateLevel = 9;
    EXPECT_LT(saveToBytes(*img).size() * 10, stored);
}

struct Format {
    uint32_t ct, depth;
};
const Format kFormats[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                           {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
const std::pair<int32_t, int32_t> kSizes[] = {{1, 1},   {1, 9},   {9, 1},    {3, 5},
                                              {17, 13}, {61, 33}, {127, 45}, {300, 299}};

TEST(PngOracle, OurEncoderLibpngDecoder) {
    std::mt19937 rng(4);
    for (const Format& f : kFormats) {
        for (auto [w, h] : kSizes) {
            for (uint8_t interlace : {uint8_t(0), uint8_t(1)}) {
                SCOPED_TRACE(testing::Message() << "ct " << f.ct << " depth " << f.depth << " " << w << "x" << h
                                                << " interlace " << int(interlace));
                auto img = randomImage(f.ct, f.depth, w, h, rng);
                img->Interlacing = interlace;
                img->RowFilters = static_cast<RowFilterSet>(rng() % 32);
                RefImage ref = libpngDecode(saveToBytes(*img));
                const TChunkIHDR& hd = img->HeaderChunk();
                ASSERT_EQ(ref.colorType, static_cast<int>(f.ct));
                ASSERT_EQ(ref.bitDepth, f.depth == 2 ? 4 : static_cast<int>(f.depth));
                ASSERT_EQ(ref.interlace, interlace);
                const uint32_t scale = f.depth == 16 ? 256 : 1;
                for (int32_t y = 0; y < h; ++y) {
                    const uint8_t* row = img->PixelRow(y);
                    const uint8_t* a = img->AlphaRow(y);
                    for (int32_t x = 0; x < w; ++x) {
                        switch (f.ct) {
                            case 0:
                            case 3:
                                ASSERT_EQ(ref.sample(x, y, 0), hd.Pixels().index(x, y) * uint32_t(scale));
                                break;
                            case 4:
                                ASSERT_EQ(ref.sample(x, y, 0), uint32_t(row[x] * scale));
                                ASSERT_EQ(ref.sample(x, y, 1), uint32_t(a[x] * scale));
                                break;
                            default:
                                for (int c = 0; c < 3; ++c)
                                    ASSERT_EQ(ref.sample(x, y, c), uint32_t(row[3 * x + 2 - c] * scale));
                                if (f.ct == 6) {
                                    ASSERT_EQ(ref.sample(x, y, 3), uint32_t(a[x] * scale));
                                }
                        }
                    }
                }
                if (f.ct == 3) {
                    ASSERT_EQ(ref.palette.size(), size_t(1) << hd.Pixels().bitsPerPixel());
                    for (size_t i = 0; i < ref.palette.size(); ++i) {
                        const RGBQuad& q = hd.Pixels().colorTable()[i];
                        ASSERT_EQ(ref.palette[i], (std::array<uint8_t, 3>{q.red, q.green, q.blue}));
                    }
                }
            }
        }
    }
}

TEST(PngOracle, LibpngEncoderOurDecoder) {
    std::mt19937 rng(5);
    for (const Format& f : kFormats) {
        for (auto [w, h] : kSizes) {
            for (int interlace : {0, 1}) {
                SCOPED_TRACE(testing::Message() << "ct " << f.ct << " depth " << f.depth << " " << w << "x" << h
                                                << " interlace " << interlace);
                RefImage ref;
                ref.width = static_cast<uint32_t>(w);
                ref.height = static_cast<uint32_t>(h);
                ref.colorType = static_cast<int>(f.ct);
                ref.bitDepth = static_cast<int>(f.depth);
                ref.interlace = interlace;
                const auto rowBytes = static_cast<size_t>((w * ref.channels() * int(f.depth) + 7) / 8);
                ref.rows.assign(static_cast<size_t>(h), Bytes(rowBytes));
                for (auto& r : ref.rows)
                    for (auto& b : r) b = static_cast<uint8_t>(rng());
                if (f.ct == 3)
                    for (uint32_t i = 0; i < (1u << f.depth); ++i)
                        ref.palette.push_back({uint8_t(rng()), uint8_t(rng()), uint8_t(rng())});
                Bytes png = libpngEncode(ref);
                TPNGObject img;
                loadFromBytes(img, png);
                ASSERT_EQ(img.Width(), w);
                ASSERT_EQ(img.Height(), h);
                for (int32_t y = 0; y < h; ++y) {
                    const uint8_t* low = img.LowByteRow(y);
                    const uint8_t* a = img.AlphaRow(y);
                    const uint8_t* row = img.PixelRow(y);
                    for (int32_t x = 0; x < w; ++x) {
                        auto s = [&](int c) { return ref.sample(x, y, c); };
                        switch (f.ct) {
                            case 0: {
                                uint32_t g = f.depth == 16 ? s(0) >> 8 : s(0) * 255 / ((1u << f.depth) - 1);
                                ASSERT_EQ(img.PixelAt(x, y), rgb(uint8_t(g), uint8_t(g), uint8_t(g))) << x << "," << y;
                                if (f.depth == 16) {
                                    ASSERT_EQ(low[x], s(0) & 0xFF);
                                }
                                break;
                            }
                            case 3: {
                                const auto& p = ref.palette[s(0)];
                                ASSERT_EQ(img.PixelAt(x, y), rgb(p[0], p[1], p[2])) << x << "," << y;
                                break;
                            }
                            case 4:
                                ASSERT_EQ(row[x], f.depth == 16 ? s(0) >> 8 : s(0));
                                ASSERT_EQ(a[x], f.depth == 16 ? s(1) >> 8 : s(1));
                                if (f.depth == 16) {
                                    ASSERT_EQ(low[x], s(0) & 0xFF);
                                }
                                break;
                            default:
                                for (int c = 0; c < 3; ++c) {
                                    ASSERT_EQ(row[3 * x + 2 - c], f.depth == 16 ? s(c) >> 8 : s(c)) << x << "," << y;
                                    if (f.depth == 16) {
                                        ASSERT_EQ(low[3 * x + 2 - c], s(c) & 0xFF);
                                    }
                                }
                                if (f.ct == 6) {
                                    ASSERT_EQ(a[x], f.depth == 16 ? s(3) >> 8 : s(3));
                                }
                        }
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace glx::pngtest
