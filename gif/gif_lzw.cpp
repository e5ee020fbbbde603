#include "gif/gif_lzw.h"

#include <algorithm>
#include <array>

#include "gif/gif_input.h"

namespace glx {

namespace {

constexpr int kTableSize = 4096;
constexpr int kMaxCodeBits = 12;
constexpr int kEndOfData = -1;  // no code: the data ran out
constexpr int kEndCode = -2;  // the end code was met

class LzwDecoder {
public:
    LzwDecoder(GifInput& input, int minCodeSize, const GifWarning& warn)
        : m_in(input), m_warn(warn), m_min(minCodeSize), m_clear(1 << minCodeSize), m_end(m_clear + 1) {
        m_codeSize = m_min + 1;
        m_limit = 2 * m_clear;
        m_nextFree = m_clear + 2;
    }

    // The next pixel value, or a negative value when decoding ends.
    int next() {
        if (m_sp > 0) return m_stack[at(--m_sp)];
        return decodeCode();
    }
    // Moves up to count values waiting on the stack into out, in the order
    // next() would hand them out; returns how many.
    int pop(uint8_t* out, int count) {
        const int n = std::min(count, m_sp);
        for (int i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(m_stack[at(--m_sp)]);
        return n;
    }

private:
    static size_t at(int index) { return static_cast<size_t>(index); }

    int decodeCode() {
        int code = readCode(m_codeSize);
        if (code < 0) return code;
        if (code == m_clear) {
            resetTable();
            do {
                code = readCode(m_codeSize);
                if (code < 0) return code;
            } while (code == m_clear);
            // Taken as it is, even when it is the end code.
            m_firstCode = m_oldCode = code;
            return code;
        }
        if (code == m_end) {
            if (!m_terminatorSeen) m_in.skipSubBlocks();
            return kEndCode;
        }
        const int inCode = code;
        if (code >= m_nextFree) {
            push(m_firstCode);
            code = m_oldCode;
        }
        int links = 0;
        while (code >= m_clear) {
            // A damaged table can point an entry at itself or into a loop.
            if (m_prefix[at(code)] == code || ++links > kTableSize) throw GIFException("Circular decoder table entry");
            push(m_suffix[at(code)]);
            code = m_prefix[at(code)];
        }
        m_firstCode = m_suffix[at(code)];
        push(m_firstCode);
        if (m_nextFree < kTableSize) {
            m_prefix[at(m_nextFree)] = m_oldCode;
            m_suffix[at(m_nextFree)] = m_firstCode;
            ++m_nextFree;
            if (m_nextFree >= m_limit && m_limit < kTableSize) {
                m_limit *= 2;
                ++m_codeSize;
            }
        }
        m_oldCode = inCode;
        return m_stack[at(--m_sp)];
    }

    void resetTable() {
        for (int i = 0; i < kTableSize; ++i) {
            m_prefix[at(i)] = 0;
            m_suffix[at(i)] = i < m_clear ? i : 0;
        }
        m_codeSize = m_min + 1;
        m_limit = 2 * m_clear;
        m_nextFree = m_clear + 2;
        m_sp = 0;
    }

    void push(int value) {
        if (m_sp >= static_cast<int>(m_stack.size())) throw GIFException("Circular decoder table entry");
        m_stack[at(m_sp++)] = value;
    }

    uint32_t bufferByte(int index) const {
        return index >= 0 && index < static_cast<int>(m_buf.size()) ? m_buf[static_cast<size_t>(index)] : 0;
    }

    // Loads the next data sub-block behind the last 2 bytes of the current
    // one. Returns false when no code can be had.
    bool refill(int bits) {
        do {
            if (m_noMoreData) {
                if (m_bitPos >= m_bitCount) m_warn("Decoder bit buffer under-run");
                return false;
            }
            m_buf[0] = m_buf[static_cast<size_t>(m_lastLen)];
            m_buf[1] = m_buf[static_cast<size_t>(m_lastLen) + 1];
            uint8_t len;
            if (!m_in.readByte(len)) return false;
            if (len == 0) m_terminatorSeen = m_noMoreData = true;
            size_t count = len;
            if (count > m_in.remaining()) {
                m_warn("Premature end of data");
                count = m_in.remaining();
            }
            m_in.readExact(m_buf.data() + 2, count);
            m_bitPos = m_bitPos - m_bitCount + 16;
            m_bitCount = static_cast<int>(count + 2) * 8;
            m_lastLen = static_cast<int>(count);
            // A one-byte sub-block may not complete a wide code: the 2 kept
            // bytes still hold every unread bit, so load the next one too.
        } while (m_bitPos + bits > m_bitCount && !m_noMoreData);
        return true;
    }

    int readCode(int bits) {
        if (m_returnClear) {
            m_returnClear = false;
            return m_clear;
        }
        if (m_bitPos + bits >= m_bitCount && !refill(bits)) return kEndOfData;
        // Least significant bit first; a code of up to 12 bits spans at most 3 bytes.
        int byte = m_bitPos >> 3;
        uint32_t raw = bufferByte(byte) | (bufferByte(byte + 1) << 8) | (bufferByte(byte + 2) << 16);
        int code = static_cast<int>((raw >> (m_bitPos & 7)) & ((1u << bits) - 1));
        m_bitPos += bits;
        return code;
    }

    GifInput& m_in;
    const GifWarning& m_warn;
    const int m_min, m_clear, m_end;
    int m_codeSize, m_limit, m_nextFree;
    std::array<int32_t, kTableSize> m_prefix{}, m_suffix{};
    std::array<int32_t, kTableSize + 4> m_stack{};
    int m_sp = 0;
    int m_firstCode = 0, m_oldCode = 0;

    // The current sub-block behind the last 2 bytes of the previous one.
    std::array<uint8_t, 2 + 255> m_buf{};
    int m_bitPos = 0, m_bitCount = 0, m_lastLen = 0;
    bool m_returnClear = true, m_noMoreData = false, m_terminatorSeen = false;
};

// Produces up to count values into out; returns how many before decoding
// ended (count when the row is complete).
int produceRow(LzwDecoder& decoder, uint8_t* out, int count) {
    int i = 0;
    while (i < count) {
        i += decoder.pop(out + i, count - i);
        if (i == count) break;
        const int v = decoder.next();
        if (v < 0) break;
        out[i++] = static_cast<uint8_t>(v);
    }
    return i;
}

}  // namespace

uint64_t decodeGifRows(GifInput& input, int width, int height, bool interlaced, const GifWarning& warn,
                       const GifRowSink& sink) {
    uint8_t minCodeSize;
    if (!input.readByte(minCodeSize)) return 0;
    if (minCodeSize >= kMaxCodeBits) {
        // The clear code would lie beyond the 4096-entry table: the data
        // cannot be decoded. The frame keeps its fill value and the data
        // sub-blocks are passed over, so the rest of the file still loads.
        warn(formatMessage("Invalid LZW minimum code size (%d)", minCodeSize));
        input.skipSubBlocks();
        return 0;
    }

    LzwDecoder decoder(input, minCodeSize, warn);
    uint64_t placed = 0;
    bool complete = true, wanted = true;
    if (width > 0 && height > 0) {
        std::vector<uint8_t> values(static_cast<size_t>(width));
        // Places row y; false when decoding ends or the sink wants no more.
        auto place = [&](int y) {
            const int n = produceRow(decoder, values.data(), width);
            placed += static_cast<uint64_t>(n);
            complete = n == width;
            if (n > 0) wanted = sink(y, values.data(), n);
            return complete && wanted;
        };
        if (!interlaced) {
            for (int y = 0; y < height; ++y)
                if (!place(y)) break;
        } else {
            // Rows 0, 8, 16 ..., then 4, 12 ..., then 2, 6 ..., then 1, 3, 5 ...
            int row = 0, step = 8, pass = 0;
            for (int n = 0; n < height; ++n) {
                if (!place(row)) break;
                row += step;
                while (row >= height && step > 0) {
                    if (pass > 0) step /= 2;
                    ++pass;
                    row = step / 2;
                }
            }
        }
    }
    // One more value: for well-formed data the end code, which skips the
    // remaining sub-blocks through the terminator.
    if (complete && wanted) decoder.next();
    return placed;
}

std::vector<uint8_t> decodeGifImageData(GifInput& input, int width, int height, bool interlaced, uint8_t fillValue,
                                        const GifWarning& warn) {
    std::vector<uint8_t> pixels;
    if (width > 0 && height > 0) pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), fillValue);
    decodeGifRows(input, width, height, interlaced, warn, [&](int y, const uint8_t* values, int count) {
        std::copy(values, values + count, pixels.begin() + static_cast<ptrdiff_t>(y) * width);
        return true;
    });
    return pixels;
}

}  // namespace glx
