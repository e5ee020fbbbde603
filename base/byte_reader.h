// A bounds-checked reader over a byte range. Every decoder reads file data
// through it: a read past the end raises EReadError ("Stream read error")
// instead of touching memory outside the range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "base/exception.h"

namespace glx {

class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    ByteReader(const uint8_t* data, size_t size) : m_bytes(data, size) {}

    size_t size() const { return m_bytes.size(); }
    size_t position() const { return m_pos; }
    size_t remaining() const { return m_bytes.size() - m_pos; }
    bool atEnd() const { return m_pos >= m_bytes.size(); }
    bool has(size_t count) const { return count <= remaining(); }

    void seek(size_t pos) {
        if (pos > m_bytes.size()) fail();
        m_pos = pos;
    }
    void skip(size_t count) {
        if (!has(count)) fail();
        m_pos += count;
    }

    uint8_t u8() {
        if (!has(1)) fail();
        return m_bytes[m_pos++];
    }
    uint8_t peek() const {
        if (!has(1)) fail();
        return m_bytes[m_pos];
    }
    uint16_t u16le() {
        auto b = take(2);
        return static_cast<uint16_t>(b[0] | (b[1] << 8));
    }
    uint16_t u16be() {
        auto b = take(2);
        return static_cast<uint16_t>((b[0] << 8) | b[1]);
    }
    uint32_t u32le() {
        auto b = take(4);
        return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
    }
    uint32_t u32be() {
        auto b = take(4);
        return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
    }
    int32_t i32le() { return static_cast<int32_t>(u32le()); }

    // The next count bytes as a view; the reader moves past them.
    std::span<const uint8_t> take(size_t count) {
        if (!has(count)) fail();
        auto view = m_bytes.subspan(m_pos, count);
        m_pos += count;
        return view;
    }
    void copy(void* out, size_t count) {
        auto view = take(count);
        if (count) std::memcpy(out, view.data(), count);
    }
    std::span<const uint8_t> rest() const { return m_bytes.subspan(m_pos); }

private:
    [[noreturn]] static void fail() { throw EReadError("Stream read error"); }

    std::span<const uint8_t> m_bytes;
    size_t m_pos = 0;
};

}  // namespace glx
