// Inputs the fuzz targets found (kept in data/malformed/png): each must be
// refused with the codec's exception or loaded cleanly, never hang or crash.
#include <gtest/gtest.h>

#include "png/chunk_ancillary.h"
#include "png/zlib_buffer.h"
#include "png_test_util.h"

namespace glx::pngtest {
namespace {

std::string malformed(const std::string& name) { return std::string(GLX_TEST_DATA) + "/malformed/png/" + name; }

// A zlib stream that asks for a preset dictionary made inflate answer
// Z_NEED_DICT for ever: the compressed text reader looped without end.
TEST(PngMalformed, CompressedTextWithPresetDictionaryIsDropped) {
    Bytes stream = readFile(malformed("ztxt_preset_dictionary.zlib"));
    std::string out = "stale";
    EXPECT_FALSE(InflateBuffer(stream.data(), stream.size(), out, 1 << 20));
    EXPECT_TRUE(out.empty());

    TPNGObject img;
    loadFromBytes(img, readFile(malformed("ztxt_preset_dictionary.png")));
    EXPECT_EQ(img.Width(), 2);
    EXPECT_EQ(img.PixelAt(1, 1), TColor(0x404040));
    TChunkzTXt* text = nullptr;
    for (uint32_t i = 0; i < img.Chunks().SlotCount(); ++i)
        if (auto* z = dynamic_cast<TChunkzTXt*>(img.Chunks().Item(i))) text = z;
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->KeyName, "Comment");
    EXPECT_EQ(text->Content, "");
}

}  // namespace
}  // namespace glx::pngtest
