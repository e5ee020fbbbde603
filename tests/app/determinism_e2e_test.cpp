// Every run mode gives the same files, atlas, messages and exit status
// whether the tool runs on one core or two: the read-ahead thread, the
// placement loop, the deflate pool and the frame writer may interleave in
// any way without changing a byte.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include "png_oracle.h"
#include "support/gif_builder.h"
#include "support/pictures.h"
#include "support/process.h"

using namespace glxtest;
namespace fs = std::filesystem;

namespace {

struct RunOutcome {
    RunResult result;
    std::string output;  // the glued picture's bytes ("" when none was written)
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
                p.pixels.push_back(
                    Rgba{uint8_t(x * 9 + i), uint8_t(y * 11), uint8_t(i * 23), uint8_t((x * y + i * 17) % 256)});
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
    std::vector<uint8_t> rgb(static_cast<size_t>(w * h * 3));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &rgb[static_cast<size_t>((y * w + x) * 3)];
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
        JSAMPROW row = &rgb[static_cast<size_t>(c.next_scanline) * static_cast<size_t>(w) * 3];
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

// Every file under folder (relative name -> bytes).
std::map<std::string, std::string> filesUnder(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) files[fs::relative(e.path(), folder).string()] = readFile(e.path());
    return files;
}

struct FolderRun {
    RunResult result;
    std::map<std::string, std::string> files;
};

// Copies source to a fixed work folder and runs the tool there pinned to
// cpus, with arguments relative to that folder.
FolderRun runOn(const TempFolder& t, const fs::path& source, const std::vector<std::string>& args,
                const std::string& cpus, uint64_t fileSizeLimit = 0) {
    const fs::path work = t / "work";
    fs::remove_all(work);
    fs::create_directories(work);
    fs::copy(source, work, fs::copy_options::recursive);
    std::vector<std::string> argv{"taskset", "-c", cpus, GLX_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    FolderRun r;
    r.result = runProgram(argv, work, {.fileSizeLimit = fileSizeLimit});
    r.files = filesUnder(work);
    return r;
}

void expectSameFolders(const TempFolder& t, const fs::path& source, const std::vector<std::string>& args,
                       int expectedStatus, uint64_t fileSizeLimit = 0) {
    const FolderRun one = runOn(t, source, args, "0", fileSizeLimit);
    const FolderRun two = runOn(t, source, args, "0,1", fileSizeLimit);
    EXPECT_EQ(one.result.status, expectedStatus) << one.result.err;
    EXPECT_EQ(two.result.status, one.result.status);
    EXPECT_EQ(two.result.out, one.result.out);
    EXPECT_EQ(two.result.err, one.result.err);
    EXPECT_EQ(two.files.size(), one.files.size());
    for (const auto& [name, bytes] : one.files) {
        auto other = two.files.find(name);
        ASSERT_NE(other, two.files.end()) << name << " only on one core";
        EXPECT_TRUE(other->second == bytes) << name << " differs between one and two cores";
    }
}

// An RGBA PNG of w x h noise over a gradient, so that pieces deflate to
// different sizes.
void writeNoisy(const fs::path& path, int w, int h, uint32_t seed) {
    PictureRgba p;
    p.width = w;
    p.height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            const uint8_t n = uint8_t(seed >> 24);
            p.pixels.push_back(Rgba{uint8_t(x + (n & 15)), uint8_t(y * 2), uint8_t(n), uint8_t(255 - (n & 63))});
        }
    writePng(path.string(), p);
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

// Sheets far larger than one deflate piece, encoded ahead while gluing
// (rows) and at saving (columns).
TEST_F(Determinism, SheetsOfManyDeflatePieces) {
    fs::create_directories(t / "src");
    for (int i = 0; i < 300; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "n%03d.png", i);
        writeNoisy(t / "src" / name, 40 + i % 7, 30 + i % 5, uint32_t(i + 1));
    }
    expectSameOnOneAndTwoCores(t, t / "src", "H20", "out.png", 0);
    expectSameOnOneAndTwoCores(t, t / "src", "V15", "out.png", 0);
}

// The frames of an export are written on the pool while later ones are
// drawn; the files, "delays.txt" and the report are the same, also when a
// frame cannot be written (a file size limit: the frames before it stay,
// and "delays.txt", written once every frame is, is not).
TEST_F(Determinism, GifExportFramesAndDelays) {
    fs::create_directories(t / "src");
    std::vector<uint8_t> palette;
    for (int i = 0; i < 256; ++i) palette.insert(palette.end(), {uint8_t(i), uint8_t(i * 3), uint8_t(255 - i)});
    std::vector<GifFrame> frames(30);
    uint32_t seed = 7;
    for (size_t f = 0; f < frames.size(); ++f) {
        GifFrame& frame = frames[f];
        frame.width = frame.height = f == 12 ? 300 : 120;  // one frame far beyond a deflate piece
        frame.delay = int(f % 4);
        frame.disposal = f % 5 == 0 ? 2 : 1;
        frame.transparent = f % 3 == 0 ? 7 : -1;
        for (int i = 0; i < frame.width * frame.height; ++i) {
            seed = seed * 1103515245u + 12345u;
            frame.indices.push_back(f == 12 ? uint8_t(seed >> 24)
                                            : uint8_t(uint32_t(i % frame.width) / 4 + (seed >> 28)));
        }
    }
    writeFile(t / "src" / "anim.gif", makeGif(300, 300, palette, frames));
    expectSameFolders(t, t / "src", {"anim.gif"}, 0);
    // Frame 12 is noise, larger than the limit; the frames around it are not.
    expectSameFolders(t, t / "src", {"anim.gif"}, 1, 120 * 1024);
    const std::map<std::string, std::string> left = filesUnder(t / "work");
    EXPECT_EQ(left.count("anim/11.png"), 1u);
    EXPECT_EQ(left.count("anim/12.png"), 0u);
    EXPECT_EQ(left.count("anim/13.png"), 0u);
    EXPECT_EQ(left.count("anim/delays.txt"), 0u);
}

TEST_F(Determinism, PasteRun) {
    fs::create_directories(t / "src");
    writeNoisy(t / "src" / "pattern.png", 500, 400, 3);
    writeNoisy(t / "src" / "frag.png", 60, 50, 4);
    std::string script;
    for (int i = 1; i <= 12; ++i) script += std::to_string(i) + ";;" + std::to_string(1 + i % 3) + "\nfrag.png\n";
    script += "480;390;2\nfrag.png\n";  // grows the pattern
    writeFile(t / "src" / "Glumix_paste.ini", script);
    expectSameFolders(t, t / "src", {"pattern.png", "H5", "out.png"}, 0);
}
