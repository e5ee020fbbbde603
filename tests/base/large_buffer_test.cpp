#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>

#include "base/large_buffer.h"

using namespace glx;

namespace {

bool allZero(const LargeBuffer& b) {
    return std::all_of(b.data(), b.data() + b.size(), [](uint8_t v) { return v == 0; });
}

}  // namespace

// Both kinds of memory: heap buffers below the mapping threshold and mapped
// ones above it (an odd size, so the mapping's last page is partly used).
TEST(LargeBuffer, StartsZeroedAndCopiesAreIndependent) {
    for (size_t size : {size_t(2), size_t(4095), LargeBuffer::kMapThreshold - 1, LargeBuffer::kMapThreshold,
                        LargeBuffer::kMapThreshold + 12345}) {
        SCOPED_TRACE(size);
        LargeBuffer a(size);
        ASSERT_EQ(a.size(), size);
        ASSERT_NE(a.data(), nullptr);
        EXPECT_TRUE(allZero(a));
        a.data()[0] = 1;
        a.data()[size - 1] = 2;

        LargeBuffer b(a);
        EXPECT_NE(b.data(), a.data());
        EXPECT_TRUE(std::equal(a.data(), a.data() + size, b.data()));
        b.data()[0] = 3;
        EXPECT_EQ(a.data()[0], 1);

        LargeBuffer c;
        c = a;
        EXPECT_EQ(c.data()[size - 1], 2);
        LargeBuffer& same = c;
        c = same;  // assigning a buffer to itself keeps the content
        EXPECT_EQ(c.data()[size - 1], 2);
    }
}

TEST(LargeBuffer, MappedBuffersStartOnHugePageBoundaries) {
    LargeBuffer a(LargeBuffer::kMapThreshold + 1);
    if (!a.mapped()) GTEST_SKIP() << "heap memory in this build (address sanitizer)";
    EXPECT_FALSE(LargeBuffer(LargeBuffer::kMapThreshold - 1).mapped());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a.data()) % (uintptr_t(2) << 20), 0u);
}

TEST(LargeBuffer, MovesHandOverTheMemoryAndShrinkKeepsTheFront) {
    LargeBuffer a(LargeBuffer::kMapThreshold * 2);
    a.data()[100] = 7;
    uint8_t* memory = a.data();
    LargeBuffer b(std::move(a));
    EXPECT_EQ(b.data(), memory);
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(a.data(), nullptr);

    LargeBuffer c(10);
    c = std::move(b);  // c's own memory is freed, b's taken over
    EXPECT_EQ(c.data(), memory);
    EXPECT_EQ(c.size(), LargeBuffer::kMapThreshold * 2);

    c.shrink(200);
    EXPECT_EQ(c.size(), 200u);
    EXPECT_EQ(c.data()[100], 7);
    c.shrink(300);  // never grows
    EXPECT_EQ(c.size(), 200u);
    LargeBuffer copy(c);
    EXPECT_EQ(copy.size(), 200u);
    EXPECT_EQ(copy.data()[100], 7);

    LargeBuffer none(0);
    EXPECT_TRUE(none.empty());
    LargeBuffer noneCopy(none);
    EXPECT_TRUE(noneCopy.empty());
}
