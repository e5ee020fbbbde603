// The chunk base class, its framing on a stream, the chunk class registry
// and the two list classes a PNG image keeps its chunks in.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace glx {

class TStream;
class StreamReader;
class TPNGObject;
class TChunkIHDR;

using TChunkType = std::array<char, 4>;

constexpr TChunkType makeChunkType(const char (&s)[5]) { return {s[0], s[1], s[2], s[3]}; }

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
    // Reads length payload bytes and the CRC that follows them (the reader
    // is at the payload, and the reading loop has checked that the stream
    // holds them); EPngInvalidCRC on a mismatch. Returns false to stop the
    // reading loop.
    virtual bool ReadPayload(StreamReader& reader, const TChunkType& type, uint32_t length);
    // Rebuilds the payload from the chunk's fields and writes the framed chunk.
    virtual bool WritePayload(TStream& stream);

    // Length, type, payload and CRC.
    bool WriteFramed(TStream& stream) const;

    void SetPayloadSize(int32_t size);
    int32_t PayloadSize() const { return static_cast<int32_t>(m_payload.size()); }
    uint8_t* Payload() { return m_payload.data(); }
    const uint8_t* Payload() const { return m_payload.data(); }

    const TChunkType& TypeCode() const { return m_type; }
    void SetTypeCode(const TChunkType& type) { m_type = type; }
    std::string TypeName() const { return std::string(m_type.data(), 4); }

    TPNGObject& Image() const { return *m_image; }
    // Index in the image's chunk list, -1 if absent.
    int32_t Position() const;
    // List item 0 as a header chunk (null if it is not one).
    TChunkIHDR* HeaderChunk() const;

protected:
    // Sets the type code from the class when it is 4 characters long. Each
    // constructor of a class with its own type code calls it.
    void initTypeCode(const char* classCode);

    std::vector<uint8_t> m_payload;
    TPNGObject* m_image;
    TChunkType m_type{0, 0, 0, 0};
};

class TChunkIEND : public TChunk {
public:
    static constexpr const char* kClassTypeCode = "IEND";
    explicit TChunkIEND(TPNGObject& image) : TChunk(image) { initTypeCode(kClassTypeCode); }
    const char* TypeCodeOfClass() const override { return kClassTypeCode; }
};

// A growable array of untyped slots; never owns what they point to.
class TPNGPointerList {
public:
    explicit TPNGPointerList(TPNGObject* image) : m_image(image) {}
    virtual ~TPNGPointerList() = default;
    TPNGPointerList(const TPNGPointerList&) = delete;
    TPNGPointerList& operator=(const TPNGPointerList&) = delete;

    // Removes the last slot holding p and returns p; null when absent.
    virtual void* RemoveItem(void* p);

    uint32_t SlotCount() const { return static_cast<uint32_t>(m_items.size()); }
    // The pointer in slot i, null outside the slots.
    void* ItemAt(int64_t i) const;
    // Ignored outside the slots.
    void PutAt(int64_t i, void* p);
    void Append(void* p);
    // Refused when position is at or beyond the end of a non-empty list;
    // an empty list always receives p at slot 0.
    void InsertAt(void* p, uint32_t position);
    // New slots hold null.
    void SetCount(uint32_t count);
    TPNGObject* Image() const { return m_image; }

protected:
    TPNGObject* m_image;
    std::vector<void*> m_items;
};

// The chunk list of an image: its items are TChunk objects owned by the image.
class TPNGList : public TPNGPointerList {
public:
    using TPNGPointerList::TPNGPointerList;

    TChunk* Item(int64_t i) const { return static_cast<TChunk*>(ItemAt(i)); }
    int32_t IndexOf(const TChunk* chunk) const;

    // The first chunk of class T or of a class derived from it.
    template <class T>
    T* FindByClass() const {
        for (void* p : m_items)
            if (auto* c = dynamic_cast<T*>(static_cast<TChunk*>(p))) return c;
        return nullptr;
    }

    // Creates a chunk of class T owned by the image and places it where the
    // chunk order of a PNG file wants it (EPngError when not allowed).
    template <class T>
    T* AddChunkOfClass() {
        return static_cast<T*>(addChunk(T::kClassTypeCode, [](TPNGObject& image) -> TChunk* { return new T(image); }));
    }

private:
    TChunk* addChunk(std::string_view classCode, TChunk* (*create)(TPNGObject&));
};

// Registry of chunk classes by type code.
using TChunkFactory = TChunk* (*)(TPNGObject&);
void RegisterChunkClass(const char* typeCode, TChunkFactory create);

// A new chunk of the registered class for type (first match, case-sensitive),
// or a plain TChunk; its type code is set to type.
TChunk* NewChunkForType(TPNGObject& image, const TChunkType& type);
// True when NewChunkForType would create a subclass for type.
bool IsRegisteredChunkType(const TChunkType& type);

}  // namespace glx
