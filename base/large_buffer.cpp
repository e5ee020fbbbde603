#include "base/large_buffer.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/exception.h"

namespace glx {

namespace {

// The address sanitizer watches heap memory only: under it every buffer
// comes from the heap, so overruns of large pictures are still caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMapLarge = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMapLarge = false;
#else
constexpr bool kMapLarge = true;
#endif
#else
constexpr bool kMapLarge = true;
#endif

constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kPage = 4096;

size_t roundUp(size_t value, size_t unit) { return (value + unit - 1) / unit * unit; }

[[noreturn]] void outOfMemory() { throw EOutOfMemory("Out of memory"); }

// Maps length bytes (a multiple of kPage) starting on a huge-page boundary:
// maps a huge page more than asked and gives back the unaligned ends.
uint8_t* mapAligned(size_t length) {
    if (length > SIZE_MAX - kHugePage) outOfMemory();
    const size_t over = length + kHugePage;
    void* raw = mmap(nullptr, over, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) outOfMemory();
    const auto base = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = roundUp(base, kHugePage);
    if (aligned > base) munmap(raw, aligned - base);
    const uintptr_t end = aligned + length, overEnd = base + over;
    if (overEnd > end) munmap(reinterpret_cast<void*>(end), overEnd - end);
    auto* p = reinterpret_cast<uint8_t*>(aligned);
    // Only advice: without huge pages the mapping works the same, slower.
    madvise(p, length, MADV_HUGEPAGE);
    return p;
}

}  // namespace

LargeBuffer::LargeBuffer(size_t size) {
    if (size == 0) return;
    if (kMapLarge && size >= kMapThreshold) {
        m_mapped = roundUp(size, kPage);
        m_data = mapAligned(m_mapped);
    } else {
        m_data = static_cast<uint8_t*>(std::calloc(size, 1));
        if (!m_data) outOfMemory();
    }
    m_size = size;
}

LargeBuffer::LargeBuffer(const LargeBuffer& other) : LargeBuffer(other.m_size) {
    if (m_size) std::memcpy(m_data, other.m_data, m_size);
}

LargeBuffer& LargeBuffer::operator=(const LargeBuffer& other) {
    if (this != &other) *this = LargeBuffer(other);
    return *this;
}

LargeBuffer::LargeBuffer(LargeBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_mapped(std::exchange(other.m_mapped, 0)) {}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept {
    if (this != &other) {
        release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_mapped = std::exchange(other.m_mapped, 0);
    }
    return *this;
}

LargeBuffer::~LargeBuffer() { release(); }

void LargeBuffer::shrink(size_t size) {
    if (size < m_size) m_size = size;
}

void LargeBuffer::release() noexcept {
    if (m_mapped) munmap(m_data, m_mapped);
    else std::free(m_data);
    m_data = nullptr;
    m_size = 0;
    m_mapped = 0;
}

}  // namespace glx
