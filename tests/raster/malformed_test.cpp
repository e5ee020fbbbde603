// Hostile pictures kept in data/malformed (found by the fuzz targets or the
// end-to-end hardening tests): each is refused with the right exception.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/stream.h"
#include "raster/jpeg_image.h"

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

}  // namespace
}  // namespace glx
