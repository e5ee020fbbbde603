#include "base/stream_reader.h"

#include <algorithm>
#include <cstring>

#include "base/exception.h"
#include "base/stream.h"

namespace glx {

namespace {

[[noreturn]] void defaultShortRead() { throw EReadError("Stream read error"); }

}  // namespace

StreamReader::StreamReader(TStream& stream, ShortReadHandler onShortRead)
    : m_stream(stream), m_onShortRead(onShortRead ? onShortRead : defaultShortRead), m_buffer(kBufferSize) {
    m_begin = std::max<int64_t>(stream.position(), 0);
    m_size = std::max<int64_t>(stream.size(), m_begin);
    m_stream.setPosition(m_begin);
}

void StreamReader::fail() const {
    m_onShortRead();
    throw EReadError("Stream read error");  // a handler that returned
}

size_t StreamReader::fill(size_t count) {
    if (buffered() >= count) return buffered();
    // Keep the unread bytes, move them to the front and read behind them.
    const size_t keep = buffered();
    if (keep > 0 && m_pos > 0) std::memmove(m_buffer.data(), m_buffer.data() + m_pos, keep);
    m_begin += static_cast<int64_t>(m_pos);
    m_pos = 0;
    m_len = keep;
    const int64_t left = m_size - (m_begin + static_cast<int64_t>(m_len));
    const size_t want =
        static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kBufferSize - m_len), std::max<int64_t>(left, 0)));
    if (want > 0) m_len += m_stream.read(m_buffer.data() + m_len, want);
    return m_len;
}

void StreamReader::seek(int64_t pos) {
    if (pos < 0 || pos > m_size) fail();
    if (pos >= m_begin && pos <= m_begin + static_cast<int64_t>(m_len)) {
        m_pos = static_cast<size_t>(pos - m_begin);
        return;
    }
    m_stream.setPosition(pos);
    m_begin = pos;
    m_len = m_pos = 0;
}

void StreamReader::skip(uint64_t count) {
    if (!has(count)) fail();
    seek(position() + static_cast<int64_t>(count));
}

uint8_t StreamReader::u8() {
    if (m_pos == m_len && fill(1) < 1) fail();
    return m_buffer[m_pos++];
}

uint16_t StreamReader::u16le() {
    auto b = take(2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint16_t StreamReader::u16be() {
    auto b = take(2);
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t StreamReader::u32le() {
    auto b = take(4);
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

uint32_t StreamReader::u32be() {
    auto b = take(4);
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
}

std::span<const uint8_t> StreamReader::take(size_t count) {
    if (count > kBufferSize || fill(count) < count) fail();
    std::span<const uint8_t> view(m_buffer.data() + m_pos, count);
    m_pos += count;
    return view;
}

std::span<const uint8_t> StreamReader::peek(size_t max) {
    if (buffered() == 0) fill(1);
    return std::span<const uint8_t>(m_buffer.data() + m_pos, std::min(buffered(), max));
}

std::span<const uint8_t> StreamReader::takeSome(size_t max) {
    const std::span<const uint8_t> view = peek(max);
    m_pos += view.size();
    return view;
}

size_t StreamReader::readSome(void* out, size_t count) {
    auto* dst = static_cast<uint8_t*>(out);
    size_t done = 0;
    while (done < count) {
        if (buffered() == 0) {
            // Large reads go straight from the stream into the caller's memory.
            if (count - done >= kDirectRead) {
                m_begin += static_cast<int64_t>(m_len);
                m_len = m_pos = 0;
                const size_t n = m_stream.read(dst + done, count - done);
                m_begin += static_cast<int64_t>(n);
                done += n;
                if (n == 0) break;
                continue;
            }
            if (fill(1) == 0) break;
        }
        const size_t n = std::min(buffered(), count - done);
        std::memcpy(dst + done, m_buffer.data() + m_pos, n);
        m_pos += n;
        done += n;
    }
    return done;
}

void StreamReader::read(void* out, size_t count) {
    if (!has(count)) fail();
    if (readSome(out, count) != count) fail();
}

std::vector<uint8_t> StreamReader::readVector(size_t count) {
    if (!has(count)) fail();
    std::vector<uint8_t> bytes(count);
    read(bytes.data(), count);
    return bytes;
}

void StreamReader::syncStream() { m_stream.setPosition(position()); }

}  // namespace glx
