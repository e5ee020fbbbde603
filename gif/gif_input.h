// GifInput: the checked cursor the GIF reader walks the file with. The
// whole GIF is read into memory first; every read goes through the
// bounds-checked ByteReader, and a fixed-size field that the data cannot
// fill raises GIFException "Premature end of data".
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/byte_reader.h"
#include "gif/gif_item.h"

namespace glx {

class GifInput {
public:
    explicit GifInput(std::span<const uint8_t> bytes) : m_reader(bytes) {}

    size_t position() const { return m_reader.position(); }
    size_t size() const { return m_reader.size(); }
    size_t remaining() const { return m_reader.remaining(); }
    bool atEnd() const { return m_reader.atEnd(); }

    // Moves to pos, clamped to the data (a position past the end reads as
    // the end, as on a stream positioned beyond its size).
    void setPosition(size_t pos) { m_reader.seek(std::min(pos, size())); }
    // Relative move, clamped to the start and the end.
    void move(int64_t delta) {
        int64_t target = static_cast<int64_t>(position()) + delta;
        setPosition(static_cast<size_t>(std::max<int64_t>(target, 0)));
    }
    void back(size_t count = 1) { setPosition(position() >= count ? position() - count : 0); }

    // One byte, or false at the end of the data.
    bool readByte(uint8_t& value) {
        if (m_reader.atEnd()) return false;
        value = m_reader.u8();
        return true;
    }
    // Up to count bytes; returns how many were read.
    size_t readSome(void* out, size_t count) {
        size_t n = std::min(count, remaining());
        m_reader.copy(out, n);
        return n;
    }
    // Exactly count bytes, or GIFException "Premature end of data".
    void readExact(void* out, size_t count) {
        if (!m_reader.has(count)) {
            m_reader.seek(size());
            throw GIFException("Premature end of data");
        }
        m_reader.copy(out, count);
    }
    uint8_t u8() {
        uint8_t b[1];
        readExact(b, 1);
        return b[0];
    }
    uint16_t u16() {
        uint8_t b[2];
        readExact(b, 2);
        return static_cast<uint16_t>(b[0] | (b[1] << 8));
    }
    uint32_t u32() {
        uint8_t b[4];
        readExact(b, 4);
        return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
    }
    // Skips up to count bytes (fewer at the end of the data).
    void skip(size_t count) { m_reader.skip(std::min(count, remaining())); }

private:
    ByteReader m_reader;
};

}  // namespace glx
