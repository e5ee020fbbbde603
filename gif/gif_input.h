// GifInput: the checked cursor the GIF reader walks a file with. It reads
// through a buffered StreamReader, so the file is read piece by piece as
// far as the blocks go and never as a whole; a fixed-size field that the
// data cannot fill raises GIFException "Premature end of data".
//
// Positions count from where the cursor started (the stream's position at
// construction), so a GIF that begins inside a larger stream reads the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "base/stream_reader.h"
#include "gif/gif_item.h"

namespace glx {

class TStream;

class GifInput {
public:
    // Reads the stream from its current position on; the stream must outlive the cursor.
    explicit GifInput(TStream& stream);
    // Reads bytes in memory; the bytes must outlive the cursor.
    explicit GifInput(std::span<const uint8_t> bytes);
    ~GifInput();
    GifInput(const GifInput&) = delete;
    GifInput& operator=(const GifInput&) = delete;

    size_t position() const { return static_cast<size_t>(m_reader.position() - m_origin); }
    size_t size() const { return static_cast<size_t>(m_reader.size() - m_origin); }
    size_t remaining() const { return static_cast<size_t>(m_reader.remaining()); }
    bool atEnd() const { return m_reader.atEnd(); }

    // Moves to pos, clamped to the data (a position past the end reads as
    // the end, as on a stream positioned beyond its size).
    void setPosition(size_t pos);
    // Relative move, clamped to the start and the end.
    void move(int64_t delta);
    void back(size_t count = 1) { setPosition(position() >= count ? position() - count : 0); }

    // One byte, or false at the end of the data.
    bool readByte(uint8_t& value) {
        if (m_reader.atEnd()) return false;
        value = m_reader.u8();
        return true;
    }
    // Up to count bytes; returns how many were read.
    size_t readSome(void* out, size_t count) { return m_reader.readSome(out, count); }
    // Exactly count bytes, or GIFException "Premature end of data".
    void readExact(void* out, size_t count);
    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    // Skips up to count bytes (fewer at the end of the data).
    void skip(size_t count);
    // Skips data sub-blocks up to and including the zero-length terminator
    // (or to the end of the data).
    void skipSubBlocks();
    // The bytes from position from up to the current position, read again
    // from the stream; the cursor stays where it was.
    std::vector<uint8_t> bytesSince(size_t from);

    // Sets the underlying stream's position to the cursor's.
    void syncStream() { m_reader.syncStream(); }

private:
    std::unique_ptr<TStream> m_memory;  // the stream over bytes in memory, when reading those
    StreamReader m_reader;
    int64_t m_origin = 0;
};

}  // namespace glx
