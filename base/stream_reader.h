// StreamReader: buffered, bounds-checked reading of a stream. Decoders that
// read a file piece by piece (chunk headers, sub-blocks, fields) go through
// it, so that a file of many small pieces costs one system call per 64 KiB,
// not several per field, and so that a length read from the file never
// makes the reader allocate or copy more than the file really holds.
//
// Positions are absolute positions in the stream. A read that the rest of
// the stream cannot satisfy calls the short-read handler, which must throw
// (by default EReadError "Stream read error"; decoders pass their own
// "unexpected end" exception). The underlying stream's own position runs
// ahead of the reader's while bytes are buffered; syncStream() puts it back
// where the reader is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace glx {

class TStream;

class StreamReader {
public:
    // Throws; never returns.
    using ShortReadHandler = void (*)();
    static constexpr size_t kBufferSize = size_t(64) << 10;
    // A read of at least this many bytes that finds the buffer empty goes
    // straight from the stream into the caller's memory (picture rows).
    static constexpr size_t kDirectRead = size_t(4) << 10;

    // Reads from the stream's current position; the stream's size is taken
    // once, here.
    explicit StreamReader(TStream& stream, ShortReadHandler onShortRead = nullptr);
    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    int64_t position() const { return m_begin + static_cast<int64_t>(m_pos); }
    int64_t size() const { return m_size; }
    int64_t remaining() const { return m_size - position(); }
    bool atEnd() const { return position() >= m_size; }
    bool has(uint64_t count) const { return count <= static_cast<uint64_t>(remaining()); }

    // Moves to an absolute position inside [0, size()].
    void seek(int64_t pos);
    void skip(uint64_t count);

    uint8_t u8();
    uint16_t u16le();
    uint16_t u16be();
    uint32_t u32le();
    uint32_t u32be();

    // Exactly count bytes.
    void read(void* out, size_t count);
    // Up to count bytes; returns how many were read (fewer only at the end).
    size_t readSome(void* out, size_t count);
    // The next count bytes (at most kBufferSize) as a view that stays valid
    // until the next call on the reader.
    std::span<const uint8_t> take(size_t count);
    // Up to max of the next bytes, at least one unless the stream has
    // ended, without moving past them; the view stays valid until the next
    // call on the reader. Never fails.
    std::span<const uint8_t> peek(size_t max);
    // The same bytes as peek(max), moving past them.
    std::span<const uint8_t> takeSome(size_t max);
    // The next count bytes in a vector of their own; checked against the
    // rest of the stream before anything is allocated.
    std::vector<uint8_t> readVector(size_t count);

    // Sets the stream's own position to the reader's.
    void syncStream();

private:
    [[noreturn]] void fail() const;
    size_t buffered() const { return m_len - m_pos; }
    // Makes at least count (<= kBufferSize) bytes available in the buffer,
    // fewer only when the stream ends first; returns how many are there.
    size_t fill(size_t count);

    TStream& m_stream;
    ShortReadHandler m_onShortRead;
    int64_t m_size = 0;
    std::vector<uint8_t> m_buffer;
    int64_t m_begin = 0;  // stream position of m_buffer[0]
    size_t m_len = 0;  // valid bytes in m_buffer
    size_t m_pos = 0;  // reader's index in m_buffer
};

}  // namespace glx
