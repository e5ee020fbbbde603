// Image data streamed row by row ahead of writing: the written file is the
// one encoding the finished image gives, and data made for other settings
// or another size is never written in its place.
#include <gtest/gtest.h>

#include <vector>

#include "base/stream.h"
#include "png/idat_stream.h"
#include "png/pixel_rows.h"
#include "png/png_object.h"

namespace glx {
namespace {

// An RGBA picture with varied colour and alpha, so every filter scores
// differently from row to row.
std::unique_ptr<TPNGObject> picture(int32_t w, int32_t h) {
    auto img = TPNGObject::CreateNew(6, 8, w, h);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* p = img->PixelRow(y);
        uint8_t* a = img->AlphaRow(y);
        for (int32_t x = 0; x < w; ++x) {
            p[3 * x] = static_cast<uint8_t>(x * 7 + y);
            p[3 * x + 1] = static_cast<uint8_t>((x * y) >> 2);
            p[3 * x + 2] = static_cast<uint8_t>(y * 13);
            a[x] = static_cast<uint8_t>((x + y) % 5 == 0 ? 0 : 255 - x);
        }
    }
    return img;
}

std::vector<uint8_t> written(const TPNGObject& img) {
    TMemoryStream out;
    img.WriteTo(out);
    return out.bytes();
}

// Streams every row of img as the gluing canvas hands them.
std::shared_ptr<const TPreparedIdat> streamed(const TPNGObject& img) {
    TIdatStream stream(idatRecipeOf(img));
    std::vector<uint8_t> row(stream.rowBytes());
    for (int32_t y = 0; y < img.Height(); ++y) {
        loadPngRow(img.HeaderChunk(), row.data(), y, 0, 1, static_cast<uint32_t>(img.Width()), img.EncodeGamma);
        stream.addRow(row.data());
    }
    return stream.finish();
}

TEST(IdatStream, StreamedDataWritesTheSameFileForEveryFilterSetAndLevel) {
    // 300 x 200 RGBA deflates to more than one 64 KiB chunk at level 0.
    auto img = picture(300, 200);
    for (TRowFilters filters : {TRowFilters(0x01), TRowFilters(0x02), TRowFilters(0x10), TRowFilters(0x1F)})
        for (uint8_t level : {uint8_t(0), uint8_t(7)}) {
            img->RowFilters = filters;
            img->DeflateLevel = level;
            img->SetPreparedImageData(nullptr);
            const std::vector<uint8_t> expected = written(*img);
            auto prepared = streamed(*img);
            EXPECT_EQ(prepared->recipe.height, 200u);
            img->SetPreparedImageData(prepared);
            EXPECT_EQ(written(*img), expected) << int(filters) << " " << int(level);
        }
}

TEST(IdatStream, DataForOtherSettingsOrSizeIsNotWritten) {
    auto img = picture(40, 30);
    const std::vector<uint8_t> expected = written(*img);
    auto prepared = streamed(*img);

    // Made for level 7; the image now asks for level 1.
    img->SetPreparedImageData(prepared);
    img->DeflateLevel = 1;
    const std::vector<uint8_t> atLevel1 = written(*img);
    img->SetPreparedImageData(nullptr);
    EXPECT_EQ(atLevel1, written(*img));
    img->DeflateLevel = 7;

    // Interlaced writing never takes streamed data.
    img->SetPreparedImageData(prepared);
    img->Interlacing = 1;
    const std::vector<uint8_t> interlaced = written(*img);
    img->SetPreparedImageData(nullptr);
    EXPECT_EQ(interlaced, written(*img));
    img->Interlacing = 0;

    // Resizing drops the data, even when the size comes back.
    img->SetPreparedImageData(prepared);
    img->ChangeSize(40, 20);
    EXPECT_EQ(img->PreparedImageData(), nullptr);

    // Data of fewer rows than the image has is not used either.
    auto full = picture(40, 30);
    TIdatStream partial(idatRecipeOf(*full));
    std::vector<uint8_t> row(partial.rowBytes());
    for (int32_t y = 0; y < 10; ++y) {
        loadPngRow(full->HeaderChunk(), row.data(), y, 0, 1, 40, full->EncodeGamma);
        partial.addRow(row.data());
    }
    full->SetPreparedImageData(partial.finish());
    EXPECT_EQ(written(*full), expected);
}

}  // namespace
}  // namespace glx
