// Hostile pictures against the built tool: declared sizes far beyond the
// limits, absurd chunk lengths, zlib bombs and runaway progressive JPEGs
// are refused with an error report, quickly and with little memory.
#include <gtest/gtest.h>

#include "child_run.h"
#include "hostile_files.h"

using namespace hardening;

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
ChildResult glueAlone(const Scratch& s, const std::string& name, const std::string& bytes) {
    spit(s / name, bytes);
    std::string ext = std::filesystem::path(name).extension().string();
    return runChild({(s / name).string(), "H1", "out" + ext}, s.path);
}

void expectRefused(const ChildResult& r, const std::string& what) {
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
            Scratch s;
            std::string what = std::string(kind.ext) + " " + std::to_string(side);
            const std::string name = std::string("big") + kind.ext;
            ChildResult r;
            if (kind.ext == std::string(".gif")) {
                // A GIF is exported frame by frame rather than glued.
                spit(s / name, kind.make(side, side));
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
        Scratch s;
        auto r = glueAlone(s, h.name, h.bytes);
        expectRefused(r, h.name);
        EXPECT_NE(r.err.find(h.size), std::string::npos) << h.name << ": " << r.err;
        EXPECT_NE(r.err.find("could not fill"), std::string::npos) << h.name << ": " << r.err;
    }
}

// A picture at deflate's best ratio still glues: 4096 x 4096 RGBA of one
// colour is 64 MiB from 65 KB.
TEST(Limits, PictureAtDeflatesBestRatioGlues) {
    Scratch s;
    const std::string png = pngSignature() + ihdr(4096, 4096, 8, 6) +
                            pngChunk("IDAT", deflateZeros(uint64_t(4096) * (1 + 4096 * 4))) + pngChunk("IEND", "");
    ASSERT_LT(png.size(), 70000u);
    spit(s / "flat.png", png);
    auto r = runChild({(s / "flat.png").string(), "H1", "out.png"}, s.path, ChildOptions{0, 60});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(s / "out.png"));
}

// A 16 x 16 JPEG stretched to gigabytes by a hole (a few KiB on disk) is
// read as far as its end marker: glued quickly and with little memory.
TEST(Limits, JpegPaddedToGigabytesGluesFromItsOwnBytes) {
    for (uint64_t size : {uint64_t(1) << 30, uint64_t(3) << 30}) {
        Scratch s;
        spit(s / "small.jpg", encodeJpeg(16, 16, 3));
        std::filesystem::resize_file(s / "small.jpg", size);
        auto r = runChild({(s / "small.jpg").string(), "H1", "out.jpg"}, s.path);
        EXPECT_FALSE(r.timedOut) << size;
        EXPECT_EQ(r.status, 0) << size << r.err;
        EXPECT_LT(r.peakBytes, kPeakLimit) << size;
        EXPECT_TRUE(std::filesystem::exists(s / "out.jpg")) << size;
    }
}

TEST(Limits, TwoGigabyteChunkInAHundredBytesIsNotAllocated) {
    Scratch s;
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
    Scratch s;
    auto r = glueAlone(s, "bomb.png", pngWithIdat(16, 16, deflateZeros(uint64_t(64) << 20)));
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.signal, 0);
    EXPECT_LT(r.peakBytes, kPeakLimit);
    // Either the surplus is refused or the picture is glued from its rows.
    EXPECT_TRUE(r.status == 1 || std::filesystem::exists(s / "out.png")) << r.status << r.err;
}

TEST(Limits, ZtxtBombStops) {
    // A compressed text inflating to 256 MiB in front of a valid 4 x 4 picture.
    Scratch s;
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
    Scratch s;
    std::string jpeg = runawayProgressiveJpeg(1000);
    int scans = 0;
    for (size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (static_cast<uint8_t>(jpeg[i]) == 0xFF && static_cast<uint8_t>(jpeg[i + 1]) == 0xDA) ++scans;
    ASSERT_EQ(scans, 1000);
    auto r = glueAlone(s, "scans.jpg", jpeg);
    expectRefused(r, "1000 scans");
    EXPECT_NE(r.err.find("more than 100 scans"), std::string::npos) << r.err;
}
