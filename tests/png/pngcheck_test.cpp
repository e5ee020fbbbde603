// Files our encoder writes pass an independent structural checker
// (pngcheck: CRCs, chunk order, zlib stream, row lengths) when installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "png/png_object.h"

using namespace glx;

TEST(Pngcheck, EveryColourTypeAndDepthWeWrite) {
    if (std::system("command -v pngcheck >/dev/null 2>&1") != 0) GTEST_SKIP() << "pngcheck is not installed";
    const auto dir = std::filesystem::temp_directory_path() / ("glx_pngcheck_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    struct Kind {
        uint32_t colorType, bitDepth;
    } kinds[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                 {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
    std::mt19937 gen(3);
    int checked = 0;
    for (const Kind& k : kinds)
        for (uint8_t interlace : {uint8_t(0), uint8_t(1)}) {
            TPNGObject png(k.colorType, k.bitDepth, 37, 11);
            png.Interlacing = interlace;
            for (int y = 0; y < 11; ++y)
                for (int x = 0; x < 37; ++x) {
                    png.SetPixelAt(x, y, static_cast<TColor>(gen() & 0xFFFFFF));
                    if (uint8_t* alpha = png.AlphaRow(y)) alpha[x] = static_cast<uint8_t>(gen());
                }
            const auto path = dir / ("k" + std::to_string(k.colorType) + "_" + std::to_string(k.bitDepth) + "_" +
                                     std::to_string(interlace) + ".png");
            png.SaveFile(path.string());
            const std::string cmd = "pngcheck -q '" + path.string() + "' >/dev/null 2>&1";
            EXPECT_EQ(std::system(cmd.c_str()), 0) << path;
            ++checked;
        }
    EXPECT_EQ(checked, 30);
    std::filesystem::remove_all(dir);
}
