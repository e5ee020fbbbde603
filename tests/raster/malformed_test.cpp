// Hostile pictures kept in data/malformed (found by the fuzz targets or the
// end-to-end hardening tests): each is refused with the right exception.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <typeinfo>
#include <vector>

#include "base/exception.h"
#include "base/stream.h"
#include "raster/bitmap.h"
#include "raster/jpeg_image.h"
#include "raster_test_util.h"

namespace glx {
namespace {

std::vector<uint8_t> malformed(const std::string& name) {
    std::ifstream in(std::string(GLX_TEST_DATA) + "/malformed/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A frame header declaring 65535 x 65535 is beyond the library's own
// maximum side: it used to surface as the bare "JPEG error #41".
TEST(JpegMalformed, SidesBeyondTheLibraryMaximumNameTheSize) {
    std::vector<uint8_t> bytes = malformed("jpeg/sof_65535x65535.jpg");
    ASSERT_FALSE(bytes.empty());
    TJPEGImage jpeg;
    TMemoryStream in(bytes);
    try {
        jpeg.ReadFrom(in);
        FAIL() << "no exception";
    } catch (const ELimitExceeded& e) {
        EXPECT_NE(std::string(e.what()).find("65535 x 65535"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(jpeg.IsEmpty());
}

// BMP files named by their cause, with the exception each must raise and its
// message (or a part of it that names the size). A refused file leaves the
// bitmap's previous content.
struct MalformedBmp {
    const char* file;
    bool (*raises)(const Exception&);
    const char* message;  // the whole message, or with `part` a piece of it
    bool part = false;
};

void PrintTo(const MalformedBmp& m, std::ostream* os) { *os << m.file; }

template <class E>
bool raises(const Exception& e) {
    return dynamic_cast<const E*>(&e) != nullptr;
}

class BmpMalformed : public ::testing::TestWithParam<MalformedBmp> {};

TEST_P(BmpMalformed, RefusedKeepingPreviousContent) {
    const MalformedBmp m = GetParam();
    TBitmap bmp(2, 3);
    bmp.Pixels().setPixel(1, 1, rgb(9, 8, 7));
    try {
        bmp.LoadFile(test::dataPath(std::string("malformed/bmp/") + m.file + ".bmp"));
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_TRUE(m.raises(e)) << typeid(e).name() << ": " << e.what();
        if (m.part) EXPECT_NE(std::string(e.what()).find(m.message), std::string::npos) << e.what();
        else EXPECT_STREQ(e.what(), m.message);
    }
    EXPECT_EQ(bmp.Width(), 2);
    EXPECT_EQ(bmp.Height(), 3);
    EXPECT_EQ(bmp.Pixels().pixel(1, 1), rgb(9, 8, 7));
}

constexpr const char* kNotValid = "Bitmap image is not valid";
constexpr const char* kReadError = "Stream read error";

INSTANTIATE_TEST_SUITE_P(
    All, BmpMalformed,
    ::testing::Values(MalformedBmp{"type_BA", raises<EInvalidGraphic>, kNotValid},
                      MalformedBmp{"truncated_file_header", raises<EReadError>, kReadError},
                      MalformedBmp{"truncated_info_header", raises<EReadError>, kReadError},
                      MalformedBmp{"planes_2", raises<EInvalidGraphic>, kNotValid},
                      MalformedBmp{"bpp_7", raises<EInvalidGraphic>, kNotValid},
                      MalformedBmp{"compression_jpeg", raises<EInvalidGraphic>, kNotValid},
                      MalformedBmp{"header_size_20", raises<EInvalidGraphic>, kNotValid},
                      MalformedBmp{"negative_width", raises<EInvalidGraphic>, kNotValid},
                      MalformedBmp{"truncated_colour_table", raises<EReadError>, kReadError},
                      MalformedBmp{"colours_used_huge", raises<EReadError>, kReadError},
                      MalformedBmp{"oversize_20000x20000", raises<ELimitExceeded>, "20000 x 20000", true},
                      MalformedBmp{"oversize_70000x70000", raises<ELimitExceeded>, "70000 x 70000", true},
                      // Inside the size limit, with data for far less than 1/64 of the picture.
                      MalformedBmp{"pixels_missing_5x16777219", raises<ELimitExceeded>,
                                   "Picture size 5 x 16777219 is refused: its 76 bytes of data could not fill "
                                   "1/64 of it"},
                      MalformedBmp{"rle8_data_missing_4096x4096", raises<ELimitExceeded>,
                                   "Picture size 4096 x 4096 is refused: its 4 bytes of data could not fill "
                                   "1/64 of it"}),
    [](const auto& test) { return std::string(test.param.file); });

}  // namespace
}  // namespace glx
