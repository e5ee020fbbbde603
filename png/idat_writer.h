// Deflates image data and frames the compressed bytes as IDAT chunks of a
// fixed size (the last one shorter). Shared by writing a finished image
// and by streaming rows ahead of writing, so both give the same bytes.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace glx {

class TStream;

class IdatWriter {
public:
    // level is clamped to 0..9; default window, memory level and strategy.
    IdatWriter(TStream& stream, size_t chunkSize, int level);
    ~IdatWriter();
    IdatWriter(const IdatWriter&) = delete;
    IdatWriter& operator=(const IdatWriter&) = delete;

    // Deflates n more bytes; full chunks go out as they fill.
    void write(const uint8_t* data, size_t n);
    // Ends the zlib stream and writes the last chunk.
    void finish();

private:
    void resetOutput();
    void emit(const uint8_t* data, size_t n);

    TStream& m_stream;
    std::vector<uint8_t> m_output;
    z_stream m_z{};
};

}  // namespace glx
