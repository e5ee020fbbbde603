// Whole-buffer zlib compression for compressed text chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace glx {

// Inflates one zlib stream. False (and out empty) on any zlib error, on a
// stream that ends early, or when the output would exceed maxOutput bytes.
bool InflateBuffer(const uint8_t* data, size_t size, std::string& out, size_t maxOutput);
// Deflates data at level; false on a zlib error.
bool DeflateBuffer(const uint8_t* data, size_t size, int level, std::string& out);

}  // namespace glx
