#include "gif/gif_input.h"

#include <algorithm>
#include <cstring>

#include "base/stream.h"

namespace glx {

namespace {

[[noreturn]] void prematureEnd() { throw GIFException("Premature end of data"); }

// A read-only stream over bytes that someone else keeps.
class SpanStream : public TStream {
public:
    explicit SpanStream(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    size_t read(void* buffer, size_t count) override {
        const size_t n = m_pos < m_bytes.size() ? std::min(count, m_bytes.size() - m_pos) : 0;
        if (n > 0) std::memcpy(buffer, m_bytes.data() + m_pos, n);
        m_pos += n;
        return n;
    }
    size_t write(const void*, size_t) override { return 0; }
    int64_t seek(int64_t offset, SeekOrigin origin) override {
        const int64_t base = origin == SeekOrigin::Begin     ? 0
                             : origin == SeekOrigin::Current ? static_cast<int64_t>(m_pos)
                                                             : static_cast<int64_t>(m_bytes.size());
        m_pos = static_cast<size_t>(std::max<int64_t>(base + offset, 0));
        return static_cast<int64_t>(m_pos);
    }
    int64_t size() override { return static_cast<int64_t>(m_bytes.size()); }

private:
    std::span<const uint8_t> m_bytes;
    size_t m_pos = 0;
};

}  // namespace

GifInput::GifInput(TStream& stream) : m_reader(stream, prematureEnd), m_origin(m_reader.position()) {}

GifInput::GifInput(std::span<const uint8_t> bytes)
    : m_memory(std::make_unique<SpanStream>(bytes)), m_reader(*m_memory, prematureEnd), m_origin(0) {}

GifInput::~GifInput() = default;

void GifInput::setPosition(size_t pos) { m_reader.seek(m_origin + static_cast<int64_t>(std::min(pos, size()))); }

void GifInput::move(int64_t delta) {
    const int64_t target = static_cast<int64_t>(position()) + delta;
    setPosition(static_cast<size_t>(std::max<int64_t>(target, 0)));
}

void GifInput::readExact(void* out, size_t count) {
    if (!m_reader.has(count)) {
        m_reader.seek(m_reader.size());
        prematureEnd();
    }
    m_reader.read(out, count);
}

uint8_t GifInput::u8() {
    uint8_t b[1];
    readExact(b, 1);
    return b[0];
}

uint16_t GifInput::u16() {
    uint8_t b[2];
    readExact(b, 2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t GifInput::u32() {
    uint8_t b[4];
    readExact(b, 4);
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}

void GifInput::skip(size_t count) { m_reader.skip(std::min<uint64_t>(count, remaining())); }

void GifInput::skipSubBlocks() {
    uint8_t len;
    while (readByte(len) && len != 0) skip(len);
}

std::vector<uint8_t> GifInput::bytesSince(size_t from) {
    const size_t end = position();
    if (from >= end) return {};
    setPosition(from);
    std::vector<uint8_t> bytes = m_reader.readVector(end - from);
    return bytes;
}

}  // namespace glx
