// The block structure of a GIF: signature, logical screen, colour maps, the
// frame loop, the trailer, and which faults stop loading.
#include <gtest/gtest.h>

#include <random>

#include "base/limits.h"
#include "base/stream_reader.h"
#include "gif/gdip_gif.h"
#include "gif/gif_image.h"
#include "gif_test_util.h"
#include "raster/canvas.h"

namespace glx::test {
namespace {

std::vector<uint8_t> twoFrameGif() {
    GifBuilder b;
    b.header(8, 6, 2).gce(10).solid(8, 6, 1).gce(20, 2).solid(4, 3, 2, 2, 1).trailer();
    return b.bytes;
}

TEST(GifStructure, ReadsHeaderFramesAndTrailer) {
    LoadResult r;
    auto bytes = twoFrameGif();
    loadInto(r, bytes);
    TGIFImage& img = *r.image;
    EXPECT_EQ(img.Width(), 8);
    EXPECT_EQ(img.Height(), 6);
    EXPECT_FALSE(img.IsEmpty());
    EXPECT_EQ(img.ScreenHeader().GlobalColors().EntryCount(), 4);
    EXPECT_EQ(img.ScreenHeader().BitsPerPixel(), 2);
    EXPECT_EQ(img.ScreenHeader().ColorResolution(), 1);
    ASSERT_EQ(img.Frames().Count(), 2);
    TGIFSubImage& f1 = img.Frames()[1];
    EXPECT_EQ(f1.Left(), 2);
    EXPECT_EQ(f1.Top(), 1);
    EXPECT_EQ(f1.Width(), 4);
    EXPECT_EQ(f1.Height(), 3);
    EXPECT_EQ(f1.BoundsRect(), (TRect{2, 1, 6, 4}));
    EXPECT_EQ(f1.IndexData(), std::vector<uint8_t>(12, 2));
    EXPECT_EQ(f1.GraphicControlExtension()->DisposalMethod(), 2);
    EXPECT_EQ(&f1.EffectiveColors(), &img.ScreenHeader().GlobalColors());
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_EQ(r.endPosition, int64_t(bytes.size()));
}

TEST(GifStructure, FrameListIndexBeyondEndRaisesListError) {
    LoadResult r;
    loadInto(r, twoFrameGif());
    try {
        r.image->Frames()[2];
        FAIL() << "no exception";
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (2)");
    }
    EXPECT_THROW(r.image->Frames().Items(-1), EListError);
}

TEST(GifStructure, SignatureRules) {
    auto good = twoFrameGif();
    // 4 stray bytes in front: loads like the file alone.
    std::vector<uint8_t> prefixed{1, 2, 3, 4};
    prefixed.insert(prefixed.end(), good.begin(), good.end());
    LoadResult a;
    loadInto(a, prefixed);
    EXPECT_EQ(a.image->Frames().Count(), 2);
    EXPECT_EQ(a.image->Frames()[1].IndexData(), std::vector<uint8_t>(12, 2));

    // Lower-case signature with any version.
    auto lower = good;
    lower[0] = 'g', lower[1] = 'i', lower[2] = 'f', lower[3] = 'x', lower[4] = 'y', lower[5] = 'z';
    LoadResult b;
    loadInto(b, lower);
    EXPECT_EQ(b.image->Frames().Count(), 2);

    // Anything else: "Invalid GIF signature", stream set back.
    auto bad = good;
    bad[1] = 'X';
    TGIFImage img;
    TMemoryStream stream(bad);
    stream.setPosition(0);
    try {
        img.ReadFrom(stream);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), "Invalid GIF signature");
    }
    EXPECT_EQ(stream.position(), 0);

    // Too short for a signature at all.
    TMemoryStream tiny(std::vector<uint8_t>{'G', 'I'});
    EXPECT_THROW(img.ReadFrom(tiny), GIFException);
}

TEST(GifStructure, ReadsFromTheStreamPositionAndResetsOnFailure) {
    auto good = twoFrameGif();
    std::vector<uint8_t> data(10, 0xEE);
    data.insert(data.end(), good.begin(), good.end());
    TMemoryStream stream(data);
    stream.setPosition(10);
    TGIFImage img;
    img.ReadFrom(stream);
    EXPECT_EQ(img.Frames().Count(), 2);
    EXPECT_EQ(stream.position(), int64_t(data.size()));

    // A fault in the second frame: the first frame stays, the stream goes back.
    GifBuilder b;
    b.header(4, 4, 1).solid(4, 4, 1).raw({0x21, 0xF0, 0});
    TMemoryStream bad(b.bytes);
    try {
        img.ReadFrom(bad);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), "Unknown extension type");
    }
    EXPECT_EQ(bad.position(), 0);
    EXPECT_EQ(img.Frames().Count(), 1);
}

// A memory stream that counts the bytes read from it.
class CountingStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    size_t read(void* buffer, size_t count) override {
        const size_t n = TMemoryStream::read(buffer, count);
        bytesRead += n;
        return n;
    }
    size_t bytesRead = 0;
};

TEST(GifStructure, ReadsOnlyAsFarAsTheBlocksGo) {
    // 8 MiB after the trailer: the reader and the preview control stop at
    // the trailer, having read ahead at most one buffer.
    auto good = twoFrameGif();
    std::vector<uint8_t> data = good;
    data.resize(good.size() + (size_t(8) << 20), 0xEE);
    const size_t bound = good.size() + StreamReader::kBufferSize;

    CountingStream forImage(data);
    TGIFImage img;
    img.ReadFrom(forImage);
    EXPECT_EQ(img.Frames().Count(), 2);
    EXPECT_EQ(forImage.position(), int64_t(good.size()));
    EXPECT_LE(forImage.bytesRead, bound);

    CountingStream forControl(data);
    TGdipGIF control;
    control.LoadStream(forControl);
    EXPECT_EQ(control.FrameCount(), 2);
    EXPECT_LE(forControl.bytesRead, 2 * bound);  // the block walk, then the frames for painting
}

TEST(GifStructure, ColorMapSizesAndLookups) {
    for (int bits : {1, 8}) {
        GifBuilder b;
        b.header(2, 2, bits).solid(2, 2, 0).trailer();
        LoadResult r;
        loadInto(r, b.bytes);
        const auto& map = r.image->ScreenHeader().GlobalColors();
        ASSERT_EQ(map.EntryCount(), 2 << (bits - 1));
        // entry 1: r = 37, g = 111, b = 250
        EXPECT_EQ(map.ColorAt(1), rgb(37, 111, 250));
        EXPECT_FALSE(map.Optimized());
        // Outside the map: a warning and entry 0.
        EXPECT_EQ(map.ColorAt(5000), rgb(0, 100, 255));
        EXPECT_TRUE(hasWarning(r, "Invalid color index"));
    }
    // An empty map: warning, then "Color table is empty".
    GifBuilder b;
    b.header(2, 2).solid(2, 2, 0).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    try {
        r.image->ScreenHeader().GlobalColors().ColorAt(0);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), "Color table is empty");
    }
    EXPECT_EQ(r.image->ScreenHeader().BitsPerPixel(), 0);
}

TEST(GifStructure, LocalColorMapWins) {
    GifBuilder b;
    FrameSpec f;
    f.width = 2;
    f.height = 1;
    f.localColorBits = 3;
    f.pixels = {0, 7};
    f.lzw.minCodeSize = 3;
    b.header(2, 1, 1).image(f).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    TGIFSubImage& frame = r.image->Frames()[0];
    EXPECT_EQ(frame.LocalColors().EntryCount(), 8);
    EXPECT_EQ(&frame.EffectiveColors(), &frame.LocalColors());
    EXPECT_EQ(frame.IndexData(), (std::vector<uint8_t>{0, 7}));
}

TEST(GifStructure, TrailerAndStrayBytes) {
    // No trailer: no warning.
    GifBuilder noTrailer;
    noTrailer.header(4, 4, 1).solid(4, 4, 1);
    LoadResult a;
    loadInto(a, noTrailer.bytes);
    EXPECT_EQ(a.image->Frames().Count(), 1);
    EXPECT_TRUE(a.warnings.empty());

    // Zero bytes between blocks are skipped.
    GifBuilder zeros;
    zeros.header(4, 4, 1).solid(4, 4, 1).raw({0, 0, 0}).solid(4, 4, 0).raw({0}).trailer();
    LoadResult z;
    loadInto(z, zeros.bytes);
    EXPECT_EQ(z.image->Frames().Count(), 2);
    EXPECT_TRUE(z.warnings.empty());

    // A stray 0x99 ends the frame list; the byte in front of it is then
    // taken for the trailer.
    GifBuilder stray;
    stray.header(4, 4, 1).solid(4, 4, 1).raw({0x99}).solid(4, 4, 0).trailer();
    LoadResult s;
    loadInto(s, stray.bytes);
    EXPECT_EQ(s.image->Frames().Count(), 1);
    EXPECT_EQ(s.warnings, (std::vector<std::string>{"Unknown GIF block type", "Invalid Image trailer"}));

    // Bytes after the trailer are not read.
    GifBuilder afterTrailer;
    afterTrailer.header(4, 4, 1).solid(4, 4, 1).raw({0x3B, 0x99, 0x99});
    LoadResult t;
    loadInto(t, afterTrailer.bytes);
    EXPECT_TRUE(t.warnings.empty());
    EXPECT_EQ(t.endPosition, int64_t(afterTrailer.bytes.size()) - 2);
}

TEST(GifStructure, ExtensionsOnlyFrames) {
    // A comment after the last image makes an extra, empty frame.
    GifBuilder b;
    b.header(4, 4, 1).solid(4, 4, 1).comment("bye").trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    ASSERT_EQ(r.image->Frames().Count(), 2);
    TGIFSubImage& last = r.image->Frames()[1];
    EXPECT_TRUE(last.IsEmpty());
    EXPECT_FALSE(last.HasImageDescriptor());
    EXPECT_EQ(last.ExtensionItems().Count(), 1);
    EXPECT_TRUE(r.warnings.empty());

    // A zero byte between two extensions splits them into two frames.
    GifBuilder split;
    split.header(4, 4, 1).comment("a").raw({0}).gce(5).solid(4, 4, 1).trailer();
    LoadResult s;
    loadInto(s, split.bytes);
    ASSERT_EQ(s.image->Frames().Count(), 2);
    EXPECT_TRUE(s.image->Frames()[0].IsEmpty());
    EXPECT_EQ(s.image->Frames()[1].GraphicControlExtension()->Delay(), 5);
    EXPECT_TRUE(hasWarning(s, "Invalid extension introducer"));
}

TEST(GifStructure, ZeroSizedFrameTakesLogicalScreen) {
    GifBuilder b;
    FrameSpec f;
    f.width = 0;  // descriptor says 0 x 2; data holds 6 x 4 pixels
    f.height = 2;
    f.lzw.minCodeSize = 2;
    b.header(6, 4, 2).descriptor(0, 0, 0, 2, 0).raw(lzwEncode(std::vector<uint8_t>(24, 3), f.lzw)).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    TGIFSubImage& frame = r.image->Frames()[0];
    EXPECT_EQ(frame.Width(), 6);
    EXPECT_EQ(frame.Height(), 4);
    EXPECT_EQ(frame.IndexData(), std::vector<uint8_t>(24, 3));
    EXPECT_TRUE(hasWarning(r, "Image exceeds Logical Screen size"));
}

TEST(GifStructure, ZeroLogicalScreenDoesNotCrash) {
    GifBuilder b;
    b.header(0, 0, 1).descriptor(0, 0, 0, 0, 0).raw(lzwEncode({}, LzwOptions{2})).solid(2, 2, 1).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    ASSERT_GE(r.image->Frames().Count(), 1);
    TGIFSubImage& frame = r.image->Frames()[0];
    EXPECT_TRUE(frame.IsEmpty());
    EXPECT_FALSE(frame.HasIndexData());
    EXPECT_THROW(frame.RowAt(0), GIFException);
}

TEST(GifStructure, PixelAccess) {
    GifBuilder b;
    FrameSpec f;
    f.width = 3;
    f.height = 2;
    f.pixels = {0, 1, 2, 3, 0, 1};
    f.lzw.minCodeSize = 2;
    b.header(3, 2, 2).image(f).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    TGIFSubImage& frame = r.image->Frames()[0];
    EXPECT_EQ(frame.PixelAt(2, 0), 2);
    EXPECT_EQ(frame.PixelAt(0, 1), 3);
    EXPECT_EQ(frame.RowAt(1)[2], 1);
    for (auto [x, y] : {std::pair{-1, 0}, {3, 0}, {0, -1}, {0, 2}}) {
        try {
            frame.PixelAt(x, y);
            FAIL() << x << "," << y;
        } catch (const GIFException& e) {
            EXPECT_STREQ(e.what(), "Invalid pixel coordinates");
        }
    }
}

TEST(GifStructure, OnlyFramesAreCheckedAgainstTheLimitsWhenLoading) {
    // A logical screen is only a size until something is drawn on it.
    GifBuilder screen;
    screen.header(65535, 65535, 1).trailer();
    TGIFImage img;
    TMemoryStream s1(screen.bytes);
    EXPECT_NO_THROW(img.ReadFrom(s1));
    EXPECT_EQ(img.Width(), 65535);
    EXPECT_TRUE(img.IsEmpty());

    GifBuilder frame;
    frame.header(100, 100, 1).descriptor(0, 0, 40000, 40000, 0).raw({2, 2, 0x4C, 0x01, 0}).trailer();
    TMemoryStream s2(frame.bytes);
    try {
        img.ReadFrom(s2);
        FAIL();
    } catch (const ELimitExceeded& e) {
        EXPECT_NE(std::string(e.what()).find("40000 x 40000"), std::string::npos);
    }
    EXPECT_EQ(img.Frames().Count(), 0);

    // However many frames within the limit there are, they load: each keeps
    // its compressed data, not its pixels (1100 frames of 1024 x 1024 hold
    // 1.1 GiB of pixels).
    GifBuilder many;
    many.header(1024, 1024, 1);
    for (int i = 0; i < 1100; ++i) many.descriptor(0, 0, 1024, 1024, 0).raw({2, 2, 0x4C, 0x01, 0});
    many.trailer();
    TMemoryStream s3(many.bytes);
    img.ReadFrom(s3);
    ASSERT_EQ(img.Frames().Count(), 1100);
    for (int i = 0; i < img.Frames().Count(); ++i) ASSERT_EQ(img.Frames()[i].ImageData().size(), 5u);

    // The limits the image is given: one frame more than the frame limit,
    // or a frame above the pixel limit, is refused naming the limit.
    ReadOptions options;
    options.limits.frames = 1099;
    TGIFImage capped;
    capped.SetOptions(options);
    TMemoryStream s4(many.bytes);
    try {
        capped.ReadFrom(s4);
        FAIL();
    } catch (const ELimitExceeded& e) {
        EXPECT_STREQ(e.what(), "GIF has more than 1099 frames (the limit is 1099)");
    }
    options.limits.frames = 1100;
    options.limits.pixels = 1000000;
    capped.SetOptions(options);
    TMemoryStream s5(many.bytes);
    try {
        capped.ReadFrom(s5);
        FAIL();
    } catch (const ELimitExceeded& e) {
        EXPECT_STREQ(e.what(), "Picture size 1024 x 1024 is too large (the limit is 1000000 pixels, 1000 x 1000)");
    }
}

TEST(GifStructure, TruncatedFixedFieldsRaisePrematureEnd) {
    auto good = twoFrameGif();
    // Cut inside the logical screen descriptor, the global map and an image descriptor.
    for (size_t cut : {size_t(9), size_t(15), size_t(35)}) {
        std::vector<uint8_t> part(good.begin(), good.begin() + long(cut));
        TGIFImage img;
        TMemoryStream s(part);
        try {
            img.ReadFrom(s);
            FAIL() << cut;
        } catch (const GIFException& e) {
            EXPECT_STREQ(e.what(), "Premature end of data") << cut;
        }
    }
}

TEST(GifStructure, EveryPrefixOfAFileLoadsOrFailsCleanly) {
    // Only GIFException may leave the reader; whatever loads is consistent.
    auto good = twoFrameGif();
    int loaded = 0;
    for (size_t n = 0; n <= good.size(); ++n) {
        std::vector<uint8_t> part(good.begin(), good.begin() + long(n));
        LoadResult r;
        try {
            loadInto(r, part);
            ++loaded;
        } catch (const GIFException&) {
        }
        for (int i = 0; i < r.image->Frames().Count(); ++i) {
            const TGIFSubImage& f = r.image->Frames()[i];
            EXPECT_EQ(f.IndexData().size(), f.IsEmpty() ? 0u : size_t(f.Width()) * size_t(f.Height()));
        }
    }
    EXPECT_GT(loaded, 10);
}

TEST(GifStructure, DamagedFilesFailCleanly) {
    // Random byte changes to a small animated GIF: loading either works or
    // raises one of the reader's exceptions; whatever loaded can be drawn,
    // and the delay query never raises.
    GifBuilder b;
    FrameSpec f;
    f.left = 3;
    f.width = 20;
    f.height = 11;
    f.interlaced = true;
    for (int i = 0; i < 220; ++i) f.pixels.push_back(uint8_t(i % 13));
    f.lzw.minCodeSize = 4;
    f.localColorBits = 4;
    b.header(24, 12, 2).loop(0).comment("hello").gce(5, 2, true, 1).image(f).gce(7).solid(5, 5, 2, 1, 1).trailer();
    std::mt19937 rng(2024);
    int loaded = 0;
    for (int round = 0; round < 3000; ++round) {
        auto bytes = b.bytes;
        int changes = 1 + int(rng() % 4);
        for (int k = 0; k < changes; ++k) bytes[rng() % bytes.size()] = uint8_t(rng());
        if (round % 7 == 0) bytes.resize(rng() % bytes.size());
        LoadResult r;
        try {
            loadInto(r, bytes);
            ++loaded;
        } catch (const GIFException&) {
        } catch (const ELimitExceeded&) {
        }
        Dib dib(24, 12, 24);
        TCanvas canvas(&dib);
        for (int i = 0; i < r.image->Frames().Count(); ++i) {
            try {
                r.image->Frames()[i].PaintTo(canvas, TRect{0, 0, 24, 12}, true, i % 2 == 1);
            } catch (const GIFException& e) {
                ASSERT_STREQ(e.what(), "No global or local color table defined");
            }
        }
        TGdipGIF gif;
        TMemoryStream s(bytes);
        ASSERT_NO_THROW(gif.LoadStream(s));
    }
    EXPECT_GT(loaded, 300);
}

TEST(GifStructure, ReloadReplacesContent) {
    LoadResult r;
    loadInto(r, twoFrameGif());
    GifBuilder b;
    b.header(3, 3).solid(3, 3, 0).trailer();
    TMemoryStream s(b.bytes);
    r.image->ReadFrom(s);
    EXPECT_EQ(r.image->Frames().Count(), 1);
    EXPECT_EQ(r.image->Width(), 3);
    EXPECT_EQ(r.image->ScreenHeader().GlobalColors().EntryCount(), 0);
}

TEST(GifStructure, ProgressReportsLoading) {
    TGIFImage img;
    std::vector<std::pair<TProgressStage, int>> events;
    img.OnProgress = [&](const void*, TProgressStage stage, int percent, bool, const TRect&, const std::string& msg) {
        EXPECT_EQ(msg, "Loading...");
        events.push_back({stage, percent});
    };
    TMemoryStream s(twoFrameGif());
    img.ReadFrom(s);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events.front(), std::make_pair(TProgressStage::Starting, 0));
    EXPECT_EQ(events.back(), std::make_pair(TProgressStage::Ending, 100));
    EXPECT_EQ(events[1].first, TProgressStage::Running);
}

}  // namespace
}  // namespace glx::test
