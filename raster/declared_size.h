// The pixel size a picture file declares in its header, read without
// decoding it: gluing uses it to size the canvas once before placing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace glx {

class TStream;
struct Limits;

struct DeclaredSize {
    int32_t width = 0, height = 0;
    friend bool operator==(const DeclaredSize&, const DeclaredSize&) = default;
};

// The size of a PNG (IHDR), BMP (info header; a top-down picture's height
// made positive) or JPEG (first frame header) stream, by its leading bytes:
// the size a successful read gives. nullopt when the stream is none of the
// three, its header is cut short, it declares a side below 1 or more pixels
// than limits allow, or its bytes could not fill the share of its data that
// limits ask (its reader refuses such a file before taking memory; a size
// read ahead must not take it either). Only a hint: the file may still fail
// to decode.
std::optional<DeclaredSize> declaredPictureSize(TStream& stream, const Limits& limits);
// The same for a file; nullopt when it cannot be opened as a regular file.
std::optional<DeclaredSize> declaredPictureSize(const std::string& path, const Limits& limits);

}  // namespace glx
