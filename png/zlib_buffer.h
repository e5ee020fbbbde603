// Whole-buffer zlib compression for compressed text chunks, and whole-buffer
// inflate of small pictures' image data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace glx {

// Inflates one zlib stream. False (and out empty) when the data is not a
// complete zlib stream (damaged, cut short, or asking for a preset
// dictionary), or when the output would exceed maxOutput bytes. zlib running
// out of memory raises EOutOfMemory; any other zlib failure EInternalError.
bool InflateBuffer(const uint8_t* data, size_t size, std::string& out, size_t maxOutput);
// Inflates one complete zlib stream that starts at data (bytes after its
// end are allowed) into exactly outSize bytes at out, in one call (by
// libdeflate where the build has it). False when the stream is damaged, cut
// short, needs a preset dictionary or does not make exactly outSize bytes:
// out then holds nothing useful. No memory raises EOutOfMemory.
bool InflateExactly(const uint8_t* data, size_t size, uint8_t* out, size_t outSize);
// Deflates data at level (clamped to 0..9). False only for more than 4 GiB
// of input; zlib failures raise as above.
bool DeflateBuffer(const uint8_t* data, size_t size, int level, std::string& out);

}  // namespace glx
