#include "png/apng_writer.h"

#include <algorithm>
#include <cstring>

#include "base/exception.h"
#include "base/limits.h"
#include "base/stream.h"
#include "png/chunk.h"
#include "png/idat_writer.h"

namespace glx {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t kChunkData = 65535;  // data bytes per IDAT or fdAT chunk
constexpr uint8_t kBlendSource = 0, kBlendOver = 1, kDisposeNone = 0;

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}
void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}
uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

}  // namespace

ApngWriter::ApngWriter(TStream& stream, int32_t width, int32_t height, uint32_t frames, uint32_t plays)
    : m_stream(stream), m_width(width), m_height(height), m_frames(frames) {
    if (width < 1 || height < 1) throw EInvalidGraphic(formatMessage("Invalid picture size %d x %d", width, height));
    if (frames < 1) throw EInvalidOperation("An animation needs a frame");
    // The frame shown and the one being added.
    checkPictureSize(Limits{}, width, height, 64);
    m_stream.writeBuffer(kSignature, sizeof kSignature);
    std::vector<uint8_t> ihdr;
    put32(ihdr, static_cast<uint32_t>(width));
    put32(ihdr, static_cast<uint32_t>(height));
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, adaptive filters, no interlace
    chunk("IHDR", ihdr);
    std::vector<uint8_t> actl;
    put32(actl, frames);
    put32(actl, plays);
    chunk("acTL", actl);
}

ApngWriter::~ApngWriter() = default;

void ApngWriter::chunk(const char (&type)[5], const std::vector<uint8_t>& data) {
    TChunk::WriteFramed(m_stream, makeChunkType(type), data.data(), data.size());
}

void ApngWriter::beginFrame() {
    if (m_added >= m_frames) throw EInvalidOperation("More frames than the animation announced");
    m_next.resize(static_cast<size_t>(m_width) * static_cast<size_t>(m_height) * 4);
}

void ApngWriter::takeRow(int32_t y, const uint8_t* rgba) {
    const size_t bytes = static_cast<size_t>(m_width) * 4;
    std::memcpy(m_next.data() + static_cast<size_t>(y) * bytes, rgba, bytes);
}

void ApngWriter::endFrame(uint16_t delayNum, uint16_t delayDen) {
    TRect r{0, 0, m_width, m_height};
    bool over = false;
    if (m_added > 0) {
        // The bounding box of the pixels that differ from the frame shown,
        // and whether all of those are opaque.
        const size_t bytes = static_cast<size_t>(m_width) * 4;
        r = TRect{m_width, m_height, 0, 0};
        over = true;
        for (int32_t y = 0; y < m_height; ++y) {
            const uint8_t* a = m_shown.data() + static_cast<size_t>(y) * bytes;
            const uint8_t* b = m_next.data() + static_cast<size_t>(y) * bytes;
            auto same = [&](int32_t x) { return std::memcmp(a + size_t(x) * 4, b + size_t(x) * 4, 4) == 0; };
            if (std::memcmp(a, b, bytes) == 0) continue;
            int32_t first = 0;
            while (same(first)) ++first;
            int32_t last = m_width - 1;
            while (same(last)) --last;
            r.Left = std::min(r.Left, first);
            r.Right = std::max(r.Right, last + 1);
            r.Top = std::min(r.Top, y);
            r.Bottom = y + 1;
            for (int32_t x = first; x <= last && over; ++x)
                if (!same(x) && b[size_t(x) * 4 + 3] != 255) over = false;
        }
        if (r.Right <= r.Left) {
            // Nothing changed: one pixel replaced by itself (a frame has at least one).
            r = TRect{0, 0, 1, 1};
            over = false;
        }
    }
    writeFrameControl(r, delayNum, delayDen, over);
    writeImageData(r, over);
    m_lastRect = r;
    m_lastOver = over;
    std::swap(m_shown, m_next);
    ++m_added;
}

void ApngWriter::writeFrameControl(const TRect& r, uint16_t delayNum, uint16_t delayDen, bool over) {
    std::vector<uint8_t> fctl;
    put32(fctl, m_sequence++);
    put32(fctl, static_cast<uint32_t>(r.width()));
    put32(fctl, static_cast<uint32_t>(r.height()));
    put32(fctl, static_cast<uint32_t>(r.Left));
    put32(fctl, static_cast<uint32_t>(r.Top));
    put16(fctl, delayNum);
    put16(fctl, delayDen);
    fctl.push_back(kDisposeNone);
    fctl.push_back(over ? kBlendOver : kBlendSource);
    chunk("fcTL", fctl);
}

void ApngWriter::writeImageData(const TRect& r, bool over) {
    const size_t length = static_cast<size_t>(r.width()) * 4;
    const size_t bytes = static_cast<size_t>(m_width) * 4;
    FilterRows filterRows(length, RowFilters);
    std::vector<uint8_t> raw(length);
    auto encode = [&](TStream& out) {
        IdatWriter writer(out, kChunkData, DeflateLevel);
        for (int32_t y = r.Top; y < r.Bottom; ++y) {
            const uint8_t* next = m_next.data() + static_cast<size_t>(y) * bytes + static_cast<size_t>(r.Left) * 4;
            std::memcpy(raw.data(), next, length);
            if (over) {
                // Unchanged pixels drawn over as nothing.
                const uint8_t* shown =
                    m_shown.data() + static_cast<size_t>(y) * bytes + static_cast<size_t>(r.Left) * 4;
                for (size_t i = 0; i < length; i += 4)
                    if (std::memcmp(shown + i, next + i, 4) == 0) std::memset(&raw[i], 0, 4);
            }
            uint8_t f = ChooseRowFilter(raw.data(), filterRows, 4);
            writer.write(&f, 1);
            writer.write(filterRows.candidates[f].data(), length);
        }
        writer.finish();
    };
    if (m_added == 0) {
        encode(m_stream);  // the default image: IDAT chunks
        return;
    }
    // The same data framed as fdAT chunks, each with its sequence number.
    TMemoryStream idat;
    encode(idat);
    const std::vector<uint8_t>& framed = idat.bytes();
    std::vector<uint8_t> fdat;
    for (size_t at = 0; at + 12 <= framed.size();) {
        const size_t n = get32(&framed[at]);
        fdat.clear();
        put32(fdat, m_sequence++);
        fdat.insert(fdat.end(), framed.begin() + static_cast<ptrdiff_t>(at + 8),
                    framed.begin() + static_cast<ptrdiff_t>(at + 8 + n));
        chunk("fdAT", fdat);
        at += 12 + n;
    }
}

void ApngWriter::finish() {
    if (m_added != m_frames)
        throw EInvalidOperation(formatMessage("The animation announced %u frames but has %u", m_frames, m_added));
    chunk("IEND", {});
    m_shown.clear();
    m_shown.shrink_to_fit();
}

}  // namespace glx
