// LargeBuffer: a zero-filled byte buffer for pixel surfaces and whole files.
// Large buffers are mapped straight from the system, aligned so the kernel
// can back them with huge pages: a fresh 36 MB picture then costs a few
// dozen page faults instead of nine thousand, and the mapping arrives zeroed
// without a pass over it. Smaller buffers come from the ordinary heap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace glx {

class LargeBuffer {
public:
    LargeBuffer() = default;
    // size bytes, all 0. EOutOfMemory when the memory cannot be had.
    explicit LargeBuffer(size_t size);
    LargeBuffer(const LargeBuffer& other);
    LargeBuffer& operator=(const LargeBuffer& other);
    LargeBuffer(LargeBuffer&& other) noexcept;
    LargeBuffer& operator=(LargeBuffer&& other) noexcept;
    ~LargeBuffer();

    uint8_t* data() { return m_data; }
    const uint8_t* data() const { return m_data; }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    // Whether the memory is a mapping of its own rather than heap memory.
    bool mapped() const { return m_mapped != 0; }

    // Keeps the first size bytes (size <= size()); the memory beyond stays
    // reserved until the buffer is freed, as a shrinking vector's does.
    void shrink(size_t size);

    // Buffers of at least this many bytes are mapped (except in builds with
    // the address sanitizer); smaller ones are not. Below it the C library
    // hands freed memory out again without faulting it in afresh, which
    // beats a fresh mapping when pictures of one size come one after another;
    // above it the library maps every block itself, in small pages.
    static constexpr size_t kMapThreshold = size_t(32) << 20;

private:
    void release() noexcept;

    uint8_t* m_data = nullptr;
    size_t m_size = 0;
    size_t m_mapped = 0;  // length of the mapping at m_data, 0 for heap memory
};

}  // namespace glx
