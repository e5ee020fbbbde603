// Gluing gives the same files, atlas, messages and exit status whether the
// tool runs on one core or two: the read-ahead thread and the placement
// loop may interleave in any way without changing a byte.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>

#include "bmp24.h"
#include "png_oracle.h"
#include "support/process.h"

using namespace glxtest;
namespace fs = std::filesystem;

namespace {

struct RunOutcome {
    RunResult result;
    std::string output;    // the glued picture's bytes ("" when none was written)
    std::string patterns;  // patterns.xml in the glued folder ("" when none)
};

bool haveTaskset() { return std::system("command -v taskset >/dev/null 2>&1") == 0; }

// Copies source to a fixed work folder (so messages that name paths are
// the same for every run), glues it there pinned to cpus and collects what
// the run left.
RunOutcome glueOn(const TempFolder& t, const fs::path& source, const std::string& layout, const std::string& outName,
                  const std::string& cpus) {
    const fs::path work = t / "work";
    fs::remove_all(work);
    fs::create_directories(work);
    fs::copy(source, work / "pics", fs::copy_options::recursive);
    RunOutcome o;
    o.result = runTool({"-c", cpus, GLX_BINARY, "pics", layout, outName}, "", work, "taskset");
    // A relative output name is taken in the folder part of the picture
    // argument: for a folder named without a trailing slash, its parent.
    if (fs::exists(work / outName)) o.output = readFile(work / outName);
    if (fs::exists(work / "pics" / "patterns.xml")) o.patterns = readFile(work / "pics" / "patterns.xml");
    return o;
}

void expectSameOnOneAndTwoCores(const TempFolder& t, const fs::path& source, const std::string& layout,
                                const std::string& outName, int expectedStatus) {
    const RunOutcome one = glueOn(t, source, layout, outName, "0");
    const RunOutcome two = glueOn(t, source, layout, outName, "0,1");
    EXPECT_EQ(one.result.status, expectedStatus) << one.result.err;
    EXPECT_EQ(two.result.status, one.result.status);
    EXPECT_EQ(two.result.out, one.result.out);
    EXPECT_EQ(two.result.err, one.result.err);
    EXPECT_EQ(two.patterns, one.patterns);
    EXPECT_TRUE(two.output == one.output) << outName << " differs between one and two cores";
    if (expectedStatus == 0) {
        EXPECT_FALSE(one.output.empty());
        EXPECT_FALSE(one.patterns.empty());
    }
}

// Sprites of a few sizes with partial transparency, so that the canvas
// grows in both directions and blending values matter.
void writeSprites(const fs::path& dir, int count) {
    fs::create_directories(dir);
    for (int i = 0; i < count; ++i) {
        PictureRgba p;
        p.width = 20 + (i % 4) * 7;
        p.height = 16 + (i % 3) * 9;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
                p.pixels.push_back(Rgba{uint8_t(x * 9 + i), uint8_t(y * 11), uint8_t(i * 23), uint8_t((x * y + i * 17) % 256)});
        char name[32];
        std::snprintf(name, sizeof name, "s%03d.png", i);
        writePng((dir / name).string(), p);
    }
}

Rgb shade(int x, int y, void* ctx) {
    const int i = *static_cast<int*>(ctx);
    return Rgb{uint8_t(x * 5 + i), uint8_t(y * 3), uint8_t(i * 29)};
}

void writeBmps(const fs::path& dir, int count) {
    fs::create_directories(dir);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "b%03d.bmp", i);
        writeFile(dir / name, makeBmp(30 + i % 5, 24 + i % 3, shade, &i));
    }
}

// A baseline JPEG written with libjpeg at quality 90.
void writeJpeg(const fs::path& path, int w, int h, int seed) {
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            p[0] = uint8_t(x * 3 + seed);
            p[1] = uint8_t(y * 4);
            p[2] = uint8_t((x + y) * 2 + seed * 7);
        }
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &rgb[static_cast<size_t>(c.next_scanline) * w * 3];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    writeFile(path, std::string(reinterpret_cast<char*>(mem), size));
    jpeg_destroy_compress(&c);
    std::free(mem);
}

void writeJpegs(const fs::path& dir, int count) {
    fs::create_directories(dir);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "j%03d.jpg", i);
        writeJpeg(dir / name, 48 + (i % 3) * 16, 40 + (i % 2) * 8, i);
    }
}

class Determinism : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveTaskset()) GTEST_SKIP() << "taskset is not installed: cannot pin the tool to one or two cores";
    }
    TempFolder t;
};

}  // namespace

TEST_F(Determinism, PngSpritesWithAlpha) {
    writeSprites(t / "src", 60);
    expectSameOnOneAndTwoCores(t, t / "src", "H7", "out.png", 0);
    expectSameOnOneAndTwoCores(t, t / "src", "V9", "out.png", 0);
}

TEST_F(Determinism, BitmapsToBmpAndToPng) {
    writeBmps(t / "src", 40);
    expectSameOnOneAndTwoCores(t, t / "src", "H6", "out.bmp", 0);
    expectSameOnOneAndTwoCores(t, t / "src", "H6", "out.png", 0);
}

TEST_F(Determinism, JpegsToJpeg) {
    writeJpegs(t / "src", 24);
    expectSameOnOneAndTwoCores(t, t / "src", "H5", "out.jpg", 0);
}

// A damaged picture in the middle stops the run at the same picture, with
// the same report and the same atlas lines written so far.
TEST_F(Determinism, BrokenPictureInTheMiddle) {
    writeSprites(t / "png", 30);
    writeFile(t / "png" / "s015.png", std::string("\x89PNG\r\n\x1a\n", 8) + "not really a picture");
    expectSameOnOneAndTwoCores(t, t / "png", "H7", "out.png", 1);

    writeBmps(t / "bmp", 20);
    writeFile(t / "bmp" / "b010.bmp", "BM broken");
    expectSameOnOneAndTwoCores(t, t / "bmp", "H4", "out.bmp", 1);

    writeJpegs(t / "jpg", 12);
    writeFile(t / "jpg" / "j006.jpg", std::string("\xFF\xD8\xFF\xE0", 4) + "truncated");
    expectSameOnOneAndTwoCores(t, t / "jpg", "H4", "out.jpg", 1);
}
