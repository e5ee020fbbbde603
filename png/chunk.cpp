#include "png/chunk.h"

#include <cstring>

#include "base/stream.h"
#include "base/stream_reader.h"
#include "png/chunk_ancillary.h"
#include "png/chunk_idat.h"
#include "png/chunk_ihdr.h"
#include "png/crc32.h"
#include "png/png_errors.h"
#include "png/png_io.h"
#include "png/png_object.h"

namespace glx {

// ---------------------------------------------------------------- helpers

void pngUnexpectedEnd() { throw EPngUnexpectedEnd(); }

void writeU32be(TStream& stream, uint32_t value) {
    uint8_t b[4];
    putU32be(b, value);
    stream.writeBuffer(b, 4);
}

// ---------------------------------------------------------------- TChunk

TChunk::TChunk(TPNGObject& image) : m_image(&image) {}

TChunk::~TChunk() = default;

void TChunk::initTypeCode(const char* classCode) {
    if (std::strlen(classCode) == 4) std::memcpy(m_type.data(), classCode, 4);
}

void TChunk::CopyFrom(const TChunk& source) {
    m_type = source.m_type;
    m_payload = source.m_payload;
}

void TChunk::SetPayloadSize(int32_t size) { m_payload.resize(size > 0 ? static_cast<size_t>(size) : 0); }

bool TChunk::ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length) {
    // The reading loop has already refused lengths beyond the stream.
    SetPayloadSize(static_cast<int32_t>(length));
    if (length > 0) reader.read(m_payload.data(), length);
    const uint32_t stored = reader.u32be();
    if (Image().Options().checksCrc() &&
        chunkCrc(reinterpret_cast<const uint8_t*>(type.data()), m_payload.data(), m_payload.size()) != stored)
        throw EPngInvalidCRC();
    return true;
}

bool TChunk::WritePayload(TStream& stream) const { return WriteFramed(stream); }

bool TChunk::WriteFramed(TStream& stream) const {
    WriteFramed(stream, m_type, m_payload.data(), m_payload.size());
    return true;
}

void TChunk::WriteFramed(TStream& stream, const ChunkType& type, const uint8_t* data, size_t size) {
    writeU32be(stream, static_cast<uint32_t>(size));
    stream.writeBuffer(type.data(), 4);
    if (size > 0) stream.writeBuffer(data, size);
    writeU32be(stream, chunkCrc(reinterpret_cast<const uint8_t*>(type.data()), data, size));
}

int32_t TChunk::Position() const { return m_image->Chunks().IndexOf(this); }

TChunkIHDR* TChunk::HeaderChunk() const { return m_image->Chunks().Header(); }

// ---------------------------------------------------------------- the list

TChunk* TPNGList::Item(int64_t i) const {
    if (i < 0 || i >= static_cast<int64_t>(m_items.size())) return nullptr;
    return m_items[static_cast<size_t>(i)].get();
}

int32_t TPNGList::IndexOf(const TChunk* chunk) const {
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].get() == chunk) return static_cast<int32_t>(i);
    return -1;
}

void TPNGList::headerChanged() {
    m_header = m_items.empty() ? nullptr : dynamic_cast<TChunkIHDR*>(m_items.front().get());
}

TChunk* TPNGList::Append(std::unique_ptr<TChunk> chunk) {
    m_items.push_back(std::move(chunk));
    if (m_items.size() == 1) headerChanged();
    return m_items.back().get();
}

TChunk* TPNGList::InsertAt(std::unique_ptr<TChunk> chunk, uint32_t position) {
    if (!m_items.empty() && position >= m_items.size()) return nullptr;
    const auto at = m_items.begin() + (m_items.empty() ? 0 : static_cast<std::ptrdiff_t>(position));
    TChunk* raw = m_items.insert(at, std::move(chunk))->get();
    if (raw == m_items.front().get()) headerChanged();
    return raw;
}

std::unique_ptr<TChunk> TPNGList::Remove(const TChunk* chunk) {
    for (size_t i = m_items.size(); i-- > 0;) {
        if (m_items[i].get() != chunk) continue;
        std::unique_ptr<TChunk> taken = std::move(m_items[i]);
        m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i));
        if (i == 0) headerChanged();
        return taken;
    }
    return nullptr;
}

void TPNGList::Clear() {
    // Chunks go last to first, the header last: the others may still ask
    // for it while they are freed.
    while (!m_items.empty()) {
        std::unique_ptr<TChunk> last = std::move(m_items.back());
        m_items.pop_back();
        if (m_items.empty()) m_header = nullptr;
        last.reset();
    }
    m_items.shrink_to_fit();
}

TChunk* TPNGList::addChunk(std::string_view code, std::unique_ptr<TChunk> (*create)(TPNGObject&)) {
    TPNGObject& image = *m_image;
    const bool constructing = image.IsConstructing();
    const bool critical = code == "IHDR" || code == "IDAT" || code == "PLTE" || code == "IEND";
    if (critical && !constructing) throw EPngError(kMsgPngNoNewCritical);

    auto positionOf = [this](std::string_view c) -> int32_t {
        for (size_t i = 0; i < m_items.size(); ++i)
            if (c == m_items[i]->TypeCodeOfClass()) return static_cast<int32_t>(i);
        return -1;
    };
    if ((code == "gAMA" || code == "tRNS" || code == "pHYs") && positionOf(code) >= 0)
        throw EPngError(kMsgPngNoNewCritical);
    const int32_t ihdrPos = positionOf("IHDR");
    const int32_t iendPos = positionOf("IEND");
    if ((iendPos < 0 || ihdrPos < 0) && !constructing) throw EPngError(kMsgPngUnexpectedChunkAdd);

    auto after = [](int32_t pos) { return static_cast<uint32_t>(pos + 1); };
    uint32_t before = static_cast<uint32_t>(m_items.size());
    if (code == "gAMA" || code == "pHYs" || code == "PLTE") {
        before = after(ihdrPos);
    } else if (code == "IEND") {
        before = static_cast<uint32_t>(m_items.size());
    } else if (code == "IHDR") {
        before = 0;
    } else if (code == "tRNS") {
        int32_t plte = positionOf("PLTE");
        int32_t idat = positionOf("IDAT");
        before = plte >= 0 ? after(plte) : idat >= 0 ? static_cast<uint32_t>(idat) : after(ihdrPos);
    } else {
        before = iendPos >= 0 ? static_cast<uint32_t>(iendPos) : static_cast<uint32_t>(m_items.size());
    }
    if (before == m_items.size() && !m_items.empty()) {
        // Only the chunk after the last one: while constructing, IEND may be
        // missing and the new chunk goes last.
        if (code == "IEND") throw EPngError(kMsgPngNoNewCritical);
        return Append(create(image));
    }
    TChunk* chunk = InsertAt(create(image), before);
    if (!chunk) throw EPngError(kMsgPngUnexpectedChunkAdd);
    return chunk;
}

// ---------------------------------------------------------------- registry

namespace {

using ChunkFactory = std::unique_ptr<TChunk> (*)(TPNGObject&);

struct RegistryEntry {
    ChunkType type;
    ChunkFactory create;
};

template <class T>
std::unique_ptr<TChunk> createChunk(TPNGObject& image) {
    return std::make_unique<T>(image);
}

const std::vector<RegistryEntry>& registry() {
    static const std::vector<RegistryEntry> entries = [] {
        std::vector<RegistryEntry> e;
        auto add = [&e](const char* code, ChunkFactory f) { e.push_back({{code[0], code[1], code[2], code[3]}, f}); };
        add(TChunkIEND::kClassTypeCode, createChunk<TChunkIEND>);
        add(TChunkIHDR::kClassTypeCode, createChunk<TChunkIHDR>);
        add(TChunkIDAT::kClassTypeCode, createChunk<TChunkIDAT>);
        add(TChunkPLTE::kClassTypeCode, createChunk<TChunkPLTE>);
        add(TChunkgAMA::kClassTypeCode, createChunk<TChunkgAMA>);
        add(TChunktRNS::kClassTypeCode, createChunk<TChunktRNS>);
        add(TChunkpHYs::kClassTypeCode, createChunk<TChunkpHYs>);
        add(TChunktIME::kClassTypeCode, createChunk<TChunktIME>);
        add(TChunktEXt::kClassTypeCode, createChunk<TChunktEXt>);
        add(TChunkzTXt::kClassTypeCode, createChunk<TChunkzTXt>);
        return e;
    }();
    return entries;
}

}  // namespace

bool IsRegisteredChunkType(const ChunkType& type) {
    for (const auto& e : registry())
        if (e.type == type) return true;
    return false;
}

std::unique_ptr<TChunk> NewChunkForType(TPNGObject& image, const ChunkType& type) {
    std::unique_ptr<TChunk> chunk;
    for (const auto& e : registry()) {
        if (e.type == type) {
            chunk = e.create(image);
            break;
        }
    }
    if (!chunk) chunk = std::make_unique<TChunk>(image);
    chunk->SetTypeCode(type);
    return chunk;
}

}  // namespace glx
