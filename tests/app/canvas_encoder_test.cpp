// Encoding the gluing canvas ahead: the data it attaches writes the same
// file as encoding the finished canvas, through restarts when the canvas
// gets wider, and rows changed after they were handed are never trusted.
#include <gtest/gtest.h>

#include "app/canvas_encoder.h"
#include "base/stream.h"
#include "png/png_object.h"

namespace glx::app {
namespace {

void paint(TPNGObject& img, int32_t y0, int32_t y1, int seed) {
    for (int32_t y = y0; y < y1; ++y) {
        uint8_t* p = img.PixelRow(y);
        uint8_t* a = img.AlphaRow(y);
        for (int32_t x = 0; x < img.Width(); ++x) {
            p[3 * x] = static_cast<uint8_t>(x * 3 + seed);
            p[3 * x + 1] = static_cast<uint8_t>(y * 5);
            p[3 * x + 2] = static_cast<uint8_t>((x ^ y) + seed);
            a[x] = static_cast<uint8_t>((x + y + seed) % 7 == 0 ? 0 : 200);
        }
    }
}

std::vector<uint8_t> written(const TPNGObject& img) {
    TMemoryStream out;
    img.WriteTo(out);
    return out.bytes();
}

// The file the canvas gives when it encodes itself (a copy carries no
// prepared data).
std::vector<uint8_t> writtenWithout(const TPNGObject& img) {
    TPNGObject copy;
    copy.CopyFrom(&img);
    EXPECT_EQ(copy.PreparedImageData(), nullptr);
    return written(copy);
}

TEST(CanvasEncoder, BandsHandedAheadWriteTheSameFile) {
    auto canvas = TPNGObject::CreateNew(6, 8, 90, 400);
    CanvasEncoder encoder;
    for (int32_t band = 0; band < 4; ++band) {
        paint(*canvas, band * 100, band * 100 + 100, band);
        encoder.rowsFinal(*canvas, 90, band * 100 + 100 - 30);  // the band's last rows still open
    }
    encoder.attach(*canvas);
    ASSERT_NE(canvas->PreparedImageData(), nullptr);
    EXPECT_EQ(written(*canvas), writtenWithout(*canvas));
}

TEST(CanvasEncoder, AWiderCanvasStartsOverAndStillMatches) {
    auto canvas = TPNGObject::CreateNew(6, 8, 50, 60);
    CanvasEncoder encoder;
    paint(*canvas, 0, 60, 1);
    encoder.rowsFinal(*canvas, 50, 40);
    canvas->ChangeSize(80, 60);  // every row gains columns
    paint(*canvas, 0, 60, 2);
    encoder.rowsFinal(*canvas, 80, 50);
    encoder.attach(*canvas);
    ASSERT_NE(canvas->PreparedImageData(), nullptr);
    EXPECT_EQ(written(*canvas), writtenWithout(*canvas));
}

TEST(CanvasEncoder, RowsChangedAfterHandingAreNotTrusted) {
    auto canvas = TPNGObject::CreateNew(6, 8, 40, 40);
    CanvasEncoder encoder;
    paint(*canvas, 0, 40, 3);
    encoder.rowsFinal(*canvas, 40, 30);
    canvas->AlphaRow(5)[7] ^= 0x55;  // a row already handed changes
    encoder.attach(*canvas);
    EXPECT_EQ(canvas->PreparedImageData(), nullptr);

    // Nothing final before saving: the canvas encodes itself.
    auto single = TPNGObject::CreateNew(6, 8, 40, 40);
    paint(*single, 0, 40, 4);
    CanvasEncoder idle;
    idle.attach(*single);
    EXPECT_EQ(single->PreparedImageData(), nullptr);
}

}  // namespace
}  // namespace glx::app
