// The deflate behind the image data of written pictures, one piece of the
// zlib stream at a time, and the checksums that go with it.
//
// Two engines: zlib starts each piece from the 32 KiB of data before it (a
// preset dictionary) and ends it with a sync flush; libdeflate compresses
// each piece as a whole raw stream of its own (it has neither dictionary
// nor flush), and the piece is then joined to the next (deflate_join). Each
// engine gives the same bytes for the same data on any thread. Both are
// built in when libdeflate is available; the build picks the one pictures
// are written with (GLX_DEFLATE=zlib keeps zlib).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace glx {

enum class DeflateEngine : uint8_t { Zlib, Libdeflate };

// What pictures are written with.
DeflateEngine defaultDeflateEngine();
// libdeflate only when the build has it; zlib always.
bool deflateEngineAvailable(DeflateEngine engine);

// Input bytes per piece: a fixed part of the format of our files (for each
// engine), never derived from the machine. libdeflate's pieces start
// without the data before them, so they are longer to lose as little.
size_t deflatePieceBytes(DeflateEngine engine);
// How many bytes before a piece it refers back to (its dictionary).
size_t deflateHistoryBytes(DeflateEngine engine);
// The engine's own level for a zlib level 0..9, chosen so that files come
// out no larger than zlib's at that level.
int deflateEngineLevel(DeflateEngine engine, int level);

// A byte buffer that grows without filling: it is always written whole.
class PieceBuffer {
public:
    uint8_t* data() { return m_data.get(); }
    const uint8_t* data() const { return m_data.get(); }
    size_t size() const { return m_size; }
    size_t capacity() const { return m_capacity; }
    void clear() { m_size = 0; }
    // At least n bytes of room; keeps the first size() bytes.
    void reserve(size_t n);
    // n <= capacity().
    void setSize(size_t n) { m_size = n; }

private:
    std::unique_ptr<uint8_t[]> m_data;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

// Replaces out with the raw deflate of data[0, n) at level (0..9), which
// follows the historyBytes before it (at most deflateHistoryBytes). Unless
// last, the stream stops on a byte boundary in a state where the next
// piece continues it; last ends the stream. Failures raise: EOutOfMemory
// when the library has no memory, EInternalError otherwise.
void deflatePiece(DeflateEngine engine, int level, const uint8_t* history, size_t historyBytes, const uint8_t* data,
                  size_t n, bool last, PieceBuffer& out);

// Running Adler-32 (start with 1), as zlib streams end with.
uint32_t adler32Update(uint32_t adler, const uint8_t* data, size_t n);
// Running CRC-32 in zlib's convention (start with 0, no final complement).
uint32_t crc32Update(uint32_t crc, const uint8_t* data, size_t n);

}  // namespace glx
