// Deflates image data and frames the compressed bytes as IDAT chunks of a
// fixed size (the last one shorter). Shared by writing a finished image
// and by streaming rows ahead of writing, so both give the same bytes.
//
// The data is cut into pieces of a fixed number of input bytes, and the
// pieces are deflated on a pool of threads. Each piece is a raw deflate at
// the image's level (window of 32 KiB, default memory level and strategy)
// that starts from the 32 KiB of data before it as preset dictionary and
// ends with a sync flush, except the last, which ends the stream. One zlib
// header goes in front and the Adler-32 of the whole data, combined from
// the pieces' own, behind. Where the pieces begin depends only on byte
// offsets, so the output is the same whatever the number of threads; data
// of at most one piece gives exactly the bytes of a one-shot deflate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace glx {

class TStream;
class DeflatePool;

// Input bytes per piece: a fixed part of the format of our files, never
// derived from the machine.
constexpr size_t kDeflatePieceBytes = size_t(256) << 10;

class IdatWriter {
public:
    // level is clamped to 0..9. pool: where pieces are deflated (the shared
    // pool when null); pieceBytes other than the default is for tests and
    // measurements.
    IdatWriter(TStream& stream, size_t chunkSize, int level, std::shared_ptr<DeflatePool> pool = nullptr,
               size_t pieceBytes = kDeflatePieceBytes);
    // Drops pieces still in work; the stream is left as far as it got.
    ~IdatWriter();
    IdatWriter(const IdatWriter&) = delete;
    IdatWriter& operator=(const IdatWriter&) = delete;

    // Takes n more bytes; full chunks go out as the pieces before them are
    // done. A deflate failure raises: EOutOfMemory when zlib has no memory,
    // EInternalError for any other zlib result.
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
    int m_level;
    size_t m_pieceBytes;
    size_t m_maxInFlight;
    std::shared_ptr<Piece> m_current;  // being filled
    std::deque<std::shared_ptr<Piece>> m_inFlight;  // handed out, in stream order
    std::vector<std::vector<uint8_t>> m_spare;  // buffers of emitted pieces, for reuse
    std::vector<uint8_t> m_chunk;  // the IDAT chunk being filled
    size_t m_chunkFill = 0;
    uint32_t m_adler = 1;
    bool m_headerDone = false;
    bool m_finished = false;
};

}  // namespace glx
