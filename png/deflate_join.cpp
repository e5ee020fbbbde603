#include "png/deflate_join.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <iterator>

namespace glx {

namespace {

constexpr unsigned kMaxBits = 15;  // the longest code deflate allows
constexpr unsigned kFastBits = 10;  // codes up to this long decode in one look-up

// A canonical Huffman code. Codes up to kFastBits long are looked up by the
// next kFastBits input bits (symbol << 4 | length, 0 for none); longer ones,
// rare, are decoded a bit at a time from the counts per length.
struct Huffman {
    std::array<uint16_t, size_t(1) << kFastBits> fast;
    uint16_t perLength[kMaxBits + 1];
    uint16_t sorted[288];  // symbols by code
};

// Codes read least significant bit first carry their bits reversed.
unsigned reversed(unsigned code, unsigned length) {
    unsigned r = 0;
    for (unsigned i = 0; i < length; ++i, code >>= 1) r = (r << 1) | (code & 1u);
    return r;
}

// The code of the given lengths (0 = unused). False for an over-subscribed
// set; an incomplete one leaves codes that fail to decode.
bool buildCode(const uint8_t* lengths, unsigned count, Huffman& h) {
    std::fill(std::begin(h.perLength), std::end(h.perLength), uint16_t(0));
    for (unsigned s = 0; s < count; ++s) ++h.perLength[lengths[s]];
    h.perLength[0] = 0;
    unsigned next[kMaxBits + 1] = {}, offset[kMaxBits + 1] = {};
    int left = 1;
    unsigned code = 0;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
        left = 2 * left - h.perLength[len];
        if (left < 0) return false;
        code = (code + h.perLength[len - 1]) << 1;
        next[len] = code;
        if (len < kMaxBits) offset[len + 1] = offset[len] + h.perLength[len];
    }
    h.fast.fill(0);
    for (unsigned s = 0; s < count; ++s) {
        const unsigned len = lengths[s];
        if (len == 0) continue;
        h.sorted[offset[len]++] = static_cast<uint16_t>(s);
        const unsigned c = next[len]++;
        if (len > kFastBits) continue;
        const auto entry = static_cast<uint16_t>(s << 4 | len);
        for (size_t i = reversed(c, len); i < h.fast.size(); i += size_t(1) << len) h.fast[i] = entry;
    }
    return true;
}

constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct FixedCodes {
    Huffman literals{}, distances{};
    FixedCodes() {
        uint8_t lengths[288];
        std::memset(lengths, 8, 144);
        std::memset(lengths + 144, 9, 112);
        std::memset(lengths + 256, 7, 24);
        std::memset(lengths + 280, 8, 8);
        buildCode(lengths, 288, literals);
        std::memset(lengths, 5, 30);
        buildCode(lengths, 30, distances);
    }
};

// Bits least significant first; reading past the end yields zero bits and
// is caught by comparing the position with the size.
class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    // At least 56 bits buffered afterwards.
    void refill() {
        if (m_next + 8 <= m_size) {
            // Eight bytes at once (little-endian order is bit order); only
            // the whole bytes that fit are counted as taken.
            uint64_t word;
            std::memcpy(&word, m_data + m_next, 8);
            if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
            m_bits |= word << m_count;
            m_next += (63 - m_count) >> 3;
            m_count |= 56;
            return;
        }
        while (m_count <= 56) {
            const uint64_t byte = m_next < m_size ? m_data[m_next] : 0;
            m_bits |= byte << m_count;
            ++m_next;
            m_count += 8;
        }
    }
    unsigned peek(unsigned n) const { return static_cast<unsigned>(m_bits & ((uint64_t(1) << n) - 1)); }
    // The next symbol of h, -1 for none; needs kMaxBits bits buffered.
    int decode(const Huffman& h) {
        const unsigned entry = h.fast[peek(kFastBits)];
        if (entry != 0) {
            skip(entry & 15u);
            return static_cast<int>(entry >> 4);
        }
        // Longer than the look-up: canonical decoding, one bit at a time.
        unsigned code = 0, first = 0, index = 0;
        for (unsigned len = 1; len <= kMaxBits; ++len) {
            code |= static_cast<unsigned>(m_bits >> (len - 1)) & 1u;
            const unsigned count = h.perLength[len];
            if (code - first < count) {
                skip(len);
                return h.sorted[index + code - first];
            }
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }
    void skip(unsigned n) {
        m_bits >>= n;
        m_count -= n;
    }
    unsigned take(unsigned n) {
        refill();
        const unsigned v = peek(n);
        skip(n);
        return v;
    }
    size_t position() const { return m_next * 8 - m_count; }  // in bits
    bool overrun() const { return position() > m_size * 8; }
    // Continues at byte offset (a stored block's data skipped).
    void seekByte(size_t offset) {
        m_next = offset;
        m_bits = 0;
        m_count = 0;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_next = 0;
    uint64_t m_bits = 0;
    unsigned m_count = 0;
};

bool skipCodes(BitReader& in, const Huffman& literals, const Huffman& distances) {
    for (;;) {
        if (in.overrun()) return false;
        in.refill();
        const int symbol = in.decode(literals);
        if (symbol < 256) {
            if (symbol < 0) return false;
            continue;
        }
        if (symbol == 256) return !in.overrun();
        if (symbol > 285) return false;
        in.skip(kLengthExtra[symbol - 257]);
        const int distance = in.decode(distances);
        if (distance < 0 || distance > 29) return false;
        in.skip(kDistanceExtra[distance]);
    }
}

bool readDynamicCodes(BitReader& in, Huffman& literals, Huffman& distances) {
    const unsigned nLiterals = in.take(5) + 257, nDistances = in.take(5) + 1, nCodeLengths = in.take(4) + 4;
    if (nLiterals > 286 || nDistances > 30) return false;
    uint8_t codeLengths[19] = {};
    for (unsigned i = 0; i < nCodeLengths; ++i) codeLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(in.take(3));
    Huffman& lengthCode = distances;  // free until the distances are read
    if (!buildCode(codeLengths, 19, lengthCode)) return false;
    uint8_t lengths[286 + 30] = {};
    const unsigned total = nLiterals + nDistances;
    for (unsigned i = 0; i < total;) {
        in.refill();
        const int symbol = in.decode(lengthCode);
        if (symbol < 0) return false;
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t value = 0;
        unsigned repeat;
        if (symbol == 16) {
            if (i == 0) return false;
            value = lengths[i - 1];
            repeat = 3 + in.take(2);
        } else if (symbol == 17) {
            repeat = 3 + in.take(3);
        } else {
            repeat = 11 + in.take(7);
        }
        if (i + repeat > total) return false;
        std::memset(lengths + i, value, repeat);
        i += repeat;
    }
    if (in.overrun() || lengths[256] == 0) return false;
    return buildCode(lengths, nLiterals, literals) && buildCode(lengths + nLiterals, nDistances, distances);
}

}  // namespace

size_t continueDeflateStream(uint8_t* stream, size_t size) {
    static const FixedCodes fixed;
    thread_local Huffman literals, distances;
    BitReader in(stream, size);
    size_t lastHeader = 0;
    for (bool final = false; !final;) {
        lastHeader = in.position();
        final = in.take(1) != 0;
        const unsigned type = in.take(2);
        if (type == 0) {
            const size_t at = (in.position() + 7) / 8;
            if (at + 4 > size) return 0;
            const unsigned length = stream[at] | unsigned(stream[at + 1]) << 8;
            const unsigned check = stream[at + 2] | unsigned(stream[at + 3]) << 8;
            if ((length ^ 0xFFFFu) != check || at + 4 + length > size) return 0;
            in.seekByte(at + 4 + length);
        } else if (type == 1) {
            if (!skipCodes(in, fixed.literals, fixed.distances)) return 0;
        } else if (type == 2) {
            if (!readDynamicCodes(in, literals, distances) || !skipCodes(in, literals, distances)) return 0;
        } else {
            return 0;
        }
    }
    const size_t end = in.position();
    if (in.overrun() || (end + 7) / 8 != size) return 0;
    stream[lastHeader / 8] &= static_cast<uint8_t>(~(1u << (lastHeader % 8)));
    // An empty stored block after the last code: its three header bits go
    // where the padding was (zeroed) and, if they do not fit, into one more
    // byte; then its length 0 and the length's complement.
    const unsigned padding = static_cast<unsigned>(size * 8 - end);
    if (padding > 0) stream[size - 1] &= static_cast<uint8_t>(0xFFu >> padding);
    if (padding < 3) stream[size++] = 0;
    static const uint8_t emptyStored[4] = {0x00, 0x00, 0xFF, 0xFF};
    std::memcpy(stream + size, emptyStored, 4);
    return size + 4;
}

}  // namespace glx
