// Deflates image data and frames the compressed bytes as IDAT chunks of a
// fixed size (the last one shorter). Shared by writing a finished image
// and by streaming rows ahead of writing, so both give the same bytes.
//
// The data is cut into pieces of a fixed number of input bytes, and the
// pieces are deflated on a pool of threads (piece_deflate: each piece a raw
// deflate at the image's level that the next piece continues, the last one
// ending the stream). One zlib header goes in front and the Adler-32 of the
// whole data, combined from the pieces' own, behind. Where the pieces begin
// depends only on byte offsets, so the output is the same whatever the
// number of threads; data of at most one piece gives exactly the bytes of a
// one-shot raw deflate by the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "png/piece_deflate.h"

namespace glx {

class TStream;
class DeflatePool;

class IdatWriter {
public:
    // level is clamped to 0..9. pool: where pieces are deflated (the shared
    // pool when null); pieceBytes (0: the engine's own) and an engine other
    // than the default are for tests and measurements.
    IdatWriter(TStream& stream, size_t chunkSize, int level, std::shared_ptr<DeflatePool> pool = nullptr,
               size_t pieceBytes = 0, DeflateEngine engine = defaultDeflateEngine());
    // Drops pieces still in work; the stream is left as far as it got.
    ~IdatWriter();
    IdatWriter(const IdatWriter&) = delete;
    IdatWriter& operator=(const IdatWriter&) = delete;

    // Takes n more bytes; full chunks go out as the pieces before them are
    // done. A deflate failure raises: EOutOfMemory when the library has no
    // memory, EInternalError for any other failure.
    void write(const uint8_t* data, size_t n);
    // Ends the zlib stream and writes the last chunk.
    void finish();

private:
    struct Piece;
    void handOut(bool last);
    void emitOldest();
    void emit(Piece& piece);
    void emitBytes(const uint8_t* data, size_t n);
    void writeChunk(size_t n);

    TStream& m_stream;
    std::shared_ptr<DeflatePool> m_pool;
    DeflateEngine m_engine;
    int m_level;
    size_t m_pieceBytes;
    size_t m_maxInFlight;
    std::shared_ptr<Piece> m_current;  // being filled
    std::deque<std::shared_ptr<Piece>> m_inFlight;  // handed out, in stream order
    // Buffers of emitted pieces, for reuse.
    std::vector<std::vector<uint8_t>> m_spareInput;
    std::vector<PieceBuffer> m_spareOutput;
    std::vector<uint8_t> m_chunk;  // the IDAT chunk being filled
    size_t m_chunkFill = 0;
    uint32_t m_adler = 1;
    bool m_headerDone = false;
    bool m_finished = false;
};

}  // namespace glx
