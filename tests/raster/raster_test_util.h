// Helpers shared by the raster tests: data paths, file bytes, pixel dumps.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/stream.h"
#include "raster/dib.h"
#include "support/counting_stream.h"

namespace glx::test {

inline std::string dataPath(const std::string& rel) { return std::string(GLX_TEST_DATA) + "/" + rel; }

inline std::vector<uint8_t> fileBytes(const std::string& path) { return readWholeFile(path); }

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    writeWholeFile(path, bytes.data(), bytes.size());
}

using glxtest::CountingStream;

// All pixels of a surface as 0x00BBGGRR, top row first.
inline std::vector<TColor> pixelsOf(const Dib& dib) {
    std::vector<TColor> out;
    for (int32_t y = 0; y < dib.height(); ++y)
        for (int32_t x = 0; x < dib.width(); ++x) out.push_back(dib.pixel(x, y));
    return out;
}

}  // namespace glx::test
