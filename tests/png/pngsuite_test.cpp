// Every file of the conformance suite: valid files decode to the expected
// pixels (and survive a save and reload), damaged files are refused with
// the exception their fault calls for.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>

#include "png/chunk_ancillary.h"
#include "png_test_util.h"
#include "raster/declared_size.h"

namespace glx::pngtest {
namespace {

std::vector<std::string> suiteFiles(bool damaged) {
    std::vector<std::string> names;
    DIR* dir = opendir((suiteDir() + "/png").c_str());
    if (!dir) return names;
    while (dirent* e = readdir(dir)) {
        std::string n = e->d_name;
        if (n.size() < 5 || n.substr(n.size() - 4) != ".png") continue;
        if ((n[0] == 'x') == damaged) names.push_back(n.substr(0, n.size() - 4));
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

struct Observed {
    TColor color;
    int alpha;  // -1: not checked
};

// What the image shows at (x, y) in terms of the decoded samples: colour
// through PixelAt, alpha through the alpha plane or the palette's tRNS.
Observed observe(const TPNGObject& img, int32_t x, int32_t y) {
    const TChunkIHDR& h = img.HeaderChunk();
    Observed o{img.PixelAt(x, y), -1};
    if (h.ColorType == 4 || h.ColorType == 6) o.alpha = img.AlphaRow(y)[x];
    if (h.ColorType == 3) {
        const auto* trns = img.Chunks().FindByClass<TChunktRNS>();
        uint32_t index = h.Pixels().index(x, y);
        o.alpha = trns ? trns->AlphaValues[index] : 255;
    }
    return o;
}

class PngSuiteValid : public ::testing::TestWithParam<std::string> {};

TEST_P(PngSuiteValid, DecodesToExpectedPixels) {
    const std::string name = GetParam();
    TPNGObject img;
    img.LoadFile(suiteDir() + "/png/" + name + ".png");
    std::vector<uint32_t> expected = readNumbers(suiteDir() + "/json/" + name + ".json");
    const int32_t w = img.Width(), h = img.Height();
    ASSERT_EQ(expected.size(), static_cast<size_t>(w * h * 4));
    EXPECT_EQ(declaredPictureSize(suiteDir() + "/png/" + name + ".png", Limits{}), (DeclaredSize{w, h}));
    const bool wide = *std::max_element(expected.begin(), expected.end()) > 255 || name.substr(6, 2) == "16";
    const TChunkIHDR& header = img.HeaderChunk();
    const auto& dg = img.DecodeGamma();
    const bool keyed =
        (header.ColorType == 0 || header.ColorType == 2) && img.TransparencyKind() == trKeyed && header.BitDepth != 16;
    const TColor key = img.TransparentKeyColor();
    int mismatches = 0;
    for (int32_t y = 0; y < h && mismatches < 5; ++y) {
        for (int32_t x = 0; x < w && mismatches < 5; ++x) {
            const uint32_t* e = &expected[static_cast<size_t>((y * w + x) * 4)];
            auto chan = [&](int c) { return static_cast<uint8_t>(wide ? e[c] >> 8 : e[c]); };
            // Grey + alpha keeps its grey bytes without gamma; everything
            // else shows the decoding gamma.
            TColor want =
                header.ColorType == 4 ? rgb(chan(0), chan(1), chan(2)) : rgb(dg[chan(0)], dg[chan(1)], dg[chan(2)]);
            Observed o = observe(img, x, y);
            bool ok = o.color == want && (o.alpha < 0 || o.alpha == chan(3));
            if (keyed && chan(3) == 0) ok = ok && o.color == key;
            if (!ok) {
                ++mismatches;
                ADD_FAILURE() << name << " pixel (" << x << "," << y << "): got colour " << std::hex << o.color
                              << " alpha " << std::dec << o.alpha << ", want " << std::hex << want << " alpha "
                              << std::dec << int(chan(3));
            }
        }
    }
}

TEST_P(PngSuiteValid, SurvivesSaveAndReload) {
    const std::string name = GetParam();
    TPNGObject img;
    img.LoadFile(suiteDir() + "/png/" + name + ".png");
    for (uint8_t interlace : {uint8_t(0), uint8_t(1)}) {
        img.Interlacing = interlace;
        TPNGObject back;
        loadFromBytes(back, saveToBytes(img));
        ASSERT_EQ(back.Width(), img.Width());
        ASSERT_EQ(back.Height(), img.Height());
        for (int32_t y = 0; y < img.Height(); ++y)
            for (int32_t x = 0; x < img.Width(); ++x) {
                Observed a = observe(img, x, y), b = observe(back, x, y);
                ASSERT_EQ(a.color, b.color) << name << " at " << x << "," << y << " interlace " << int(interlace);
                ASSERT_EQ(a.alpha, b.alpha) << name << " at " << x << "," << y;
            }
        // And libpng reads what we wrote.
        EXPECT_NO_THROW(libpngDecode(saveToBytes(img))) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Suite, PngSuiteValid, ::testing::ValuesIn(suiteFiles(false)),
                         [](const auto& test) { return test.param; });

template <class E>
void expectThrows(TPNGObject& img, const std::string& path) {
    EXPECT_THROW(img.LoadFile(path), E) << path;
}

class PngSuiteDamaged : public ::testing::TestWithParam<std::string> {};

TEST_P(PngSuiteDamaged, IsRefused) {
    const std::string name = GetParam();
    const std::string path = suiteDir() + "/png/" + name + ".png";
    TPNGObject img;
    const std::string fault = name.substr(1, 2);
    if (fault == "s1" || fault == "s2" || fault == "s4" || fault == "s7" || fault == "cr" || fault == "lf") {
        expectThrows<EPNGInvalidFileHeader>(img, path);  // damaged signature
    } else if (fault == "c1" || fault == "c9" || fault == "d0" || fault == "d3" || fault == "d9") {
        expectThrows<EPngInvalidIHDR>(img, path);  // colour type / bit depth outside the format
    } else if (fault == "cs" || fault == "hd") {
        expectThrows<EPngInvalidCRC>(img, path);  // IDAT or IHDR checksum
    } else if (fault == "dt") {
        expectThrows<EPNGNoImageData>(img, path);  // no IDAT chunk
    } else {
        ADD_FAILURE() << "no expectation for " << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Suite, PngSuiteDamaged, ::testing::ValuesIn(suiteFiles(true)),
                         [](const auto& test) { return test.param; });

}  // namespace
}  // namespace glx::pngtest
