// Loading GIFs in the reader's tests, with their warnings; the GIFs come
// from support/gif_builder.h.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/stream.h"
#include "gif/gif_image.h"
#include "support/gif_builder.h"

namespace glx::test {

using namespace glxtest;

struct LoadResult {
    std::unique_ptr<TGIFImage> image = std::make_unique<TGIFImage>();
    std::vector<std::string> warnings;
    int64_t endPosition = 0;
};

// Loads bytes, collecting warnings; exceptions propagate.
inline void loadInto(LoadResult& r, const std::vector<uint8_t>& bytes) {
    r.image->WarningHandler = [&r](const void*, int severity, const std::string& msg) {
        if (severity == 1) r.warnings.push_back(msg);
    };
    TMemoryStream stream(bytes);
    r.image->ReadFrom(stream);
    r.endPosition = stream.position();
}

inline bool hasWarning(const LoadResult& r, const std::string& text) {
    for (const auto& w : r.warnings)
        if (w == text) return true;
    return false;
}

}  // namespace glx::test
