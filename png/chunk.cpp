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

bool TChunk::ReadPayload(StreamReader& reader, const TChunkType& type, uint32_t length) {
    // The reading loop has already refused lengths beyond the stream.
    SetPayloadSize(static_cast<int32_t>(length));
    if (length > 0) reader.read(m_payload.data(), length);
    const uint32_t stored = reader.u32be();
    if (kCheckCrc &&
        chunkCrc(reinterpret_cast<const uint8_t*>(type.data()), m_payload.data(), m_payload.size()) != stored)
        throw EPngInvalidCRC();
    return true;
}

bool TChunk::WritePayload(TStream& stream) { return WriteFramed(stream); }

bool TChunk::WriteFramed(TStream& stream) const {
    writeU32be(stream, static_cast<uint32_t>(m_payload.size()));
    stream.writeBuffer(m_type.data(), 4);
    if (!m_payload.empty()) stream.writeBuffer(m_payload.data(), m_payload.size());
    writeU32be(stream, chunkCrc(reinterpret_cast<const uint8_t*>(m_type.data()), m_payload.data(), m_payload.size()));
    return true;
}

int32_t TChunk::Position() const { return m_image->Chunks().IndexOf(this); }

TChunkIHDR* TChunk::HeaderChunk() const { return dynamic_cast<TChunkIHDR*>(m_image->Chunks().Item(0)); }

// ---------------------------------------------------------------- lists

void* TPNGPointerList::RemoveItem(void* p) {
    for (size_t i = m_items.size(); i-- > 0;) {
        if (m_items[i] == p) {
            m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i));
            return p;
        }
    }
    return nullptr;
}

void* TPNGPointerList::ItemAt(int64_t i) const {
    if (i < 0 || i >= static_cast<int64_t>(m_items.size())) return nullptr;
    return m_items[static_cast<size_t>(i)];
}

void TPNGPointerList::PutAt(int64_t i, void* p) {
    if (i < 0 || i >= static_cast<int64_t>(m_items.size())) return;
    m_items[static_cast<size_t>(i)] = p;
}

void TPNGPointerList::Append(void* p) { m_items.push_back(p); }

void TPNGPointerList::InsertAt(void* p, uint32_t position) {
    if (m_items.empty()) {
        m_items.push_back(p);
        return;
    }
    if (position >= m_items.size()) return;
    m_items.insert(m_items.begin() + position, p);
}

void TPNGPointerList::SetCount(uint32_t count) {
    m_items.resize(count, nullptr);
    if (count == 0) m_items.shrink_to_fit();
}

int32_t TPNGList::IndexOf(const TChunk* chunk) const {
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i] == chunk) return static_cast<int32_t>(i);
    return -1;
}

TChunk* TPNGList::addChunk(std::string_view code, TChunk* (*create)(TPNGObject&)) {
    TPNGObject& image = *m_image;
    const bool critical = code == "IHDR" || code == "IDAT" || code == "PLTE" || code == "IEND";
    if (critical && !image.Constructing) throw EPngError(kMsgPngNoNewCritical);

    auto positionOf = [this](std::string_view c) -> int32_t {
        for (size_t i = 0; i < m_items.size(); ++i)
            if (c == static_cast<TChunk*>(m_items[i])->TypeCodeOfClass()) return static_cast<int32_t>(i);
        return -1;
    };
    if ((code == "gAMA" || code == "tRNS" || code == "pHYs") && positionOf(code) >= 0)
        throw EPngError(kMsgPngNoNewCritical);
    const int32_t ihdrPos = positionOf("IHDR");
    const int32_t iendPos = positionOf("IEND");
    if ((iendPos < 0 || ihdrPos < 0) && !image.Constructing) throw EPngError(kMsgPngUnexpectedChunkAdd);

    TChunk* chunk = create(image);
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
    const uint32_t countBefore = SlotCount();
    if (before == m_items.size() && !m_items.empty()) {
        // Only the chunk after the last one: while constructing, IEND may be
        // missing and the new chunk goes last.
        if (code == "IEND") {
            delete chunk;
            throw EPngError(kMsgPngNoNewCritical);
        }
        Append(chunk);
    } else {
        InsertAt(chunk, before);
    }
    if (SlotCount() == countBefore) {
        delete chunk;
        throw EPngError(kMsgPngUnexpectedChunkAdd);
    }
    return chunk;
}

// ---------------------------------------------------------------- registry

namespace {

struct RegistryEntry {
    TChunkType type;
    TChunkFactory create;
};

template <class T>
TChunk* createChunk(TPNGObject& image) {
    return new T(image);
}

std::vector<RegistryEntry>& registry() {
    static std::vector<RegistryEntry> entries = [] {
        std::vector<RegistryEntry> e;
        auto add = [&e](const char* code, TChunkFactory f) { e.push_back({{code[0], code[1], code[2], code[3]}, f}); };
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

void RegisterChunkClass(const char* typeCode, TChunkFactory create) {
    if (std::strlen(typeCode) != 4) return;
    registry().push_back({{typeCode[0], typeCode[1], typeCode[2], typeCode[3]}, create});
}

bool IsRegisteredChunkType(const TChunkType& type) {
    for (const auto& e : registry())
        if (e.type == type) return true;
    return false;
}

TChunk* NewChunkForType(TPNGObject& image, const TChunkType& type) {
    TChunk* chunk = nullptr;
    for (const auto& e : registry()) {
        if (e.type == type) {
            chunk = e.create(image);
            break;
        }
    }
    if (!chunk) chunk = new TChunk(image);
    chunk->SetTypeCode(type);
    return chunk;
}

}  // namespace glx
