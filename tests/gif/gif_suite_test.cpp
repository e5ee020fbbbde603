// The GIF suite files: every frame's indices against giflib, the delays of
// the preview control against the files' graphic control extensions, and
// the first frame drawn as a picture.
#include <gtest/gtest.h>

#include <cstring>

#include "gif/browser_compose.h"
#include "gif/gdip_gif.h"
#include "gif/gif_image.h"
#include "raster/canvas.h"
#include "raster/picture.h"

#if __has_include(<png.h>)
#include <png.h>
#define GLX_HAVE_LIBPNG 1
#endif

#if __has_include(<gif_lib.h>)
#include <gif_lib.h>
#define GLX_HAVE_GIFLIB 1
#endif

namespace glx::test {
namespace {

const char* const kFiles[] = {
    "animated_loop",
    "animated_loop_interlaced",
    "animated_loop_variable_delay",
    "animated_noloop",
    "animated_transparent_firstframerestoreprev_loop",
    "animated_transparent_frame_norestore_loop",
    "animated_transparent_frame_restorebackground_loop",
    "animated_transparent_frame_restoreprev_loop",
    "animated_transparent_loop",
    "animated_transparent_loop_frames_out_of_bounds",
    "animated_transparent_restoreprev_loop",
    "static_nontransparent",
    "static_transparent",
};

std::string pathOf(const std::string& name) { return std::string(GLX_TEST_DATA) + "/gifsuite/gifs/" + name + ".gif"; }

class GifSuite : public ::testing::TestWithParam<const char*> {};

TEST_P(GifSuite, LoadsLikeTheReferenceDecoder) {
    const std::string path = pathOf(GetParam());
    TGIFImage img;
    std::vector<std::string> warnings;
    img.WarningHandler = [&](const void*, int, const std::string& m) { warnings.push_back(m); };
    img.LoadFile(path);
    EXPECT_TRUE(warnings.empty()) << warnings.front();
    TGdipGIF gif;
    gif.LoadFile(path);
    EXPECT_EQ(gif.GifWidth(), img.Width());
    EXPECT_EQ(gif.GifHeight(), img.Height());
    const bool animated = std::string(GetParam()).rfind("animated", 0) == 0;
    EXPECT_EQ(gif.FrameCount(), animated ? 4 : 1);

    std::vector<const TGIFSubImage*> images;
    for (int i = 0; i < img.Frames().Count(); ++i)
        if (img.Frames()[i].HasImageDescriptor()) images.push_back(&img.Frames()[i]);
    ASSERT_EQ(int(images.size()), gif.FrameCount());

#ifdef GLX_HAVE_GIFLIB
    int error = 0;
    GifFileType* ref = DGifOpenFileName(path.c_str(), &error);
    ASSERT_NE(ref, nullptr);
    ASSERT_EQ(DGifSlurp(ref), GIF_OK);
    ASSERT_EQ(ref->ImageCount, int(images.size()));
    EXPECT_EQ(ref->SWidth, img.Width());
    EXPECT_EQ(ref->SHeight, img.Height());
    for (int i = 0; i < ref->ImageCount; ++i) {
        const SavedImage& s = ref->SavedImages[i];
        const TGIFSubImage& f = *images[size_t(i)];
        EXPECT_EQ(s.ImageDesc.Left, f.Left());
        EXPECT_EQ(s.ImageDesc.Top, f.Top());
        ASSERT_EQ(s.ImageDesc.Width, f.Width());
        ASSERT_EQ(s.ImageDesc.Height, f.Height());
        EXPECT_TRUE(std::equal(f.IndexData().begin(), f.IndexData().end(), s.RasterBits)) << "frame " << i;
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(ref, i, &gcb) == GIF_OK) {
            EXPECT_EQ(gcb.DelayTime, gif.Delays()[size_t(i)]) << "frame " << i;
            EXPECT_EQ(gcb.TransparentColor != NO_TRANSPARENT_COLOR, f.HasTransparency()) << "frame " << i;
            EXPECT_EQ(gcb.DisposalMode, f.DisposalMethod()) << "frame " << i;
        }
    }
    // The play count as browsers read the looping block.
    int32_t plays = 1;
    for (int i = 0; i < ref->ImageCount; ++i) {
        const SavedImage& s = ref->SavedImages[i];
        for (int e = 0; e + 1 < s.ExtensionBlockCount; ++e) {
            const ExtensionBlock& id = s.ExtensionBlocks[e];
            const ExtensionBlock& data = s.ExtensionBlocks[e + 1];
            if (id.Function == APPLICATION_EXT_FUNC_CODE && id.ByteCount == 11 &&
                std::memcmp(id.Bytes, "NETSCAPE2.0", 11) == 0 && data.ByteCount >= 3 && data.Bytes[0] == 1) {
                const int n = data.Bytes[1] | data.Bytes[2] << 8;
                plays = n == 0 ? 0 : n + 1;
            }
        }
    }
    EXPECT_EQ(gifPlayCount(img), plays);
    DGifCloseFile(ref, &error);
#endif
}

TEST_P(GifSuite, FirstFrameDrawsItsOwnPixels) {
    // Frame 0 over a key colour: every pixel inside the frame is either the
    // key (transparent index) or the table colour of its index.
    TGIFImage img;
    img.LoadFile(pathOf(GetParam()));
    Dib dib(img.Width(), img.Height(), 24);
    const TColor key = rgb(1, 254, 3);
    dib.fill(0, 0, dib.width(), dib.height(), key);
    TCanvas canvas(&dib);
    canvas.DrawAt(0, 0, &img);
    TGIFSubImage& f = img.Frames()[0];
    const TGIFColorMap& colors = f.EffectiveColors();
    const int transparent = f.HasTransparency() ? f.GraphicControlExtension()->TransparentIndex() : -1;
    for (int y = 0; y < f.Height() && f.Top() + y < dib.height(); ++y)
        for (int x = 0; x < f.Width() && f.Left() + x < dib.width(); ++x) {
            int index = f.PixelAt(x, y);
            TColor expected = index == transparent ? key : colors.ColorAt(index);
            ASSERT_EQ(dib.pixel(f.Left() + x, f.Top() + y), expected) << x << "," << y;
        }
}

#ifdef GLX_HAVE_LIBPNG
// An expected frame picture of the suite as RGBA rows (empty when it
// cannot be read).
struct Reference {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
};

Reference readReference(const std::string& file) {
    const std::string path = std::string(GLX_TEST_DATA) + "/gifsuite/gifs/frames/" + file;
    png_image ref{};
    ref.version = PNG_IMAGE_VERSION;
    Reference out;
    if (!png_image_begin_read_from_file(&ref, path.c_str())) {
        ADD_FAILURE() << path;
        return out;
    }
    ref.format = PNG_FORMAT_RGBA;
    out.rgba.resize(PNG_IMAGE_SIZE(ref));
    if (png_image_finish_read(&ref, nullptr, out.rgba.data(), 0, nullptr)) {
        out.width = int(ref.width);
        out.height = int(ref.height);
    } else {
        ADD_FAILURE() << path;
        out.rgba.clear();
    }
    png_image_free(&ref);
    return out;
}

// Pixels of dib that differ from the reference; where the reference is
// transparent, dib must show key.
int mismatches(const Dib& dib, const Reference& ref, TColor key) {
    int count = 0;
    for (int y = 0; y < ref.height; ++y)
        for (int x = 0; x < ref.width; ++x) {
            const uint8_t* p = &ref.rgba[(size_t(y) * size_t(ref.width) + size_t(x)) * 4];
            const TColor expected = p[3] == 0 ? key : rgb(p[0], p[1], p[2]);
            count += dib.pixel(x, y) != expected;
        }
    return count;
}

// The expected first frame: the logical screen after frame 0 as RGBA, fully
// transparent where the frame leaves the screen empty.
TEST_P(GifSuite, FirstFrameMatchesTheExpectedPicture) {
    const std::string name = GetParam();
    const Reference ref = readReference(name.rfind("static", 0) == 0 ? name + ".png" : name + "-0.png");
    ASSERT_FALSE(ref.rgba.empty());

    TGIFImage img;
    img.LoadFile(pathOf(name));
    ASSERT_EQ(ref.width, img.Width());
    ASSERT_EQ(ref.height, img.Height());
    Dib dib(img.Width(), img.Height(), 24);
    const TColor key = rgb(1, 254, 3);
    dib.fill(0, 0, dib.width(), dib.height(), key);
    TCanvas canvas(&dib);
    img.Frames()[0].PaintTo(canvas, TRect{0, 0, img.Width(), img.Height()}, img.Frames()[0].HasTransparency(), false);
    EXPECT_EQ(mismatches(dib, ref, key), 0);
}
namespace {
class StepTicks : public ITickSource {
public:
    uint32_t now = 0;
    uint32_t TickCount() override { return now; }
};
}  // namespace

// The preview control shows each frame as the animation composes it.
class GifSuiteAnimated : public ::testing::TestWithParam<const char*> {};

TEST_P(GifSuiteAnimated, PreviewComposesEveryFrameLikeTheExpectedPictures) {
    const std::string name = GetParam();
    const TColor key = rgb(1, 254, 3);
    TGdipGIF gif;
    StepTicks ticks;
    gif.SetTickSource(&ticks);
    gif.AutoSize = true;
    gif.SetBevelInner(TBevelCut::bvNone);
    gif.Color = key;
    gif.LoadFile(pathOf(name));
    gif.SetActive(true);
    for (int frame = 0; frame < gif.FrameCount(); ++frame) {
        if (frame > 0) {
            ticks.now += 100000;
            gif.TimerTick();
        }
        ASSERT_EQ(gif.CurrentFrame(), frame);
        const Reference ref = readReference(name + "-" + std::to_string(frame) + ".png");
        ASSERT_FALSE(ref.rgba.empty());
        ASSERT_EQ(ref.width, gif.Bitmap().width());
        EXPECT_EQ(mismatches(gif.Bitmap(), ref, key), 0) << "frame " << frame;
    }
}

// The browser's composition gives the expected pictures with their alpha.
TEST_P(GifSuiteAnimated, BrowserCompositionGivesTheExpectedPictures) {
    const std::string name = GetParam();
    TGIFImage img;
    img.LoadFile(pathOf(name));
    GifBrowserComposer composer(img);
    for (int frame = 0; frame < composer.frameCount(); ++frame) {
        composer.next();
        const std::string png =
            std::string(GLX_TEST_DATA) + "/gifsuite/gifs/frames/" + name + "-" + std::to_string(frame) + ".png";
        png_image ref{};
        ref.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&ref, png.c_str())) << png;
        ref.format = PNG_FORMAT_RGBA;
        std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(ref));
        ASSERT_TRUE(png_image_finish_read(&ref, nullptr, rgba.data(), 0, nullptr));
        ASSERT_EQ(int(ref.width), composer.width());
        ASSERT_EQ(int(ref.height), composer.height());
        int mismatches = 0;
        for (int y = 0; y < int(ref.height); ++y)
            for (int x = 0; x < int(ref.width); ++x) {
                const uint8_t* want = &rgba[(size_t(y) * ref.width + size_t(x)) * 4];
                const uint8_t* got = composer.row(y) + size_t(x) * 4;
                // Fully transparent pixels are equal whatever colour they carry.
                mismatches += want[3] != got[3] || (want[3] != 0 && !std::equal(want, want + 3, got));
            }
        EXPECT_EQ(mismatches, 0) << "frame " << frame;
        png_image_free(&ref);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, GifSuiteAnimated, ::testing::ValuesIn(kFiles, kFiles + 11));
#endif

INSTANTIATE_TEST_SUITE_P(Files, GifSuite, ::testing::ValuesIn(kFiles));

TEST(GifSuiteDelays, VariableDelays) {
    TGdipGIF gif;
    gif.LoadFile(pathOf("animated_loop_variable_delay"));
    ASSERT_EQ(gif.FrameCount(), 4);
    int distinct = 0;
    for (int i = 1; i < 4; ++i) distinct += gif.Delays()[size_t(i)] != gif.Delays()[0];
    EXPECT_GT(distinct, 0);
}

TEST(GifSuiteFormat, RegisteredWithThePictureContainer) {
    registerGifFormat();
    TPicture picture;
    picture.LoadFile(pathOf("static_transparent"));
    ASSERT_NE(dynamic_cast<TGIFImage*>(picture.Graphic()), nullptr);
    EXPECT_EQ(picture.Width(), picture.Graphic()->Width());
    EXPECT_GT(picture.Width(), 0);
}

}  // namespace
}  // namespace glx::test
