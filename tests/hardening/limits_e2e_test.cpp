// Hostile pictures against the built tool: declared sizes far beyond the
// limits, absurd chunk lengths, zlib bombs and runaway progressive JPEGs
// are refused with an error report, quickly and with little memory.
#include <gtest/gtest.h>

#include "gif/gif_test_util.h"
#include "hostile_files.h"
#include "support/process.h"

using namespace glxtest;

namespace {

struct Oversize {
    const char* ext;
    std::string (*make)(uint32_t w, uint32_t h);
};

std::string pngOf(uint32_t w, uint32_t h) { return hugePng(w, h); }
std::string gifOf(uint32_t w, uint32_t h) { return hugeGif(uint16_t(w), uint16_t(h)); }
std::string bmpOf(uint32_t w, uint32_t h) { return hugeBmp(int32_t(w), int32_t(h)); }
std::string jpgOf(uint32_t w, uint32_t h) { return hugeJpeg(uint16_t(w), uint16_t(h)); }

// Glues the one picture in a fresh folder into "out.<ext>".
RunResult glueAlone(const TempFolder& s, const std::string& name, const std::string& bytes) {
    writeFile(s / name, bytes);
    std::string ext = std::filesystem::path(name).extension().string();
    return runChild({(s / name).string(), "H1", "out" + ext}, s.path);
}

void expectRefused(const RunResult& r, const std::string& what) {
    EXPECT_FALSE(r.timedOut) << what;
    EXPECT_EQ(r.signal, 0) << what;
    EXPECT_EQ(r.status, 1) << what << "\n" << r.out << r.err;
    EXPECT_LT(r.peakBytes, kPeakLimit) << what;
}

}  // namespace

TEST(Limits, DeclaredHugeSizesAreRefusedNamingTheSize) {
    const Oversize kinds[] = {{".png", pngOf}, {".gif", gifOf}, {".bmp", bmpOf}, {".jpg", jpgOf}};
    for (const auto& kind : kinds)
        for (uint32_t side : {65535u, 20000u}) {
            TempFolder s;
            std::string what = std::string(kind.ext) + " " + std::to_string(side);
            const std::string name = std::string("big") + kind.ext;
            RunResult r;
            if (kind.ext == std::string(".gif")) {
                // A GIF is exported frame by frame rather than glued.
                writeFile(s / name, kind.make(side, side));
                r = runChild({(s / name).string()}, s.path);
            } else {
                r = glueAlone(s, name, kind.make(side, side));
            }
            expectRefused(r, what);
            std::string size = std::to_string(side) + " x " + std::to_string(side);
            EXPECT_NE(r.err.find(size), std::string::npos) << what << ": " << r.err;
            EXPECT_FALSE(std::filesystem::exists(s / (std::string("out") + kind.ext))) << what;
        }
}

// Inside the size limit, but far too little data for the picture declared:
// refused before the pixels are allocated, naming the size.
TEST(Limits, TinyFilesDeclaringPicturesTheirDataCannotFillAreRefused) {
    struct Hostile {
        const char* name;
        std::string bytes;
        const char* size;
    };
    const std::string zlibOfNothing = deflateZeros(0);
    const Hostile files[] = {
        {"empty.png", pngWithIdat(16384, 16384, zlibOfNothing), "16384 x 16384"},
        {"rows.bmp", hugeBmp(5, 16777219) + std::string(76, '\x11'), "5 x 16777219"},
    };
    ASSERT_EQ(files[0].bytes.size(), 65u);
    ASSERT_EQ(files[1].bytes.size(), 130u);
    for (const Hostile& h : files) {
        TempFolder s;
        auto r = glueAlone(s, h.name, h.bytes);
        expectRefused(r, h.name);
        EXPECT_NE(r.err.find(h.size), std::string::npos) << h.name << ": " << r.err;
        EXPECT_NE(r.err.find("could not fill"), std::string::npos) << h.name << ": " << r.err;
    }
}

// A picture at deflate's best ratio still glues: 4096 x 4096 RGBA of one
// colour is 64 MiB from 65 KB.
TEST(Limits, PictureAtDeflatesBestRatioGlues) {
    TempFolder s;
    const std::string png = pngSignature() + ihdr(4096, 4096, 8, 6) +
                            pngChunk("IDAT", deflateZeros(uint64_t(4096) * (1 + 4096 * 4))) + pngChunk("IEND", "");
    ASSERT_LT(png.size(), 70000u);
    writeFile(s / "flat.png", png);
    auto r = runChild({(s / "flat.png").string(), "H1", "out.png"}, s.path, {.timeoutSeconds = 60});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(s / "out.png"));
}

// A 16 x 16 JPEG stretched to gigabytes by a hole (a few KiB on disk) is
// read as far as its end marker: glued quickly and with little memory.
TEST(Limits, JpegPaddedToGigabytesGluesFromItsOwnBytes) {
    for (uint64_t size : {uint64_t(1) << 30, uint64_t(3) << 30}) {
        TempFolder s;
        writeFile(s / "small.jpg", encodeJpeg(16, 16, 3));
        std::filesystem::resize_file(s / "small.jpg", size);
        auto r = runChild({(s / "small.jpg").string(), "H1", "out.jpg"}, s.path);
        EXPECT_FALSE(r.timedOut) << size;
        EXPECT_EQ(r.status, 0) << size << r.err;
        EXPECT_LT(r.peakBytes, kPeakLimit) << size;
        EXPECT_TRUE(std::filesystem::exists(s / "out.jpg")) << size;
    }
}

TEST(Limits, TwoGigabyteChunkInAHundredBytesIsNotAllocated) {
    TempFolder s;
    std::string png = pngSignature() + ihdr(1, 1);
    be32(png, 0x80000000u);
    png += "tEXt";
    png.resize(100, 'x');
    ASSERT_EQ(png.size(), 100u);
    auto r = glueAlone(s, "chunk.png", png);
    expectRefused(r, "2 GiB chunk");
    EXPECT_FALSE(r.err.empty());
}

TEST(Limits, IdatBombStops) {
    // 64 MiB of zeros behind a 16 x 16 header: only 16 rows are wanted.
    TempFolder s;
    auto r = glueAlone(s, "bomb.png", pngWithIdat(16, 16, deflateZeros(uint64_t(64) << 20)));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.signal, 0);
    EXPECT_LT(r.peakBytes, kPeakLimit);
    // Either the surplus is refused or the picture is glued from its rows.
    EXPECT_TRUE(r.status == 1 || std::filesystem::exists(s / "out.png")) << r.status << r.err;
}

TEST(Limits, ZtxtBombStops) {
    // A compressed text inflating to 256 MiB in front of a valid 4 x 4 picture.
    TempFolder s;
    std::string ztxt = std::string("Comment") + '\0' + '\0' + deflateZeros(uint64_t(256) << 20);
    std::string png = pngSignature() + ihdr(4, 4) + pngChunk("zTXt", ztxt) +
                      pngChunk("IDAT", deflateZeros(4 * (1 + 4 * 3))) + pngChunk("IEND", "");
    auto r = glueAlone(s, "text.png", png);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.signal, 0);
    EXPECT_LT(r.peakBytes, kPeakLimit);
    EXPECT_EQ(r.status, 0) << r.err;  // the picture itself is fine; the text is dropped
    EXPECT_TRUE(std::filesystem::exists(s / "out.png"));
}

TEST(Limits, ProgressiveJpegOfAThousandScansStopsAtTheCap) {
    TempFolder s;
    std::string jpeg = runawayProgressiveJpeg(1000);
    int scans = 0;
    for (size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (static_cast<uint8_t>(jpeg[i]) == 0xFF && static_cast<uint8_t>(jpeg[i + 1]) == 0xDA) ++scans;
    ASSERT_EQ(scans, 1000);
    auto r = glueAlone(s, "scans.jpg", jpeg);
    expectRefused(r, "1000 scans");
    EXPECT_NE(r.err.find("more than 100 scans"), std::string::npos) << r.err;
}

// Text files beside the picture cost what is read of them, not what they
// claim: a settings file padded to a gigabyte (a sparse file) is read up to
// its first line, and a long names file once, only as far as names are
// needed.
TEST(Limits, PaddedSettingsAndLongNamesFiles) {
    TempFolder s;
    writeFile(s / "a.bmp", noiseBmp(2, 2, 4));
    writeFile(s / "Glumix.ini", "0000FF\n");
    std::filesystem::resize_file(s / "Glumix.ini", uint64_t(1) << 30);
    auto r = runChild({(s / "a.bmp").string(), "H1", "out.bmp"}, s.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(r.peakBytes, kPeakLimit);
    // The same file with no line end at all: its first line is cut, not held.
    writeFile(s / "Glumix.ini", "");
    std::filesystem::resize_file(s / "Glumix.ini", uint64_t(1) << 30);
    r = runChild({(s / "a.bmp").string(), "H1", "out.bmp"}, s.path, {.timeoutSeconds = 60});
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(r.peakBytes, kPeakLimit);

    TempFolder many;
    const int pictures = 300;
    for (int i = 0; i < pictures; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "p%03d.bmp", i);
        writeFile(many / name, noiseBmp(1, 1, uint32_t(i)));
    }
    std::string names;
    for (int i = 0; names.size() < (size_t(10) << 20); ++i) names += "name" + std::to_string(i) + "\r\n";
    writeFile(many / "patterns.xml.txt", names);
    // A hang guard, not a measurement: reading the file from its start for
    // every picture took well over a minute.
    r = runChild({(many / "p000.bmp").string(), "H20", "out.bmp"}, many.path, {.timeoutSeconds = 30});
    EXPECT_FALSE(r.timedOut);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string xml = readFile(many / "patterns.xml");
    EXPECT_NE(xml.find("<pattern name=\"name0\" x=\"0\" y=\"0\""), std::string::npos);
    EXPECT_NE(xml.find("<pattern name=\"name299\" x=\"19\" y=\"14\""), std::string::npos);
    EXPECT_EQ(xml.find("name300"), std::string::npos);

    // A paste script is read a pair at a time: millions of empty lines cost
    // what its first pair costs, and a line beyond the cap is refused,
    // naming the script.
    TempFolder p;
    writeFile(p / "a.bmp", noiseBmp(2, 2, 5));
    writeFile(p / "Glumix_paste.ini", std::string(size_t(8) << 20, '\n'));
    r = runChild({(p / "a.bmp").string(), "H1"}, p.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Tech code: #106\n"), std::string::npos) << r.err;
    EXPECT_LT(r.peakBytes, kPeakLimit);
    writeFile(p / "Glumix_paste.ini", "1\n" + std::string((size_t(1) << 20) + 1, 'x') + "\n");
    r = runChild({(p / "a.bmp").string(), "H1"}, p.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        r.err.rfind(
            "Cannot read file \"" + (p / "Glumix_paste.ini").string() + "\". Line 2 is longer than 1048576 bytes", 0),
        0u)
        << r.err;
}

// The GIF export holds one canvas and the frame being drawn, however many
// frames a file has and whatever they declare.
namespace {

// 1200 frames of 320 x 240 alternating between two colours, every frame
// drawn over the last (disposal 1).
std::string longAnimation() {
    using namespace glx::test;
    GifBuilder b;
    b.header(320, 240, 2).loop(0);
    std::vector<uint8_t> data[2];
    for (int c = 0; c < 2; ++c) {
        LzwOptions lzw;
        lzw.minCodeSize = 2;
        data[c] = lzwEncode(std::vector<uint8_t>(320 * 240, uint8_t(1 + c)), lzw);
    }
    for (int i = 0; i < 1200; ++i) b.gce(4, 1).descriptor(0, 0, 320, 240, 0).raw(data[i % 2]);
    b.trailer();
    return std::string(b.bytes.begin(), b.bytes.end());
}

RunResult exportGif(const TempFolder& s, const std::string& bytes, int timeoutSeconds = 60) {
    writeFile(s / "anim.gif", bytes);
    RunOptions options;
    options.timeoutSeconds = timeoutSeconds;
    // Freed memory that the address sanitizer holds back would count as
    // the tool's own: keep that small.
    options.environment = {asanOptions("quarantine_size_mb=8")};
    return runChild({(s / "anim.gif").string()}, s.path, options);
}

void expectExported(const RunResult& r, int frames, const std::string& what) {
    EXPECT_FALSE(r.timedOut) << what;
    EXPECT_EQ(r.signal, 0) << what;
    EXPECT_EQ(r.status, 0) << what << "\n" << r.err;
    EXPECT_EQ(r.out, std::to_string(frames) + " Pictures extracted from gif!\n") << what;
}

}  // namespace

TEST(Limits, ALongAnimationExportsWithOneCanvasInMemory) {
    TempFolder s;
    auto r = exportGif(s, longAnimation());
    expectExported(r, 1200, "1200 frames");
    EXPECT_LT(r.peakBytes, kPeakLimit + 320 * 240 * 4);
    EXPECT_TRUE(std::filesystem::exists(s / "anim" / "1199.png"));
}

TEST(Limits, TinyGifsDeclaringHugeFramesStayLight) {
    struct Case {
        const char* what;
        std::string gif;
        int frames;
        uint64_t peakLimit;
    };
    // Four frames as large as the screen, each on a fresh canvas: one canvas
    // (4 bytes a pixel) and nothing of the frames, which hold one pixel of
    // data. (The same file at 16384 x 16384 takes a minute here; at this
    // size the frames of old would have needed twice the canvas.)
    const uint64_t canvas = uint64_t(4096) * 4096 * 4;
    const Case cases[] = {
        {"four screen-sized frames", emptyFramesGif(4096, 4096, 4, 4096, 4096), 4, canvas + kPeakLimit},
        // A frame of 17993 x 14648 beside a 100 x 100 screen never shows.
        {"off-screen frame", emptyFramesGif(100, 100, 1, 17993, 14648, 200, 0), 1, kPeakLimit},
    };
    for (const Case& c : cases) {
        TempFolder s;
        auto r = exportGif(s, c.gif, 120);
        expectExported(r, c.frames, c.what);
        EXPECT_LT(r.peakBytes, c.peakLimit) << c.what << ": " << r.peakBytes;
    }
}
