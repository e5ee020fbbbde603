// The chunk base class, its framing on a stream, the chunk class registry
// and the chunk list a PNG image keeps its chunks in.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace glx {

class TStream;
class StreamReader;
class TPNGObject;
class TChunkIHDR;

using ChunkType = std::array<char, 4>;

constexpr ChunkType makeChunkType(const char (&s)[5]) { return {s[0], s[1], s[2], s[3]}; }

// One chunk of a PNG image. A plain TChunk keeps the payload bytes as read
// (unknown ancillary chunks); the subclasses interpret them.
class TChunk {
public:
    explicit TChunk(TPNGObject& image);
    virtual ~TChunk();
    TChunk(const TChunk&) = delete;
    TChunk& operator=(const TChunk&) = delete;

    // The chunk type this class stands for ("gAMA" for TChunkgAMA), "" for
    // the plain chunk class.
    static constexpr const char* kClassTypeCode = "";
    virtual const char* TypeCodeOfClass() const { return kClassTypeCode; }

    // Copies type code and payload bytes.
    virtual void CopyFrom(const TChunk& source);
    // Reads length payload bytes and the CRC that follows them from the
    // reader (positioned at the payload); EPngInvalidCRC on a mismatch.
    // Returns false to stop the reading loop.
    virtual bool ReadPayload(StreamReader& reader, const ChunkType& type, uint32_t length);
    // Writes the framed chunk, its payload built from the chunk's fields;
    // writing changes nothing of the chunk or its image.
    virtual bool WritePayload(TStream& stream) const;

    // Length, type, payload and CRC of the payload as it is.
    bool WriteFramed(TStream& stream) const;
    // Length, type, data and CRC.
    static void WriteFramed(TStream& stream, const ChunkType& type, const uint8_t* data, size_t size);

    void SetPayloadSize(int32_t size);
    int32_t PayloadSize() const { return static_cast<int32_t>(m_payload.size()); }
    uint8_t* Payload() { return m_payload.data(); }
    const uint8_t* Payload() const { return m_payload.data(); }

    const ChunkType& TypeCode() const { return m_type; }
    void SetTypeCode(const ChunkType& type) { m_type = type; }
    std::string TypeName() const { return std::string(m_type.data(), 4); }

    TPNGObject& Image() const { return *m_image; }
    // Index in the image's chunk list, -1 if absent.
    int32_t Position() const;
    // List item 0 as a header chunk (null if it is not one).
    TChunkIHDR* HeaderChunk() const;

protected:
    // Sets the type code from the class when it is 4 characters long.
    void initTypeCode(const char* classCode);

    std::vector<uint8_t> m_payload;
    TPNGObject* m_image;
    ChunkType m_type{0, 0, 0, 0};
};

// A chunk type as a template argument.
struct ChunkCode {
    char text[5];
    constexpr ChunkCode(const char (&s)[5]) : text{s[0], s[1], s[2], s[3], 0} {}
};

// A chunk class standing for one chunk type: its type code and the
// constructor that gives a new chunk that type, once for every class.
template <ChunkCode Code, class Base = TChunk>
class ChunkOfType : public Base {
public:
    static constexpr const char* kClassTypeCode = Code.text;
    explicit ChunkOfType(TPNGObject& image) : Base(image) { this->initTypeCode(kClassTypeCode); }
    const char* TypeCodeOfClass() const override { return kClassTypeCode; }
};

class TChunkIEND : public ChunkOfType<"IEND"> {
public:
    using ChunkOfType::ChunkOfType;
};

// The chunk list of an image: it owns its chunks, in file order, and knows
// its header chunk (list item 0 when that is a TChunkIHDR) without a lookup.
class TPNGList {
public:
    explicit TPNGList(TPNGObject* image) : m_image(image) {}
    TPNGList(const TPNGList&) = delete;
    TPNGList& operator=(const TPNGList&) = delete;

    uint32_t SlotCount() const { return static_cast<uint32_t>(m_items.size()); }
    // The chunk in slot i, null outside the slots.
    TChunk* Item(int64_t i) const;
    int32_t IndexOf(const TChunk* chunk) const;
    TChunkIHDR* Header() const { return m_header; }
    TPNGObject* Image() const { return m_image; }

    // Takes the chunk and returns it.
    TChunk* Append(std::unique_ptr<TChunk> chunk);
    // Refused (the chunk is dropped, null returned) when position is at or
    // beyond the end of a non-empty list; an empty list always takes the
    // chunk at slot 0.
    TChunk* InsertAt(std::unique_ptr<TChunk> chunk, uint32_t position);
    // Takes the last slot holding chunk out of the list and hands the chunk
    // back; null when absent.
    std::unique_ptr<TChunk> Remove(const TChunk* chunk);
    void Clear();

    // The first chunk of class T or of a class derived from it.
    template <class T>
    T* FindByClass() const {
        for (const auto& c : m_items)
            if (auto* found = dynamic_cast<T*>(c.get())) return found;
        return nullptr;
    }

    // Creates a chunk of class T owned by the image and places it where the
    // chunk order of a PNG file wants it (EPngError when not allowed).
    template <class T>
    T* AddChunkOfClass() {
        return static_cast<T*>(addChunk(T::kClassTypeCode, [](TPNGObject& image) -> std::unique_ptr<TChunk> {
            return std::make_unique<T>(image);
        }));
    }

private:
    TChunk* addChunk(std::string_view classCode, std::unique_ptr<TChunk> (*create)(TPNGObject&));
    void headerChanged();

    TPNGObject* m_image;
    std::vector<std::unique_ptr<TChunk>> m_items;
    TChunkIHDR* m_header = nullptr;
};

// The chunk classes by type code: a fixed table, built once on first use
// and never changed, so readers on any thread may look it up.
// A new chunk of the registered class for type (first match, case-sensitive),
// or a plain TChunk; its type code is set to type.
std::unique_ptr<TChunk> NewChunkForType(TPNGObject& image, const ChunkType& type);
// True when NewChunkForType would create a subclass for type.
bool IsRegisteredChunkType(const ChunkType& type);

}  // namespace glx
