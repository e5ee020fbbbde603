#include <gtest/gtest.h>

#include <numeric>

#include "base/exception.h"
#include "base/stream.h"
#include "base/stream_reader.h"
#include "support/counting_stream.h"

using namespace glx;

namespace {

std::vector<uint8_t> ramp(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    return v;
}

struct Truncated : std::runtime_error {
    Truncated() : std::runtime_error("truncated") {}
};
[[noreturn]] void throwTruncated() { throw Truncated(); }

}  // namespace

TEST(StreamReader, FieldsAndBlocksAcrossBufferBoundsMatchTheBytes) {
    const size_t n = 3 * StreamReader::kBufferSize + 17;
    const std::vector<uint8_t> bytes = ramp(n);
    // Each case reads the stream in pieces of one size, starting at an
    // offset that puts piece ends on and around the buffer's edges.
    for (size_t start : {size_t(0), size_t(1), StreamReader::kBufferSize - 3}) {
        for (size_t piece : {size_t(1), size_t(3), size_t(4096), StreamReader::kBufferSize - 1,
                             StreamReader::kBufferSize, 2 * StreamReader::kBufferSize + 5}) {
            TMemoryStream stream(bytes);
            stream.setPosition(static_cast<int64_t>(start));
            StreamReader r(stream);
            std::vector<uint8_t> got;
            std::vector<uint8_t> part(piece);
            while (!r.atEnd()) {
                const size_t k = r.readSome(part.data(), piece);
                got.insert(got.end(), part.begin(), part.begin() + static_cast<std::ptrdiff_t>(k));
            }
            ASSERT_EQ(got.size(), n - start) << start << " " << piece;
            EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + static_cast<std::ptrdiff_t>(start)))
                << start << " " << piece;
        }
    }
    TMemoryStream stream(std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
    StreamReader r(stream);
    EXPECT_EQ(r.u8(), 1);
    EXPECT_EQ(r.u16le(), 0x0302);
    EXPECT_EQ(r.u16be(), 0x0405);
    EXPECT_EQ(r.u32le(), 0x09080706u);
    EXPECT_EQ(r.u32be(), 0x0A0B0C0Du);
    EXPECT_TRUE(r.atEnd());
}

TEST(StreamReader, SeeksInsideAndOutsideTheBufferAndHandsThePositionBack) {
    const std::vector<uint8_t> bytes = ramp(4 * StreamReader::kBufferSize);
    TMemoryStream stream(bytes);
    StreamReader r(stream);
    r.skip(10);
    EXPECT_EQ(r.u8(), bytes[10]);
    r.seek(3);  // back inside the buffer
    EXPECT_EQ(r.u8(), bytes[3]);
    r.seek(3 * static_cast<int64_t>(StreamReader::kBufferSize) + 1);  // far ahead
    EXPECT_EQ(r.u8(), bytes[3 * StreamReader::kBufferSize + 1]);
    r.seek(5);  // far back
    EXPECT_EQ(r.u8(), bytes[5]);
    r.syncStream();
    EXPECT_EQ(stream.position(), 6);
    r.seek(r.size());
    EXPECT_TRUE(r.atEnd());
    EXPECT_THROW(r.seek(r.size() + 1), EReadError);
    EXPECT_THROW(r.seek(-1), EReadError);
}

TEST(StreamReader, ShortReadsCallTheHandlerAndFalseLengthsAllocateNothing) {
    TMemoryStream stream(std::vector<uint8_t>{1, 2, 3});
    StreamReader r(stream, throwTruncated);
    EXPECT_THROW(r.u32be(), Truncated);
    EXPECT_THROW(r.skip(4), Truncated);
    EXPECT_THROW(r.take(StreamReader::kBufferSize + 1), Truncated);
    // A length near the address space is refused before any allocation.
    EXPECT_THROW(r.readVector(size_t(1) << 62), Truncated);
    uint8_t out[8];
    EXPECT_THROW(r.read(out, 4), Truncated);
    EXPECT_EQ(r.readVector(3), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_THROW(r.u8(), Truncated);

    TMemoryStream plain(std::vector<uint8_t>{});
    StreamReader byDefault(plain);
    EXPECT_THROW(byDefault.u8(), EReadError);
}

TEST(StreamReader, ManySmallFieldsCostOneStreamReadPerBuffer) {
    const size_t n = 400000 * 12;  // like a file of many empty chunks
    glxtest::CountingStream stream(ramp(n));
    StreamReader r(stream);
    uint64_t sum = 0;
    while (!r.atEnd()) {
        sum += r.u32be();
        r.skip(4);
        sum += r.take(4)[0];
    }
    EXPECT_GT(sum, 0u);
    EXPECT_LE(stream.reads, static_cast<int>(n / StreamReader::kBufferSize) + 2);
}

TEST(StreamReader, PeekAndTakeSomeHandOutBufferedBytesWithoutFailing) {
    const std::vector<uint8_t> bytes = ramp(StreamReader::kBufferSize + 10);
    glxtest::CountingStream stream(bytes);
    StreamReader r(stream, throwTruncated);
    auto first = r.peek(5);
    ASSERT_EQ(first.size(), 5u);
    EXPECT_EQ(first[4], bytes[4]);
    EXPECT_EQ(r.position(), 0);  // peeking moves nothing
    // Never more than one buffer, however much is asked.
    auto all = r.takeSome(size_t(1) << 30);
    EXPECT_EQ(all.size(), StreamReader::kBufferSize);
    EXPECT_EQ(all[StreamReader::kBufferSize - 1], bytes[StreamReader::kBufferSize - 1]);
    auto rest = r.takeSome(100);
    ASSERT_EQ(rest.size(), 10u);
    EXPECT_EQ(rest[9], bytes.back());
    EXPECT_TRUE(r.peek(1).empty());
    EXPECT_TRUE(r.takeSome(1).empty());
    EXPECT_EQ(stream.reads, 2);  // two fills; at the known end nothing more is asked
}
